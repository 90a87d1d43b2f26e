// Disc copy through the recorder command layer and varnex-cli copy: whole
// discs between virtual recorders, on the fly, through a copy file and from
// one, compared sector for sector through the recorders' exports and read by
// independent tools; and every refusal before anything is written.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "BurnCtrl/DiscCopy.h"
#include "BurnCtrl/Results.h"
#include "BurnCtrl/interfaces/KestrineRecorder.h"
#include "BurnTestSupport.h"
#include "DataSource_Device.h"
#include "DevDeque.h"
#include "VirtualRecorder.h"
#include "pollard/CopyTestSupport.h"

namespace {

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

std::string Cli(const std::string& args, int* status) { return RunTool(std::string(VARNEX_CLI_PATH) + " " + args, status); }

std::string Bin(const ScratchFolder& dir, const std::string& disc, const std::string& name) {
  int st = 0;
  std::string out = Cli("virtual export --drive virtual:" + (dir / disc) + " --cue " + (dir / (name + ".cue")) + " --replace", &st);
  EXPECT_EQ(0, st) << out;
  return ReadWholeFile(dir / (name + ".bin"));
}

// A recorder of the command layer on a virtual disc, whose commands pass a hook.
struct CopyDrive {
  int index;
  std::string state;
  CopyDrive(int idx, const std::string& path, std::function<void(ScsiCommand&)> hook = nullptr) : index(idx), state(path) {
    auto v = std::make_unique<VirtualRecorder>();
    std::string error;
    EXPECT_TRUE(v->Open(state, &error)) << error;
    auto dev = std::make_unique<CDevCmdRW>(std::make_unique<copytest::HookTransport>(std::move(v), std::move(hook)), idx);
    AddRecorder(std::make_shared<KestrineRecorder>(std::move(dev)));
  }
  ~CopyDrive() { RemoveRecorder(index); }
  CDevCmdRW* Device() const { return static_cast<KestrineRecorder*>(FindRecorder(index))->Device(); }
};

std::string NewDisc(const ScratchFolder& dir, const std::string& name, const std::string& medium) {
  std::string error;
  EXPECT_TRUE(VirtualRecorder::Create(dir / name, medium, &error)) << error;
  return dir / name;
}

}  // namespace

TEST(CliCopy, OpenTwoSessionDataCdOnTheFlyThroughAFileAndFromIt) {
  ScratchFolder dir;
  int st = 0;
  std::string src = "virtual:" + NewDisc(dir, "src.vdisc", "cd-r");
  std::string out = Cli("burn --multisession --drive " + src + " " VARNEX_SOURCE_DIR "/data/sample", &st);
  ASSERT_EQ(0, st) << out;
  out = Cli("burn --multisession --drive " + src + " " VARNEX_SOURCE_DIR "/data/sample/README.txt", &st);
  ASSERT_EQ(0, st) << out;
  const std::string want = Bin(dir, "src.vdisc", "src");

  NewDisc(dir, "fly.vdisc", "cd-r");
  out = Cli("copy --from " + src + " --to virtual:" + (dir / "fly.vdisc"), &st);
  ASSERT_EQ(0, st) << out;
  EXPECT_TRUE(want == Bin(dir, "fly.vdisc", "fly")) << "on the fly";

  NewDisc(dir, "via.vdisc", "cd-r");
  out = Cli("copy --from " + src + " --to virtual:" + (dir / "via.vdisc") + " --via " + (dir / "disc.bcl") + " --keep", &st);
  ASSERT_EQ(0, st) << out;
  EXPECT_TRUE(want == Bin(dir, "via.vdisc", "via")) << "through a file";
  ASSERT_TRUE(FileExists(dir / "disc.bcl")) << "--keep keeps the copy file";

  NewDisc(dir, "file.vdisc", "cd-rw");
  out = Cli("copy --bcl " + (dir / "disc.bcl") + " --to virtual:" + (dir / "file.vdisc"), &st);
  ASSERT_EQ(0, st) << out;
  EXPECT_TRUE(want == Bin(dir, "file.vdisc", "file")) << "from the file";

  // Without --keep the file named by --via goes; --save makes one and never replaces one.
  NewDisc(dir, "gone.vdisc", "cd-r");
  out = Cli("copy --from " + src + " --to virtual:" + (dir / "gone.vdisc") + " --via " + (dir / "gone.bcl"), &st);
  ASSERT_EQ(0, st) << out;
  EXPECT_FALSE(FileExists(dir / "gone.bcl"));
  out = Cli("copy --from " + src + " --save " + (dir / "disc.bcl"), &st);
  EXPECT_NE(0, st);
  EXPECT_NE(out.find("-160"), std::string::npos) << out;
  out = Cli("copy --from " + src + " --save " + (dir / "saved.bcl"), &st);
  ASSERT_EQ(0, st) << out;
  EXPECT_EQ(ReadWholeFile(dir / "saved.bcl"), ReadWholeFile(dir / "disc.bcl"));

  // Independent readers: the copy's last session holds the sample folder, and
  // the copy stays open for a third session.
  out = Cli("virtual export --drive virtual:" + (dir / "file.vdisc") + " -o " + (dir / "file.iso"), &st);
  ASSERT_EQ(0, st) << out;
  out = RunTool("7zz x -y -o" + (dir / "x") + " " + (dir / "file.iso"), &st);
  ASSERT_EQ(0, st) << out;
  out = RunTool("diff -r " VARNEX_SOURCE_DIR "/data/sample " + (dir / "x/sample"), &st);
  EXPECT_EQ(0, st) << out;
  out = RunTool("cd-info --no-cddb --no-device-info --cue-file " + (dir / "fly.cue"), &st);
  EXPECT_EQ(0, st) << out;
  EXPECT_NE(out.find("CD-ROM"), std::string::npos) << out;
  out = Cli("burn --drive virtual:" + (dir / "fly.vdisc") + " " VARNEX_SOURCE_DIR "/data/sample/README.txt", &st);
  EXPECT_EQ(0, st) << "the copy of an open disc takes another session: " << out;
}

