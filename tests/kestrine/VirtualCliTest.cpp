// varnex-cli's drive commands on virtual recorders, with the settings kept
// in a scratch program folder.
#include <gtest/gtest.h>

#include <fstream>

#include "KestrineTestUtil.h"

using ktest::ScratchDir;
using ktest::Shell;

namespace {

class VirtualCli : public ::testing::Test {
 protected:
  std::string Cli(const std::string& args) {
    return "VARNEX_PROGRAM_DIR=" + dir_.path() + " " + VARNEX_CLI_PATH + " " + args;
  }
  int RunCli(const std::string& args, std::string* out = nullptr) { return Shell(Cli(args), out); }
  ScratchDir dir_;
};

}  // namespace

TEST_F(VirtualCli, RegisteredRecorderIsListedAndCanBeRemoved) {
  std::string out;
  ASSERT_EQ(0, RunCli("virtual create --media dvd-r --register " + (dir_ / "a.vdisc"), &out)) << out;
  ASSERT_EQ(0, RunCli("devices", &out)) << out;
  EXPECT_NE(std::string::npos, out.find("virtual:" + (dir_ / "a.vdisc"))) << out;
  EXPECT_NE(std::string::npos, out.find("recorder")) << out;
  EXPECT_NE(std::string::npos, out.find("D:")) << "the first free letter on a machine without drives\n" << out;
  ASSERT_EQ(0, RunCli("disc-info --drive D:", &out)) << out;
  EXPECT_EQ(0u, out.find("DVD-R Blank Writable Free:4489M")) << out;
  ASSERT_EQ(0, RunCli("virtual unregister " + (dir_ / "a.vdisc"), &out)) << out;
  ASSERT_EQ(0, RunCli("virtual list", &out));
  EXPECT_EQ("", out);
  EXPECT_EQ(1, RunCli("virtual unregister " + (dir_ / "a.vdisc"), &out));
}

TEST_F(VirtualCli, DiscInfoReportsNotReadyAndTheTrayCommandsWork) {
  std::string out;
  ASSERT_EQ(0, RunCli("virtual create --media cd-rw " + (dir_ / "b.vdisc"), &out)) << out;
  std::string drive = "--drive virtual:" + (dir_ / "b.vdisc");
  ASSERT_EQ(0, RunCli("disc-info " + drive, &out)) << out;
  EXPECT_NE(std::string::npos, out.find("medium: 10 (CD-RW)")) << out;
  EXPECT_NE(std::string::npos, out.find("free bytes: 736970752")) << out;
  ASSERT_EQ(0, RunCli("eject " + drive, &out)) << out;
  EXPECT_EQ(1, RunCli("disc-info " + drive, &out));
  EXPECT_NE(std::string::npos, out.find("(code -15)")) << out;
  EXPECT_NE(std::string::npos, out.find("2/3A/02")) << out;
  ASSERT_EQ(0, RunCli("load " + drive, &out)) << out;
  ASSERT_EQ(0, RunCli("virtual fault " + drive + " --not-ready 2", &out)) << out;
  EXPECT_EQ(1, RunCli("disc-info " + drive, &out));
  EXPECT_NE(std::string::npos, out.find("2/04/01")) << out;
  EXPECT_EQ(1, RunCli("disc-info " + drive, &out));
  EXPECT_EQ(0, RunCli("disc-info " + drive, &out)) << "ready after two polls\n" << out;
}

