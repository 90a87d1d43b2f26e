// A virtual recorder's files and its use by two programs at once: the sector
// and lock files are never written through a planted link, and a recorder
// one program is burning is "in use" for every job of another, which leaves
// the first burn's disc whole.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "BurnCtrl/Results.h"
#include "BurnCtrl/interfaces/KestrineRecorder.h"
#include "BurnTestSupport.h"
#include "VirtualRecorder.h"

namespace {

std::string Cli(const std::string& args, int* status) { return RunTool(std::string(VARNEX_CLI_PATH) + " " + args, status); }

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::string NewDisc(const ScratchFolder& dir, const std::string& name, const std::string& medium) {
  std::string error;
  EXPECT_TRUE(VirtualRecorder::Create(dir / name, medium, &error)) << error;
  return dir / name;
}

// A virtual recorder that holds its Nth WRITE until the test lets it go:
// the burn is then in the middle of its job for as long as the test likes.
class GatedVirtual : public VirtualRecorder {
 public:
  explicit GatedVirtual(int gateAt) : gateAt_(gateAt) {}
  bool Execute(ScsiCommand& c) override {
    if (c.opcode() == 0x2A && ++writes_ == gateAt_) {
      std::unique_lock<std::mutex> hold(lock_);
      reached_ = true;
      changed_.notify_all();
      changed_.wait(hold, [&] { return open_; });
    }
    return VirtualRecorder::Execute(c);
  }
  // True once the gate holds a write; false when the job ended before.
  bool WaitAtGate() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return reached_ || ended_; });
    return reached_;
  }
  void Release() {
    std::lock_guard<std::mutex> hold(lock_);
    open_ = true;
    changed_.notify_all();
  }
  void Ended() {
    std::lock_guard<std::mutex> hold(lock_);
    ended_ = true;
    changed_.notify_all();
  }

 private:
  int gateAt_, writes_ = 0;
  std::mutex lock_;
  std::condition_variable changed_;
  bool reached_ = false, open_ = false, ended_ = false;
};

template <class T>
int AddVirtual(int index, std::unique_ptr<T> v, const std::string& state) {
  std::string error;
  EXPECT_TRUE(v->Open(state, &error)) << error;
  AddRecorder(std::make_shared<KestrineRecorder>(std::make_unique<CDevCmdRW>(std::move(v), index)));
  return index;
}

}  // namespace

// A sector file or lock file replaced by a link: burn and erase name the
// link and leave what it points to as it was; a dangling link creates nothing.
TEST(VirtualRecorderFiles, ALinkInPlaceOfTheSectorOrLockFileIsRefusedNeverFollowed) {
  for (const char* which : {".sectors", ".lock"}) {
    for (const char* command : {"burn", "erase"}) {
      for (bool dangling : {false, true}) {
        SCOPED_TRACE(std::string(command) + " with " + which + (dangling ? " dangling" : " to a file"));
        ScratchFolder dir;
        const std::string disc = NewDisc(dir, "rw.vdisc", "cd-rw");
        int st = 0;
        std::string out = Cli("burn --multisession --drive virtual:" + disc + " " VARNEX_SOURCE_DIR "/data/sample", &st);
        ASSERT_EQ(0, st) << out;
        const std::string victim = dangling ? dir / "made-through-the-link" : dir.Write("victim.txt", "precious");
        const std::string planted = disc + which;
        std::filesystem::remove(planted);
        ASSERT_EQ(0, ::symlink(victim.c_str(), planted.c_str()));
        const std::string args = std::string(command) + " --drive virtual:" + disc +
                                 (std::string(command) == "burn" ? " --multisession " VARNEX_SOURCE_DIR "/data/sample" : "");
        out = Cli(args, &st);
        EXPECT_NE(0, st) << out;
        EXPECT_TRUE(Has(out, "symbolic link")) << out;
        if (dangling)
          EXPECT_FALSE(Exists(victim)) << "a file was made where the link points";
        else
          EXPECT_TRUE(ReadWholeFile(victim) == "precious") << "the file behind the link was written";
      }
    }
  }
}

// One program burns (held at a write); burns, erases and copies of another
// program on the same recorder are refused as "in use", touch nothing, and
// the first burn ends with the disc it would have made alone.
TEST(DriveInUse, ARecorderBurningInOneProgramIsInUseForEveryJobOfAnother) {
  ScratchFolder src;
  StagedProject project({src.Write("a.bin", std::string(2 << 20, 'a'))});
  ScratchFolder dir;
  const std::string alone = NewDisc(dir, "alone.vdisc", "cd-rw"), busy = NewDisc(dir, "busy.vdisc", "cd-rw");
  const std::string other = NewDisc(dir, "other.vdisc", "cd-r");
  int st = 0;
  std::string out = Cli("burn --drive virtual:" + other + " " VARNEX_SOURCE_DIR "/data/sample", &st);
  ASSERT_EQ(0, st) << out;
  SetLayoutStamp(1700000000, 0x12345678);
  AddVirtual(13, std::make_unique<VirtualRecorder>(), alone);
  EXPECT_EQ(WriteCd(13, project.root(), "SAME", 0, false, false, false), result::kSuccess) << LastJobError(13);
  ResetBurn(13);
  RemoveRecorder(13);

  auto gated = std::make_unique<GatedVirtual>(3);
  GatedVirtual* gate = gated.get();
  AddVirtual(12, std::move(gated), busy);
  int first = 0;
  std::thread burn([&] {
    first = WriteCd(12, project.root(), "SAME", 0, false, false, false);
    gate->Ended();
  });
  if (gate->WaitAtGate()) {
    const std::string drive = " --drive virtual:" + busy;
    for (const std::string& args : {"burn" + drive + " " VARNEX_SOURCE_DIR "/data/sample", "erase" + drive,
                                    "copy --from virtual:" + other + " --to virtual:" + busy}) {
      out = Cli(args, &st);
      EXPECT_NE(0, st) << args << ": " << out;
      EXPECT_TRUE(Has(out, "recorder is in use")) << args << ": " << out;
    }
  } else {
    ADD_FAILURE() << "the burn ended before its third write";
  }
  gate->Release();
  burn.join();
  EXPECT_EQ(first, result::kSuccess) << LastJobError(12);
  ResetBurn(12);
  RemoveRecorder(12);
  SetLayoutStamp(0, 0);
  Cli("virtual export --drive virtual:" + alone + " -o " + (dir / "alone.iso"), &st);
  ASSERT_EQ(0, st);
  out = Cli("virtual export --drive virtual:" + busy + " -o " + (dir / "busy.iso"), &st);
  ASSERT_EQ(0, st) << out;
  const std::string want = ReadWholeFile(dir / "alone.iso"), got = ReadWholeFile(dir / "busy.iso");
  EXPECT_EQ(want.size(), got.size());
  EXPECT_TRUE(want == got) << "another program's job changed the disc under the burn";
}
