#pragma once
// Speed and time left of a running burn, from the byte counts the recording
// engine reports, read by the progress window's timer. The readings carry
// their own times, so the arithmetic does not depend on when it runs.

#include <cstdint>
#include <deque>
#include <utility>

// 1× of a medium in bytes of user data per second: 150 KiB/s for CD,
// 1385 kB/s for DVD, 4.5 MB/s for BD.
double UnitSpeed(int mediumType);

class BurnRate {
 public:
  // Speeds are averaged over this much of the latest readings.
  static constexpr int64_t kWindowMs = 3000;

  // A reading: `bytesWritten` at `ms` (a steady clock). A count that goes
  // back (a new copy or track) starts the readings afresh.
  void Add(int64_t ms, uint64_t bytesWritten);
  // Bytes per second over the window; 0 until two readings differ in time.
  double BytesPerSecond() const;
  // Seconds until `total` bytes are written at the current speed; -1 while
  // nothing was written yet or the speed is not known.
  int64_t SecondsLeft(uint64_t total) const;

 private:
  std::deque<std::pair<int64_t, uint64_t>> readings_;
};