TEST(CliCopy, RefusalsLeaveTheTargetUntouched) {
  ScratchFolder dir;
  int st = 0;
  std::string src = "virtual:" + NewDisc(dir, "src.vdisc", "cd-r");
  std::string out = Cli("burn --drive " + src + " " VARNEX_SOURCE_DIR "/data/sample/README.txt", &st);
  ASSERT_EQ(0, st) << out;
  out = Cli("copy --from " + src + " --save " + (dir / "good.bcl"), &st);
  ASSERT_EQ(0, st) << out;
  const std::string good = ReadWholeFile(dir / "good.bcl");
  std::string blank = "virtual:" + NewDisc(dir, "blank.vdisc", "cd-r");
  std::string dvd = "virtual:" + NewDisc(dir, "dvd.vdisc", "dvd+r");

  struct Case {
    std::string args, code;
  } cases[] = {
      {"--bcl " + (dir / "none.bcl") + " --to " + blank, "-161"},
      {"--bcl " + dir.Write("cut.bcl", good.substr(0, good.size() - 4096)) + " --to " + blank, "-162"},
      {"--bcl " + dir.Write("flip.bcl", std::string(good).replace(good.size() / 2, 1, "\x7f")) + " --to " + blank, "-162"},
      {"--bcl " + dir.Write("text.bcl", "not a copy file at all\n") + " --to " + blank, "-162"},
      {"--from " + blank + " --to " + dvd, "-50"},
      {"--from " + src + " --to " + dvd, "-157"},
      {"--bcl " + (dir / "good.bcl") + " --to " + dvd, "-157"},
      {"--from " + src + " --to " + src + "x", "-8"},
      {"--from " + src, "usage"},
  };
  for (const Case& c : cases) {
    out = Cli("copy " + c.args, &st);
    EXPECT_NE(0, st) << c.args;
    EXPECT_NE(out.find(c.code), std::string::npos) << c.args << ": " << out;
  }
  // A CD-R that holds sessions, open or closed, cannot be erased (-44); a
  // pressed CD-ROM cannot be written at all (-301).
  std::string open = "virtual:" + NewDisc(dir, "open.vdisc", "cd-r");
  Cli("burn --multisession --drive " + open + " " VARNEX_SOURCE_DIR "/data/sample/README.txt", &st);
  ASSERT_EQ(0, st);
  const std::string openBefore = Bin(dir, "open.vdisc", "open-before");
  out = Cli("copy --bcl " + (dir / "good.bcl") + " --to " + open, &st);
  EXPECT_NE(out.find("-44"), std::string::npos) << out;
  out = Cli("copy --bcl " + (dir / "good.bcl") + " --to " + src, &st);
  EXPECT_NE(out.find("-44"), std::string::npos) << out;
  Cli("virtual export --drive " + src + " -o " + (dir / "src.iso"), &st);
  ASSERT_EQ(0, st);
  out = Cli("virtual create --media cd-rom --iso " + (dir / "src.iso") + " " + (dir / "rom.vdisc"), &st);
  ASSERT_EQ(0, st) << out;
  out = Cli("copy --bcl " + (dir / "good.bcl") + " --to virtual:" + (dir / "rom.vdisc"), &st);
  EXPECT_NE(out.find("-301"), std::string::npos) << out;
  EXPECT_TRUE(openBefore == Bin(dir, "open.vdisc", "open-after"));
  // A rewritable disc that holds data is not erased by a copy from the command line.
  std::string rw = "virtual:" + NewDisc(dir, "rw.vdisc", "cd-rw");
  Cli("burn --drive " + rw + " " VARNEX_SOURCE_DIR "/data/sample/README.txt", &st);
  ASSERT_EQ(0, st);
  const std::string rwBefore = Bin(dir, "rw.vdisc", "rw-before");
  out = Cli("copy --from " + src + " --to " + rw, &st);
  EXPECT_NE(out.find("-44"), std::string::npos) << out;
  EXPECT_TRUE(rwBefore == Bin(dir, "rw.vdisc", "rw-after")) << "the rewritable disc was erased";
  // A disc too small for the copy (a short blank disc): -158, and the tray opens for another.
  std::string small = NewDisc(dir, "small.vdisc", "cd-r");
  std::string state = ReadWholeFile(small);
  ASSERT_NE(std::string::npos, state.find("capacity 359849"));
  dir.Write("small.vdisc", state.replace(state.find("capacity 359849"), 15, "capacity 1100"));
  out = Cli("copy --bcl " + (dir / "good.bcl") + " --to virtual:" + small, &st);
  EXPECT_NE(out.find("-158"), std::string::npos) << out;
  EXPECT_NE(ReadWholeFile(small).find("tray open"), std::string::npos);
  for (const char* d : {"blank.vdisc", "dvd.vdisc"}) {
    out = Cli("disc-info --drive virtual:" + (dir / d), &st);
    EXPECT_NE(out.find("blank: yes"), std::string::npos) << d << " was written: " << out;
  }
}

