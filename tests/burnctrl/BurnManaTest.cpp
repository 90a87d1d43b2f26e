// The burn pipeline against recorders that fail on purpose: retries, split
// writes, stops, refusals, and what is left behind.

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <fstream>
#include <thread>

#include "BurnCtrl/BurnMultiRun.h"
#include "BurnCtrl/Results.h"
#include "BurnTestSupport.h"
#include "ByteFields.h"

namespace {

constexpr int kIndex = 10;

std::shared_ptr<FaultyRecorder> NewDisc(const ScratchFolder& dir, int medium, uint32_t capacity = 0,
                                        int index = kIndex, const std::string& name = "disc.img") {
  auto r = std::make_shared<FaultyRecorder>(dir / name, medium, capacity, index);
  EXPECT_TRUE(r->CreateBlank());
  return r;
}

// Extracts an image with 7zz and compares one file with its source.
void ExpectFileOnImage(const std::string& image, const std::string& discPath, const std::vector<uint8_t>& want) {
  ScratchFolder out;
  int st = 0;
  std::string log = RunTool("7zz x -y -o" + out.path() + " " + image, &st);
  ASSERT_EQ(st, 0) << log;
  std::string got = ReadWholeFile(out / discPath);
  ASSERT_EQ(got.size(), want.size()) << discPath << " has the wrong size on the disc";
  EXPECT_TRUE(std::memcmp(got.data(), want.data(), want.size()) == 0) << discPath << " differs on the disc";
}

struct Source {
  ScratchFolder dir;
  std::vector<uint8_t> data;
  std::string path;
  explicit Source(size_t bytes, uint32_t seed = 1) : data(PatternBytes(bytes, seed)) {
    path = WriteBytes(dir, "payload.bin", data);
  }
};

}  // namespace

TEST(BurnMana, WriteErrorThatPersistsGivesWriteFailedAfterTheRetries) {
  Source src(2 << 20);
  StagedProject project({src.path});
  ScratchFolder disc;
  ListedDrive<FaultyRecorder> d(NewDisc(disc, rec::kDvdPlusR));
  d->failAt = 5;
  d->failTimes = 1000;
  EXPECT_EQ(WriteCd(d.index, project.root(), "T", 0, false, false, false), result::kWriteFailed);
  // The whole block: one try and ten retries; then its first half the same.
  EXPECT_EQ(d->failedWrites.load(), 22);
  EXPECT_FALSE(d->Finalized()) << "a failed burn must not close the disc";
}

TEST(BurnMana, ABlockThatKeepsFailingWholeGoesOutSplitAndTheBurnSucceeds) {
  Source src(3 << 20, 2);
  StagedProject project({src.path});
  ScratchFolder disc;
  ListedDrive<FaultyRecorder> d(NewDisc(disc, rec::kDvdPlusR));
  d->failAt = 3;
  d->failTimes = 1 << 30;
  d->failBigOnly = true;  // only 32-sector writes fail
  ASSERT_EQ(WriteCd(d.index, project.root(), "SPLIT", 0, false, false, false), result::kSuccess);
  EXPECT_EQ(d->failedWrites.load(), 11) << "after one failed block every later block must go out split";
  ExpectFileOnImage(disc / "disc.img", "payload.bin", src.data);
}

TEST(BurnMana, LongWriteInProgressIsWaitedOutButAStopEndsIt) {
  Source src(1 << 20, 3);
  StagedProject project({src.path});
  {
    ScratchFolder disc;
    ListedDrive<FaultyRecorder> d(NewDisc(disc, rec::kCdR));
    d->longWriteFrom = 4;
    d->longWriteCount = 3;
    EXPECT_EQ(WriteCd(d.index, project.root(), "LONG", 0, false, false, false), result::kSuccess);
    ExpectFileOnImage(disc / "disc.img", "payload.bin", src.data);
  }
  // A drive that stays busy with its long write: every block would take the
  // burn's whole patience (minutes) before it gave up. A stop must end the
  // wait at the next answer. The drive counts the answers it gives after the
  // stop; should the burn keep polling, it turns to a hard write error after
  // a few, so that even a burn that ignores the stop ends soon.
  constexpr int kPollsAllowedAfterStop = 1, kHardErrorAfter = 8;
  ScratchFolder disc;
  ListedDrive<FaultyRecorder> d(NewDisc(disc, rec::kCdR));
  d->longWriteFrom = 4;
  d->longWriteCount = -1;  // never ends
  d->GateWrite(6);          // the third answer of "long write in progress"
  int afterStop = 0;        // counted on the writer's thread
  d->onWrite = [&](int n) {
    if (n <= 6) return;
    if (++afterStop == kHardErrorAfter) {
      d->longWriteCount = 0;
      d->failAt = n;
      d->failTimes = 1 << 30;
    }
  };
  std::thread stopper([&] {
    if (d->WaitAtGate()) AbortWrite();
    d->OpenGate();
  });
  int res = WriteCd(d.index, project.root(), "LONG", 0, false, false, false);
  d->GiveUpGate();
  stopper.join();
  EXPECT_EQ(res, result::kBurnStopped);
  EXPECT_LE(afterStop, kPollsAllowedAfterStop) << "the burn went on asking a busy drive after the stop";
  EXPECT_FALSE(d->Finalized());
}

