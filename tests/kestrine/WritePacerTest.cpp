// The paced recorder, on a clock of the test's own: waits advance it instead
// of passing.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "KestrineTestUtil.h"
#include "WritePacer.h"

namespace {

class FakeClock : public PaceClock {
 public:
  int64_t NowNs() override { return now_; }
  void SleepUntilNs(int64_t when) override { now_ = std::max(now_, when); }
  void Pass(double seconds) { now_ += int64_t(seconds * 1e9); }
  double Seconds() const { return double(now_) / 1e9; }

 private:
  int64_t now_ = 1'000'000'000;
};

// Bytes a second over `total` bytes written in `block`-byte writes by a host
// that never lags, the drive's buffer drained at the end.
double RateOf(WritePacer& pacer, FakeClock& clock, uint64_t total, uint64_t block) {
  const double start = clock.Seconds();
  for (uint64_t done = 0; done < total; done += block)
    EXPECT_EQ(WritePacer::Outcome::kWritten, pacer.Write(block, false));
  pacer.Drain();
  return double(total) / (clock.Seconds() - start);
}

TEST(WritePacer, KeepsTheSetSpeedOverALongWrite) {
  struct Case {
    uint64_t oneX;
    int speed;
    uint64_t block;
  } cases[] = {{WritePacer::kDvd1x, 16, 32 * 2048}, {WritePacer::kCd1x, 48, 16 * 2352}, {WritePacer::kBd1x, 6, 32 * 2048}};
  for (const Case& c : cases) {
    FakeClock clock;
    WritePacer pacer(&clock);
    const double want = double(c.oneX) * c.speed;
    pacer.SetRate(uint64_t(want));
    const double rate = RateOf(pacer, clock, 1ull << 30, c.block);
    EXPECT_NEAR(want, rate, want * 0.05) << c.speed << "x of " << c.oneX;
    EXPECT_EQ(0u, pacer.Underruns());
  }
  // Unpaced, the clock never moves.
  FakeClock clock;
  WritePacer free(&clock);
  const double before = clock.Seconds();
  EXPECT_EQ(WritePacer::Outcome::kWritten, free.Write(1 << 30, false));
  free.Drain();
  EXPECT_EQ(before, clock.Seconds());
}

TEST(WritePacer, AStalledSourceRunsTheBufferDry) {
  FakeClock clock;
  WritePacer pacer(&clock);
  const uint64_t rate = 16 * WritePacer::kDvd1x;
  pacer.SetRate(rate);
  const uint64_t block = 32 * 2048;
  for (int i = 0; i < 200; ++i) ASSERT_EQ(WritePacer::Outcome::kWritten, pacer.Write(block, false));
  // A host that comes back before the buffer is empty is on time.
  clock.Pass(double(WritePacer::kBufferBytes) / rate * 0.9);
  EXPECT_EQ(WritePacer::Outcome::kWritten, pacer.Write(block, false));
  EXPECT_EQ(0u, pacer.Underruns());
  // One that comes back later finds the track spoiled, and it stays so.
  clock.Pass(double(WritePacer::kBufferBytes) / rate * 1.5);
  EXPECT_EQ(WritePacer::Outcome::kUnderrun, pacer.Write(block, false));
  EXPECT_EQ(WritePacer::Outcome::kUnderrun, pacer.Write(block, false));
  EXPECT_EQ(1u, pacer.Underruns());
  // A new stream (after SYNCHRONIZE CACHE) writes again.
  pacer.Drain();
  EXPECT_EQ(WritePacer::Outcome::kWritten, pacer.Write(block, false));

  // Burn-proof: the laser waits for the data instead.
  clock.Pass(10);
  EXPECT_EQ(WritePacer::Outcome::kWritten, pacer.Write(block, true));
  EXPECT_EQ(WritePacer::Outcome::kWritten, pacer.Write(block, true));
  EXPECT_EQ(1u, pacer.UnderrunsAvoided());
  EXPECT_EQ(1u, pacer.Underruns());
}

// Through the recorder: the speed lives in the state file, an older file
// without it writes unpaced, and the underrun comes back as drives give it.
TEST(WritePacer, VirtualRecorderKeepsItsSpeedAndReportsAnUnderrun) {
  ktest::ScratchDir dir;
  std::string error;
  ASSERT_TRUE(VirtualRecorder::Create(dir / "fast.vdisc", "dvd+rw", &error, 16)) << error;
  {
    std::ifstream in(dir / "fast.vdisc");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(std::string::npos, text.str().find("\nspeed 16\n"));
  }
  EXPECT_FALSE(VirtualRecorder::Create(dir / "silly.vdisc", "dvd+rw", &error, VirtualRecorder::kMaxSpeed + 1));

  FakeClock clock;
  auto make = [&](const std::string& name, VirtualRecorder** raw) {
    auto r = std::make_unique<VirtualRecorder>();
    EXPECT_TRUE(r->Open(dir / name, &error)) << error;
    r->SetPaceClock(&clock);
    *raw = r.get();
    return std::make_unique<CDevCmdRW>(std::move(r), 3);
  };
  VirtualRecorder* fast = nullptr;
  auto d = make("fast.vdisc", &fast);
  EXPECT_EQ(16u * WritePacer::kDvd1x, fast->Pacer().Rate());
  auto block = ktest::Pattern(32 * 2048, 7);
  const double start = clock.Seconds();
  for (uint32_t lba = 0; lba < 8192; lba += 32) ASSERT_EQ(DEV_OK, d->Write(lba, block.data(), 32 * 2048, 32));
  ASSERT_EQ(DEV_OK, d->SynCache());
  const double rate = 8192.0 * 2048 / (clock.Seconds() - start);
  EXPECT_NEAR(16.0 * WritePacer::kDvd1x, rate, 16.0 * WritePacer::kDvd1x * 0.05);

  // Burn-proof off, a source that stalls: the write fails with loss of
  // streaming, and so does the next one.
  WriteParam wp = ktest::DataTrackParams(2, false);
  wp.BufE = 0;
  ASSERT_EQ(DEV_OK, d->SetWriteParam(wp));
  ASSERT_EQ(DEV_OK, d->Write(0, block.data(), 32 * 2048, 32));
  clock.Pass(5);
  EXPECT_EQ(DEV_CHECK_CONDITION, d->Write(32, block.data(), 32 * 2048, 32));
  EXPECT_EQ("3/0C/09", ktest::SenseOf(*d));
  EXPECT_EQ(DEV_CHECK_CONDITION, d->Write(64, block.data(), 32 * 2048, 32));
  EXPECT_EQ(1u, fast->Pacer().Underruns());

  // The fault switch of another program changes the speed for whoever
  // opens the recorder next; the other faults stay as they were.
  d.reset();
  {
    VirtualRecorder control;
    ASSERT_TRUE(control.Open(dir / "fast.vdisc", &error)) << error;
    VirtualFaults f = control.Faults();
    f.speed = 4;
    f.cannotErase = true;
    ASSERT_TRUE(control.SetFaults(f, &error)) << error;
  }
  d = make("fast.vdisc", &fast);
  EXPECT_EQ(4u * WritePacer::kDvd1x, fast->Pacer().Rate());
  EXPECT_TRUE(fast->Faults().cannotErase);
  // A host asking for less than the drive's speed is written for at its
  // own; asking for more changes nothing.
  ASSERT_EQ(DEV_OK, d->SetWriteSpeed(2 * 1385));
  EXPECT_EQ(DEV_OK, d->Write(0, block.data(), 32 * 2048, 32));
  EXPECT_EQ(2u * 1385000, fast->Pacer().Rate());
  ASSERT_EQ(DEV_OK, d->SetWriteSpeed(16 * 1385));
  EXPECT_EQ(DEV_OK, d->Write(32, block.data(), 32 * 2048, 32));
  EXPECT_EQ(4u * WritePacer::kDvd1x, fast->Pacer().Rate());

  // A state file of before speeds: no line, no pace.
  {
    std::ifstream in(dir / "fast.vdisc");
    std::stringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    s.erase(s.find("speed 4\n"), 8);
    std::ofstream(dir / "old.vdisc") << s;
    std::ofstream(dir / "old.vdisc.sectors");
  }
  VirtualRecorder* old = nullptr;
  auto o = make("old.vdisc", &old);
  EXPECT_EQ(0u, old->Pacer().Rate());
  const double before = clock.Seconds();
  EXPECT_EQ(DEV_OK, o->Write(0, block.data(), 32 * 2048, 32));
  EXPECT_EQ(before, clock.Seconds());
}

}  // namespace
