// A data burn onto the DVD+R recorder that tgtd emulates over iSCSI on
// 127.0.0.1: an MMC peer that is not ours. Needs root and tgtd; skipped
// otherwise.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "BurnCtrl/Results.h"
#include "BurnCtrl/interfaces/KestrineRecorder.h"
#include "BurnTestSupport.h"
#include "DevDeque.h"

namespace {

constexpr int kControlPort = 17;
constexpr int kPortal = 3277;
const char* kTarget = "iqn.2026-12.org.varnex.test:burn";

class Tgtd {
 public:
  explicit Tgtd(const std::string& backing) {
    std::string adm = "tgtadm -C " + std::to_string(kControlPort) + " --lld iscsi ";
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      std::string portal = "portal=127.0.0.1:" + std::to_string(kPortal);
      execlp("tgtd", "tgtd", "-f", "-C", std::to_string(kControlPort).c_str(), "--iscsi", portal.c_str(),
             static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 100 && !ok_; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      int st = 1;
      RunTool(adm + "--mode target --op new --tid 1 --targetname " + kTarget, &st);
      ok_ = st == 0;
    }
    int a = 1, b = 1;
    RunTool(adm + "--mode logicalunit --op new --tid 1 --lun 1 --device-type cd -b " + backing, &a);
    RunTool(adm + "--mode target --op bind --tid 1 -I ALL", &b);
    ok_ = ok_ && a == 0 && b == 0;
  }
  ~Tgtd() {
    std::string adm = "tgtadm -C " + std::to_string(kControlPort) + " --lld iscsi ";
    RunTool(adm + "--mode target --op delete --force --tid 1");
    RunTool(adm + "--op update --mode sys --name State -v offline");
    RunTool(adm + "--op delete --mode system");
    if (pid_ > 0) {
      for (int i = 0; i < 50 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (waitpid(pid_, nullptr, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
    }
  }
  bool ok() const { return ok_; }

 private:
  pid_t pid_ = -1;
  bool ok_ = false;
};

}  // namespace

TEST(IscsiBurn, TheEmulatedDvdPlusRTakesADataProject) {
  if (geteuid() != 0 || !HaveTool("tgtd") || !HaveTool("tgtadm")) GTEST_SKIP() << "needs root and tgtd";
  ScratchFolder dir;
  std::string backing = dir.Write("blank.dvd", "");
  Tgtd tgtd(backing);
  ASSERT_TRUE(tgtd.ok()) << "tgtd did not start";
  std::string error;
  const std::string spec = "iscsi://127.0.0.1:" + std::to_string(kPortal) + "/" + kTarget + "/1";
  auto dev = DevDeque::OpenDrive(spec, 26, &error);
  ASSERT_TRUE(dev) << error;
  auto drive = std::make_shared<KestrineRecorder>(std::move(dev));
  AddRecorder(drive);
  std::vector<uint8_t> data = PatternBytes(3 << 20, 61);
  StagedProject project({dir.Write("src/Notes/read me.txt", "over iSCSI\n"), WriteBytes(dir, "src/data.bin", data)});
  int res = WriteCd(26, project.root(), "ISCSI", 0, false, false, false);
  RemoveRecorder(26);
  drive.reset();
  ASSERT_EQ(res, result::kSuccess);
  int st = 0;
  std::string info = RunTool("udfinfo " + backing, &st);
  EXPECT_EQ(st, 0) << info;
  EXPECT_NE(info.find("label=ISCSI"), std::string::npos) << info;
  ScratchFolder out;
  std::string log = RunTool("7zz x -y -o" + out.path() + " " + backing, &st);
  ASSERT_EQ(st, 0) << log;
  EXPECT_EQ(ReadWholeFile(out / "read me.txt"), "over iSCSI\n");
  std::string got = ReadWholeFile(out / "data.bin");
  EXPECT_TRUE(got == std::string(data.begin(), data.end())) << "data.bin differs (" << got.size() << " bytes)";
}
