// TOC files read as disc images. cdrdao's show-toc and toc2cue read the same
// files as a check on the addresses; the sectors are read back through the
// image-file device and compared with the files' bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>

#include "ByteFields.h"
#include "ImageLayout.h"
#include "KestrineTestUtil.h"

using ktest::Pattern;
using ktest::ScratchDir;
using ktest::Shell;

namespace {

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Bytes(size_t n, uint32_t seed) {
  auto p = Pattern(n, seed);
  return std::string(p.begin(), p.end());
}

// A WAVE file of 16-bit stereo PCM at 44.1 kHz around `pcm`.
std::string Wave(const std::string& pcm) {
  std::string h = "RIFF" + std::string(4, 0) + "WAVEfmt " + std::string("\x10\0\0\0\x01\0\x02\0", 8);
  uint8_t b[8];
  bytes::PutLE32(b, 44100), bytes::PutLE32(b + 4, 44100 * 4);
  h += std::string(reinterpret_cast<char*>(b), 8) + std::string("\x04\0\x10\0", 4) + "data";
  bytes::PutLE32(b, uint32_t(pcm.size()));
  return h + std::string(reinterpret_cast<char*>(b), 4) + pcm;
}

std::string Swapped(std::string s) {
  for (size_t i = 0; i + 1 < s.size(); i += 2) std::swap(s[i], s[i + 1]);
  return s;
}

// What cdrdao's show-toc makes of a TOC or CUE file: per track the first
// sector of its pre-gap, its start and its end.
struct OracleTrack {
  int32_t index0 = 0, start = 0, end = 0;
};
std::vector<OracleTrack> ShowToc(const ScratchDir& dir, const std::string& name) {
  std::string out;
  EXPECT_EQ(0, Shell("cd " + dir.path() + " && cdrdao show-toc " + name + " 2>&1", &out)) << out;
  std::vector<OracleTrack> tracks;
  std::smatch m;
  std::regex line(R"((PREGAP|START|END)\*?\s+\d+:\d+:\d+\(\s*(\d+)\))");
  int32_t pregap = 0;
  for (auto it = out.cbegin(); std::regex_search(it, out.cend(), m, line); it = m.suffix().first) {
    const int32_t n = std::stoi(m[2]);
    if (m[1] == "PREGAP") pregap = n;
    if (m[1] == "START") tracks.push_back({n - pregap, n, 0}), pregap = 0;
    if (m[1] == "END" && !tracks.empty()) tracks.back().end = n;
  }
  EXPECT_FALSE(tracks.empty()) << out;
  return tracks;
}

// The sectors where cdrdao's show-toc puts the index points above 1 of a track.
std::vector<int32_t> ShowTocIndexes(const ScratchDir& dir, const std::string& name, int track) {
  std::string out;
  EXPECT_EQ(0, Shell("cd " + dir.path() + " && cdrdao show-toc " + name + " 2>&1", &out)) << out;
  std::vector<int32_t> at;
  const size_t from = out.find("TRACK " + std::string(track < 10 ? " " : "") + std::to_string(track) + " ");
  if (from == std::string::npos) return {};
  const size_t to = out.find("TRACK ", from + 6);
  const std::string part = out.substr(from, to == std::string::npos ? std::string::npos : to - from);
  std::smatch m;
  std::regex line(R"(INDEX\s+\d+\s+\d+:\d+:\d+\(\s*(\d+)\))");
  for (auto it = part.cbegin(); std::regex_search(it, part.cend(), m, line); it = m.suffix().first)
    at.push_back(std::stoi(m[1]));
  return at;
}

void ExpectSameAddresses(const std::vector<OracleTrack>& oracle, const ImageLayout& layout) {
  ASSERT_EQ(oracle.size(), layout.tracks.size());
  for (size_t i = 0; i < oracle.size(); ++i) {
    EXPECT_EQ(oracle[i].index0, layout.notes[i].index0) << "pre-gap of track " << i + 1;
    EXPECT_EQ(oracle[i].start, layout.tracks[i].start) << "start of track " << i + 1;
    EXPECT_EQ(oracle[i].end, layout.tracks[i].start + layout.tracks[i].size) << "end of track " << i + 1;
  }
}

ImageLayout Read(const std::string& path) {
  ImageLayout layout;
  std::string why;
  EXPECT_TRUE(ReadImageLayout(path, layout, &why)) << why;
  return layout;
}

std::string Sector(CDevCmdRW& d, uint32_t lba) {
  uint8_t raw[2352] = {};
  if (d.ReadCD_All(raw, 2352, 1, lba) != DEV_OK) return "unreadable: " + ktest::SenseOf(d);
  return std::string(reinterpret_cast<char*>(raw), 2352);
}

}  // namespace

