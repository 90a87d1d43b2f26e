// The command blocks the command layer builds (what SG_IO would carry to a
// real drive), and how it takes answers that are short, odd or missing.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "ByteFields.h"
#include "DevDeque.h"
#include "KestrineTestUtil.h"

namespace {

// A drive that keeps every command and answers through a script.
class ScriptedDrive : public ScsiTransport {
 public:
  using Answer = std::function<bool(ScsiCommand&)>;
  explicit ScriptedDrive(std::vector<ScsiCommand>* log, Answer answer) : log_(log), answer_(std::move(answer)) {}
  bool Execute(ScsiCommand& c) override {
    bool r = answer_ ? answer_(c) : true;
    ScsiCommand copy = c;
    if (c.direction == ScsiCommand::kOut && c.data) {
      sent_.emplace_back(c.data, c.data + c.dataLength);
    } else {
      sent_.emplace_back();
    }
    copy.data = nullptr;
    log_->push_back(copy);
    return r;
  }
  std::string Path() const override { return "scripted"; }
  static std::vector<std::vector<uint8_t>> sent_;

 private:
  std::vector<ScsiCommand>* log_;
  Answer answer_;
};
std::vector<std::vector<uint8_t>> ScriptedDrive::sent_;

struct Counter : DevActivityListener {
  int calls = 0;
  void OnDeviceActivity(int) override { ++calls; }
};

}  // namespace

TEST(KestrineCommands, WritingCommandsCarryTheirParameters) {
  std::vector<ScsiCommand> log;
  ScriptedDrive::sent_.clear();
  // MODE SENSE fails, so the write parameters page is built from scratch.
  CDevCmdRW d(std::make_unique<ScriptedDrive>(&log, [](ScsiCommand& c) {
                if (c.opcode() == 0x5A) c.SetSense(5, 0x24, 0);
                return true;
              }), 3);
  WriteParam wp;
  wp.WriteType = 0;
  wp.TrackMode = 5;
  wp.LinkSize = 16;
  wp.TestWrite = 1;
  wp.BufE = 1;
  wp.MultiSession = 1;
  wp.FixedPacket = 1;
  wp.LinkSizeValid = 1;
  wp.DataBlockType = 8;
  ASSERT_EQ(DEV_OK, d.SetWriteParam(wp));
  ASSERT_EQ(2u, log.size());
  EXPECT_EQ(0x55, log[1].cdb[0]);
  EXPECT_EQ(0x10, log[1].cdb[1]) << "page format";
  const auto& page = ScriptedDrive::sent_[1];
  ASSERT_GE(page.size(), 8u + 16u);
  const uint8_t* p = page.data() + 8;
  EXPECT_EQ(0x05, p[0]);
  EXPECT_EQ(0x40 | 0x20 | 0x10 | 0x00, p[2]) << "BUFE, LS_V, test write, incremental";
  EXPECT_EQ(0xC0 | 0x20 | 0x05, p[3]) << "next session allowed, fixed packet, track mode 5";
  EXPECT_EQ(8, p[4]);
  EXPECT_EQ(16, p[5]);
  EXPECT_EQ(16u, bytes::BE32(p + 10)) << "packet size";

  log.clear();
  ASSERT_EQ(DEV_OK, d.FormatUnit(0xFFFFFFFF, 0x26, 0));
  EXPECT_EQ(0x04, log[0].cdb[0]);
  EXPECT_EQ(0x11, log[0].cdb[1]);
  const auto& fmt = ScriptedDrive::sent_.back();
  EXPECT_EQ(0xFFFFFFFFu, bytes::BE32(fmt.data() + 4));
  EXPECT_EQ(0x26 << 2, fmt[8]);

  log.clear();
  ASSERT_EQ(DEV_OK, d.CloseSession(2, 7));
  EXPECT_EQ(0x5B, log[0].cdb[0]);
  EXPECT_EQ(2, log[0].cdb[2]);
  EXPECT_EQ(7, bytes::BE16(log[0].cdb + 4));
  EXPECT_EQ(timeouts::kLong, log[0].timeoutMs) << "closing may take minutes";

  log.clear();
  uint8_t buf[2352];
  ASSERT_EQ(DEV_OK, d.ReadCD_All(buf, sizeof buf, 1, 1234));
  EXPECT_EQ(0xBE, log[0].cdb[0]);
  EXPECT_EQ(1234u, bytes::BE32(log[0].cdb + 2));
  EXPECT_EQ(1, log[0].cdb[8]);
  EXPECT_EQ(0xF8, log[0].cdb[9]);
  EXPECT_EQ(timeouts::kTransfer, log[0].timeoutMs);
  EXPECT_EQ(DEV_BAD_ARGUMENT, d.ReadCD_All(buf, 2000, 1, 0)) << "a buffer too small is refused before the drive sees it";
  EXPECT_EQ(DEV_BAD_ARGUMENT, d.Write(0, buf, 2048 * 3 + 1, 3));
}

