// The recorder command layer's own rules: drive labels, disc questions,
// images as sources, write-to-file mode.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "BurnCtrl/Results.h"
#include "BurnTestSupport.h"

namespace {

constexpr int kIndex = 7;  // "H:"

std::shared_ptr<FaultyRecorder> NewDisc(const ScratchFolder& dir, int medium, const std::string& name = "d.img") {
  auto r = std::make_shared<FaultyRecorder>(dir / name, medium, 0, kIndex);
  EXPECT_TRUE(r->CreateBlank());
  return r;
}

// Write-to-file mode for the burns started within its scope.
class WriteToFile {
 public:
  explicit WriteToFile(const std::string& path) { SetWriteToFile(path); }
  ~WriteToFile() { SetWriteToFile(""); }
};

std::vector<std::string> gTrace;
void Record(const char* text) { gTrace.push_back(text); }

}  // namespace

TEST(RecorderCommands, DrivesAreFoundByIndexAndLabel) {
  ScratchFolder dir;
  ListedDrive<FaultyRecorder> d(NewDisc(dir, rec::kCdR));
  gTrace.clear();
  SetTraceHook(&Record);
  bool blank = false, writable = false;
  int medium = 0;
  EXPECT_EQ(GetDiscInfo(24, &blank, &writable, &medium), result::kNoSuchDrive);
  EXPECT_EQ(BlankDisc(24), result::kNoSuchDrive);
  EXPECT_EQ(BlankDisc(kIndex), result::kCannotErase) << "a CD-R";
  SetTraceHook(nullptr);
  ASSERT_GE(gTrace.size(), 1u);
  EXPECT_STREQ(gTrace[0].c_str(), "<----GetDiscInfo---->");
  EXPECT_EQ(DriveOfLabel("  H: Virtual Recorder"), kIndex);
  EXPECT_EQ(DriveOfLabel(""), -1);
  EXPECT_EQ(GetDriveStatus(kIndex).percent, 0) << "no burn yet";
  EXPECT_FALSE(GetDriveStatus(kIndex).running);
  EXPECT_EQ(GetDriveStatus(-1).item, "");
}

// Remote drives are numbered from 26 on, each its own: a second one must not
// take the place of the first.
TEST(RecorderCommands, RemoteDrivesTakeFreeIndexesOfTheirOwn) {
  ScratchFolder dir;
  EXPECT_EQ(FirstFreeRecorderIndex(26), 26);
  ListedVirtualRecorder first(dir, "dvd+r", 26);
  EXPECT_EQ(FirstFreeRecorderIndex(26), 27);
  const int local = FirstFreeRecorderIndex(3);
  EXPECT_GE(local, 3);
  EXPECT_LT(local, 26) << "local drives stay below the remote ones";
}

TEST(RecorderCommands, DiscInfoTellsBlankWritableAndFreeSpace) {
  ScratchFolder dir;
  ListedDrive<FaultyRecorder> d(NewDisc(dir, rec::kDvdPlusR));
  bool blank = false, writable = false;
  int medium = 0;
  uint64_t freeBytes = 0;
  ASSERT_EQ(GetDiscInfoEx(kIndex, &blank, &writable, &medium, &freeBytes), result::kSuccess);
  EXPECT_TRUE(blank);
  EXPECT_TRUE(writable);
  EXPECT_EQ(medium, rec::kDvdPlusR);
  EXPECT_GT(freeBytes, 0u);
  d->notReadyPolls = 1;
  EXPECT_EQ(GetDiscInfo(kIndex, &blank, &writable, &medium), result::kNotReady);

  uint16_t curRead, curWrite, maxRead, maxWrite, low, second;
  ASSERT_EQ(GetCdSpeeds(kIndex, &curRead, &curWrite, &maxRead, &maxWrite, &low, &second), result::kSuccess);
  EXPECT_EQ(low, 1385) << "the unit speed is added when the drive leaves it out";
  EXPECT_GE(maxWrite, second);
  EXPECT_GE(second, low);
}

// A drive that writes its listed speeds at constant angular velocity: the
// rotation byte of each descriptor is set.
class CavRecorder : public FaultyRecorder {
 public:
  using FaultyRecorder::FaultyRecorder;
  uint32_t ModeSense(uint8_t page, uint8_t* buffer, uint32_t size) override {
    const uint32_t status = FaultyRecorder::ModeSense(page, buffer, size);
    if (status == 0) buffer[8 + 32 + 1] = buffer[8 + 36 + 1] = 1;
    return status;
  }
};

TEST(RecorderCommands, WriteSpeedsOfACavDriveAreItsSpeeds) {
  ScratchFolder dir;
  auto cav = std::make_shared<CavRecorder>(dir / "d.img", rec::kCdR, 0, kIndex);
  ASSERT_TRUE(cav->CreateBlank());
  ListedDrive<CavRecorder> d(cav);
  uint16_t curRead, curWrite, maxRead, maxWrite, low, second;
  ASSERT_EQ(GetCdSpeeds(kIndex, &curRead, &curWrite, &maxRead, &maxWrite, &low, &second), result::kSuccess);
  EXPECT_EQ(maxWrite, 176 * 4);
  EXPECT_EQ(second, 176 * 2);
  EXPECT_EQ(low, 176);
}