TEST(TocFile, AudioPairWithAPreGapMatchesItsCueSheetAndCdrdao) {
  ScratchDir dir;
  const std::string bin = Bytes(300 * 2352, 7);
  WriteFile(dir / "a.bin", bin);
  WriteFile(dir / "a.cue",
            "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 00 00:01:00\n    INDEX 01 00:01:50\n");
  // The same disc as a TOC: the file's samples are in the CD's byte order.
  WriteFile(dir / "a.toc",
            "CD_DA // two tracks\n"
            "TRACK AUDIO\nFILE \"a.bin\" SWAP 0 00:01:00\n"
            "TRACK AUDIO\nFILE \"a.bin\" SWAP 00:01:00\nSTART 00:00:50\n");
  const ImageLayout toc = Read(dir / "a.toc");
  ASSERT_EQ(2u, toc.tracks.size());
  EXPECT_TRUE(toc.fromSheet);
  ExpectSameAddresses(ShowToc(dir, "a.toc"), toc);
  ExpectSameAddresses(ShowToc(dir, "a.cue"), toc);
  EXPECT_EQ(125, toc.tracks[1].start) << "index 1 is 50 sectors into the second piece";
  // toc2cue's sheet of the TOC reads as the same disc.
  std::string out;
  ASSERT_EQ(0, Shell("cd " + dir.path() + " && toc2cue a.toc back.cue 2>&1", &out)) << out;
  const ImageLayout back = Read(dir / "back.cue");
  ASSERT_EQ(2u, back.tracks.size());
  EXPECT_EQ(back.tracks[1].start, toc.tracks[1].start);
  EXPECT_EQ(back.notes[1].index0, toc.notes[1].index0);

  // The pre-gap's sectors come from the file (the device answers only for
  // the tracks themselves).
  bool gapFromFile = false;
  for (const ImageExtent& e : toc.extents)
    if (e.lba == 75) gapFromFile = e.file == 0 && e.offset == 75u * 2352 && e.count == 225 && !e.swapBytes;
  EXPECT_TRUE(gapFromFile);
  CDevCmdRW d;
  ASSERT_TRUE(d.SetImageFile((dir / "a.toc").c_str())) << d.GetLastOpenError();
  for (uint32_t lba : {0u, 74u, 125u, 299u})
    EXPECT_EQ(bin.substr(lba * 2352, 2352), Sector(d, lba)) << "LBA " << lba;
}

