// Different jobs of one program on different recorders at the same time: a
// Video CD, a DVD-Video and a disc copy, each held in the middle of its
// writing until all three are, then judged by the independent readers. A
// stop reaches only the job it is meant for.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <thread>

#include "BurnCtrl/DiscCopy.h"
#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "BurnCtrl/interfaces/KestrineRecorder.h"
#include "burnctrl/BurnTestSupport.h"
#include "DevDeque.h"
#include "VirtualRecorder.h"
#include "jobs/CVideoDiscProject.h"
#include "media/DvdTestSupport.h"

namespace {

// A virtual recorder of the command layer whose Nth write waits until the
// test releases it.
struct HeldDrive {
  std::string state;
  int index;
  HeldDrive(const ScratchFolder& dir, const std::string& name, const std::string& medium, int at, int holdAt = 0)
      : state(dir / (name + ".vdisc")), index(at) {
    std::string error;
    EXPECT_TRUE(VirtualRecorder::Create(state, medium, &error)) << error;
    if (holdAt) {
      VirtualRecorder v;
      EXPECT_TRUE(v.Open(state, &error)) << error;
      VirtualFaults f;
      f.holdAt = holdAt;
      EXPECT_TRUE(v.SetFaults(f, &error)) << error;
    }
    auto dev = DevDeque::OpenDrive("virtual:" + state, index, &error);
    EXPECT_TRUE(dev) << error;
    AddRecorder(std::make_shared<KestrineRecorder>(std::move(dev)));
  }
  ~HeldDrive() {
    ResetBurn(index);
    RemoveRecorder(index);
  }
  std::string Held() const { return VirtualRecorder::HeldPath(state); }
  bool Waiting() const {
    struct stat st;
    return ::lstat(Held().c_str(), &st) == 0;
  }
  void Release() const { ::unlink(Held().c_str()); }
  void Export(const std::string& out, bool cue) const {
    VirtualRecorder v;
    std::string error;
    ASSERT_TRUE(v.Open(state, &error)) << error;
    ASSERT_TRUE(cue ? v.ExportBinCue(out, &error) : v.ExportIso(out, &error)) << error;
  }
};

// Every drive is at its gate, or a job ended before it got there (its
// result then says why).
void WaitAtGates(const std::vector<const HeldDrive*>& drives, const std::vector<std::future<int>*>& jobs) {
  for (;;) {
    bool all = true;
    for (const HeldDrive* d : drives) all = all && d->Waiting();
    bool ended = false;
    for (auto* j : jobs) ended = ended || j->wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    if (all || ended) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// A data CD to copy from, burnt before the jobs begin.
void BurnSourceDisc(const ScratchFolder& dir, int index) {
  StagedProject project({dir.Write("src/readme.txt", std::string(300000, 'r')),
                         dir.Write("src/sub/notes.txt", "copied while two video discs are written")});
  ASSERT_EQ(WriteCd(index, project.root(), "SOURCE", 0, false, false, false), result::kSuccess) << LastJobError(index);
}

}  // namespace

TEST(DrivesAtOnce, AVideoCdADvdAndACopyAreWrittenTogetherAndEachDiscIsWhole) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::string clip = MakeClip(dir, "clip.mp4", 2);
  const std::string clip2 = MakeClip(dir, "other.avi", 1);

  CVideoDiscProject vcd(CVideoDiscProject::kVideoCd);
  ASSERT_EQ(vcd.AddVideoFile(clip), CVideoDiscProject::kAdded);
  ASSERT_EQ(vcd.PrepareVideoDisc([](const std::string&) { return false; }), result::kSuccess) << vcd.LastError();
  CVideoDiscProject dvd(CVideoDiscProject::kDvdVideo);
  ASSERT_EQ(dvd.AddVideoFile(clip), CVideoDiscProject::kAdded);
  ASSERT_EQ(dvd.AddVideoFile(clip2), CVideoDiscProject::kAdded);
  ASSERT_EQ(dvd.PrepareVideoDisc([](const std::string&) { return false; }), result::kSuccess) << dvd.LastError();

  HeldDrive source(dir, "source", "cd-r", 7);
  BurnSourceDisc(dir, source.index);
  HeldDrive vcdDrive(dir, "vcd", "cd-r", 5, 3), dvdDrive(dir, "dvd", "dvd-r", 6, 3),
      copyDrive(dir, "copy", "cd-r", 8, 3);

  DiscCopyJob copy;
  auto vcdJob = std::async(std::launch::async, [&] { return vcd.BurnVideoDisc(vcdDrive.index); });
  auto dvdJob = std::async(std::launch::async, [&] { return dvd.BurnVideoDisc(dvdDrive.index); });
  auto copyJob = std::async(std::launch::async, [&] { return copy.Run(source.index, copyDrive.index, ""); });
  WaitAtGates({&vcdDrive, &dvdDrive, &copyDrive}, {&vcdJob, &dvdJob, &copyJob});
  EXPECT_TRUE(vcdDrive.Waiting() && dvdDrive.Waiting() && copyDrive.Waiting()) << "the three were not written at once";
  // Each drive answers for its own job while all three are under way.
  EXPECT_NE(copy.Item(), "");
  for (const HeldDrive* d : {&vcdDrive, &dvdDrive, &copyDrive}) d->Release();

  ASSERT_EQ(vcdJob.get(), result::kSuccess) << vcd.LastError(vcdDrive.index);
  ASSERT_EQ(dvdJob.get(), result::kSuccess) << dvd.LastError(dvdDrive.index);
  ASSERT_EQ(copyJob.get(), result::kSuccess) << copy.Error();

  // The Video CD, as vcd-info reads it.
  vcdDrive.Export(dir / "vcd.cue", true);
  CommandResult info = RunCommand("vcd-info -B -c " + Quoted(dir / "vcd.cue") + " -f -E -T -p -I -P");
  EXPECT_EQ(info.status, 0) << info.output;
  EXPECT_EQ(info.output.find("WARN"), std::string::npos) << info.output;
  // The DVD's two titles, as lsdvd reads them.
  dvdDrive.Export(dir / "dvd.iso", false);
  std::string said;
  EXPECT_EQ(LsdvdLengths(dir / "dvd.iso", &said).size(), 2u) << said;
  // The copy holds the source's data sector for sector.
  source.Export(dir / "source.iso", false);
  copyDrive.Export(dir / "copy.iso", false);
  const std::string original = ReadWholeFile(dir / "source.iso");
  EXPECT_GT(original.size(), 150u * 2048);
  EXPECT_TRUE(original == ReadWholeFile(dir / "copy.iso")) << "the copy differs from its source";
  vcd.CleanUpVideoDisc();
  dvd.CleanUpVideoDisc();
}

TEST(DrivesAtOnce, StoppingOneOfTwoCopiesOrOneDrivesBurnLeavesTheOtherWriting) {
  ScratchFolder dir;
  HeldDrive source(dir, "source", "cd-r", 7);
  BurnSourceDisc(dir, source.index);
  HeldDrive first(dir, "first", "cd-r", 5, 2), second(dir, "second", "cd-r", 6, 2);

  DiscCopyJob stopped, kept;
  auto stoppedJob = std::async(std::launch::async, [&] { return stopped.Run(source.index, first.index, ""); });
  auto keptJob = std::async(std::launch::async, [&] { return kept.Run(source.index, second.index, ""); });
  WaitAtGates({&first, &second}, {&stoppedJob, &keptJob});
  stopped.Stop();
  first.Release();
  second.Release();
  EXPECT_EQ(stoppedJob.get(), result::kBurnStopped);
  ASSERT_EQ(keptJob.get(), result::kSuccess) << kept.Error();
  source.Export(dir / "source.iso", false);
  second.Export(dir / "second.iso", false);
  EXPECT_TRUE(ReadWholeFile(dir / "source.iso") == ReadWholeFile(dir / "second.iso"));

  // The same through the drives: a burn on each, the stop said to one drive.
  ScratchFolder more;
  HeldDrive a(more, "a", "cd-r", 9, 2), b(more, "b", "cd-r", 10, 2);
  StagedProject project({more.Write("p/big.bin", std::string(2 << 20, 'b'))});
  auto onA = std::async(std::launch::async, [&] { return WriteCd(a.index, project.root(), "A", 0, false, false, false); });
  auto onB = std::async(std::launch::async, [&] { return WriteCd(b.index, project.root(), "B", 0, false, false, false); });
  WaitAtGates({&a, &b}, {&onA, &onB});
  AbortWrite(a.index);
  a.Release();
  b.Release();
  EXPECT_EQ(onA.get(), result::kBurnStopped);
  EXPECT_EQ(onB.get(), result::kSuccess) << LastJobError(b.index);
}
