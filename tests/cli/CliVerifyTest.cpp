// Reading discs back from the command line: --verify after a burn (data,
// audio, several recorders), verify against paths and images, the disc
// check with its plot and report, and the checksum list — all on virtual
// recorders that spoil a written sector or fail reads as a dying disc does.

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

// A CD-quality WAV file of `seconds` of noise.
std::string Wav(const ScratchFolder& dir, const std::string& name, int seconds, uint32_t seed) {
  const uint32_t bytes = uint32_t(seconds) * 44100 * 4;
  std::string h = "RIFF";
  auto le32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) h += char(v >> (8 * i)); };
  auto le16 = [&](uint16_t v) { h += char(v & 0xFF), h += char(v >> 8); };
  le32(36 + bytes);
  h += "WAVEfmt ";
  le32(16), le16(1), le16(2), le32(44100), le32(44100 * 4), le16(4), le16(16);
  h += "data";
  le32(bytes);
  const std::vector<uint8_t> pcm = PatternBytes(bytes, seed);
  return dir.Write(name, h + std::string(pcm.begin(), pcm.end()));
}

}  // namespace

TEST(CliVerify, DataBurnWithASpoiledSectorFailsNamingTheFileAndACleanOneVerifies) {
  ScratchFolder dir;
  const std::string src = Source(dir);
  const std::string good = NewDisc(dir, "good.vdisc", "dvd-r");
  CommandResult r = Cli("burn --verify --drive " + Quoted(good) + " " + Quoted(src));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "verified (")) << r.output;

  // The 300th sector written lies inside big.bin (the volume's own
  // structures take the first 266 sectors).
  const std::string bad = NewDisc(dir, "bad.vdisc", "dvd-r", "--corrupt-write 300");
  r = Cli("burn --verify --drive " + Quoted(bad) + " " + Quoted(src));
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "sector 299 ")) << r.output;
  EXPECT_TRUE(Has(r.output, "file src/big.bin")) << r.output;
  EXPECT_TRUE(Has(r.output, "(code -446)")) << r.output;

  // Without --verify the same spoiled burn passes unnoticed, as it used to.
  const std::string unseen = NewDisc(dir, "unseen.vdisc", "dvd-r", "--corrupt-write 300");
  r = Cli("burn --drive " + Quoted(unseen) + " " + Quoted(src));
  EXPECT_EQ(r.status, 0) << r.output;

  // verify finds it afterwards too, by content, naming the file.
  r = Cli("verify --drive " + Quoted(unseen) + " " + Quoted(src));
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "differs: src/big.bin")) << r.output;
}

TEST(CliVerify, AudioBurnWithASpoiledSectorNamesTheTrack) {
  ScratchFolder dir;
  const std::string a = Wav(dir, "a.wav", 5, 1), b = Wav(dir, "b.wav", 5, 2);
  const std::string good = NewDisc(dir, "good.vdisc", "cd-r");
  CommandResult r = Cli("burn --verify --audio --drive " + Quoted(good) + " " + Quoted(a) + " " + Quoted(b));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "verified (")) << r.output;
  // Each track holds 375 sectors, written without a gap between them: the
  // 600th stored lies in track 2 whether or not the pre-gap is counted.
  const std::string bad = NewDisc(dir, "bad.vdisc", "cd-r", "--corrupt-write 600");
  r = Cli("audio burn --verify --drive " + Quoted(bad) + " " + Quoted(a) + " " + Quoted(b));
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "audio track 2")) << r.output;
}

TEST(CliVerify, SeveralRecordersEachVerifyTheirOwnDiscAndTheBadOneIsNamed) {
  ScratchFolder dir;
  const std::string src = Source(dir);
  const std::string one = NewDisc(dir, "one.vdisc", "dvd-r");
  const std::string two = NewDisc(dir, "two.vdisc", "dvd-r", "--corrupt-write 300");
  CommandResult r = Cli("burn --verify --drive " + Quoted(one) + " --drive " + Quoted(two) + " " + Quoted(src));
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, one + ": verified (")) << r.output;
  EXPECT_TRUE(Has(r.output, two + ": verification failed: sector 299 ")) << r.output;
  EXPECT_FALSE(Has(r.output, one + ": verification failed")) << r.output;
}