TEST(DiscCopy, OneDriveGoesThroughAFileAndEjectsForTheBlankDisc) {
  ScratchFolder dir;
  std::string disc = NewDisc(dir, "rw.vdisc", "cd-rw");
  int st = 0;
  std::string out = Cli("burn --drive virtual:" + disc + " " VARNEX_SOURCE_DIR "/data/sample", &st);
  ASSERT_EQ(0, st) << out;
  const std::string want = Bin(dir, "rw.vdisc", "want");
  CopyDrive drive(9, disc);
  SetCopyFileRoots({dir.path()});
  bool asked = false;
  SetBlankDiscRequest([&](int index) {
    asked = true;
    EXPECT_EQ(9, index);
    // The tray was opened for the blank disc: a blank CD-RW goes in.
    CDevCmdRW* d = drive.Device();
    EXPECT_EQ(DEV_CHECK_CONDITION, d->TestUnitReady()) << "the tray is open";
    EXPECT_EQ(DEV_OK, d->Eject(false));
    EXPECT_EQ(DEV_OK, d->Blank(BLANK_MINIMAL));
    return true;
  });
  EXPECT_EQ(result::kSuccess, DiscCopy(9, 9, "")) << LastCopyError();
  EXPECT_TRUE(want == Bin(dir, "rw.vdisc", "copy"));
  std::filesystem::remove(CopyFilePath());
  // The source put back instead of a blank disc is never erased.
  SetBlankDiscRequest([&](int) {
    EXPECT_EQ(DEV_OK, drive.Device()->Eject(false));
    return true;
  });
  EXPECT_EQ(result::kTargetNotBlank, DiscCopy(9, 9, ""));
  EXPECT_TRUE(want == Bin(dir, "rw.vdisc", "again"));
  SetBlankDiscRequest([&](int index) {
    EXPECT_EQ(DEV_OK, drive.Device()->Eject(false));
    EXPECT_EQ(DEV_OK, drive.Device()->Blank(BLANK_MINIMAL));
    (void)index;
    return true;
  });
  EXPECT_EQ(result::kSuccess, DiscCopy(9, 9, "")) << LastCopyError();
  SetBlankDiscRequest(nullptr);
  SetCopyFileRoots({});
  EXPECT_TRUE(asked);
  const std::string made = CopyFilePath();
  EXPECT_EQ(0u, made.rfind(dir.path(), 0)) << made;
  EXPECT_TRUE(FileExists(made)) << "the copy file is handed to the caller";
  EXPECT_TRUE(want == Bin(dir, "rw.vdisc", "copy"));
}