TEST(TocFile, MixedModeDiscTakesFlagsCodesAndCdTextAndReadsEachFilesBytes) {
  ScratchDir dir;
  const std::string data = Bytes(200 * 2048, 1), pcm = Bytes(100 * 2352, 2), raw = Bytes(80 * 2352, 3);
  WriteFile(dir / "d.iso", data);
  WriteFile(dir / "song.wav", Wave(pcm));
  WriteFile(dir / "r.cdr", raw);
  WriteFile(dir / "m.toc",
            "CD_ROM\nCATALOG \"0123456789012\"\n"
            "CD_TEXT { LANGUAGE_MAP { 0 : EN } LANGUAGE 0 { TITLE \"Al\\\"bum\" PERFORMER \"Band\"\n"
            "  GENRE { 0, 1, 2 } } }\n"
            "TRACK MODE1\nDATAFILE \"d.iso\"\nZERO MODE1 00:02:00 // post-gap\n"
            "TRACK AUDIO\nCOPY\nPRE_EMPHASIS\nISRC \"DEXXX9800001\"\n"
            "CD_TEXT { LANGUAGE 0 { TITLE \"First\" SONGWRITER \"Writer\" } }\n"
            "SILENCE 00:02:00\nSTART\nFILE \"song.wav\" 0\n"
            "TRACK AUDIO\nFOUR_CHANNEL_AUDIO\nNO COPY\nAUDIOFILE \"r.cdr\" #2352 0 00:00:40\n"
            "SILENCE 588\nFILE \"r.cdr\" 00:00:60 00:00:10\nINDEX 00:00:10\n");
  const ImageLayout layout = Read(dir / "m.toc");
  ASSERT_EQ(3u, layout.tracks.size());
  ExpectSameAddresses(ShowToc(dir, "m.toc"), layout);
  EXPECT_EQ(cdsector::Mode::Mode1, layout.tracks[0].mode);
  EXPECT_EQ(350, layout.tracks[0].size) << "the zeros are part of the data track";
  EXPECT_EQ(cdsector::Mode::Audio, layout.tracks[1].mode);
  EXPECT_EQ("0123456789012", layout.catalog);
  EXPECT_EQ(0x3, layout.notes[1].flags);
  EXPECT_EQ("DEXXX9800001", layout.notes[1].isrc);
  EXPECT_EQ(0x8, layout.notes[2].flags);
  FS_CDTEXT_INFO text;
  ASSERT_TRUE(ParseCdTextPacks(layout.cdText.data(), layout.cdText.size(), text));
  EXPECT_STREQ("Al\"bum", text.Tracks[0].szTitle);
  EXPECT_STREQ("First", text.Tracks[2].szTitle);

  CDevCmdRW d;
  ASSERT_TRUE(d.SetImageFile((dir / "m.toc").c_str())) << d.GetLastOpenError();
  uint8_t user[2048];
  ASSERT_EQ(DEV_OK, d.ReadCD_10(user, 2048, 1, 17));
  EXPECT_EQ(0, std::memcmp(user, data.data() + 17 * 2048, 2048));
  EXPECT_EQ(std::string(2352, 0), Sector(d, 400)) << "silence before track 2";
  EXPECT_EQ(pcm.substr(0, 2352), Sector(d, 500)) << "WAVE samples are in the CD's order";
  // Raw samples come most significant byte first and are turned round.
  EXPECT_EQ(Swapped(raw.substr(2352, 2352)), Sector(d, 600));
  EXPECT_EQ(Swapped(raw.substr(40 * 2352, 2352)), Sector(d, 639));
  EXPECT_EQ(std::string(2352, 0), Sector(d, 640));
  EXPECT_EQ(Swapped(raw.substr(60 * 2352, 2352)), Sector(d, 641));
}

TEST(TocFile, PreGapsFromFilesAndZerosAndDataOffsetsLandWhereCdrdaoPutsThem) {
  ScratchDir dir;
  const std::string pcm = Bytes(300 * 2352, 4), iso = Bytes(100 * 2048, 5);
  WriteFile(dir / "a.wav", Wave(pcm));
  WriteFile(dir / "d.iso", iso);
  WriteFile(dir / "g.toc",
            "CD_ROM\n"
            "TRACK AUDIO\nFILE \"a.wav\" 0 00:01:00\nSTART 00:00:20\n"  // the first pre-gap lies at 0
            "TRACK AUDIO\nPREGAP 00:00:30\nFILE \"a.wav\" SWAP 00:01:00 00:01:00\n"
            "TRACK MODE1\nZERO 4096\nSTART\nDATAFILE \"d.iso\" #20480 00:00:50\n");
  const ImageLayout layout = Read(dir / "g.toc");
  ExpectSameAddresses(ShowToc(dir, "g.toc"), layout);
  ASSERT_EQ(3u, layout.tracks.size());
  EXPECT_EQ(20, layout.tracks[0].start) << "the first track's pre-gap lies at sector 0";
  bool offsetSeen = false;
  for (const ImageExtent& e : layout.extents) {
    if (e.lba == 75) {
      EXPECT_EQ(-1, e.file) << "PREGAP is in no file";
    }
    if (e.lba == 105) {
      EXPECT_TRUE(e.swapBytes) << "SWAP turns a WAVE file's order round";
    }
    if (e.lba == 182) {
      offsetSeen = true;
      EXPECT_EQ(20480u, e.offset);
      EXPECT_EQ(2048, e.sectorSize);
    }
  }
  EXPECT_TRUE(offsetSeen);
  CDevCmdRW d;
  ASSERT_TRUE(d.SetImageFile((dir / "g.toc").c_str())) << d.GetLastOpenError();
  EXPECT_EQ(pcm.substr(20 * 2352, 2352), Sector(d, 20));
  EXPECT_EQ(Swapped(pcm.substr(75 * 2352, 2352)), Sector(d, 105));
  uint8_t user[2048];
  ASSERT_EQ(DEV_OK, d.ReadCD_10(user, 2048, 1, 182));
  EXPECT_EQ(0, std::memcmp(user, iso.data() + 20480, 2048));

  // A name in another case finds the file, and the user is told which.
  WriteFile(dir / "case.toc", "TRACK AUDIO\nFILE \"A.WAV\" 0\n");
  const ImageLayout cased = Read(dir / "case.toc");
  ASSERT_EQ(1u, cased.notices.size());
  EXPECT_NE(std::string::npos, cased.notices[0].find("a.wav")) << cased.notices[0];
  EXPECT_EQ(300, cased.tracks.at(0).size) << "read as a WAVE file";
}

