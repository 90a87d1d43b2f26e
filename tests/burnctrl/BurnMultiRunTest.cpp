// One project onto several virtual recorders at once, several copies each:
// every disc read back by independent readers and compared sector for
// sector; a failing recorder, a cancelled run.

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <map>
#include <thread>

#include "BurnCtrl/BurnMultiRun.h"
#include "BurnCtrl/Results.h"
#include "BurnCtrl/interfaces/KestrineRecorder.h"
#include "BurnTestSupport.h"
#include "DevDeque.h"
#include "VirtualRecorder.h"

namespace {

constexpr int kFirstIndex = 5;

// Virtual recorders at indexes 5, 6, ...; each copy is a new blank disc in
// a state file of its own, loaded into the same drive.
class VirtualSet {
 public:
  VirtualSet(const ScratchFolder& dir, const std::string& medium, int count) : dir_(dir), medium_(medium) {
    for (int i = 0; i < count; ++i) {
      drives_.push_back(kFirstIndex + i);
      Load(kFirstIndex + i);
    }
  }
  ~VirtualSet() {
    for (int d : drives_) {
      ResetBurn(d);
      RemoveRecorder(d);
    }
  }
  const std::vector<int>& drives() const { return drives_; }
  // Puts a new blank disc into the drive.
  bool Load(int drive) {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string>& discs = discs_[drive];
    const std::string state = dir_ / ("d" + std::to_string(drive) + "-" + std::to_string(discs.size() + 1) + ".vdisc");
    std::string error;
    if (!VirtualRecorder::Create(state, medium_, &error)) return ADD_FAILURE() << error, false;
    auto dev = DevDeque::OpenDrive("virtual:" + state, drive, &error);
    if (!dev) return ADD_FAILURE() << error, false;
    AddRecorder(std::make_shared<KestrineRecorder>(std::move(dev)));
    discs.push_back(state);
    return true;
  }
  std::vector<std::string> Discs() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string> all;
    for (const auto& [drive, discs] : discs_) all.insert(all.end(), discs.begin(), discs.end());
    return all;
  }
  std::vector<std::string> DiscsOf(int drive) {
    std::lock_guard<std::mutex> hold(lock_);
    return discs_[drive];
  }

 private:
  const ScratchFolder& dir_;
  std::string medium_;
  std::vector<int> drives_;
  std::mutex lock_;
  std::map<int, std::vector<std::string>> discs_;
};

std::string ExportIso(const std::string& state, const std::string& out) {
  VirtualRecorder v;
  std::string error;
  EXPECT_TRUE(v.Open(state, &error)) << error;
  EXPECT_TRUE(v.ExportIso(out, &error, Existing::kReplace)) << state << ": " << error;
  return ReadWholeFile(out);
}

std::string ExportBin(const std::string& state, const std::string& cue) {
  VirtualRecorder v;
  std::string error;
  EXPECT_TRUE(v.Open(state, &error)) << error;
  EXPECT_TRUE(v.ExportBinCue(cue, &error, Existing::kReplace)) << state << ": " << error;
  return ReadWholeFile(cue.substr(0, cue.size() - 4) + ".bin");
}

// Follows a run until it ends; every row's percentages in the order seen.
std::map<int, std::vector<int>> Follow(BurnMultiRun& run) {
  std::map<int, std::vector<int>> seen;
  for (const MultiRow& r : run.Rows()) seen[r.drive].push_back(r.percent);
  EXPECT_EQ(run.Start(), result::kSuccess);
  while (run.Running()) {
    for (const MultiRow& r : run.Rows()) seen[r.drive].push_back(r.percent);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.Wait();
  for (const MultiRow& r : run.Rows()) seen[r.drive].push_back(r.percent);
  return seen;
}

void ExpectZeroToHundred(const std::map<int, std::vector<int>>& seen) {
  for (const auto& [drive, values] : seen) {
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.front(), 0) << "drive " << drive;
    EXPECT_EQ(values.back(), 100) << "drive " << drive;
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end())) << "drive " << drive << " went backwards";
  }
}

