// CUE images burnt from the command line come out on the disc as the sheet
// describes them, and the disc exported again gives the image back.

#include <gtest/gtest.h>

#include <cstring>

#include "DevTypes.h"
#include "VirtualRecorder.h"
#include "cli/CliDiscSupport.h"
#include "support/TestFolders.h"

using namespace clidisc;

namespace {

std::string WithoutFileLine(std::string cue) {
  const size_t file = cue.find("FILE \"");
  if (file != std::string::npos) cue.erase(file, cue.find('\n', file) - file);
  return cue;
}

std::vector<uint8_t> Wav(const std::vector<uint8_t>& pcm, int channels) {
  const uint32_t n = uint32_t(pcm.size());
  const uint32_t rate = 44100, align = uint32_t(channels) * 2, bps = rate * align;
  std::vector<uint8_t> h = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0,
                            uint8_t(channels), 0};
  for (uint32_t v : {rate, bps}) h.insert(h.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
  h.insert(h.end(), {uint8_t(align), 0, 16, 0, 'd', 'a', 't', 'a', uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16),
                     uint8_t(n >> 24)});
  h.insert(h.end(), pcm.begin(), pcm.end());
  return h;
}

bool DiscIsBlank(const std::string& drive) {
  VirtualRecorder r;
  std::string error;
  return r.Open(drive.substr(8), &error) && r.Model().tracks.empty();
}

// Where the exported sheet puts INDEX 01 of track `n`, in sectors.
int32_t Index01(const std::string& cue, int n) {
  const std::string track = std::string("TRACK ") + (n < 10 ? "0" : "") + std::to_string(n);
  const size_t at = cue.find("INDEX 01 ", cue.find(track));
  int m = 0, s = 0, f = 0;
  if (at == std::string::npos || std::sscanf(cue.c_str() + at + 9, "%d:%d:%d", &m, &s, &f) != 3) return -1;
  return (m * 60 + s) * 75 + f;
}

}  // namespace

TEST(CliCueImage, GaplessSheetBurntAndExportedIsTheImageByteForByte) {
  ScratchFolder dir;
  const std::vector<uint8_t> bin = PatternBytes(size_t(2352) * 900, 5);
  WriteBytes(dir, "img.bin", bin);
  // Written as an export writes a sheet, so that the two can be compared whole.
  const std::string cue =
      "CATALOG 0123456789012\n"
      "TITLE \"Album\"\n"
      "PERFORMER \"Band\"\n"
      "SONGWRITER \"Writer\"\n"
      "FILE \"img.bin\" BINARY\n"
      "  TRACK 01 AUDIO\n"
      "    TITLE \"One\"\n"
      "    PERFORMER \"P1\"\n"
      "    FLAGS DCP\n"
      "    ISRC USABC2600001\n"
      "    INDEX 01 00:00:00\n"
      "    INDEX 02 00:01:25\n"
      "    INDEX 03 00:03:00\n"
      "  TRACK 02 AUDIO\n"
      "    TITLE \"Two\"\n"
      "    PERFORMER \"P2\"\n"
      "    FLAGS DCP 4CH PRE\n"
      "    INDEX 01 00:05:00\n"
      "  TRACK 03 AUDIO\n"
      "    TITLE \"Three\"\n"
      "    PERFORMER \"P3\"\n"
      "    ISRC GBXYZ2600017\n"
      "    INDEX 00 00:08:00\n"
      "    INDEX 01 00:08:50\n"
      "    INDEX 02 00:10:00\n";
  dir.Write("img.cue", cue);
  const std::string disc = NewDisc(dir, "d.vdisc", "cd-r");
  CommandResult r = Cli("burn --drive " + Quoted(disc) + " --image " + Quoted(dir / "img.cue"));
  ASSERT_EQ(0, r.status) << r.output;
  r = Cli("virtual export --drive " + Quoted(disc) + " --cue " + Quoted(dir / "out.cue"));
  ASSERT_EQ(0, r.status) << r.output;
  const std::string out = ReadWholeFile(dir / "out.bin");
  EXPECT_EQ(bin.size(), out.size());
  EXPECT_TRUE(std::string(bin.begin(), bin.end()) == out) << "the disc differs from the image";
  EXPECT_EQ(WithoutFileLine(cue), WithoutFileLine(ReadWholeFile(dir / "out.cue")));

  // A pressed disc made from the sheet holds the same.
  r = Cli("virtual create --media audio --cue " + Quoted(dir / "img.cue") + " " + Quoted(dir / "p.vdisc"));
  ASSERT_EQ(0, r.status) << r.output;
  r = Cli("virtual export --drive " + Quoted("virtual:" + (dir / "p.vdisc")) + " --cue " + Quoted(dir / "p.cue"));
  ASSERT_EQ(0, r.status) << r.output;
  EXPECT_TRUE(ReadWholeFile(dir / "p.bin") == out);
  EXPECT_EQ(WithoutFileLine(cue), WithoutFileLine(ReadWholeFile(dir / "p.cue")));

  if (!HaveTool("cd-info")) GTEST_SKIP() << "cd-info is not installed";
  r = RunCommand("cd-info --no-cddb --no-device-info --cue-file " + Quoted(dir / "out.cue"));
  EXPECT_TRUE(Has(r.output, "Media Catalog Number (MCN): 0123456789012")) << r.output;
  EXPECT_TRUE(Has(r.output, "TITLE: Album") && Has(r.output, "TITLE: Three") && Has(r.output, "PERFORMER: P2"))
      << r.output;
  EXPECT_TRUE(Has(r.output, "  2: 00:07:00  000375 audio  false  yes   4        yes")) << r.output;
}