TEST(KestrineCommands, ShortAndMissingAnswersAreFailuresWithAStatus) {
  std::vector<ScsiCommand> log;
  CDevCmdRW d(std::make_unique<ScriptedDrive>(&log, [](ScsiCommand& c) {
                if (c.opcode() == 0x12) c.transferred = 5;  // a truncated INQUIRY
                if (c.opcode() == 0x00) {
                  c.srbStatus = SRB_TIMEOUT;
                  return false;
                }
                return true;
              }), 3);
  INQUIRYDATA inq;
  EXPECT_EQ(DEV_BAD_RESPONSE, d.Inquiry(inq));
  EXPECT_EQ(SRB_BAD_RESPONSE, d.GetSRBStatus());
  EXPECT_EQ(DEV_TRANSPORT_FAILED, d.TestUnitReady());
  EXPECT_EQ(SRB_TIMEOUT, d.GetSRBStatus());
  DISC_INFO di;
  EXPECT_EQ(DEV_BAD_RESPONSE, d.ReadDiscInfo(di)) << "no bytes at all is no disc information";
  CDevCmdRW none;
  EXPECT_EQ(DEV_TRANSPORT_FAILED, none.TestUnitReady()) << "a free-standing device without an image";
  EXPECT_EQ(SRB_NO_DEVICE, none.GetSRBStatus());
}

TEST(KestrineCommands, DvdRwOfUnknownModeIsKnownByItsBookType) {
  std::vector<ScsiCommand> log;
  CDevCmdRW d(std::make_unique<ScriptedDrive>(&log, [](ScsiCommand& c) {
                if (c.opcode() == 0x46) {  // no current profile
                  std::memset(c.data, 0, c.dataLength);
                  c.transferred = c.dataLength;
                }
                if (c.opcode() == 0xAD) {  // physical format: book type DVD-RW
                  std::memset(c.data, 0, c.dataLength);
                  bytes::PutBE16(c.data, 2050);
                  c.data[4] = 0x32;
                  c.transferred = c.dataLength;
                }
                return true;
              }), 3);
  EXPECT_EQ(medium::kDvdRwUnknown, d.GetMediumType());
  EXPECT_STREQ("DVD-RW", medium::Name(d.GetMediumType()));
}

TEST(KestrineCommands, ModePageIsCutFromTheAnswerAndListenersHearEveryCommand) {
  ktest::ScratchDir dir;
  auto d = ktest::NewVirtual(dir, "cd-r");
  Counter counter;
  d->SetMainHWnd(&counter);
  uint8_t page[26];
  uint8_t sense[4] = {9, 9, 9, 9};
  ASSERT_EQ(DEV_OK, d->GetParamPage(page, sizeof page, 3, sense, 0x2A));
  EXPECT_EQ(0x2A, page[0]);
  EXPECT_EQ(0x37, page[3]) << "CD-R, CD-RW, test write, DVD-R and DVD-RAM writing";
  EXPECT_EQ(0, sense[0]);
  EXPECT_NE(DEV_OK, d->GetParamPage(page, sizeof page, 3, sense, 0x0E));
  EXPECT_EQ(5, sense[0]);
  EXPECT_EQ(0x24, sense[1]);
  EXPECT_EQ(2, counter.calls);
}

TEST(KestrineCommands, DeviceListGivesTheDesignatedIndexes) {
  ktest::ScratchDir dir;
  std::string error;
  ASSERT_TRUE(VirtualRecorder::Create(dir / "a.vdisc", "cd-r", &error));
  ASSERT_TRUE(VirtualRecorder::Create(dir / "b.vdisc", "bd-re", &error));
  DevDeque deque;
  deque.Build({}, {"virtual:" + (dir / "a.vdisc"), "virtual:" + (dir / "missing.vdisc"),
                   "iscsi://127.0.0.1:1/iqn.2026-12.org.varnex.test:x/1", "virtual:" + (dir / "b.vdisc")});
  EXPECT_EQ(4, deque.GetDevCount());
  ASSERT_NE(nullptr, deque.GetDevice(0));
  EXPECT_FALSE(deque.GetDevice(0)->HasDrive()) << "index 0 waits for an image file";
  ASSERT_NE(nullptr, deque.GetDevice(3));
  EXPECT_EQ("virtual:" + (dir / "a.vdisc"), deque.GetDevice(3)->GetDevicePath());
  ASSERT_NE(nullptr, deque.GetDevice(4));
  EXPECT_EQ(medium::kBdRe, deque.GetDevice(4)->GetMediumType());
  ASSERT_NE(nullptr, deque.GetDevice(26));
  EXPECT_EQ(nullptr, deque.GetDevice(5));
  ASSERT_EQ(1u, deque.Problems().size());
  EXPECT_NE(std::string::npos, deque.Problems()[0].find("missing.vdisc"));
  EXPECT_EQ("D:", DevDeque::DriveLetter(3));
}