std::string WavFile(const ScratchFolder& dir, const std::string& name, const std::vector<uint8_t>& pcm) {
  uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,
                   0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a'};
  uint32_t n = uint32_t(pcm.size());
  std::memcpy(h + 40, &n, 4);
  std::string body(reinterpret_cast<char*>(h), 44);
  body.append(pcm.begin(), pcm.end());
  return dir.Write(name, body);
}

}  // namespace

TEST(BurnMultiRun, DriveSetsAndPercentagesOverCopies) {
  EXPECT_EQ(BurnMultiRun::ParseDriveSet("5,3,12"), (std::vector<int>{5, 3, 12}));
  EXPECT_EQ(BurnMultiRun::ParseDriveSet(",3,0,26,3,"), (std::vector<int>{3})) << "only drives 1 to 25, once each";
  EXPECT_TRUE(BurnMultiRun::ParseDriveSet("").empty());
  EXPECT_EQ(BurnMultiRun::ParseDriveSet(BurnMultiRun::DriveSetText({4, 7})), (std::vector<int>{4, 7}));
  // Three copies: 0 to 33, 33 to 66, 66 to 100.
  EXPECT_EQ(BurnMultiRun::RowPercent(0, 3, 0), 0);
  EXPECT_EQ(BurnMultiRun::RowPercent(0, 3, 100), 33);
  EXPECT_EQ(BurnMultiRun::RowPercent(1, 3, 100), 66);
  EXPECT_EQ(BurnMultiRun::RowPercent(2, 3, 100), 100);
  EXPECT_EQ(BurnMultiRun::RowPercent(3, 3, 0), 100);
  EXPECT_EQ(BurnMultiRun::RowPercent(0, 1, 140), 100);
}

TEST(BurnMultiRun, NoDriveStartsNothing) {
  int burns = 0;
  BurnMultiRun run({0, 40}, 2, [&](int) { return ++burns, result::kSuccess; });
  EXPECT_EQ(run.Start(), result::kNothingDone);
  run.Wait();
  EXPECT_EQ(burns, 0);
  EXPECT_TRUE(run.Rows().empty());
}

class MultiMedium : public ::testing::TestWithParam<std::string> {};

TEST_P(MultiMedium, FourRecordersThreeCopiesEachMakeTwelveEqualDiscs) {
  const std::string medium = GetParam();
  const bool cd = medium == "cd-r";
  ScratchFolder dir;
  std::vector<uint8_t> big = PatternBytes(3 << 20, 41);
  std::string bigPath = WriteBytes(dir, "src/big.bin", big);
  dir.Write("src/Docs/a.txt", "first file\n");
  StagedProject project({dir / "src/Docs", bigPath});
  PrivateTemp temp;  // what the burns leave behind
  VirtualSet set(dir, medium, 4);

  std::mutex lock;
  std::map<int, std::vector<int>> between;  // the row's percentage at each copy prompt
  BurnMultiRun* running = nullptr;
  BurnMultiRun::Hooks hooks;
  hooks.nextDisc = [&](int drive, int, const std::atomic<bool>&) {
    for (const MultiRow& r : running->Rows())
      if (r.drive == drive) {
        EXPECT_EQ(r.state, MultiRow::kNextDisc);
        std::lock_guard<std::mutex> hold(lock);
        between[drive].push_back(r.percent);
      }
    return set.Load(drive);
  };
  BurnMultiRun run(set.drives(), 3,
                   [&](int d) { return WriteCd(d, project.root(), "MULTI", 0, false, false, false); }, hooks);
  running = &run;
  const auto seen = Follow(run);
  ASSERT_EQ(run.Result(), result::kSuccess);
  ExpectZeroToHundred(seen);
  for (int d : set.drives()) EXPECT_EQ(between[d], (std::vector<int>{33, 66})) << "drive " << d;
  for (const MultiRow& r : run.Rows()) {
    EXPECT_EQ(r.state, MultiRow::kDone);
    EXPECT_EQ(r.copy, 3);
  }

  const std::vector<std::string> discs = set.Discs();
  ASSERT_EQ(discs.size(), 12u);
  const std::string first = ExportIso(discs.front(), dir / "first.iso");
  ASSERT_FALSE(first.empty());
  for (size_t i = 1; i < discs.size(); ++i) {
    const std::string other = ExportIso(discs[i], dir / "other.iso");
    EXPECT_TRUE(other == first) << discs[i] << " differs from " << discs.front();
  }
  int st = 0;
  if (cd) {
    EXPECT_EQ(RunTool("isoinfo -J -x '/Docs/a.txt;1' -i " + dir / "first.iso", &st), "first file\n");
    EXPECT_EQ(RunTool("isoinfo -J -x '/big.bin;1' -i " + dir / "first.iso", &st),
              std::string(big.begin(), big.end()));
  } else {
    const std::string info = RunTool("udfinfo " + dir / "first.iso", &st);
    EXPECT_EQ(st, 0) << info;
    EXPECT_NE(info.find("label=MULTI"), std::string::npos) << info;
  }
  DeleteTempFiles();
  EXPECT_TRUE(temp.Left().empty()) << "left behind: " << temp.Left().front();
}

