// Drive commands whose failure decides a burn or an erase: a failure is the
// job's failure, and its text names the drive, the command and the sense.

#include <gtest/gtest.h>

#include <thread>

#include "BurnCtrl/Results.h"
#include "BurnTestSupport.h"

namespace {

constexpr int kIndex = 13;  // "N:"
using Command = FileDiscRecorder::Command;

std::shared_ptr<FaultyRecorder> NewDisc(const ScratchFolder& dir, int medium) {
  auto r = std::make_shared<FaultyRecorder>(dir / "disc.img", medium, 0, kIndex);
  EXPECT_TRUE(r->CreateBlank());
  return r;
}

struct Refusal {
  const char* what;
  int medium;
  Command command;
  bool onceWritten;  // refused at the end, after the data went out
  int want;
  const char* text;  // in the job's error
};

}  // namespace

TEST(FaultResults, ARefusedCommandOfTheBeginOrTheEndFailsTheBurnWithItsSense) {
  ScratchFolder src;
  StagedProject project({src.Write("a.txt", std::string(300000, 'a'))});
  const Refusal cases[] = {
      {"final flush", rec::kDvdPlusR, Command::kSynCache, true, result::kWriteFailed, "SYNCHRONIZE CACHE"},
      {"disc information at the end", rec::kDvdPlusR, Command::kReadDiscInfo, true, result::kWriteFailed,
       "READ DISC INFORMATION"},
      {"reserving the DVD-R track", rec::kDvdR, Command::kReserveTrack, false, result::kBeginLayerFailed,
       "RESERVE TRACK"},
      {"reserving the DVD-R DL track", rec::kDvdRDl, Command::kReserveTrack, false, result::kBeginLayerFailed,
       "RESERVE TRACK"},
      {"formatting a DVD+RW", rec::kDvdPlusRw, Command::kFormatUnit, false, result::kBeginLayerFailed,
       "FORMAT UNIT"},
      {"formatting a BD-RE", rec::kBdRe, Command::kFormatUnit, false, result::kBeginLayerFailed, "FORMAT UNIT"},
      {"setting the layer break", rec::kDvdPlusRDl, Command::kSendDvdStruct, false, result::kBeginLayerFailed,
       "SEND DVD STRUCTURE"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder disc;
    ListedDrive<FaultyRecorder> d(NewDisc(disc, c.medium));
    d->refuse = {c.command};
    d->onceWritten = c.onceWritten;
    d->commandSense = rec::Sense{3, 0x0C, 0x09, 4};
    EXPECT_EQ(WriteCd(d.index, project.root(), "REFUSED", 0, false, false, false), c.want);
    const std::string why = LastJobError(d.index);
    EXPECT_NE(why.find(c.text), std::string::npos) << why;
    EXPECT_NE(why.find("sense 3/0C/09"), std::string::npos) << why;
    EXPECT_NE(why.find(d->Name()), std::string::npos) << why;
    if (!c.onceWritten) {
      EXPECT_EQ(d->writes.load(), 0) << "nothing may be written after a refused begin";
    }
    EXPECT_FALSE(d->Finalized());
  }
}

TEST(FaultResults, AnEraseIsOnlyDoneWhenTheDriveDidIt) {
  struct Case {
    const char* what;
    int medium;
    std::set<Command> refuse;
    bool failWrites;
    const char* text;
  } cases[] = {
      {"DVD+RW that does not format", rec::kDvdPlusRw, {Command::kFormatUnit}, false, "FORMAT UNIT"},
      {"BD-RE that does not format", rec::kBdRe, {Command::kFormatUnit}, false, "FORMAT UNIT"},
      {"DVD-RAM whose start cannot be overwritten", rec::kDvdRam, {}, true, "WRITE at sector 0"},
      {"DVD+RW whose flush fails", rec::kDvdPlusRw, {Command::kSynCache}, false, "SYNCHRONIZE CACHE"},
      {"CD-RW that does not blank", rec::kCdRw, {Command::kBlank}, false, "BLANK"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder disc;
    ListedDrive<FaultyRecorder> d(NewDisc(disc, c.medium));
    d->refuse = c.refuse;
    if (c.failWrites) {
      d->failAt = 1;
      d->failTimes = 1 << 20;
    }
    EXPECT_EQ(BlankDisc(d.index), result::kEraseFailed);
    const std::string why = LastJobError(d.index);
    EXPECT_NE(why.find(c.text), std::string::npos) << why;
    EXPECT_NE(why.find(d->Name()), std::string::npos) << why;
  }
  // A drive that does what it is told still erases.
  ScratchFolder disc;
  ListedDrive<FaultyRecorder> d(NewDisc(disc, rec::kDvdPlusRw));
  EXPECT_EQ(BlankDisc(d.index), result::kSuccess);
  EXPECT_EQ(LastJobError(d.index), "");
}

TEST(FaultResults, ADriveThatIsNotReadyForAWhileIsWaitedForAndOneThatStaysSoIsNotReady) {
  ScratchFolder src;
  StagedProject project({src.Write("a.txt", "ready or not")});
  for (rec::Sense busy : {rec::Sense{2, 4, 1, 4}, rec::Sense{2, 4, 8, 4}}) {
    SCOPED_TRACE(busy.Text());
    ScratchFolder disc;
    ListedDrive<FaultyRecorder> d(NewDisc(disc, rec::kCdR));
    d->notReadyPolls = 5;
    d->notReadySense = busy;
    EXPECT_EQ(WriteCd(d.index, project.root(), "WAIT", 0, false, false, false), result::kSuccess);
    EXPECT_EQ(d->notReadyPolls.load(), 0);
  }
  // A drive that cannot tell its free space is not ready: the project is
  // not said not to fit.
  ScratchFolder disc;
  ListedDrive<FaultyRecorder> d(NewDisc(disc, rec::kDvdPlusR));
  d->refuse = {Command::kCapacity};
  d->commandSense = rec::Sense{2, 4, 8, 4};
  EXPECT_EQ(WriteCd(d.index, project.root(), "BUSY", 0, false, false, false), result::kNotReady);
  const std::string why = LastJobError(d.index);
  EXPECT_NE(why.find("not ready"), std::string::npos) << why;
  EXPECT_NE(why.find("2/04/08"), std::string::npos) << why;
  EXPECT_EQ(d->writes.load(), 0);
}

TEST(DriveInUse, ABurningRecorderRefusesEjectEraseAndASecondBurn) {
  ScratchFolder src;
  StagedProject project({src.Write("a.bin", std::string(2 << 20, 'a'))});
  ScratchFolder disc;
  ListedDrive<FaultyRecorder> d(NewDisc(disc, rec::kCdRw));
  d->GateWrite(3);
  int eject = 0, erase = 0, second = 0;
  std::thread meddler([&] {
    if (d->WaitAtGate()) {
      eject = EjectDisc(d.index);
      erase = BlankDisc(d.index);
      second = WriteCd(d.index, project.root(), "TWICE", 0, false, false, false);
    }
    d->OpenGate();
  });
  EXPECT_EQ(WriteCd(d.index, project.root(), "ONCE", 0, false, false, false), result::kSuccess);
  d->GiveUpGate();
  meddler.join();
  EXPECT_EQ(eject, result::kRecorderInUse);
  EXPECT_EQ(erase, result::kRecorderInUse);
  EXPECT_EQ(second, result::kRecorderInUse);
  // Once the burn is over the drive is free again.
  EXPECT_EQ(EjectDisc(d.index), result::kSuccess);
}

TEST(DriveInUse, ARecorderRemovedDuringItsBurnLivesUntilTheBurnEnds) {
  ScratchFolder src;
  StagedProject project({src.Write("a.bin", std::string(2 << 20, 'a'))});
  ScratchFolder disc;
  std::shared_ptr<FaultyRecorder> drive = NewDisc(disc, rec::kCdR);
  std::weak_ptr<FaultyRecorder> watch = drive;
  // The gate lives outside the recorder, which may be gone when the burn ends.
  std::mutex lock;
  std::condition_variable cv;
  bool atGate = false, open = false;
  drive->onWrite = [&](int n) {
    if (n != 3) return;
    std::unique_lock<std::mutex> hold(lock);
    atGate = true;
    cv.notify_all();
    cv.wait(hold, [&] { return open; });
  };
  AddRecorder(std::move(drive));
  bool aliveAfterRemoval = false;
  int progressAfterRemoval = -1;
  std::thread remover([&] {
    std::unique_lock<std::mutex> hold(lock);
    cv.wait(hold, [&] { return atGate || open; });
    if (atGate) {
      RemoveRecorder(kIndex);  // also resets the burn list entry
      aliveAfterRemoval = !watch.expired();
      progressAfterRemoval = GetDriveStatus(kIndex).percent;
    }
    open = true;
    cv.notify_all();
  });
  const int res = WriteCd(kIndex, project.root(), "GONE", 0, false, false, false);
  {
    std::lock_guard<std::mutex> hold(lock);
    open = true;
    cv.notify_all();
  }
  remover.join();
  EXPECT_EQ(res, result::kSuccess);
  EXPECT_TRUE(aliveAfterRemoval) << "the burn's recorder was freed under it";
  EXPECT_EQ(progressAfterRemoval, 0) << "a removed drive's burn is no longer listed";
  EXPECT_TRUE(watch.expired()) << "the recorder outlived its burn";
  EXPECT_EQ(WriteCd(kIndex, project.root(), "X", 0, false, false, false), result::kNoSuchDrive);
}

TEST(DriveInUse, ARemoteDrivesBurnShowsItsProgressByItsLabel) {
  ScratchFolder src;
  StagedProject project({src.Write("a.bin", std::string(2 << 20, 'a'))});
  ScratchFolder disc;
  auto drive = std::make_shared<FaultyRecorder>(disc / "remote.img", rec::kCdR, 0, 27);
  ASSERT_TRUE(drive->CreateBlank());
  ListedDrive<FaultyRecorder> d(drive);
  const std::string label = DriveLabel(27);
  ASSERT_FALSE(label.empty());
  EXPECT_NE(label, DriveLabel(26));
  d->GateWrite(20);
  int seen = 0;
  std::string item;
  std::thread watcher([&] {
    if (d->WaitAtGate()) {
      const DriveStatus status = GetDriveStatus(DriveOfLabel(label));
      seen = status.percent;
      item = status.item;
    }
    d->OpenGate();
  });
  EXPECT_EQ(WriteCd(27, project.root(), "REMOTE", 0, false, false, false), result::kSuccess);
  d->GiveUpGate();
  watcher.join();
  EXPECT_GT(seen, 0);
  EXPECT_EQ(DriveOfLabel(label), 27);
  EXPECT_EQ(GetDriveStatus(27).percent, 100);
}

// An image file is the user's file: a burn into it that fails or is stopped
// leaves what was at its place (or nothing, for a new name) and no partial
// file, on media closed by a session and on media that are never closed.
TEST(ImageTarget, AFailedOrStoppedBurnNeverPutsAnIncompleteImageInPlace) {
  ScratchFolder src;
  StagedProject project({src.Write("a.txt", std::string(600000, 'a'))});
  for (int medium : {rec::kCdR, rec::kDvdPlusRw, rec::kDvdRam, rec::kBdRe}) {
    for (bool existing : {true, false}) {
      SCOPED_TRACE(std::to_string(medium) + (existing ? " over an old image" : " under a new name"));
      ScratchFolder disc;
      if (existing) disc.Write("disc.img", "the old image");
      auto r = std::make_shared<FaultyRecorder>(disc / "disc.img", medium, 0, kIndex);
      ASSERT_TRUE(r->CreateBlank(existing));
      ListedDrive<FaultyRecorder> d(r);
      d->failAt = 3;
      d->failTimes = 1000;  // no retry gets through
      EXPECT_NE(WriteCd(d.index, project.root(), "FAILED", 0, false, false, false), result::kSuccess);
      if (existing)
        EXPECT_TRUE(ReadWholeFile(disc / "disc.img") == "the old image") << "the old image was replaced";
      else
        EXPECT_FALSE(std::filesystem::exists(disc / "disc.img")) << "an incomplete image was put in place";
      EXPECT_FALSE(std::filesystem::exists(disc / "disc.img.part")) << "the partial image stayed";
    }
  }
  // Stopped while writing.
  ScratchFolder disc;
  disc.Write("disc.img", "the old image");
  auto r = std::make_shared<FaultyRecorder>(disc / "disc.img", rec::kCdR, 0, kIndex);
  ASSERT_TRUE(r->CreateBlank(true));
  ListedDrive<FaultyRecorder> d(r);
  d->GateWrite(2);
  int res = result::kSuccess;
  std::thread burn([&] { res = WriteCd(d.index, project.root(), "STOPPED", 0, false, false, false); });
  ASSERT_TRUE(d->WaitAtGate());
  AbortWrite();
  d->OpenGate();
  burn.join();
  EXPECT_NE(res, result::kSuccess);
  EXPECT_TRUE(ReadWholeFile(disc / "disc.img") == "the old image") << "a stopped burn replaced the old image";

  // And a complete burn does replace it.
  ScratchFolder good;
  good.Write("disc.img", "the old image");
  auto g = std::make_shared<FaultyRecorder>(good / "disc.img", rec::kCdR, 0, kIndex + 1);
  ASSERT_TRUE(g->CreateBlank(true));
  ListedDrive<FaultyRecorder> gd(g);
  EXPECT_EQ(WriteCd(gd.index, project.root(), "GOOD", 0, false, false, false), result::kSuccess) << LastJobError(gd.index);
  EXPECT_GT(ReadWholeFile(good / "disc.img").size(), 600000u);
}