TEST(CliCueImage, FilesOfEveryKindGapsAndDataLandWhereTheSheetPutsThem) {
  ScratchFolder dir;
  const std::vector<uint8_t> data = PatternBytes(size_t(2048) * 300, 1);
  const std::vector<uint8_t> pcm = PatternBytes(size_t(2352) * 250, 2);
  const std::vector<uint8_t> big = PatternBytes(size_t(2352) * 200, 3);  // big-endian samples
  WriteBytes(dir, "d.iso", data);
  WriteBytes(dir, "w.wav", Wav(pcm, 2));
  WriteBytes(dir, "m.raw", big);
  const std::vector<uint8_t> packs = BuildCdTextPacks({{"From the file", "", "Wave", "Motorola"}});
  WriteBytes(dir, "t.cdt", packs);
  dir.Write("img.cue",
            "CDTEXTFILE \"t.cdt\"\n"
            "TITLE \"Overruled by the file\"\n"
            "FILE \"d.iso\" BINARY\n"
            "  TRACK 01 MODE1/2048\n"
            "    INDEX 01 00:00:00\n"
            "FILE \"w.wav\" WAVE\n"
            "  TRACK 02 AUDIO\n"
            "    PREGAP 00:02:00\n"
            "    INDEX 01 00:00:00\n"
            "FILE \"m.raw\" MOTOROLA\n"
            "  TRACK 03 AUDIO\n"
            "    INDEX 01 00:00:00\n"
            "    POSTGAP 00:01:00\n");
  const std::string disc = NewDisc(dir, "d.vdisc", "cd-r");
  CommandResult r = Cli("burn --drive " + Quoted(disc) + " --image " + Quoted(dir / "img.cue"));
  ASSERT_EQ(0, r.status) << r.output;
  r = Cli("virtual export --drive " + Quoted(disc) + " --cue " + Quoted(dir / "out.cue"));
  ASSERT_EQ(0, r.status) << r.output;
  const std::string cue = ReadWholeFile(dir / "out.cue");
  const std::string out = ReadWholeFile(dir / "out.bin");
  EXPECT_TRUE(Has(cue, "TITLE \"From the file\"\n") && Has(cue, "TITLE \"Motorola\"")) << cue;
  EXPECT_FALSE(Has(cue, "Overruled")) << cue;
  EXPECT_TRUE(Has(cue, "TRACK 01 MODE1/2352") && Has(cue, "TRACK 02 AUDIO")) << cue;
  ASSERT_EQ(0, Index01(cue, 1));
  const int32_t wave = Index01(cue, 2), motorola = Index01(cue, 3);
  EXPECT_EQ(300 + 150, wave) << cue;  // the data, then the two seconds of PREGAP
  EXPECT_EQ(wave + 250, motorola) << cue;
  ASSERT_GE(out.size(), size_t(motorola + 200 + 75) * 2352) << "the POSTGAP belongs to the disc";
  for (int32_t i = 0; i < 300; ++i)
    ASSERT_EQ(0, std::memcmp(out.data() + size_t(i) * 2352 + 16, data.data() + size_t(i) * 2048, 2048)) << i;
  EXPECT_EQ(0, std::memcmp(out.data() + size_t(wave) * 2352, pcm.data(), pcm.size()));
  std::vector<uint8_t> swapped = big;
  for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
  EXPECT_EQ(0, std::memcmp(out.data() + size_t(motorola) * 2352, swapped.data(), swapped.size()));
  for (int32_t lba = wave - 150; lba < wave; ++lba)
    ASSERT_TRUE(std::all_of(out.begin() + long(lba) * 2352, out.begin() + long(lba + 1) * 2352,
                            [](char c) { return c == 0; }))
        << "the PREGAP is silence, sector " << lba;
}

