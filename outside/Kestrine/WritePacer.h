#pragma once
// The pace of a recorder that writes at a drive's speed: the host's writes
// fill the drive's buffer, the laser empties it at the speed set. A write
// that finds the buffer full waits for room; a laser that finds the buffer
// empty has run dry (a buffer underrun). With burn-proof the laser stops and
// starts again where it stopped; without it the track is spoiled and every
// later write of the stream fails.
//
// The clock is given, so that a test can drive the pacer on a clock of its
// own and see the waits instead of sleeping them.

#include <cstdint>
#include <mutex>

class PaceClock {
 public:
  virtual ~PaceClock() = default;
  virtual int64_t NowNs() = 0;
  virtual void SleepUntilNs(int64_t when) = 0;
  // The machine's steady clock; lives as long as the program.
  static PaceClock& System();
};

class WritePacer {
 public:
  // Bytes per second at 1x: CD (75 sectors of 2352 bytes), DVD, BD.
  static constexpr uint64_t kCd1x = 176400, kDvd1x = 1385000, kBd1x = 4495500;
  // A drive buffer as recorders of this class have; READ BUFFER CAPACITY
  // answers the same.
  static constexpr uint64_t kBufferBytes = 4u << 20;
  // Within this gap of its start time the laser is taken to be on time:
  // a scheduler's slack is not an underrun.
  static constexpr int64_t kSlackNs = 2'000'000;

  enum class Outcome { kWritten, kUnderrun };

  explicit WritePacer(PaceClock* clock = nullptr) : clock_(clock ? clock : &PaceClock::System()) {}

  void SetClock(PaceClock* clock) {
    std::lock_guard<std::mutex> hold(lock_);
    clock_ = clock ? clock : &PaceClock::System();
  }
  // `bytesPerSecond` 0: no pace, every write goes at once.
  void SetRate(uint64_t bytesPerSecond, uint64_t bufferBytes = kBufferBytes);
  uint64_t Rate() const;

  // The host hands `bytes` to the drive: waits while the buffer has no room
  // for them. kUnderrun when the laser had run dry since the last write and
  // burn-proof is off (or after such an underrun, until the stream ends).
  Outcome Write(uint64_t bytes, bool burnProof);
  // SYNCHRONIZE CACHE, CLOSE TRACK: waits until the laser has written what
  // the buffer holds; the next write starts a new stream.
  void Drain();

  // Underruns that spoiled a track, and those burn-proof avoided.
  uint64_t Underruns() const;
  uint64_t UnderrunsAvoided() const;

 private:
  // Moves the laser on to `now`: what it wrote since, and whether it ran dry.
  bool Advance(int64_t now);

  PaceClock* clock_;
  mutable std::mutex lock_;
  uint64_t rate_ = 0, buffer_ = kBufferBytes;
  bool streaming_ = false, spoiled_ = false;
  // Bytes in the buffer at `at_`.
  double level_ = 0;
  int64_t at_ = 0;
  uint64_t underruns_ = 0, avoided_ = 0;
};
