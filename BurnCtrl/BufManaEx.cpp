#include "BurnCtrl/BufManaEx.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

// Only a side that is waiting costs the other one a notification.
void BufManaEx::Wake() {
  if (waiters_.load() == 0) return;
  { std::lock_guard<std::mutex> hold(waitLock_); }
  moved_.notify_all();
}

template <class Ready>
void BufManaEx::WaitUntil(Ready ready) {
  std::unique_lock<std::mutex> hold(waitLock_);
  ++waiters_;
  while (!ready()) moved_.wait_for(hold, std::chrono::milliseconds(kPollMs));
  --waiters_;
}

bool BufManaEx::Init(uint64_t capacity, uint64_t total) {
  buffer_.reset();
  capacity_ = 0;
  if (capacity == 0) return false;
  buffer_.reset(new (std::nothrow) uint8_t[capacity]());
  if (!buffer_) return false;
  capacity_ = capacity;
  total_ = total;
  consumed_.store(0, std::memory_order_release);
  produced_.store(0, std::memory_order_release);
  SetStop(false);
  return true;
}

bool BufManaEx::Put(const uint8_t* data, uint64_t n) {
  if (Stopped() || Consumed() >= total_) return true;
  // A piece larger than the whole buffer could never fit: hand it over in
  // parts the buffer can hold.
  while (n > capacity_) {
    if (!Put(data, capacity_)) return false;
    data += capacity_;
    n -= capacity_;
  }
  const uint64_t produced = produced_.load(std::memory_order_relaxed);
  WaitUntil([&] { return produced - Consumed() + n <= capacity_ || Stopped() || Consumed() >= total_; });
  if (Stopped() || Consumed() >= total_) return true;
  CopyIn(produced % capacity_, data, n);
  produced_.store(produced + n, std::memory_order_release);
  Wake();
  return true;
}

uint64_t BufManaEx::Take(uint8_t* data, uint64_t n) {
  const uint64_t consumed = consumed_.load(std::memory_order_relaxed);
  if (Stopped() || consumed >= total_) return 0;
  if (consumed + n > total_) n = total_ - consumed;
  if (n > capacity_) n = capacity_;
  WaitUntil([&] { return consumed + n <= Produced() || Stopped(); });
  if (Stopped()) return 0;
  CopyOut(consumed % capacity_, data, n);
  consumed_.store(consumed + n, std::memory_order_release);
  Wake();
  return n;
}

uint64_t BufManaEx::Reserve(uint64_t n, uint8_t** at) {
  if (Stopped() || Consumed() >= total_ || capacity_ == 0) return 0;
  const uint64_t produced = produced_.load(std::memory_order_relaxed);
  const uint64_t offset = produced % capacity_;
  n = std::min(n, capacity_ - offset);
  WaitUntil([&] { return produced - Consumed() + n <= capacity_ || Stopped() || Consumed() >= total_; });
  if (Stopped() || Consumed() >= total_) return 0;
  *at = buffer_.get() + offset;
  return n;
}

void BufManaEx::Commit(uint64_t n) {
  produced_.store(produced_.load(std::memory_order_relaxed) + n, std::memory_order_release);
  Wake();
}

uint64_t BufManaEx::Peek(uint64_t n, const uint8_t** at) {
  const uint64_t consumed = consumed_.load(std::memory_order_relaxed);
  if (Stopped() || consumed >= total_ || capacity_ == 0) return 0;
  if (consumed + n > total_) n = total_ - consumed;
  const uint64_t offset = consumed % capacity_;
  n = std::min(n, capacity_ - offset);
  WaitUntil([&] { return consumed + n <= Produced() || Stopped(); });
  if (Stopped()) return 0;
  *at = buffer_.get() + offset;
  return n;
}

void BufManaEx::Release(uint64_t n) {
  consumed_.store(consumed_.load(std::memory_order_relaxed) + n, std::memory_order_release);
  Wake();
}

void BufManaEx::CopyIn(uint64_t at, const uint8_t* data, uint64_t n) {
  uint64_t first = std::min(n, capacity_ - at);
  std::memcpy(buffer_.get() + at, data, first);
  if (first < n) std::memcpy(buffer_.get(), data + first, n - first);
}

void BufManaEx::CopyOut(uint64_t at, uint8_t* data, uint64_t n) const {
  uint64_t first = std::min(n, capacity_ - at);
  std::memcpy(data, buffer_.get() + at, first);
  if (first < n) std::memcpy(data + first, buffer_.get(), n - first);
}