TEST(CliCueImage, BadSheetsAreRefusedAndTheDiscStaysBlank) {
  ScratchFolder dir;
  WriteBytes(dir, "a.bin", PatternBytes(size_t(2352) * 600, 1));
  WriteBytes(dir, "mono.wav", Wav(PatternBytes(size_t(2352) * 100, 2), 1));
  const std::string head = "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n";
  struct Case {
    const char* name;
    std::string sheet;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"missing", "FILE \"gone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", "gone.bin is missing"},
      {"mono", "FILE \"mono.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", "16-bit stereo PCM at 44.1 kHz"},
      {"two-before-one", head + "    INDEX 02 00:01:00\n    INDEX 01 00:00:00\n", "INDEX 02 out of order"},
      {"three-without-two", head + "    INDEX 01 00:00:00\n    INDEX 03 00:01:00\n", "INDEX 03 out of order"},
      {"backwards", head + "    INDEX 01 00:02:00\n    INDEX 02 00:01:00\n", "not later than the index before it"},
      {"zero-after-one", head + "    INDEX 01 00:02:00\n    INDEX 00 00:01:00\n", "INDEX 00 out of order"},
      {"past-the-end", head + "    INDEX 01 00:00:00\n    INDEX 02 00:09:00\n", "index point past its end"},
      {"bad-isrc", head + "    ISRC USABC26000X1\n    INDEX 01 00:00:00\n", "ISRC needs"},
  };
  for (const Case& c : cases) {
    dir.Write(std::string(c.name) + ".cue", c.sheet);
    const std::string disc = NewDisc(dir, std::string(c.name) + ".vdisc", "cd-r");
    CommandResult r = Cli("burn --drive " + Quoted(disc) + " --image " + Quoted(dir / (std::string(c.name) + ".cue")));
    EXPECT_NE(0, r.status) << c.name << ": " << r.output;
    EXPECT_TRUE(Has(r.output, c.says)) << c.name << ": " << r.output;
    EXPECT_TRUE(DiscIsBlank(disc)) << c.name;
  }
}