TEST(RecorderCommands, AnImageFileIsBurntAsItStands) {
  ScratchFolder dir;
  std::vector<uint8_t> image = PatternBytes(2048 * 777, 41);
  std::string path = WriteBytes(dir, "in.iso", image);
  ListedDrive<FaultyRecorder> d(NewDisc(dir, rec::kDvdPlusR));
  ASSERT_EQ(WriteImageToCD(kIndex, path, false), result::kSuccess);
  std::string got = ReadWholeFile(dir / "d.img");
  ASSERT_GE(got.size(), image.size());
  EXPECT_TRUE(std::memcmp(got.data(), image.data(), image.size()) == 0);
  EXPECT_TRUE(d->Finalized());
  // Not an image of whole sectors, or no file at all: nothing is done.
  ScratchFolder other;
  ListedDrive<FaultyRecorder> e(NewDisc(other, rec::kDvdPlusR));
  EXPECT_EQ(WriteImageToCD(kIndex, dir.Write("odd.iso", "12345"), false), result::kNothingDone);
  EXPECT_NE(LastJobError(kIndex).find("odd.iso"), std::string::npos) << "the user must learn why: " << LastJobError(kIndex);
  EXPECT_EQ(WriteImageToCD(kIndex, dir / "missing.iso", false), result::kNothingDone);
  EXPECT_EQ(e->writes.load(), 0);
}

TEST(RecorderCommands, WriteToFileModeWritesTheFileAndReportsAFileThatCannotBeWritten) {
  ScratchFolder dir;
  StagedProject project({dir.Write("src/a.txt", "to the file")});
  {
    WriteToFile settings(dir / "out.iso");
    ListedDrive<FaultyRecorder> d(NewDisc(dir, rec::kCdR));
    ASSERT_EQ(WriteCd(kIndex, project.root(), "FILE", 0, false, false, false), result::kSuccess);
    EXPECT_EQ(d->writes.load(), 0) << "the recorder must not be written in write-to-file mode";
    EXPECT_EQ(RunTool("isoinfo -J -x '/a.txt;1' -i " + (dir / "out.iso")), "to the file");
  }
  WriteToFile settings(dir / "no/such/folder/out.iso");
  ListedDrive<FaultyRecorder> d(NewDisc(dir, rec::kCdR, "e.img"));
  EXPECT_EQ(WriteCd(kIndex, project.root(), "FILE", 0, false, false, false), result::kWriteFailed);
}

TEST(RecorderCommands, ProgressAndItemFollowTheBurn) {
  ScratchFolder dir;
  std::string big = WriteBytes(dir, "src/big.bin", PatternBytes(16 << 20, 51));
  StagedProject project({big});
  ListedDrive<FaultyRecorder> d(NewDisc(dir, rec::kDvdPlusR));
  // Looked at from the writer's thread before every write: the display
  // sees the burn at every step, however fast or slow the machine is.
  std::vector<int> seen;
  std::string item;
  d->onWrite = [&](int) {
    const DriveStatus now = GetDriveStatus(kIndex);
    EXPECT_TRUE(now.running);
    seen.push_back(now.percent);
    if (now.item == big) item = now.item;
  };
  int res = WriteCd(kIndex, project.root(), "PROG", 0, false, false, false);
  d->onWrite = nullptr;
  ASSERT_EQ(res, result::kSuccess);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << "progress went backwards";
  EXPECT_GT(seen.size(), 100u);
  EXPECT_LT(seen.front(), 5);
  EXPECT_EQ(GetDriveStatus(kIndex).percent, 100);
  EXPECT_FALSE(GetDriveStatus(kIndex).running);
  EXPECT_EQ(item, big) << "the file being burnt should have been shown";
}

TEST(RecorderCommands, FiguresFollowTheBurnInBytes) {
  ScratchFolder dir;
  std::string big = WriteBytes(dir, "src/big.bin", PatternBytes(8 << 20, 52));
  StagedProject project({big});
  ListedDrive<FaultyRecorder> d(NewDisc(dir, rec::kDvdPlusR));
  uint64_t written = 0, total = 0;
  int fill = 0;
  EXPECT_FALSE(GetDriveStatus(kIndex).hasFigures) << "no burn yet";
  struct Seen { uint64_t written, total; int fill; };
  std::vector<Seen> seen;
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    while (!done) {
      if (const DriveStatus now = GetDriveStatus(kIndex); now.hasFigures) seen.push_back({now.written, now.total, now.bufferFill});
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  int res = WriteCd(kIndex, project.root(), "FIGS", 0, false, false, false);
  done = true;
  watcher.join();
  ASSERT_EQ(res, result::kSuccess);
  const DriveStatus after = GetDriveStatus(kIndex);
  ASSERT_TRUE(after.hasFigures);
  written = after.written, total = after.total, fill = after.bufferFill;
  EXPECT_GE(total, uint64_t(8) << 20) << "the track holds the file";
  EXPECT_EQ(written, total);
  EXPECT_GE(fill, 0);
  EXPECT_LE(fill, 100);
  uint64_t last = 0;
  for (const Seen& s : seen) {
    if (s.total == 0) continue;  // before the track was laid out
    EXPECT_LE(s.written, s.total);
    EXPECT_GE(s.written, last) << "the bytes written went back";
    EXPECT_TRUE(s.fill >= 0 && s.fill <= 100) << s.fill;
    last = s.written;
  }
}
