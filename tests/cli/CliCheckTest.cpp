// The disc check from the command line, with its plot and report, and the
// checksum list of analyse --md5, on virtual recorders whose reads fail as a
// dying disc's do.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "cli/CliDiscSupport.h"

namespace fs = std::filesystem;

namespace {

using clidisc::Cli;
using clidisc::Has;
using clidisc::NewDisc;
using clidisc::Source;

}  // namespace

TEST(CliCheck, CheckListsExactlyTheUnreadableRangesWithTheirFilesAndDrawsThem) {
  ScratchFolder dir;
  const std::string src = Source(dir);
  const std::string disc = NewDisc(dir, "d.vdisc", "dvd-r");
  ASSERT_EQ(Cli("burn --drive " + Quoted(disc) + " " + Quoted(src)).status, 0);
  CommandResult r = Cli("check --drive " + Quoted(disc));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "Every sector is readable")) << r.output;

  ASSERT_EQ(Cli("virtual fault --drive " + Quoted(disc) + " --unreadable 300-309 --unreadable 20").status, 0);
  r = Cli("check --drive " + Quoted(disc) + " --plot " + Quoted(dir / "p.svg") + " --report " + Quoted(dir / "r.txt"));
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "Unreadable: 11 sectors in 2 ranges")) << r.output;
  EXPECT_TRUE(Has(r.output, "  20-20 (00:02:20-00:02:20): the directory area of track 1\n")) << r.output;
  EXPECT_TRUE(Has(r.output, "  300-309 (00:06:00-00:06:09): src/big.bin\n")) << r.output;
  EXPECT_EQ(ReadWholeFile(dir / "r.txt").find("Unreadable: 11 sectors"), ReadWholeFile(dir / "r.txt").find("Unreadable"));
  EXPECT_TRUE(Has(ReadWholeFile(dir / "r.txt"), "300-309")) << "the report file holds what was shown";
  if (HaveTool("xmllint")) EXPECT_EQ(RunCommand("xmllint --noout " + Quoted(dir / "p.svg")).status, 0);

  r = Cli("check --drive " + Quoted(disc) + " --plot " + Quoted(dir / "p.png"));
  EXPECT_NE(r.status, 0) << r.output;
  // The PNG decodes: its image data inflates to exactly the rows it declares.
  r = RunCommand("python3 -c \"import zlib,struct,sys\nd=open(sys.argv[1],'rb').read()\nw,h=struct.unpack('>II',d[16:24])\n"
                 "i=8\nz=b''\nwhile i<len(d):\n n=struct.unpack('>I',d[i:i+4])[0]; t=d[i+4:i+8]\n"
                 " z+=d[i+8:i+8+n] if t==b'IDAT' else b''\n i+=12+n\nassert len(zlib.decompress(z))==h*(1+3*w)\n\" " +
                 Quoted(dir / "p.png"));
  EXPECT_EQ(r.status, 0) << r.output;
  // An existing plot is kept unless --replace.
  r = Cli("check --drive " + Quoted(disc) + " --plot " + Quoted(dir / "p.png"));
  EXPECT_TRUE(Has(r.output, "exists")) << r.output;

  const std::string blank = NewDisc(dir, "blank.vdisc", "cd-r");
  r = Cli("check --drive " + Quoted(blank));
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "the disc is blank")) << r.output;
}

TEST(CliCheck, Md5ListIsReadByMd5sumInTheExtractedFiles) {
  ScratchFolder dir;
  const std::string src = Source(dir);
  const std::string disc = NewDisc(dir, "d.vdisc", "cd-r");
  ASSERT_EQ(Cli("burn --drive " + Quoted(disc) + " " + Quoted(src)).status, 0);
  CommandResult r = Cli("analyse --drive " + Quoted(disc) + " --md5 " + Quoted(dir / "sums.md5"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Has(ReadWholeFile(dir / "sums.md5"), "  src/big.bin\n"));
  ASSERT_EQ(Cli("extract-files --drive " + Quoted(disc) + " -o " + Quoted(dir / "out")).status, 0);
  r = RunCommand("cd " + Quoted(dir / "out") + " && md5sum -c " + Quoted(dir / "sums.md5"));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "src/sub/note.txt: OK")) << r.output;
  WriteBytes(dir, "out/src/big.bin", PatternBytes(600 * 1024, 9));
  EXPECT_NE(RunCommand("cd " + Quoted(dir / "out") + " && md5sum -c " + Quoted(dir / "sums.md5")).status, 0)
      << "the list is no list of names only";
}