TEST(BurnMana, BeginRefusalsGiveTheirResults) {
  Source src(64 << 10, 4);
  StagedProject project({src.path});
  {
    ScratchFolder disc;
    PrivateTemp temp;
    ListedDrive<FaultyRecorder> d(NewDisc(disc, rec::kCdR));
    d->notReadyPolls = 1 << 30;
    d->notReadySense = rec::Sense{2, 0x3A, 0, 4};  // no disc, and none coming
    EXPECT_EQ(WriteCd(d.index, project.root(), "X", 0, false, false, false), result::kNotReady);
    EXPECT_TRUE(temp.Left().empty()) << "a refused begin left " << temp.Left().front();
  }
  {
    ScratchFolder disc;
    ListedDrive<FaultyRecorder> d(NewDisc(disc, rec::kDvdRom));
    EXPECT_EQ(WriteCd(d.index, project.root(), "X", 0, false, false, false), result::kBeginTrackFailed);
  }
  {
    ScratchFolder disc;
    ListedDrive<FaultyRecorder> d(NewDisc(disc, rec::kCdR, 40));  // 40 sectors: too small
    EXPECT_EQ(WriteCd(d.index, project.root(), "X", 0, false, false, false), result::kDoesNotFit);
    EXPECT_EQ(d->writes.load(), 0) << "nothing may be written when the project does not fit";
  }
  EXPECT_EQ(WriteCd(25, project.root(), "X", 0, false, false, false), result::kNoSuchDrive);
}

TEST(BurnMana, AStoppedBurnFailsAndLeavesNoTemporaryFiles) {
  Source src(24 << 20, 5);
  StagedProject project({src.path});
  ScratchFolder disc;
  PrivateTemp temp;
  ListedDrive<FaultyRecorder> d(NewDisc(disc, rec::kDvdPlusR));
  // The stop arrives while the fifth write is held at the gate: the burn
  // cannot have ended before it.
  d->GateWrite(5);
  std::thread stopper([&] {
    if (d->WaitAtGate()) AbortWrite();
    d->OpenGate();
  });
  int res = WriteCd(d.index, project.root(), "STOP", 0, false, false, false);
  d->GiveUpGate();
  stopper.join();
  EXPECT_EQ(res, result::kBurnStopped);
  EXPECT_LT(GetDriveStatus(kIndex).percent, 100);
  // Nothing stays behind once the burn has returned, even while its entry
  // still answers the progress display.
  EXPECT_TRUE(temp.Left().empty()) << "left behind: " << temp.Left().front();
}

TEST(BurnMana, ASourceThatVanishedMakesTheBurnFail) {
  ScratchFolder src;
  std::string keep = WriteBytes(src, "keep.bin", PatternBytes(100000, 6));
  std::string gone = WriteBytes(src, "gone.bin", PatternBytes(100000, 7));
  StagedProject project({keep, gone});
  std::remove(gone.c_str());
  ScratchFolder disc;
  ListedDrive<FaultyRecorder> d(NewDisc(disc, rec::kCdR));
  EXPECT_EQ(WriteCd(d.index, project.root(), "GONE", 0, false, false, false), result::kSourceUnreadable);
  std::vector<std::string> lost = LastUnreadableSources(d.index);
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_EQ(lost[0], gone);
}