INSTANTIATE_TEST_SUITE_P(Burn, MultiMedium, ::testing::Values("cd-r", "dvd+r"),
                         [](const auto& info) { return info.param == "cd-r" ? std::string("CdR") : "DvdPlusR"; });

TEST(BurnMultiRun, AFailingRecorderEndsOnlyItsOwnRow) {
  ScratchFolder dir;
  std::vector<uint8_t> big = PatternBytes(2 << 20, 43);
  StagedProject project({WriteBytes(dir, "src/p.bin", big)});
  VirtualSet set(dir, "cd-r", 3);
  const int faultyIndex = kFirstIndex + 3;
  auto faulty = std::make_shared<FaultyRecorder>(dir / "faulty.iso", medium::kCdR, 0, faultyIndex);
  ASSERT_TRUE(faulty->CreateBlank());
  faulty->failAt = 4;
  faulty->failTimes = 1000;
  ListedDrive<FaultyRecorder> listed(faulty);
  std::vector<int> drives = set.drives();
  drives.insert(drives.begin() + 1, faultyIndex);

  BurnMultiRun::Hooks hooks;
  hooks.nextDisc = [&](int drive, int, const std::atomic<bool>&) { return set.Load(drive); };
  BurnMultiRun run(drives, 2, [&](int d) { return WriteCd(d, project.root(), "FAULT", 0, false, false, false); },
                   hooks);
  ASSERT_EQ(run.Start(), result::kSuccess);
  run.Wait();
  EXPECT_EQ(run.Result(), result::kWriteFailed);
  for (const MultiRow& r : run.Rows()) {
    if (r.drive == faultyIndex) {
      EXPECT_EQ(r.state, MultiRow::kFailed);
      EXPECT_EQ(r.result, result::kWriteFailed);
      EXPECT_EQ(r.copy, 1);
      EXPECT_NE(r.error.find("WRITE"), std::string::npos) << "the row names the failed write: " << r.error;
      EXPECT_LT(r.percent, 100);
    } else {
      EXPECT_EQ(r.state, MultiRow::kDone) << "drive " << r.drive;
      EXPECT_EQ(r.percent, 100) << "drive " << r.drive;
    }
  }
  const std::vector<std::string> discs = set.Discs();
  ASSERT_EQ(discs.size(), 6u);
  const std::string first = ExportIso(discs.front(), dir / "first.iso");
  for (const std::string& d : discs) EXPECT_TRUE(ExportIso(d, dir / "other.iso") == first) << d << " differs";
  int st = 0;
  EXPECT_EQ(RunTool("isoinfo -J -x '/p.bin;1' -i " + dir / "first.iso", &st), std::string(big.begin(), big.end()));
  const std::string summary = run.Summary([](int d) { return "drive " + std::to_string(d); });
  EXPECT_NE(summary.find("drive " + std::to_string(faultyIndex)), std::string::npos) << summary;
  EXPECT_EQ(summary.find("drive " + std::to_string(kFirstIndex) + ":"), std::string::npos)
      << "only failed rows are named: " << summary;
}

