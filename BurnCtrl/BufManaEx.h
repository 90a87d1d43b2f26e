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
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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

// One reading of a track handed to every recorder of a job that writes the
// same track. Each recorder joins with its own source; the source of one of
// them (the first) is read, a chunk at a time, into a ring of chunks that
// every recorder copies from. A chunk stays until every recorder of the
// round has taken it, so a slow recorder holds the others back only once
// they are the whole ring ahead of it. A recorder that comes when the first
// chunk is already gone starts a round of its own; one that leaves early
// (a stop, a failure) hands the reading on to another, whose untouched
// source is brought up to the place first.
class SharedReader {
 public:
  static constexpr uint32_t kChunkSectors = 64;
  static constexpr int kChunks = 128;  // 16 MiB of data sectors
  static constexpr int kPollMs = 50;

  // What makes two recorders' tracks the same bytes.
  struct Key {
    int session = 0, track = 0, discKind = 0, kind = 0;
    uint32_t start = 0, length = 0, sectorSize = 0;
    // The source's own digest of its bytes (BurnFile::ContentDigest).
    std::pair<uint64_t, uint64_t> content{0, 0};
    bool operator==(const Key&) const = default;
  };
  // Fills `out` with the next `sectors` sectors of a recorder's own source
  // and answers what it is reading now (the progress text).
  struct Source {
    std::function<std::string(uint8_t* out, uint32_t sectors)> read;
    // The source files it could not read (their sectors came as zeros).
    std::function<std::vector<std::string>()> unreadable;
  };

  class Cursor {
   public:
    struct Round;
    ~Cursor();  // leaves the round
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;
    // The next `sectors` sectors of the track into `out`; false when `stop`
    // was set while waiting.
    bool Read(uint8_t* out, uint32_t sectors, const std::atomic<bool>& stop);
    std::string Item() const;
    // Sectors this recorder's own source had to read.
    uint64_t OwnSectorsRead() const;
    // The source files whichever source was read could not read: this
    // recorder's disc holds zeros in their place as well.
    std::vector<std::string> Unreadable() const;

   private:
    friend class SharedReader;
    Cursor(SharedReader* reader, std::shared_ptr<Round> round, int who) : reader_(reader), round_(round), who_(who) {}
    SharedReader* reader_;
    std::shared_ptr<Round> round_;
    int who_;
  };

  explicit SharedReader(int chunks = kChunks, uint32_t chunkSectors = kChunkSectors);
  ~SharedReader();
  SharedReader(const SharedReader&) = delete;
  SharedReader& operator=(const SharedReader&) = delete;

  // Joins the round of `key` that `who` has not been part of and whose first
  // chunk is still held, or starts a new one.
  std::unique_ptr<Cursor> Join(int who, const Key& key, Source source);

  // Sectors read from any source, and sectors handed to recorders.
  uint64_t SectorsRead() const { return read_.load(); }
  uint64_t SectorsHanded() const { return handed_.load(); }
  // Called (with the recorder) whenever one waits because the ring is full
  // of chunks another recorder has not taken yet.
  void SetWaitHook(std::function<void(int who)> hook) { waitHook_ = std::move(hook); }

  // The reader of the job of several recorders that `drive` belongs to
  // while it runs; null otherwise.
  static SharedReader* ForDrive(int drive);
  static void SetForDrive(int drive, SharedReader* reader);

 private:
  int chunks_;
  uint32_t chunkSectors_;
  std::mutex lock_;
  std::condition_variable moved_;
  std::vector<std::shared_ptr<Cursor::Round>> rounds_;
  void Evict(Cursor::Round& r);
  std::atomic<uint64_t> read_{0}, handed_{0};
  std::function<void(int)> waitHook_;
};