TEST(KestrineCommands, RefreshKeepsDrivesThatStayAndNeverFreesOnesThatGo) {
  ktest::ScratchDir dir;
  std::string error;
  for (const char* name : {"a.vdisc", "b.vdisc", "c.vdisc"})
    ASSERT_TRUE(VirtualRecorder::Create(dir / name, "cd-r", &error));
  const std::string a = "virtual:" + (dir / "a.vdisc"), b = "virtual:" + (dir / "b.vdisc"),
                    c = "virtual:" + (dir / "c.vdisc");
  DevDeque deque;
  deque.Build({}, {a, b});
  CDevCmdRW* firstA = deque.GetDevice(3);
  CDevCmdRW* firstB = deque.GetDevice(4);
  ASSERT_NE(nullptr, firstA);
  ASSERT_NE(nullptr, firstB);

  deque.Build({}, {a, c});  // b went away, c came
  EXPECT_EQ(firstA, deque.GetDevice(3)) << "a drive that stays keeps its object";
  ASSERT_NE(nullptr, deque.GetDevice(4));
  EXPECT_EQ(c, deque.GetDevice(4)->GetDevicePath());
  EXPECT_EQ(medium::kCdR, firstB->GetMediumType()) << "the object of a drive that went is still usable";

  deque.Build({}, {c});  // c moves to another index: a new object there
  ASSERT_NE(nullptr, deque.GetDevice(3));
  EXPECT_EQ(c, deque.GetDevice(3)->GetDevicePath());
  EXPECT_EQ(nullptr, deque.GetDevice(4));
}

namespace {

// A remote drive that counts its connections and notes a command that runs
// while it is not connected, or a connection made or dropped under a
// running command. The first command waits at a gate until it is opened.
class RemoteDrive : public ScsiTransport {
 public:
  bool Execute(ScsiCommand&) override {
    std::unique_lock<std::mutex> hold(lock_);
    if (connected_ != 1) ++faults;
    running_ = true;
    if (++commands == 1) {
      atGate_ = true;
      cv_.notify_all();
      cv_.wait(hold, [&] { return open_; });
    }
    running_ = false;
    return true;
  }
  bool Connect() override {
    std::lock_guard<std::mutex> hold(lock_);
    if (running_) ++faults;
    ++connected_;
    return true;
  }
  void Disconnect() override {
    std::lock_guard<std::mutex> hold(lock_);
    if (running_) ++faults;
    --connected_;
  }
  std::string Path() const override { return "remote"; }
  // False when the command ended without reaching the drive.
  bool WaitAtGate() {
    std::unique_lock<std::mutex> hold(lock_);
    cv_.wait(hold, [&] { return atGate_ || open_; });
    return atGate_;
  }
  void OpenGate() {
    std::lock_guard<std::mutex> hold(lock_);
    open_ = true;
    cv_.notify_all();
  }
  int faults = 0, commands = 0;

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  int connected_ = 0;
  bool running_ = false, atGate_ = false, open_ = false;
};

}  // namespace

TEST(KestrineCommands, ARemoteDriveStaysConnectedForTheWholeOfEveryCommand) {
  auto owned = std::make_unique<RemoteDrive>();
  RemoteDrive* remote = owned.get();
  CDevCmdRW drive(std::move(owned), 26);
  // The first command is held inside the drive while others arrive.
  std::thread first([&] {
    (void)drive.TestUnitReady();  // only its arrival order is looked at
    remote->OpenGate();  // ends the wait below should the command never arrive
  });
  if (!remote->WaitAtGate()) {
    first.join();
    FAIL() << "the first command never reached the drive";
  }
  std::vector<std::thread> others;
  for (int i = 0; i < 4; ++i) others.emplace_back([&] { (void)drive.TestUnitReady(); });
  remote->OpenGate();
  first.join();
  for (std::thread& t : others) t.join();
  EXPECT_EQ(remote->commands, 5);
  EXPECT_EQ(remote->faults, 0) << "a connection changed while a command ran";
}
