// varnex-cli burn and erase as a user runs them.

#include <gtest/gtest.h>

#include "BurnCtrl/WriteLog.h"
#include "BurnTestSupport.h"

namespace {

std::string Cli(const std::string& args, int* status) { return RunTool(std::string(VARNEX_CLI_PATH) + " " + args, status); }

}  // namespace

TEST(CliBurn, TheSampleFolderGoesOntoAVirtualRecorderAndComesBack) {
  ScratchFolder dir;
  int st = 0;
  std::string out = Cli("virtual create --media cd-r " + (dir / "d.vdisc"), &st);
  ASSERT_EQ(st, 0) << out;
  // A test write goes through every step and leaves the disc blank.
  out = Cli("burn --test --drive virtual:" + (dir / "d.vdisc") + " " VARNEX_SOURCE_DIR "/data/sample", &st);
  ASSERT_EQ(st, 0) << out;
  out = Cli("disc-info --drive virtual:" + (dir / "d.vdisc"), &st);
  EXPECT_NE(out.find("blank: yes"), std::string::npos) << out;
  out = Cli("burn --drive virtual:" + (dir / "d.vdisc") + " --label Sample " VARNEX_SOURCE_DIR "/data/sample", &st);
  ASSERT_EQ(st, 0) << out;
  out = Cli("virtual export --drive virtual:" + (dir / "d.vdisc") + " -o " + (dir / "d.iso"), &st);
  ASSERT_EQ(st, 0) << out;
  out = RunTool("7zz x -y -o" + (dir / "x") + " " + (dir / "d.iso"), &st);
  ASSERT_EQ(st, 0) << out;
  out = RunTool("diff -r " VARNEX_SOURCE_DIR "/data/sample " + (dir / "x/sample"), &st);
  EXPECT_EQ(st, 0) << out;
  // The disc was burnt closed: another burn is refused with its reason.
  out = Cli("burn --drive virtual:" + (dir / "d.vdisc") + " " VARNEX_SOURCE_DIR "/data/sample", &st);
  EXPECT_NE(st, 0);
  EXPECT_NE(out.find("-921"), std::string::npos) << out;
}

// What a disc can still take is its state, not its kind: a closed CD-R and a
// BD-R that a failed burn left unfinished are no longer writable, and an
// open disc is appendable.
TEST(CliBurn, DiscInfoTellsTheDiscsStateAfterClosedOpenAndFailedBurns) {
  ScratchFolder dir;
  int st = 0;
  auto info = [&](const std::string& disc) { return Cli("disc-info --drive virtual:" + (dir / disc), &st); };
  for (const char* d : {"closed.vdisc", "open.vdisc"}) {
    Cli("virtual create --media cd-r " + (dir / d), &st);
    ASSERT_EQ(st, 0);
  }
  Cli("burn --drive virtual:" + (dir / "closed.vdisc") + " " VARNEX_SOURCE_DIR "/data/sample", &st);
  ASSERT_EQ(st, 0);
  std::string out = info("closed.vdisc");
  EXPECT_NE(out.find("state: closed\nblank: no\nwritable: no\nfree bytes: 0\n"), std::string::npos) << out;
  Cli("burn --multisession --drive virtual:" + (dir / "open.vdisc") + " " VARNEX_SOURCE_DIR "/data/sample", &st);
  ASSERT_EQ(st, 0);
  out = info("open.vdisc");
  EXPECT_NE(out.find("state: appendable\nblank: no\nwritable: yes\n"), std::string::npos) << out;
  Cli("virtual create --media bd-r " + (dir / "bd.vdisc"), &st);
  Cli("virtual fault --drive virtual:" + (dir / "bd.vdisc") + " --write-error 3 --times 1000", &st);
  ASSERT_EQ(st, 0);
  Cli("burn --drive virtual:" + (dir / "bd.vdisc") + " " VARNEX_SOURCE_DIR "/data/sample", &st);
  ASSERT_NE(st, 0);
  out = info("bd.vdisc");
  EXPECT_NE(out.find("state: unfinished\nblank: no\nwritable: no\nfree bytes: 0\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Not writable"), std::string::npos) << out;
}

TEST(CliBurn, BadInputIsRefusedBeforeAnythingIsWritten) {
  ScratchFolder dir;
  int st = 0;
  std::string image = dir.Write("keep.iso", "precious");
  std::string out = Cli("burn --drive image:" + image + " --audio " + dir.Write("not.wav", "text"), &st);
  EXPECT_NE(st, 0);
  EXPECT_NE(out.find("not a WAV file"), std::string::npos) << out;
  EXPECT_EQ(ReadWholeFile(image), "precious") << "a refused burn must not empty its target";
  out = Cli("burn --drive image:" + image + " " + (dir / "missing"), &st);
  EXPECT_NE(st, 0);
  EXPECT_EQ(ReadWholeFile(image), "precious");
  out = Cli("burn " + (dir / "x"), &st);
  EXPECT_NE(st, 0);
  EXPECT_NE(out.find("usage"), std::string::npos) << out;
}

TEST(CliBurn, EraseBlanksARewritableDiscAndRefusesAWriteOnceOne) {
  ScratchFolder dir;
  int st = 0;
  for (std::string medium : {"dvd+rw", "dvd+r"}) {
    std::string disc = dir / (medium + ".vdisc");
    Cli("virtual create --media " + medium + " " + disc, &st);
    std::string out = Cli("burn --drive virtual:" + disc + " " VARNEX_SOURCE_DIR "/data/sample/README.txt", &st);
    ASSERT_EQ(st, 0) << out;
    out = Cli("erase --drive virtual:" + disc, &st);
    if (medium == "dvd+r") {
      EXPECT_NE(st, 0);
      EXPECT_NE(out.find("-7"), std::string::npos) << out;
    } else {
      EXPECT_EQ(st, 0) << out;
      out = Cli("disc-info --drive virtual:" + disc, &st);
      EXPECT_NE(out.find("blank: yes"), std::string::npos) << out;
    }
  }
}

