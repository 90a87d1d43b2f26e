// The command layer against an MMC implementation nobody here wrote: the
// DVD+R recorder that tgtd emulates, reached over iSCSI on 127.0.0.1.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "ByteFields.h"
#include "IscsiTransport.h"
#include "KestrineTestUtil.h"

using ktest::Pattern;
using ktest::ScratchDir;
using ktest::SenseOf;
using ktest::Shell;

namespace {

class TgtdDvdRecorder {
 public:
  explicit TgtdDvdRecorder(const ScratchDir& dir) {
    if (getuid() != 0 || access("/usr/sbin/tgtd", X_OK) != 0) return;
    int salt = int(getpid() % 500);
    control_ = 300 + salt;
    port_ = 23000 + salt;
    std::string backing = dir / "blank.dvd";
    FILE* f = fopen(backing.c_str(), "w");
    if (f) fclose(f);
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      std::string portal = "portal=127.0.0.1:" + std::to_string(port_);
      std::string ctl = std::to_string(control_);
      freopen("/dev/null", "w", stdout);
      freopen("/dev/null", "w", stderr);
      execl("/usr/sbin/tgtd", "tgtd", "-f", "-C", ctl.c_str(), "--iscsi", portal.c_str(), (char*)nullptr);
      _exit(127);
    }
    // tgtd takes a moment before it answers its control port.
    for (int i = 0; i < 50 && !Admin("--lld iscsi --mode target --op show"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ready_ = Admin("--lld iscsi --mode target --op new --tid 1 --targetname " + std::string(kTarget)) &&
             Admin("--lld iscsi --mode logicalunit --op new --tid 1 --lun 1 --device-type cd -b " + backing) &&
             Admin("--lld iscsi --mode target --op bind --tid 1 -I ALL");
  }
  ~TgtdDvdRecorder() {
    if (pid_ <= 0) return;
    // tgtd keeps running on SIGTERM while it has targets: take them down first.
    Admin("--lld iscsi --mode target --op delete --force --tid 1");
    Admin("--lld iscsi --op update --mode sys --name State -v offline");
    Admin("--lld iscsi --op delete --mode system");
    for (int i = 0; i < 50; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid_, SIGKILL);  // our own child only
    waitpid(pid_, nullptr, 0);
  }
  bool ready() const { return ready_; }
  std::string Url() const {
    return "iscsi://127.0.0.1:" + std::to_string(port_) + "/" + kTarget + "/1";
  }

 private:
  static constexpr const char* kTarget = "iqn.2026-12.org.varnex.test:dvd";
  bool Admin(const std::string& args) {
    return Shell("tgtadm -C " + std::to_string(control_) + " " + args) == 0;
  }
  pid_t pid_ = -1;
  int control_ = 0, port_ = 0;
  bool ready_ = false;
};

}  // namespace

TEST(KestrineIscsi, TgtdDvdRecorderTakesATrackAndGivesItBack) {
  ScratchDir dir;
  TgtdDvdRecorder tgtd(dir);
  if (!tgtd.ready()) GTEST_SKIP() << "tgtd cannot be started here (needs root and the tgt package)";
  CDevCmdRW d(std::make_unique<IscsiTransport>(tgtd.Url()), 26);
  ASSERT_TRUE(d.ConnectServerDevice()) << "login to " << tgtd.Url();

  INQUIRYDATA inq;
  ASSERT_EQ(DEV_OK, d.Inquiry(inq));
  EXPECT_EQ(5, inq.DeviceType) << "an MMC device";
  ASSERT_EQ(DEV_OK, d.WaitUntilReady(100, 10000)) << SenseOf(d);
  EXPECT_EQ(medium::kDvdPlusR, d.GetMediumType());
  std::vector<uint8_t> config(4096);
  ASSERT_EQ(DEV_OK, d.GetConfig(config.data(), int(config.size())));
  EXPECT_TRUE(HasFeature(config.data(), config.size(), 0x002B)) << "DVD+R feature";

  DISC_INFO di;
  ASSERT_EQ(DEV_OK, d.ReadDiscInfo(di));
  EXPECT_EQ(0, di.DiscStatus) << "blank";
  TRACK_INFO ti;
  ASSERT_EQ(DEV_OK, d.ReadTrackInfo(ti, di.LastTrackLastSession));
  EXPECT_TRUE(ti.NWA_V);
  uint32_t free = 0;
  ASSERT_EQ(DEV_OK, d.GetBlackDiscCapacity(free));
  EXPECT_GT(free, 2000000u);
  uint32_t formatted = 0;
  EXPECT_FALSE(d.JudgeIsFormated(formatted)) << "READ FORMAT CAPACITIES is not implemented there: an answer, not a crash";
  EXPECT_EQ("5/20/00", SenseOf(d));
  uint8_t page[64];
  EXPECT_EQ(DEV_OK, d.ModeSense(page, sizeof page, 0x2A));
  EXPECT_EQ(0x2A, page[0] & 0x3F);

  // The command-line front sees the same drive, connected around its work.
  std::string out;
  ASSERT_EQ(0, Shell(std::string(VARNEX_CLI_PATH) + " disc-info --drive " + tgtd.Url(), &out)) << out;
  EXPECT_EQ(0u, out.find("DVD+R Blank Writable")) << out;

  WriteParam wp;
  wp.WriteType = 2;
  wp.TrackMode = 4;
  wp.DataBlockType = 8;
  wp.TestWrite = 0;
  wp.BufE = 1;
  ASSERT_EQ(DEV_OK, d.SetWriteParam(wp)) << SenseOf(d);
  long nwa = -1;
  ASSERT_EQ(DEV_OK, d.GetNextWriteAdd(nwa)) << SenseOf(d);
  ASSERT_EQ(0, nwa);
  const uint32_t sectors = 320;
  auto data = Pattern(sectors * 2048, 42);
  for (uint32_t i = 0; i < sectors; i += 32)
    ASSERT_EQ(DEV_OK, d.Write(uint32_t(nwa) + i, data.data() + size_t(i) * 2048, 32 * 2048, 32)) << "at " << i << ": " << SenseOf(d);
  ASSERT_EQ(DEV_OK, d.SynCache()) << SenseOf(d);
  ASSERT_EQ(DEV_OK, d.CloseTrack(1)) << SenseOf(d);
  EXPECT_EQ(DEV_OK, d.WaitUntilReady(100, 10000));
  ASSERT_EQ(DEV_OK, d.CloseSession()) << SenseOf(d);
  EXPECT_EQ(DEV_OK, d.WaitUntilReady(100, 10000));

  ASSERT_EQ(DEV_OK, d.ReadDiscInfo(di));
  EXPECT_NE(0, di.DiscStatus) << "no longer blank";
  std::vector<uint8_t> back(sectors * 2048);
  for (uint32_t i = 0; i < sectors; i += 32)
    ASSERT_EQ(DEV_OK, d.ReadCD_10(back.data() + size_t(i) * 2048, 32 * 2048, 32, i)) << SenseOf(d);
  EXPECT_EQ(data, back) << "the sectors read back differ from those written";

  SessionInfo si;
  EXPECT_NE(DEV_OK, d.GetSessionInfo(si)) << "no full TOC from this emulation";
  d.CloseServerDevice();
}

TEST(KestrineIscsi, UnreachableRemoteDriveFailsToConnect) {
  std::string out;
  EXPECT_EQ(1, Shell(std::string(VARNEX_CLI_PATH) + " disc-info --drive iscsi://127.0.0.1:1/iqn.2026-12.org.varnex.test:none/1", &out));
  EXPECT_NE(std::string::npos, out.find("(code -550)")) << out;
  CDevCmdRW d(std::make_unique<IscsiTransport>("iscsi://127.0.0.1:1/iqn.2026-12.org.varnex.test:none/1"), 26);
  EXPECT_FALSE(d.ConnectServerDevice());
  EXPECT_NE(DEV_OK, d.TestUnitReady()) << "an unbracketed command tries to connect and fails";
  EXPECT_EQ(SRB_NO_DEVICE, d.GetSRBStatus());
}