TEST(TocFile, EachTrackModeTakesItsSectorSizeFromTheFile) {
  ScratchDir dir;
  // Raw data sectors begin with the sync pattern.
  std::string raw;
  for (int i = 0; i < 10; ++i) raw += std::string(1, 0) + std::string(10, '\xFF') + std::string(1, 0) + Bytes(2340, i);
  WriteFile(dir / "raw.bin", raw);
  WriteFile(dir / "x.bin", Bytes(2336 * 30 + 2324 * 20 + 2048 * 20, 9));
  WriteFile(dir / "x.toc",
            "CD_ROM_XA\n"
            "TRACK MODE2_FORM_MIX\nDATAFILE \"x.bin\" 00:00:30\n"
            "TRACK MODE2_FORM2\nDATAFILE \"x.bin\" #70080 00:00:20\n"
            "TRACK MODE2_FORM1\nDATAFILE \"x.bin\" #116560 00:00:20\n"
            "TRACK MODE2\nDATAFILE \"x.bin\" 00:00:10\n"
            "TRACK MODE1_RAW\nDATAFILE \"raw.bin\"\n"
            "TRACK MODE2_RAW\nDATAFILE \"raw.bin\"\n"
            "TRACK MODE1\nDATAFILE \"x.bin\" 00:00:10\n");
  const ImageLayout layout = Read(dir / "x.toc");
  ExpectSameAddresses(ShowToc(dir, "x.toc"), layout);
  using cdsector::Mode;
  const struct {
    Mode mode;
    int size;
  } want[] = {{Mode::Mode2Formless, 2336}, {Mode::Mode2Form2, 2324}, {Mode::Mode2Form1, 2048}, {Mode::Mode2Formless, 2336},
              {Mode::Mode1, 2352},         {Mode::Mode2Form1, 2352}, {Mode::Mode1, 2048}};
  ASSERT_EQ(7u, layout.tracks.size());
  ASSERT_EQ(7u, layout.extents.size());
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(want[i].mode, layout.tracks[i].mode) << "track " << i + 1;
    EXPECT_EQ(want[i].size, layout.extents[i].sectorSize) << "track " << i + 1;
  }
  EXPECT_EQ(2336u * 30 + 2324 * 20, layout.extents[2].offset);
}