TEST(BurnMultiRun, ACancelledRunLeavesNoRecorderWritingAndNoTemporaryFiles) {
  ScratchFolder dir;
  StagedProject project({WriteBytes(dir, "src/p.bin", PatternBytes(2 << 20, 47))});
  PrivateTemp temp;  // what the burns leave behind
  VirtualSet set(dir, "cd-r", 3);
  const int gatedIndex = kFirstIndex + 3;
  auto gated = std::make_shared<FaultyRecorder>(dir / "gated.iso", medium::kCdR, 0, gatedIndex);
  ASSERT_TRUE(gated->CreateBlank());
  gated->GateWrite(3);
  ListedDrive<FaultyRecorder> listed(gated);
  std::vector<int> drives = set.drives();
  drives.push_back(gatedIndex);

  // Rows that are done with their first copy wait for a disc until cancelled.
  BurnMultiRun::Hooks hooks;
  std::atomic<int> prompts{0};
  hooks.nextDisc = [&](int, int, const std::atomic<bool>& cancel) {
    ++prompts;
    while (!cancel) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return false;
  };
  BurnMultiRun run(drives, 2, [&](int d) { return WriteCd(d, project.root(), "STOP", 0, false, false, false); },
                   hooks);
  ASSERT_EQ(run.Start(), result::kSuccess);
  ASSERT_TRUE(gated->WaitAtGate());
  run.Cancel();
  gated->OpenGate();
  run.Wait();
  EXPECT_FALSE(run.Running());
  EXPECT_EQ(run.Result(), result::kBurnStopped);
  for (const MultiRow& r : run.Rows()) {
    EXPECT_EQ(r.state, MultiRow::kStopped) << "drive " << r.drive;
    EXPECT_FALSE(GetDriveStatus(r.drive).hasFigures) << "drive " << r.drive << " still has a burn";
    EXPECT_EQ(DriveProjectRoot(r.drive), "");
  }
  const int writesAfter = gated->writes;
  EXPECT_LE(writesAfter, 3 + 1) << "the stopped drive went on writing";
  DeleteTempFiles();
  EXPECT_TRUE(temp.Left().empty()) << "left behind: " << temp.Left().front();
}

TEST(BurnMultiRun, AnAudioCdOnThreeRecordersThreeCopiesEach) {
  ScratchFolder dir;
  PrivateTemp temp;
  std::vector<std::vector<uint8_t>> pcm = {PatternBytes(2352 * 300 + 1000, 51), PatternBytes(2352 * 80, 52)};
  std::vector<std::string> wavs;
  for (size_t i = 0; i < pcm.size(); ++i) wavs.push_back(WavFile(dir, "t" + std::to_string(i) + ".wav", pcm[i]));
  VirtualSet set(dir, "cd-r", 3);
  BurnMultiRun::Hooks hooks;
  hooks.nextDisc = [&](int drive, int, const std::atomic<bool>&) { return set.Load(drive); };
  BurnMultiRun run(set.drives(), 3, [&](int d) { return WriteAudioCd(d, false, wavs); }, hooks);
  const auto seen = Follow(run);
  ASSERT_EQ(run.Result(), result::kSuccess);
  ExpectZeroToHundred(seen);

  const std::vector<std::string> discs = set.Discs();
  ASSERT_EQ(discs.size(), 9u);
  const std::string first = ExportBin(discs.front(), dir / "first.cue");
  std::string want;
  for (const auto& p : pcm) {
    want.append(p.begin(), p.end());
    want.append((2352 - p.size() % 2352) % 2352, '\0');
  }
  EXPECT_NE(first.find(want.substr(0, 2352 * 300)), std::string::npos) << "the first track is not on the disc";
  for (size_t i = 1; i < discs.size(); ++i)
    EXPECT_TRUE(ExportBin(discs[i], dir / "other.cue") == first) << discs[i] << " differs";
  if (HaveTool("cd-info")) {
    int st = 0;
    const std::string info = RunTool("cd-info --no-device-info --no-cddb --cue-file " + dir / "first.cue", &st);
    EXPECT_NE(info.find("audio"), std::string::npos) << info;
    EXPECT_NE(info.find("  2: "), std::string::npos) << "two tracks: " << info;
  }
  DeleteTempFiles();
  EXPECT_TRUE(temp.Left().empty()) << "left behind: " << temp.Left().front();
}