// The blank disc for a copy on one virtual recorder is a new disc made in
// its place (as "virtual create --replace" makes it): the copy goes onto that
// disc, not into the sector file of the disc it replaced.
TEST(DiscCopy, OneVirtualRecorderWhoseDiscIsReplacedGetsTheWholeCopy) {
  ScratchFolder dir;
  std::string disc = NewDisc(dir, "one.vdisc", "cd-r");
  int st = 0;
  std::string out = Cli("burn --drive virtual:" + disc + " " VARNEX_SOURCE_DIR "/data/sample", &st);
  ASSERT_EQ(0, st) << out;
  const std::string want = Bin(dir, "one.vdisc", "want");
  {
    CopyDrive drive(9, disc);
    SetCopyFileRoots({dir.path()});
    SetBlankDiscRequest([&](int) {
      std::string error;
      EXPECT_TRUE(VirtualRecorder::Create(disc, "cd-r", &error)) << error;
      return true;
    });
    EXPECT_EQ(result::kSuccess, DiscCopy(9, 9, "")) << LastCopyError();
    SetBlankDiscRequest(nullptr);
    SetCopyFileRoots({});
    std::filesystem::remove(CopyFilePath());
  }
  const std::string got = Bin(dir, "one.vdisc", "copy");
  EXPECT_EQ(want.size(), got.size());
  EXPECT_TRUE(want == got) << "the copy did not reach the disc in the recorder";
}

TEST(DiscCopy, StoppingWhileTheFileIsMadeOrTheDiscWrittenIsSafeAndReported) {
  ScratchFolder dir;
  std::string src = NewDisc(dir, "src.vdisc", "cd-r");
  copytest::WriteTaoTrack(*ktest::OpenVirtual(src), ktest::Pattern(2000 * 2048, 1), false, 8, false, true);
  NewDisc(dir, "t.vdisc", "cd-r");

  // Progress and item queries run all the while on another thread; the
  // stop comes at a chosen command of the copy.
  auto run = [&](int stopAtRead, int stopAtWrite, const std::string& path) {
    int reads = 0, writes = 0;
    CopyDrive source(10, src, [&](ScsiCommand& c) {
      if (c.opcode() == 0xBE && ++reads == stopAtRead) StopCopy();
    });
    CopyDrive target(11, dir / "t.vdisc", [&](ScsiCommand& c) {
      if (c.opcode() == 0x2A && ++writes == stopAtWrite) StopCopy();
    });
    std::atomic<bool> done{false};
    std::thread watcher([&] {
      while (!done) {
        int p = GetCopyProgress();
        EXPECT_GE(p, 0);
        EXPECT_LE(p, 100);
        GetCopyItem();
        std::this_thread::yield();
      }
    });
    int r = DiscCopy(10, 11, path);
    done = true;
    watcher.join();
    return r;
  };
  EXPECT_EQ(result::kCopyFileStopped, run(20, 0, dir / "stop.bcl"));
  EXPECT_FALSE(FileExists(dir / "stop.bcl"));
  for (auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(std::string::npos, e.path().string().find(".bcl")) << "a partial copy file stayed: " << e.path();
  EXPECT_EQ(result::kBurnStopped, run(0, 30, ""));
  EXPECT_EQ(0, GetCopyProgress()) << "no manager is left behind";
  EXPECT_EQ("", GetCopyItem());
}

TEST(DiscCopy, TrackListGivesTypesAndAddresses) {
  ktest::ScratchDir dir;
  {
    auto d = ktest::NewVirtual(dir, "cd-r", "m.vdisc");
    copytest::WriteTaoTrack(*d, ktest::Pattern(300 * 2048, 1), false, 10, true, false);
    copytest::WriteTaoTrack(*d, copytest::Pcm(200, 2), true, 0, true, true);
    copytest::WriteTaoTrack(*d, ktest::Pattern(64 * 2048, 3), false, 8, false, true);
  }
  auto d = ktest::OpenVirtual(dir / "m.vdisc");
  DataSource_Device disc(d.get());
  ASSERT_TRUE(disc.IsValid()) << disc.GetLastError();
  auto rows = CopyTrackList(disc);
  ASSERT_EQ(3u, rows.size());
  EXPECT_TRUE(rows[0].data);
  EXPECT_EQ(MODE_FORM_MODE2_FORM1, rows[0].form);
  EXPECT_EQ(0, rows[0].start);
  EXPECT_EQ(451, rows[0].end) << "up to the next track's start";
  EXPECT_FALSE(rows[1].data);
  EXPECT_EQ(452, rows[1].start);
  EXPECT_EQ(651, rows[1].end) << "up to the session's lead-out";
  EXPECT_EQ(2, rows[2].session);
  EXPECT_EQ(MODE_FORM_MODE1, rows[2].form);
  EXPECT_EQ(652 + 11400, rows[2].start);
}