TEST_F(VirtualCli, PressedDiscExportsTheImageItWasMadeFrom) {
  std::string out;
  std::filesystem::create_directories(dir_ / "src");
  std::ofstream(dir_ / "src/file.txt") << "content\n";
  ASSERT_EQ(0, Shell("xorriso -as mkisofs -quiet -o " + (dir_ / "in.iso") + " " + (dir_ / "src")));
  ASSERT_EQ(0, RunCli("virtual create --media dvd-rom --iso " + (dir_ / "in.iso") + " " + (dir_ / "rom.vdisc"), &out)) << out;
  ASSERT_EQ(0, RunCli("virtual export --drive virtual:" + (dir_ / "rom.vdisc") + " -o " + (dir_ / "out.iso"), &out)) << out;
  EXPECT_EQ(0, Shell("cmp " + (dir_ / "in.iso") + " " + (dir_ / "out.iso")));
  ASSERT_EQ(0, RunCli("virtual export --drive virtual:" + (dir_ / "rom.vdisc") + " --cue " + (dir_ / "out.cue"), &out)) << out;
  ASSERT_EQ(0, RunCli("disc-info --drive image:" + (dir_ / "out.cue"), &out)) << out;
  EXPECT_NE(std::string::npos, out.find("CD-ROM Not blank Not writable")) << "a BIN/CUE pair reads as a CD\n" << out;
}

TEST_F(VirtualCli, BadArgumentsAreRefusedWithTheReason) {
  std::string out;
  ASSERT_EQ(0, RunCli("virtual create --media cd-r " + (dir_ / "keep.vdisc"), &out)) << out;
  EXPECT_EQ(1, RunCli("virtual create --media dvd-r " + (dir_ / "keep.vdisc"), &out));
  EXPECT_NE(std::string::npos, out.find("already exists")) << out;
  ASSERT_EQ(0, RunCli("disc-info --drive virtual:" + (dir_ / "keep.vdisc"), &out));
  EXPECT_EQ(0u, out.find("CD-R ")) << "the existing disc is untouched\n" << out;
  EXPECT_EQ(0, RunCli("virtual create --replace --media dvd-r " + (dir_ / "keep.vdisc"), &out)) << out;
  EXPECT_EQ(1, RunCli("virtual create --media floppy " + (dir_ / "c.vdisc"), &out));
  EXPECT_NE(std::string::npos, out.find("unknown medium \"floppy\"")) << out;
  EXPECT_NE(std::string::npos, out.find("bd-re")) << "the known media are named\n" << out;
  EXPECT_EQ(1, RunCli("disc-info --drive virtual:" + (dir_ / "none.vdisc"), &out));
  EXPECT_NE(std::string::npos, out.find("(code -8)")) << out;
  EXPECT_EQ(2, RunCli("virtual export --drive virtual:" + (dir_ / "none.vdisc"), &out)) << "a usage error";
  EXPECT_NE(std::string::npos, out.find("-o OUT.iso or --cue OUT.cue")) << out;
  EXPECT_EQ(1, RunCli("virtual fault --drive /dev/sr0 --no-erase", &out));
  EXPECT_EQ(1, RunCli("disc-info --drive Q:", &out));
  EXPECT_NE(std::string::npos, out.find("no drive Q:")) << out;
}

TEST_F(VirtualCli, FreeSpaceOfAnOverwritableDiscLeavesOutWhatItsUdfVolumeUses) {
  std::filesystem::create_directories(dir_ / "u");
  std::ofstream(dir_ / "u/data.bin") << std::string(3 << 20, 'u');
  ASSERT_EQ(0, Shell("genisoimage -quiet -udf -o " + (dir_ / "u.iso") + " " + (dir_ / "u")));
  std::ifstream in(dir_ / "u.iso", std::ios::binary);
  std::string image((std::istreambuf_iterator<char>(in)), {});
  uint32_t sectors = uint32_t(image.size() / 2048);
  {
    auto d = ktest::NewVirtual(dir_, "dvd+rw", "rw.vdisc");
    ASSERT_EQ(DEV_OK, d->FormatUnit(0xFFFFFFFF, 0x26, 0));
    for (uint32_t i = 0; i < sectors; i += 16) {
      uint32_t n = std::min<uint32_t>(16, sectors - i);
      ASSERT_EQ(DEV_OK, d->Write(i, reinterpret_cast<const uint8_t*>(image.data()) + size_t(i) * 2048, n * 2048, n));
    }
  }
  std::string out;
  ASSERT_EQ(0, RunCli("disc-info --drive virtual:" + (dir_ / "rw.vdisc"), &out)) << out;
  EXPECT_EQ(0u, out.find("DVD+RW Not blank Writable")) << out;
  size_t at = out.find("free bytes: ");
  ASSERT_NE(std::string::npos, at) << out;
  unsigned long long freeBytes = std::stoull(out.substr(at + 12));
  unsigned long long capacity = 2295104ull * 2048;
  EXPECT_LT(freeBytes, capacity - uint64_t(3 << 20)) << "the volume's blocks are not free";
  EXPECT_GT(freeBytes, capacity - uint64_t(sectors + 64) * 2048) << "only the volume's blocks are taken";
}