TEST(TocFile, BadStatementsAreRefusedNamingTheirLine) {
  ScratchDir dir;
  WriteFile(dir / "a.bin", std::string(100 * 2352, 1));
  WriteFile(dir / "d.iso", std::string(10 * 2048, 2));
  struct Case {
    std::string text;
    const char* reason;
  } cases[] = {
      {"CD_DA\nTRACK AUDIO\nFILE \"nothere.bin\" 0\n", "TOC line 3: the file"},
      {"CD_DA\nTRACK AUDIO\n\nFILE \"a.bin\" 0 00:02:00\n", "TOC line 4: \"a.bin\" is too short"},
      {"CD_DA\nTRACK AUDIO\nFILE \"a.bin\" 00:01:50\n", "TOC line 3: \"a.bin\" is too short"},
      {"CD_ROM\nTRACK MODE1\nDATAFILE \"d.iso\" #4096 9\n", "TOC line 3: \"d.iso\" gives 9 bytes, not whole sectors"},
      {"CD_DA\nCATALOG \"12345\"\nTRACK AUDIO\nFILE \"a.bin\" 0\n", "TOC line 2: CATALOG needs 13 digits"},
      {"CD_DA\nCD_TEXT { LANGUAGE 0 {\n TITLE \"x\"\nTRACK AUDIO\nFILE \"a.bin\" 0\n", "TOC line 2: the LANGUAGE block opened here has no closing"},
      {"CD_DA\nCD_TEXT { LANGUAGE 0 { TITLE \"x\" }\nTRACK AUDIO\nFILE \"a.bin\" 0\n", "TOC line 2: the CD_TEXT block"},
      {"CD_DA\nTRACK AUDIO\nFILE \"a.bin\" 0\n}\n", "TOC line 4: a '}' without"},
      {"CD_DA\nTRACK AUDIO\nFILE \"a.bin\" 0\nTRACK MODE3\n", "TOC line 4: the track mode MODE3"},
      {"CD_DA\nTRACK AUDIO RW\nFILE \"a.bin\" 0\n", "TOC line 2: sub-channel data"},
      {"CD_DA\nTRACK AUDIO\nFILE \"a.bin\" 0 00:00:10\nSTART 00:00:10\n", "TOC line 4: the pre-gap reaches"},
      {"CD_DA\nTRACK AUDIO\nPREGAP 00:00:10\nSTART\nFILE \"a.bin\" 0\n", "TOC line 4: the track's start is given twice"},
      {"CD_DA\nTRACK AUDIO\nFILE \"a.bin\" 0\nZERO 00:00:10\n", "TOC line 4: a track mixes"},
      {"CD_ROM\nTRACK MODE1\nFILE \"d.iso\" 0\n", "TOC line 3: FILE belongs in audio tracks"},
      {"CD_DA\nTRACK AUDIO\nFILE \"a.bin\" 0\nINDEX 00:01:25\n", "TOC line 4: INDEX past the end"},
      {"CD_DA\nTRACK AUDIO\nISRC \"DE-XXX-98\"\nFILE \"a.bin\" 0\n", "TOC line 3: ISRC needs"},
      {"CD_DA\nTRACK AUDIO\nFILE \"a.bin 0\n", "TOC line 3: a string without"},
      {"CD_DA\nTRACK AUDIO\n", "TOC line 2: track 1 holds no data"},
      {"CD_I\nTRACK MODE2\nDATAFILE \"d.iso\"\n", "TOC line 1: CD-i"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string name = "bad" + std::to_string(++n) + ".toc";
    WriteFile(dir / name, c.text);
    ImageLayout layout;
    std::string why;
    EXPECT_FALSE(ReadImageLayout(dir / name, layout, &why)) << c.text;
    EXPECT_NE(std::string::npos, why.find(c.reason)) << c.text << "gave: " << why;
    EXPECT_TRUE(layout.tracks.empty() && layout.extents.empty()) << c.text;
  }
}

TEST(TocFile, IndexPointsAboveOneAreReadAndWrittenBackAsCdrdaoReadsThem) {
  ScratchDir dir;
  const std::string bin = Bytes(300 * 2352, 11);
  WriteFile(dir / "a.bin", bin);
  // Index times count from the track's start (START), not from its pre-gap.
  WriteFile(dir / "a.toc",
            "CD_DA\n"
            "CATALOG \"0123456789012\"\n"
            "CD_TEXT { LANGUAGE_MAP { 0 : EN } LANGUAGE 0 { TITLE \"Alb\\374m\" PERFORMER \"Band\" } }\n"
            "TRACK AUDIO\nCOPY\nISRC \"USABC2600001\"\n"
            "CD_TEXT { LANGUAGE 0 { TITLE \"One\" PERFORMER \"P1\" } }\n"
            "FILE \"a.bin\" SWAP 0 00:02:00\nINDEX 00:01:00\nINDEX 00:01:30\n"
            "TRACK AUDIO\nPRE_EMPHASIS\n"
            "CD_TEXT { LANGUAGE 0 { TITLE \"Two\" PERFORMER \"\" } }\n"
            "FILE \"a.bin\" SWAP 00:02:00\nSTART 00:00:20\nINDEX 00:01:00\n");
  const ImageLayout toc = Read(dir / "a.toc");
  ASSERT_EQ(2u, toc.notes.size());
  EXPECT_EQ((std::vector<int32_t>{75, 105}), toc.notes[0].indexes);
  EXPECT_EQ(170, toc.tracks[1].start);
  EXPECT_EQ((std::vector<int32_t>{245}), toc.notes[1].indexes);
  // cdrdao puts them at the same sectors.
  EXPECT_EQ(toc.notes[0].indexes, ShowTocIndexes(dir, "a.toc", 1));
  EXPECT_EQ(toc.notes[1].indexes, ShowTocIndexes(dir, "a.toc", 2));

  // A disc made from the TOC file, exported as a TOC file again: the same
  // tracks, points, flags, codes and texts, and cdrdao places them alike.
  std::string error;
  ASSERT_TRUE(VirtualRecorder::CreatePressedImage(dir / "p.vdisc", dir / "a.toc", &error)) << error;
  VirtualRecorder r;
  ASSERT_TRUE(r.Open(dir / "p.vdisc", &error)) << error;
  EXPECT_EQ((std::vector<int32_t>{75, 105}), r.Model().tracks[0].indexes);
  ASSERT_TRUE(r.ExportBinToc(dir / "out.toc", &error)) << error;
  const std::string written = ReadAll(dir / "out.toc");
  EXPECT_NE(std::string::npos, written.find("INDEX 00:01:00\nINDEX 00:01:30\n")) << written;
  EXPECT_NE(std::string::npos, written.find("TITLE \"Alb\\374m\"")) << written;
  const ImageLayout back = Read(dir / "out.toc");
  ASSERT_EQ(2u, back.tracks.size());
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(toc.tracks[i].start, back.tracks[i].start);
    EXPECT_EQ(toc.tracks[i].size, back.tracks[i].size);
    EXPECT_EQ(toc.notes[i].index0, back.notes[i].index0);
    EXPECT_EQ(toc.notes[i].indexes, back.notes[i].indexes);
    EXPECT_EQ(toc.notes[i].flags, back.notes[i].flags);
    EXPECT_EQ(toc.notes[i].isrc, back.notes[i].isrc);
  }
  EXPECT_EQ("0123456789012", back.catalog);
  EXPECT_EQ(toc.cdText, back.cdText);
  ExpectSameAddresses(ShowToc(dir, "out.toc"), back);
  EXPECT_EQ(toc.notes[0].indexes, ShowTocIndexes(dir, "out.toc", 1));
  EXPECT_EQ(toc.notes[1].indexes, ShowTocIndexes(dir, "out.toc", 2));
  // The sectors too, through the image-file device.
  CDevCmdRW d;
  ASSERT_TRUE(d.SetImageFile((dir / "out.toc").c_str())) << d.GetLastOpenError();
  for (uint32_t lba : {0u, 149u, 170u, 299u})
    EXPECT_EQ(bin.substr(lba * 2352, 2352), Sector(d, lba)) << "LBA " << lba;

  // Points that do not follow each other are refused by their line.
  WriteFile(dir / "bad.toc", "CD_DA\nTRACK AUDIO\nFILE \"a.bin\" SWAP 0\nINDEX 00:01:00\nINDEX 00:00:50\n");
  ImageLayout bad;
  std::string why;
  EXPECT_FALSE(ReadImageLayout(dir / "bad.toc", bad, &why));
  EXPECT_NE(std::string::npos, why.find("TOC line 5: INDEX points must follow each other")) << why;
}
