#pragma once
// The ring buffer between the producer (sectors from the burn source) and the
// writer (blocks to the recorder). One thread puts, one thread takes; each
// position has a single writer and is read whole by the other thread, so the
// data needs no lock. A side that has to wait polls every 50 ms, watching the
// stop flag, and is also woken as soon as the other side has moved: with
// polling alone a 2 MB buffer would never pass more than 40 MB a second.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <memory>

class BufManaEx {
 public:
  static constexpr int kPollMs = 50;

  BufManaEx() = default;
  BufManaEx(const BufManaEx&) = delete;
  BufManaEx& operator=(const BufManaEx&) = delete;

  // Frees any old block and allocates `capacity` zeroed bytes; `total` is
  // what the whole track will pass. False when the block cannot be had.
  bool Init(uint64_t capacity, uint64_t total);

  // Copies `n` bytes in, waiting while the buffer has no room. Returns at
  // once when stopped or when the writer has taken the whole track.
  bool Put(const uint8_t* data, uint64_t n);
  // Copies up to `n` bytes out (cut at the track's end), waiting while they
  // are not there yet. Returns the byte count taken; 0 when stopped or done.
  uint64_t Take(uint8_t* data, uint64_t n);

  // The same hand-over without a copy: the producer reads straight into the
  // buffer and the writer writes straight out of it.
  // Room for up to `n` bytes at the produced position, contiguous (cut at the
  // buffer's end); waits until that much is free. Returns the byte count and
  // sets `at`; 0 when stopped or done. Commit makes what was put there
  // visible to Take and Peek.
  uint64_t Reserve(uint64_t n, uint8_t** at);
  void Commit(uint64_t n);
  // Up to `n` bytes at the consumed position, contiguous; waits until `n`
  // (cut at the track's end) are there. Returns the byte count and sets
  // `at`; 0 when stopped or done. Release hands the room back.
  uint64_t Peek(uint64_t n, const uint8_t** at);
  void Release(uint64_t n);

  void SetStop(bool stop) {
    stop_.store(stop, std::memory_order_release);
    Wake();
  }
  bool Stopped() const { return stop_.load(std::memory_order_acquire); }

  uint64_t Capacity() const { return capacity_; }
  uint64_t Total() const { return total_; }
  uint64_t Consumed() const { return consumed_.load(std::memory_order_acquire); }
  uint64_t Produced() const { return produced_.load(std::memory_order_acquire); }

 private:
  void Wake();
  template <class Ready>
  void WaitUntil(Ready ready);
  void CopyIn(uint64_t at, const uint8_t* data, uint64_t n);
  void CopyOut(uint64_t at, uint8_t* data, uint64_t n) const;

  std::unique_ptr<uint8_t[]> buffer_;
  uint64_t capacity_ = 0;
  uint64_t total_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> consumed_{0};
  std::atomic<uint64_t> produced_{0};
  std::atomic<int> waiters_{0};
  std::mutex waitLock_;
  std::condition_variable moved_;
};