namespace {

// Counts the readiness checks, each of which is one look at the disc.
class CountingRecorder : public FaultyRecorder {
 public:
  using FaultyRecorder::FaultyRecorder;
  std::atomic<int> looks{0};

 protected:
  uint32_t BeforeReady() override {
    ++looks;
    return FaultyRecorder::BeforeReady();
  }
};

}  // namespace

TEST(BurnMultiRun, TheWaitForTheNextDiscTakesABlankDiscNotTheWrittenOne) {
  ScratchFolder dir;
  auto drive = std::make_shared<CountingRecorder>(dir / "disc.iso", medium::kCdR, 0, kFirstIndex);
  ASSERT_TRUE(drive->CreateBlank());
  ListedDrive<CountingRecorder> listed(drive);
  std::atomic<bool> cancel{false};
  EXPECT_TRUE(BurnMultiRun::WaitForBlankDisc(kFirstIndex, cancel)) << "a blank disc is taken at once";
  StagedProject project({dir.Write("src/a.txt", "written")});
  ASSERT_EQ(WriteCd(kFirstIndex, project.root(), "ONE", 0, false, false, false), result::kSuccess);
  ResetBurn(kFirstIndex);
  // The written disc, ready in the drive, is looked at again and again but
  // never taken; the wait ends when it is cancelled.
  const int before = drive->looks;
  int pauses = 0;
  EXPECT_FALSE(BurnMultiRun::WaitForBlankDisc(kFirstIndex, cancel, [&] {
    if (++pauses == 3) cancel = true;
  }));
  EXPECT_EQ(pauses, 3);
  EXPECT_GE(drive->looks, before + 3) << "every pause follows a look at the drive";
}

