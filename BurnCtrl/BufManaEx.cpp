#include "BurnCtrl/BufManaEx.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
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

// ---------------------------------------------------------------- SharedReader

struct SharedReader::Cursor::Round {
  Key key;
  struct Member {
    Source source;
    uint64_t pos = 0;    // sectors taken
    uint64_t given = 0;  // sectors its own source has read
    bool in = true;      // false once it left
  };
  std::map<int, Member> members;
  std::vector<std::unique_ptr<uint8_t[]>> slots;
  int64_t firstHeld = 0, nextRead = 0;  // chunks
  bool reading = false;
  int owner = -1;  // whose source is read; -1 once it left
  std::string item;
  std::vector<std::string> unreadable;
  bool Active() const {
    return std::any_of(members.begin(), members.end(), [](const auto& m) { return m.second.in; });
  }
};

namespace {
std::mutex gSharedLock;
std::map<int, SharedReader*> gShared;
}  // namespace

SharedReader* SharedReader::ForDrive(int drive) {
  std::lock_guard<std::mutex> hold(gSharedLock);
  auto it = gShared.find(drive);
  return it == gShared.end() ? nullptr : it->second;
}

void SharedReader::SetForDrive(int drive, SharedReader* reader) {
  std::lock_guard<std::mutex> hold(gSharedLock);
  if (reader) gShared[drive] = reader;
  else gShared.erase(drive);
}

SharedReader::SharedReader(int chunks, uint32_t chunkSectors)
    : chunks_(std::max(1, chunks)), chunkSectors_(std::max(1u, chunkSectors)) {}

SharedReader::~SharedReader() {
  std::lock_guard<std::mutex> hold(gSharedLock);
  for (auto it = gShared.begin(); it != gShared.end();) it = it->second == this ? gShared.erase(it) : std::next(it);
}

std::unique_ptr<SharedReader::Cursor> SharedReader::Join(int who, const Key& key, Source source) {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto& round : rounds_) {
    if (!(round->key == key) || round->firstHeld != 0 || round->members.count(who)) continue;
    round->members[who].source = std::move(source);
    return std::unique_ptr<Cursor>(new Cursor(this, round, who));
  }
  auto round = std::make_shared<Cursor::Round>();
  round->key = key;
  round->owner = who;
  round->members[who].source = std::move(source);
  round->slots.resize(size_t(chunks_));
  rounds_.push_back(round);
  return std::unique_ptr<Cursor>(new Cursor(this, round, who));
}

// Chunks every recorder still in the round has passed make room.
void SharedReader::Evict(Cursor::Round& r) {
  uint64_t least = UINT64_MAX;
  for (const auto& [who, m] : r.members)
    if (m.in) least = std::min(least, m.pos);
  if (least == UINT64_MAX) return;
  r.firstHeld = std::max(r.firstHeld, std::min<int64_t>(int64_t(least / chunkSectors_), r.nextRead));
}

bool SharedReader::Cursor::Read(uint8_t* out, uint32_t sectors, const std::atomic<bool>& stop) {
  SharedReader& s = *reader_;
  Round& r = *round_;
  const uint64_t cs = s.chunkSectors_, size = r.key.sectorSize;
  std::unique_lock<std::mutex> hold(s.lock_);
  Round::Member& me = r.members[who_];
  if (me.pos + sectors > r.key.length) return false;
  bool noted = false;  // this wait for room was told to the hook
  while (sectors > 0) {
    if (stop) return false;
    const int64_t c = int64_t(me.pos / cs);
    const uint64_t chunkLength = std::min<uint64_t>(cs, r.key.length - uint64_t(c) * cs);
    if (c < r.nextRead) {
      // Held until this recorder has passed it: copied without the lock.
      const uint8_t* slot = r.slots[size_t(c % s.chunks_)].get();
      const uint64_t off = me.pos - uint64_t(c) * cs, n = std::min<uint64_t>(sectors, chunkLength - off);
      hold.unlock();
      std::memcpy(out, slot + off * size, n * size);
      hold.lock();
      me.pos += n;
      out += n * size;
      sectors -= uint32_t(n);
      s.handed_ += n;
      noted = false;
      s.moved_.notify_all();
      continue;
    }
    if (r.reading) {
      s.moved_.wait_for(hold, std::chrono::milliseconds(kPollMs));
      continue;
    }
    // Chunks go only when the room is needed: until then a recorder that
    // comes late still finds the track's start and joins.
    if (r.nextRead - r.firstHeld >= s.chunks_) s.Evict(r);
    if (r.nextRead - r.firstHeld >= s.chunks_) {
      if (!noted && s.waitHook_) {
        noted = true;
        hold.unlock();
        s.waitHook_(who_);
        hold.lock();
        continue;
      }
      s.moved_.wait_for(hold, std::chrono::milliseconds(kPollMs));
      continue;
    }
    // This recorder reads the next chunk, from the round's source; one whose
    // owner has left is read from this recorder's own, brought to the place.
    if (r.owner < 0 || !r.members[r.owner].in) r.owner = who_;
    Round::Member& src = r.members[r.owner];
    const uint64_t skip = uint64_t(r.nextRead) * cs - src.given;
    auto& slot = r.slots[size_t(c % s.chunks_)];
    if (!slot) slot.reset(new uint8_t[cs * size]);
    uint8_t* into = slot.get();
    auto read = src.source.read;
    auto lost = src.source.unreadable;
    r.reading = true;
    hold.unlock();
    for (uint64_t skipped = 0; skipped < skip;) {
      const uint32_t n = uint32_t(std::min<uint64_t>(cs, skip - skipped));
      read(into, n);
      skipped += n;
    }
    std::string item = read(into, uint32_t(chunkLength));
    std::vector<std::string> missing = lost ? lost() : std::vector<std::string>{};
    hold.lock();
    src.given += skip + chunkLength;
    s.read_ += skip + chunkLength;
    r.item = std::move(item);
    for (std::string& path : missing)
      if (std::find(r.unreadable.begin(), r.unreadable.end(), path) == r.unreadable.end())
        r.unreadable.push_back(std::move(path));
    ++r.nextRead;
    r.reading = false;
    s.moved_.notify_all();
  }
  return true;
}

std::string SharedReader::Cursor::Item() const {
  std::lock_guard<std::mutex> hold(reader_->lock_);
  return round_->item;
}

uint64_t SharedReader::Cursor::OwnSectorsRead() const {
  std::lock_guard<std::mutex> hold(reader_->lock_);
  return round_->members.at(who_).given;
}

std::vector<std::string> SharedReader::Cursor::Unreadable() const {
  std::lock_guard<std::mutex> hold(reader_->lock_);
  return round_->unreadable;
}

// A recorder's source is only read while it is in the round: its leaving
// waits for a read of it that another recorder has under way.
SharedReader::Cursor::~Cursor() {
  SharedReader& s = *reader_;
  std::unique_lock<std::mutex> hold(s.lock_);
  Round& r = *round_;
  while (r.reading && r.owner == who_) s.moved_.wait_for(hold, std::chrono::milliseconds(kPollMs));
  r.members[who_].in = false;
  if (r.owner == who_) r.owner = -1;
  if (!r.Active()) s.rounds_.erase(std::remove(s.rounds_.begin(), s.rounds_.end(), round_), s.rounds_.end());
  s.moved_.notify_all();
}