TEST(CliCueImage, SheetOfTwoSessionsIsWrittenSessionBySessionAndExportedAsItWas) {
  ScratchFolder dir;
  const std::vector<uint8_t> bin = PatternBytes(size_t(2352) * 1000, 7);
  WriteBytes(dir, "img.bin", bin);
  dir.Write("img.cue",
            "TITLE \"Album\"\n"
            "FILE \"img.bin\" BINARY\n"
            "  TRACK 01 AUDIO\n"
            "    TITLE \"One\"\n"
            "    INDEX 01 00:00:00\n"
            "    INDEX 02 00:02:00\n"
            "  TRACK 02 AUDIO\n"
            "    TITLE \"Two\"\n"
            "    INDEX 01 00:05:00\n"
            "REM SESSION 02\n"
            "  TRACK 03 AUDIO\n"
            "    TITLE \"Three\"\n"
            "    PERFORMER \"P3\"\n"
            "    ISRC GBXYZ2600017\n"
            "    INDEX 01 00:09:00\n");
  const std::string disc = NewDisc(dir, "d.vdisc", "cd-r");
  CommandResult r = Cli("burn --drive " + Quoted(disc) + " --image " + Quoted(dir / "img.cue"));
  ASSERT_EQ(0, r.status) << r.output;
  r = Cli("virtual export --drive " + Quoted(disc) + " --cue " + Quoted(dir / "out.cue"));
  ASSERT_EQ(0, r.status) << r.output;
  const std::string cue = ReadWholeFile(dir / "out.cue");
  const std::string out = ReadWholeFile(dir / "out.bin");
  // Gapless with its index point in the first session; the second session
  // behind the first's lead-out and the lead-in and pre-gap of its own.
  EXPECT_EQ(0, Index01(cue, 1));
  EXPECT_EQ(375, Index01(cue, 2)) << cue;
  EXPECT_EQ(675 + 11400, Index01(cue, 3)) << cue;
  EXPECT_TRUE(Has(cue, "    INDEX 02 00:02:00\n")) << cue;
  EXPECT_TRUE(Has(cue, "REM SESSION 02\n  TRACK 03 AUDIO\n    TITLE \"Three\"\n    PERFORMER \"P3\"\n    ISRC GBXYZ2600017\n"))
      << cue;
  ASSERT_EQ(size_t(675 + 11400 + 325) * 2352, out.size());
  EXPECT_EQ(0, std::memcmp(out.data(), bin.data(), size_t(675) * 2352)) << "the first session differs";
  EXPECT_EQ(0, std::memcmp(out.data() + size_t(675 + 11400) * 2352, bin.data() + size_t(675) * 2352, size_t(325) * 2352))
      << "the second session differs";

  // The export burnt again is the same disc.
  const std::string again = NewDisc(dir, "again.vdisc", "cd-r");
  r = Cli("burn --drive " + Quoted(again) + " --image " + Quoted(dir / "out.cue"));
  ASSERT_EQ(0, r.status) << r.output;
  r = Cli("virtual export --drive " + Quoted(again) + " --cue " + Quoted(dir / "again.cue"));
  ASSERT_EQ(0, r.status) << r.output;
  EXPECT_EQ(WithoutFileLine(cue), WithoutFileLine(ReadWholeFile(dir / "again.cue")));
  EXPECT_TRUE(ReadWholeFile(dir / "again.bin") == out);

  // Track at once is for images of one session: the first session would
  // close the disc.
  const std::string tao = NewDisc(dir, "tao.vdisc", "cd-r");
  r = Cli("burn --tao --drive " + Quoted(tao) + " --image " + Quoted(dir / "img.cue"));
  EXPECT_EQ(2, r.status) << r.output;
  EXPECT_TRUE(Has(r.output, "has 2 sessions, which are written a session at once only")) << r.output;
  EXPECT_TRUE(DiscIsBlank(tao));
  dir.Write("one.cue", ReadWholeFile(dir / "img.cue").substr(0, ReadWholeFile(dir / "img.cue").find("REM SESSION")));
  r = Cli("burn --tao --drive " + Quoted(tao) + " --image " + Quoted(dir / "one.cue"));
  ASSERT_EQ(0, r.status) << r.output;
  r = Cli("virtual export --drive " + Quoted(tao) + " --cue " + Quoted(dir / "tao.cue"));
  ASSERT_EQ(0, r.status) << r.output;
  EXPECT_GE(Index01(ReadWholeFile(dir / "tao.cue"), 2), 375 + 150) << "each track after a gap";

  if (!HaveTool("cd-info")) GTEST_SKIP() << "cd-info is not installed";
  r = RunCommand("cd-info --no-cddb --no-device-info --cue-file " + Quoted(dir / "out.cue"));
  EXPECT_TRUE(Has(r.output, "TITLE: Three") && Has(r.output, "TITLE: Two")) << r.output;
  EXPECT_TRUE(Has(r.output, "  3: ")) << r.output;
}