TEST(CliBurn, OneDriveGivenTwiceIsRefusedAndAnEraseTheDriveRefusesSaysWhy) {
  ScratchFolder dir;
  int st = 0;
  std::string disc = dir / "d.vdisc";
  std::string out = Cli("virtual create --media dvd+rw " + disc, &st);
  ASSERT_EQ(st, 0) << out;
  out = Cli("burn --drive virtual:" + disc + " --drive virtual:" + dir.path() + "/./d.vdisc " VARNEX_SOURCE_DIR
            "/data/sample/README.txt", &st);
  EXPECT_NE(st, 0);
  EXPECT_NE(out.find("given twice"), std::string::npos) << out;
  out = Cli("disc-info --drive virtual:" + disc, &st);
  EXPECT_NE(out.find("blank: yes"), std::string::npos) << "nothing may be written\n" << out;
  // A DVD+RW whose drive cannot format is not erased, and the message says
  // which drive refused what.
  out = Cli("burn --drive virtual:" + disc + " " VARNEX_SOURCE_DIR "/data/sample/README.txt", &st);
  ASSERT_EQ(st, 0) << out;
  out = Cli("virtual fault --drive virtual:" + disc + " --no-erase", &st);
  ASSERT_EQ(st, 0) << out;
  out = Cli("erase --drive virtual:" + disc, &st);
  EXPECT_NE(st, 0) << out;
  EXPECT_NE(out.find("FORMAT UNIT"), std::string::npos) << out;
  EXPECT_NE(out.find("5/20/00"), std::string::npos) << out;
  EXPECT_NE(out.find(disc), std::string::npos) << out;
}

TEST(CliBurn, AFailedWriteNamesTheDriveAndSenseAndGoesIntoTheWriteLog) {
  ScratchFolder dir;
  int st = 0;
  std::string disc = dir / "d.vdisc";
  std::string out = Cli("virtual create --media cd-r " + disc, &st);
  ASSERT_EQ(st, 0) << out;
  out = Cli("virtual fault --drive virtual:" + disc + " --write-error 2 --sense 3/0C/02 --times 1000", &st);
  ASSERT_EQ(st, 0) << out;
  // The log goes to the program's own folder under the user's configuration.
  std::string program = dir.Mkdir("config") + "/varnex";
  out = RunTool("VARNEX_WRITE_LOG=1 XDG_CONFIG_HOME=" + dir / "config" + " " + VARNEX_CLI_PATH + " burn --drive virtual:" +
                    disc + " " VARNEX_SOURCE_DIR "/data/sample/README.txt",
                &st);
  EXPECT_NE(st, 0) << out;
  EXPECT_NE(out.find(disc), std::string::npos) << out;
  EXPECT_NE(out.find("WRITE at sector"), std::string::npos) << out;
  EXPECT_NE(out.find("3/0C/02"), std::string::npos) << out;
  bool logged = false;
  for (const std::string& line : ReadWriteLog(program + "/Record.log"))
    logged = logged || line.find("WRITE at sector") != std::string::npos;
  EXPECT_TRUE(logged) << "Record.log in the configuration folder holds the failed write";
}

TEST(CliBurn, SeveralDrivesBurnAtOnceAndOnlyTheFailingOneIsNamed) {
  ScratchFolder dir;
  int st = 0;
  std::vector<std::string> discs;
  for (int i = 0; i < 3; ++i) {
    discs.push_back(dir / ("d" + std::to_string(i) + ".vdisc"));
    std::string out = Cli("virtual create --media cd-r " + discs.back(), &st);
    ASSERT_EQ(st, 0) << out;
  }
  std::string out = Cli("virtual fault --drive virtual:" + discs[1] + " --write-error 2 --times 1000", &st);
  ASSERT_EQ(st, 0) << out;
  out = Cli("burn --drive virtual:" + discs[0] + " --drive virtual:" + discs[1] + " --drive virtual:" + discs[2] +
                " --label Sample " VARNEX_SOURCE_DIR "/data/sample",
            &st);
  EXPECT_NE(st, 0) << out;
  EXPECT_NE(out.find(discs[1]), std::string::npos) << "the failing drive is named\n" << out;
  EXPECT_NE(out.find("-113"), std::string::npos) << out;
  EXPECT_EQ(out.find(discs[0]), std::string::npos) << "a good drive is not named as failed\n" << out;
  std::string images[2];
  for (int i : {0, 2}) {
    const std::string iso = dir / ("d" + std::to_string(i) + ".iso");
    std::string exported = Cli("virtual export --drive virtual:" + discs[i] + " -o " + iso, &st);
    ASSERT_EQ(st, 0) << exported;
    images[i / 2] = ReadWholeFile(iso);
  }
  EXPECT_TRUE(images[0] == images[1]) << "the two good discs differ";
  out = RunTool("isoinfo -J -f -i " + (dir / "d0.iso"), &st);
  EXPECT_NE(out.find("/sample/README.txt"), std::string::npos) << out;
  out = Cli("burn --copies 2 --drive image:" + (dir / "x.iso") + " " VARNEX_SOURCE_DIR "/data/sample", &st);
  EXPECT_NE(st, 0);
  EXPECT_NE(out.find("written once"), std::string::npos) << out;
}