TEST(BurnMana, SeveralRecordersShareTheSourceAndPadTheirLastChunkWithZeros) {
  Source src((5 << 20) + 12345, 8);
  StagedProject project({src.path});
  ScratchFolder disc;
  ListedDrive<FaultyRecorder> a(NewDisc(disc, rec::kCdR, 0, 11, "a.img"));
  ListedDrive<FaultyRecorder> b(NewDisc(disc, rec::kDvdPlusR, 0, 12, "b.img"));
  SetMultiRecorderMode(true);
  int ra = 0, rb = 0;
  std::thread ta([&] { ra = WriteCd(11, project.root(), "MULTI", 0, false, false, false); });
  std::thread tb([&] { rb = WriteCd(12, project.root(), "MULTI", 0, false, false, false); });
  ta.join();
  tb.join();
  SetMultiRecorderMode(false);
  ASSERT_EQ(ra, result::kSuccess);
  ASSERT_EQ(rb, result::kSuccess);
  ExpectFileOnImage(disc / "a.img", "payload.bin", src.data);
  ExpectFileOnImage(disc / "b.img", "payload.bin", src.data);
  // The CD track: whole writes of 16 sectors, nothing but zeros past the
  // volume's end.
  std::string image = ReadWholeFile(disc / "a.img");
  uint32_t volume = bytes::LE32(reinterpret_cast<const uint8_t*>(&image[16 * 2048 + 80]));
  ASSERT_EQ(a->Tracks().size(), 1u);
  EXPECT_EQ(a->Tracks()[0].size % 16, 0u);
  EXPECT_GE(a->Tracks()[0].size, volume);
  EXPECT_LT(a->Tracks()[0].size, volume + 16 + 150);
  for (size_t i = size_t(volume) * 2048; i < image.size(); ++i)
    if (image[i] != 0) FAIL() << "byte " << i << " past the track's end is not zero";
}

namespace {

// Three recorders of one run write one project; each one's first write
// waits until all three stand there, so that all of them are in the
// reader's round before any of them moves on.
struct SharedRun {
  ScratchFolder disc;
  std::vector<std::unique_ptr<ListedDrive<FaultyRecorder>>> drives;
  std::mutex lock;
  std::condition_variable cv;
  int arrived = 0;
  std::function<void()> allThere;  // once, when the last one arrives
  explicit SharedRun(int count) {
    for (int i = 0; i < count; ++i) {
      drives.push_back(std::make_unique<ListedDrive<FaultyRecorder>>(
          NewDisc(disc, rec::kDvdPlusR, 0, 21 + i, "d" + std::to_string(i) + ".img")));
      (*drives.back())->onWrite = [this, count](int n) {
        if (n != 1) return;
        std::unique_lock<std::mutex> hold(lock);
        if (++arrived == count && allThere) allThere();
        cv.notify_all();
        cv.wait(hold, [&] { return arrived == count; });
      };
    }
  }
  std::vector<int> Indexes() const {
    std::vector<int> v;
    for (const auto& d : drives) v.push_back(d->index);
    return v;
  }
};

}  // namespace

TEST(BurnMana, SeveralRecordersOfARunWriteFromOneReadingOfTheSource) {
  Source src((3 << 20) + 777, 12);
  StagedProject project({src.path});
  SharedRun shared(3);
  BurnMultiRun run(shared.Indexes(), 1,
                   [&](int d) { return WriteCd(d, project.root(), "ONCE", 0, false, false, false); });
  ASSERT_EQ(run.Start(), result::kSuccess);
  run.Wait();
  ASSERT_EQ(run.Result(), result::kSuccess) << run.Summary([](int d) { return std::to_string(d); });
  for (int i = 0; i < 3; ++i) ExpectFileOnImage(shared.disc / ("d" + std::to_string(i) + ".img"), "payload.bin", src.data);
  const std::string first = ReadWholeFile(shared.disc / "d0.img");
  for (int i = 1; i < 3; ++i) EXPECT_TRUE(ReadWholeFile(shared.disc / ("d" + std::to_string(i) + ".img")) == first);
  // The track was read once and handed to all three.
  const uint64_t track = shared.drives[0]->drive->Tracks().at(0).size;
  EXPECT_GE(run.Reader().SectorsRead() + 32, track);
  EXPECT_LE(run.Reader().SectorsRead(), track);
  EXPECT_EQ(run.Reader().SectorsHanded(), 3 * run.Reader().SectorsRead());
}

// A file that vanishes while the track is read: the recorders that did not
// read the source themselves are told as well, since their discs miss it
// just the same.
TEST(BurnMana, ASourceThatVanishedFailsEveryRecorderOfTheSharedReading) {
  ScratchFolder src;
  std::string keep = WriteBytes(src, "a_keep.bin", PatternBytes(4 << 20, 6));
  std::string gone = WriteBytes(src, "z_gone.bin", PatternBytes(1 << 20, 7));
  StagedProject project({keep, gone});
  SharedRun shared(3);
  shared.allThere = [&] { std::remove(gone.c_str()); };
  BurnMultiRun run(shared.Indexes(), 1,
                   [&](int d) { return WriteCd(d, project.root(), "GONE", 0, false, false, false); });
  ASSERT_EQ(run.Start(), result::kSuccess);
  run.Wait();
  for (const MultiRow& r : run.Rows()) {
    EXPECT_EQ(r.result, result::kSourceUnreadable) << "drive " << r.drive;
    const std::vector<std::string> lost = LastUnreadableSources(r.drive);
    ASSERT_EQ(lost.size(), 1u) << "drive " << r.drive;
    EXPECT_EQ(lost[0], gone);
  }
}
