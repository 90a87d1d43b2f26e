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

// tgtd on its own control port and portal, one target (tid 1, 2, ...) with
// one emulated recorder for each backing file.
class Tgtd {
 public:
  explicit Tgtd(const std::string& backing) : Tgtd(std::vector<std::string>{backing}, kControlPort, kPortal, kTarget) {}
  Tgtd(const std::vector<std::string>& backings, int control, int portal, const std::string& name)
      : adm_("tgtadm -C " + std::to_string(control) + " --lld iscsi "), tids_(int(backings.size())) {
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      std::string at = "portal=127.0.0.1:" + std::to_string(portal);
      execlp("tgtd", "tgtd", "-f", "-C", std::to_string(control).c_str(), "--iscsi", at.c_str(),
             static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 100 && !ok_; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      int st = 1;
      RunTool(adm_ + "--mode target --op new --tid 1 --targetname " + Name(name, 1, backings.size()), &st);
      ok_ = st == 0;
    }
    for (int tid = 1; tid <= tids_ && ok_; ++tid) {
      int a = 1, b = 1, c = tid == 1 ? 0 : 1;
      if (tid > 1) RunTool(adm_ + "--mode target --op new --tid " + std::to_string(tid) + " --targetname " +
                               Name(name, tid, backings.size()), &c);
      RunTool(adm_ + "--mode logicalunit --op new --tid " + std::to_string(tid) + " --lun 1 --device-type cd -b " +
                  backings[size_t(tid - 1)], &a);
      RunTool(adm_ + "--mode target --op bind --tid " + std::to_string(tid) + " -I ALL", &b);
      ok_ = a == 0 && b == 0 && c == 0;
    }
  }
  ~Tgtd() {
    for (int tid = 1; tid <= tids_; ++tid)
      RunTool(adm_ + "--mode target --op delete --force --tid " + std::to_string(tid));
    RunTool(adm_ + "--op update --mode sys --name State -v offline");
    RunTool(adm_ + "--op delete --mode system");
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
  // The target of recorder `tid`: the name itself when there is one.
  static std::string Name(const std::string& name, int tid, size_t count) {
    return count == 1 ? name : name + "-" + std::to_string(tid);
  }

 private:
  std::string adm_;
  int tids_ = 0;
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

// Several remote recorders in one burn each write their own disc: none takes
// the place of another in the drive list.
TEST(IscsiBurn, TwoRemoteRecordersEachWriteTheProject) {
  if (geteuid() != 0 || !HaveTool("tgtd") || !HaveTool("tgtadm")) GTEST_SKIP() << "needs root and tgtd";
  ScratchFolder dir;
  const std::vector<std::string> backings = {dir.Write("one.dvd", ""), dir.Write("two.dvd", "")};
  const int control = 18, portal = 3278;
  const std::string name = "iqn.2026-12.org.varnex.test:pair";
  Tgtd tgtd(backings, control, portal, name);
  ASSERT_TRUE(tgtd.ok()) << "tgtd did not start";
  std::vector<uint8_t> data = PatternBytes(2 << 20, 62);
  const std::string source = WriteBytes(dir, "src/pair.bin", data);
  std::string command = std::string(VARNEX_CLI_PATH) + " burn --label PAIR";
  for (int tid = 1; tid <= 2; ++tid)
    command += " --drive iscsi://127.0.0.1:" + std::to_string(portal) + "/" + Tgtd::Name(name, tid, 2) + "/1";
  int st = 1;
  const std::string said = RunTool(command + " " + source, &st);
  ASSERT_EQ(st, 0) << said;
  for (const std::string& disc : backings) {
    ScratchFolder out;
    std::string log = RunTool("7zz x -y -o" + out.path() + " " + disc, &st);
    ASSERT_EQ(st, 0) << disc << ": " << log;
    std::string got = ReadWholeFile(out / "pair.bin");
    EXPECT_TRUE(got == std::string(data.begin(), data.end())) << disc << ": pair.bin differs (" << got.size() << " bytes)";
  }
}
