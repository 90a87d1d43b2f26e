// Images made by varnex-cli, read back by tools that nobody here wrote.

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <regex>

#include "support/RunCommand.h"
#include "support/TestFolders.h"

namespace {

std::string Cli() { return Quoted(VARNEX_CLI_PATH); }

void MakeTree(const ScratchFolder& src) {
  src.Write("deep/l2/l3/l4/l5/l6/l7/l8/bottom.txt", "eight levels down\n");
  for (int i = 0; i < 300; ++i) src.Write("many/file_" + std::to_string(i) + ".dat", std::to_string(i));
  src.Write("many/empty.txt", "");
  src.Write("empty", "");
  src.Mkdir("empty folder");
  src.Write("report-jan1.txt", "first\n");   // both shorten to report-j.txt;1
  src.Write("report-jan2.txt", "second\n");
  src.Write("Ünïcode ñame.txt", "u\n");
  src.Write("日本語 ファイル.txt", "j\n");
  src.Write("with  blanks .txt", "b\n");
  std::mt19937 gen(7);
  std::string big(30 << 20, '\0');
  for (char& c : big) c = char(gen());
  src.Write("big.bin", big);
}

// Runs a reader; it must succeed and say nothing alarming.
void ExpectClean(const std::string& command) {
  CommandResult r = RunCommand(command);
  EXPECT_EQ(r.status, 0) << command << "\n" << r.output;
  EXPECT_FALSE(std::regex_search(r.output, std::regex("SORRY|FAILURE|WARNING|[Ww]arning|[Ee]rror")))
      << command << "\n" << r.output;
}

void ExpectSameTree(const std::string& extracted, const std::string& source) {
  CommandResult r = RunCommand("diff -r " + Quoted(extracted) + " " + Quoted(source));
  EXPECT_EQ(r.status, 0) << r.output;
}

void CheckImage(const std::string& iso, const std::string& source) {
  ExpectClean("isoinfo -d -i " + Quoted(iso));
  ExpectClean("isoinfo -l -i " + Quoted(iso));
  ExpectClean("isoinfo -J -l -i " + Quoted(iso));
  ExpectClean("xorriso -indev " + Quoted(iso) + " -find /");
  ExpectClean("7zz t " + Quoted(iso));
  ExpectClean("iso-info -i " + Quoted(iso) + " -l");
  ScratchFolder out;
  ASSERT_EQ(RunCommand("7zz x -o" + Quoted(out / "7z") + " " + Quoted(iso)).status, 0);
  std::filesystem::create_directories(out / "7z");
  ExpectSameTree(out / "7z", source);
  ASSERT_EQ(RunCommand("xorriso -osirrox on -indev " + Quoted(iso) + " -extract / " + Quoted(out / "x")).status, 0);
  std::filesystem::create_directories(out / "x");
  // Folders deeper than ISO 9660 allows were moved into ".rr_moved"; Rock
  // Ridge readers show them where they belong and that folder empty.
  const std::string moved = out / "x/.rr_moved";
  if (std::filesystem::exists(moved)) {
    EXPECT_TRUE(std::filesystem::is_empty(moved));
    std::filesystem::remove(moved);
  }
  ExpectSameTree(out / "x", source);
}

}  // namespace

TEST(IndependentReaders, AcceptAndExtractAVariedTree) {
  ScratchFolder src, out;
  MakeTree(src);
  CommandResult r = RunCommand(Cli() + " image -o " + Quoted(out / "t.iso") + " --label \"Mixed tree\" " +
                               Quoted(src.path()) + "/*");
  ASSERT_EQ(r.status, 0) << r.output;
  CheckImage(out / "t.iso", src.path());
  CommandResult joliet = RunCommand("isoinfo -J -l -i " + Quoted(out / "t.iso"));
  EXPECT_NE(joliet.output.find("report-jan2.txt;1"), std::string::npos);  // whole names in Joliet
  CommandResult iso = RunCommand("isoinfo -l -i " + Quoted(out / "t.iso"));
  EXPECT_NE(iso.output.find("report-j.txt;1"), std::string::npos);
  EXPECT_NE(iso.output.find("report-1.txt;1"), std::string::npos);
  EXPECT_NE(RunCommand("isoinfo -d -i " + Quoted(out / "t.iso")).output.find("Volume id: Mixed tree"),
            std::string::npos);
}

TEST(IndependentReaders, AcceptAnEmptyProjectAndAProjectFile) {
  ScratchFolder src, out;
  src.Mkdir("nothing");
  ASSERT_EQ(RunCommand(Cli() + " image -o " + Quoted(out / "e.iso") + " " + Quoted(src / "nothing")).status, 0);
  CheckImage(out / "e.iso", src.path());
  EXPECT_EQ(std::filesystem::file_size(out / "e.iso"), 600u * 2048);

  src.Write("docs/a.txt", "a");
  ASSERT_EQ(RunCommand(Cli() + " project save -o " + Quoted(out / "p.bcd") + " --label Saved " +
                       Quoted(src / "docs")).status, 0);
  CommandResult show = RunCommand(Cli() + " project show " + Quoted(out / "p.bcd"));
  EXPECT_EQ(show.status, 0);
  EXPECT_NE(show.output.find("label: Saved"), std::string::npos);
  EXPECT_NE(show.output.find("\\docs\\a.txt  <-  " + src / "docs/a.txt"), std::string::npos) << show.output;
  ASSERT_EQ(RunCommand(Cli() + " image -o " + Quoted(out / "p.iso") + " --project " + Quoted(out / "p.bcd")).status, 0);
  EXPECT_NE(RunCommand("isoinfo -d -i " + Quoted(out / "p.iso")).output.find("Volume id: Saved"), std::string::npos);
}

TEST(IndependentReaders, FailuresNameWhatFailedAndWriteNothing) {
  ScratchFolder src, out;
  CommandResult missing = RunCommand(Cli() + " image -o " + Quoted(out / "m.iso") + " " + Quoted(src / "nope"));
  EXPECT_NE(missing.status, 0);
  EXPECT_NE(missing.output.find("code -906"), std::string::npos) << missing.output;
  EXPECT_FALSE(std::filesystem::exists(out / "m.iso"));

  std::string damaged = out.Write("d.bcd", std::string("\x00\x01\x00\x00\x02", 5) + std::string(20, 'x'));
  CommandResult bad = RunCommand(Cli() + " image -o " + Quoted(out / "d.iso") + " --project " + Quoted(damaged));
  EXPECT_NE(bad.status, 0);
  EXPECT_NE(bad.output.find("code -901"), std::string::npos) << bad.output;

  std::string longName = std::string(120, 'L') + ".txt";
  src.Write("long/" + longName, "x");
  CommandResult shortened = RunCommand(Cli() + " image -o " + Quoted(out / "l.iso") + " " + Quoted(src / "long"));
  EXPECT_EQ(shortened.status, 0);
  EXPECT_NE(shortened.output.find("Joliet name was shortened"), std::string::npos) << shortened.output;
  ScratchFolder x;
  RunCommand("7zz x -o" + Quoted(x.path()) + " " + Quoted(out / "l.iso"));
  EXPECT_TRUE(std::filesystem::exists(x / ("long/" + std::string(99, 'L') + ".txt")));
}