// The write speeds a paced recorder offers end at its pace: a drive paced at
// 8x does not list 16x as a speed it keeps.
TEST_F(VirtualCli, TheSpeedsOfferedFollowThePace) {
  std::string out;
  const std::string disc = dir_ / "offers.vdisc", drive = " --drive virtual:" + disc;
  auto speeds = [&] {
    EXPECT_EQ(0, RunCli("disc-info" + drive, &out)) << out;
    const size_t at = out.find("maximum write ");
    return at == std::string::npos ? std::string() : out.substr(at, out.find('\n', at) - at);
  };
  ASSERT_EQ(0, RunCli("virtual create --media dvd+r --speed 8x " + disc, &out)) << out;
  EXPECT_EQ("maximum write 11080, lowest write 1385, second-highest write 8310", speeds());
  // A pace between the listed speeds is offered as it is.
  ASSERT_EQ(0, RunCli("virtual fault" + drive + " --speed 10", &out)) << out;
  EXPECT_EQ("maximum write 13850, lowest write 1385, second-highest write 11080", speeds());
  ASSERT_EQ(0, RunCli("virtual fault" + drive + " --speed max", &out)) << out;
  EXPECT_EQ("maximum write 22160, lowest write 1385, second-highest write 16620", speeds());
  const std::string cd = dir_ / "offers-cd.vdisc";
  ASSERT_EQ(0, RunCli("virtual create --media cd-r --speed 4x " + cd, &out)) << out;
  ASSERT_EQ(0, RunCli("disc-info --drive virtual:" + cd, &out)) << out;
  EXPECT_NE(std::string::npos, out.find("maximum write 704, lowest write 176")) << out;
}

TEST_F(VirtualCli, TheSpeedIsSetAtCreationChangedByTheFaultSwitchAndKeptByClear) {
  std::string out;
  const std::string disc = dir_ / "paced.vdisc";
  ASSERT_EQ(0, RunCli("virtual create --media dvd+r --speed 16x " + disc, &out)) << out;
  auto speedLine = [&] {
    std::ifstream in(disc);
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("speed ", 0) == 0) return line;
    return std::string();
  };
  EXPECT_EQ("speed 16", speedLine());
  ASSERT_EQ(0, RunCli("virtual fault --drive virtual:" + disc + " --speed 4 --no-erase", &out)) << out;
  EXPECT_EQ("speed 4", speedLine());
  ASSERT_EQ(0, RunCli("virtual fault --drive virtual:" + disc + " --clear", &out)) << out;
  EXPECT_EQ("speed 4", speedLine()) << "the speed is the drive's, not a fault";
  ASSERT_EQ(0, RunCli("virtual fault --drive virtual:" + disc + " --speed max", &out)) << out;
  EXPECT_EQ("", speedLine());
  for (const char* bad : {"0x", "65x", "fast", "16xx", "x"}) {
    EXPECT_NE(0, RunCli("virtual fault --drive virtual:" + disc + " --speed '" + bad + "'", &out)) << bad;
    EXPECT_NE(std::string::npos, out.find("--speed takes")) << bad << ": " << out;
  }
  EXPECT_NE(0, RunCli("virtual create --media cd-rom --iso " + disc + " --speed 8x " + (dir_ / "p.vdisc"), &out));
  EXPECT_NE(std::string::npos, out.find("pressed disc is never written")) << out;
}
