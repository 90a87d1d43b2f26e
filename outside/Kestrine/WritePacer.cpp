#include "WritePacer.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

class SystemClock : public PaceClock {
 public:
  int64_t NowNs() override {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void SleepUntilNs(int64_t when) override {
    std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(when)));
  }
};

}  // namespace

PaceClock& PaceClock::System() {
  static SystemClock clock;
  return clock;
}

void WritePacer::SetRate(uint64_t bytesPerSecond, uint64_t bufferBytes) {
  std::lock_guard<std::mutex> hold(lock_);
  rate_ = bytesPerSecond;
  buffer_ = std::max<uint64_t>(bufferBytes, 1);
  // A new speed takes effect from what the buffer holds now.
  if (streaming_) at_ = clock_->NowNs();
}

uint64_t WritePacer::Rate() const {
  std::lock_guard<std::mutex> hold(lock_);
  return rate_;
}

bool WritePacer::Advance(int64_t now) {
  if (now <= at_) return false;
  const double written = double(rate_) * double(now - at_) / 1e9;
  const double slack = double(rate_) * double(kSlackNs) / 1e9;
  const bool dry = written > level_ + slack;
  level_ = std::max(0.0, level_ - written);
  at_ = now;
  return dry;
}

WritePacer::Outcome WritePacer::Write(uint64_t bytes, bool burnProof) {
  std::unique_lock<std::mutex> hold(lock_);
  if (rate_ == 0) return Outcome::kWritten;
  const int64_t now = clock_->NowNs();
  if (!streaming_) {
    streaming_ = true;
    level_ = 0;
    at_ = now;
  } else if (Advance(now)) {
    if (burnProof) {
      ++avoided_;
    } else if (!spoiled_) {
      ++underruns_;
      spoiled_ = true;
    }
  }
  if (spoiled_) return Outcome::kUnderrun;
  // A write larger than the whole buffer goes in as the laser makes room.
  const double room = double(buffer_) - double(std::min(bytes, buffer_));
  if (level_ > room) {
    const int64_t until = at_ + int64_t((level_ - room) * 1e9 / double(rate_)) + 1;
    hold.unlock();
    clock_->SleepUntilNs(until);
    hold.lock();
    // The buffer never ran dry while it was waited on: it was full.
    Advance(std::max(clock_->NowNs(), until));
  }
  level_ += double(bytes);
  return Outcome::kWritten;
}

void WritePacer::Drain() {
  std::unique_lock<std::mutex> hold(lock_);
  if (rate_ == 0 || !streaming_) {
    streaming_ = spoiled_ = false;
    return;
  }
  Advance(clock_->NowNs());
  const int64_t until = at_ + int64_t(level_ * 1e9 / double(rate_));
  streaming_ = spoiled_ = false;
  level_ = 0;
  hold.unlock();
  clock_->SleepUntilNs(until);
}

uint64_t WritePacer::Underruns() const {
  std::lock_guard<std::mutex> hold(lock_);
  return underruns_;
}

uint64_t WritePacer::UnderrunsAvoided() const {
  std::lock_guard<std::mutex> hold(lock_);
  return avoided_;
}