TEST(CliVerify, VerifyNamesChangedMissingAndExtraFilesAndComparesImages) {
  ScratchFolder dir;
  const std::string src = Source(dir);
  dir.Write("src/gone.txt", "will be removed\n");
  const std::string disc = NewDisc(dir, "d.vdisc", "dvd-r");
  CommandResult r = Cli("burn --drive " + Quoted(disc) + " " + Quoted(src));
  ASSERT_EQ(r.status, 0) << r.output;
  r = Cli("verify --drive " + Quoted(disc) + " " + Quoted(src));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "0 differ, 0 missing, 0 extra")) << r.output;

  dir.Write("src/sub/note.txt", "another note\n");
  dir.Write("src/new.txt", "new\n");
  fs::remove(dir / "src/gone.txt");
  r = Cli("verify --drive " + Quoted(disc) + " " + Quoted(src));
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "differs: src/sub/note.txt (from byte 1)")) << r.output;
  EXPECT_TRUE(Has(r.output, "missing: src/new.txt")) << r.output;
  EXPECT_TRUE(Has(r.output, "extra: src/gone.txt")) << r.output;
  EXPECT_FALSE(Has(r.output, "big.bin")) << "an unchanged file is not named\n" << r.output;

  // An image: the disc exported is the same; one changed byte is found.
  r = Cli("virtual export --drive " + Quoted(disc) + " -o " + Quoted(dir / "d.iso"));
  ASSERT_EQ(r.status, 0) << r.output;
  r = Cli("verify --drive " + Quoted(disc) + " --image " + Quoted(dir / "d.iso"));
  EXPECT_EQ(r.status, 0) << r.output;
  {
    std::fstream f(dir / "d.iso", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(300 * 2048 + 5);
    f.put('\x55');
  }
  r = Cli("verify --drive " + Quoted(disc) + " --image " + Quoted(dir / "d.iso"));
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "sector 300 ")) << r.output;
  EXPECT_TRUE(Has(r.output, "file src/big.bin")) << r.output;
  EXPECT_NE(Cli("verify --drive " + Quoted(disc)).status, 0) << "a source is needed";
}


TEST(CliVerify, ACueSheetImageIsComparedTrackByTrackInItsOwnForm) {
  ScratchFolder dir;
  const std::string src = Source(dir);
  const std::string disc = NewDisc(dir, "d.vdisc", "cd-r");
  CommandResult r = Cli("burn --drive " + Quoted(disc) + " " + Quoted(src));
  ASSERT_EQ(r.status, 0) << r.output;
  r = Cli("virtual export --drive " + Quoted(disc) + " --cue " + Quoted(dir / "d.cue"));
  ASSERT_EQ(r.status, 0) << r.output;
  r = Cli("verify --drive " + Quoted(disc) + " --image " + Quoted(dir / "d.cue"));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "verified")) << r.output;
  {
    // One byte of the user data of sector 300, behind its 16 bytes of sync and header.
    std::fstream f(dir / "d.bin", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(300 * 2352 + 16 + 5);
    f.put('\x55');
  }
  r = Cli("verify --drive " + Quoted(disc) + " --image " + Quoted(dir / "d.cue"));
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "sector 300 ")) << r.output;
  EXPECT_TRUE(Has(r.output, "file src/big.bin")) << r.output;
  dir.Write("broken.cue", "FILE \"nothing.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
  r = Cli("verify --drive " + Quoted(disc) + " --image " + Quoted(dir / "broken.cue"));
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "broken.cue")) << r.output;
}