// The recorder whose source feeds the others fails while another is in its
// round: that one reads on from its own source, whose layout it makes only
// now, and its disc is still the project.
TEST(BurnMultiRun, WhenTheFeedingRecorderFailsAnotherReadsOnFromItsOwnLayout) {
  ScratchFolder dir;
  std::vector<uint8_t> big = PatternBytes(3 << 20, 44);
  StagedProject project({WriteBytes(dir, "src/p.bin", big)});
  const int feeding = kFirstIndex, other = kFirstIndex + 1;
  auto first = std::make_shared<FaultyRecorder>(dir / "feeding.iso", medium::kCdR, 0, feeding);
  auto second = std::make_shared<FaultyRecorder>(dir / "other.iso", medium::kCdR, 0, other);
  ASSERT_TRUE(first->CreateBlank());
  ASSERT_TRUE(second->CreateBlank());
  // The first joins the shared reading alone and stands at its third write;
  // the second joins then, and at its first write lets the first fail and
  // waits until its burn is over: the next chunk is the second's to read.
  first->GateWrite(3);
  first->failAt = 3;
  first->failTimes = 1000;
  std::mutex lock;
  std::condition_variable ended;
  bool firstOver = false;
  second->onWrite = [&](int n) {
    if (n != 1) return;
    first->OpenGate();
    std::unique_lock<std::mutex> hold(lock);
    ended.wait(hold, [&] { return firstOver; });
  };
  ListedDrive<FaultyRecorder> a(first), b(second);

  BurnMultiRun::Hooks hooks;
  hooks.checkDisc = [&](int d) {
    if (d == other) first->WaitAtGate();
    return int(result::kSuccess);
  };
  // Neither waits for the other once its burn is over, however it ended.
  hooks.reset = [&](int d) {
    (d == feeding ? first : second)->GiveUpGate();
    first->OpenGate();
    ResetBurn(d);
    if (d != feeding) return;
    std::lock_guard<std::mutex> hold(lock);
    firstOver = true;
    ended.notify_all();
  };
  BurnMultiRun run({feeding, other}, 1, [&](int d) { return WriteCd(d, project.root(), "TAKEOVER", 0, false, false, false); },
                   hooks);
  ASSERT_EQ(run.Start(), result::kSuccess);
  run.Wait();
  for (const MultiRow& r : run.Rows()) {
    if (r.drive == feeding)
      EXPECT_EQ(r.result, result::kWriteFailed);
    else
      EXPECT_EQ(r.result, result::kSuccess) << r.error;
  }
  // The second read the track from its own source, from the start again
  // (the chunk the first had read for both): more sectors read than handed.
  EXPECT_GT(run.Reader().SectorsRead(), run.Reader().SectorsHanded());
  int st = 0;
  EXPECT_EQ(RunTool("isoinfo -J -x '/p.bin;1' -i " + dir / "other.iso", &st), std::string(big.begin(), big.end()));
  EXPECT_EQ(st, 0);
}

// Recorders whose projects differ (a session imported from each disc) but
// come out as long, from the same start: neither is handed the other's
// bytes.
TEST(BurnMultiRun, RecordersWithProjectsOfTheirOwnAreNotFedEachOthersBytes) {
  ScratchFolder dir;
  const std::vector<uint8_t> mine = PatternBytes(1 << 20, 45), theirs = PatternBytes(1 << 20, 46);
  StagedProject one({WriteBytes(dir, "one/p.bin", mine)}), two({WriteBytes(dir, "two/p.bin", theirs)});
  const int feeding = kFirstIndex, other = kFirstIndex + 1;
  auto first = std::make_shared<FaultyRecorder>(dir / "first.iso", medium::kCdR, 0, feeding);
  auto second = std::make_shared<FaultyRecorder>(dir / "second.iso", medium::kCdR, 0, other);
  ASSERT_TRUE(first->CreateBlank());
  ASSERT_TRUE(second->CreateBlank());
  // The second begins while the first has its track's start in hand.
  first->GateWrite(2);
  second->onWrite = [&](int n) {
    if (n == 1) first->OpenGate();
  };
  ListedDrive<FaultyRecorder> a(first), b(second);
  BurnMultiRun::Hooks hooks;
  hooks.checkDisc = [&](int d) {
    if (d == other) first->WaitAtGate();
    return int(result::kSuccess);
  };
  hooks.reset = [&](int d) {
    (d == feeding ? first : second)->GiveUpGate();
    first->OpenGate();
    ResetBurn(d);
  };
  BurnMultiRun run({feeding, other}, 1,
                   [&](int d) { return WriteCd(d, (d == feeding ? one : two).root(), "OWN", 0, false, false, false); },
                   hooks);
  ASSERT_EQ(run.Start(), result::kSuccess);
  run.Wait();
  ASSERT_EQ(run.Result(), result::kSuccess);
  int st = 0;
  EXPECT_TRUE(RunTool("isoinfo -J -x '/p.bin;1' -i " + dir / "first.iso", &st) == std::string(mine.begin(), mine.end()));
  EXPECT_TRUE(RunTool("isoinfo -J -x '/p.bin;1' -i " + dir / "second.iso", &st) ==
              std::string(theirs.begin(), theirs.end()))
      << "the second disc holds its own project";
}
