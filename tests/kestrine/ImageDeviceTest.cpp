// The image-file device answers for ISO images made by xorriso and
// genisoimage, for the BIN/CUE pairs the virtual recorder exports, and for an
// NRG image built here; libcdio's cd-info reads the same files as a check.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "ByteFields.h"
#include "CdSector.h"
#include "ImageLayout.h"
#include "KestrineTestUtil.h"

using ktest::Pattern;
using ktest::Shell;
using ktest::ScratchDir;
using ktest::SenseOf;

namespace {

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool MakeIso(const ScratchDir& dir, const std::string& iso, const std::string& extra = "") {
  std::string src = dir / "src";
  std::filesystem::create_directories(src + "/docs");
  WriteFile(src + "/docs/readme.txt", "read me\n");
  WriteFile(src + "/big.bin", std::string(300000, 'x'));
  return Shell("xorriso -as mkisofs -quiet -J -V VARNEXTEST " + extra + " -o " + iso + " " + src) == 0;
}

// An NRG image (version 2, disc-at-once) of one Mode 1 data track.
std::string BuildNrg(const std::string& iso) {
  std::string data = ReadAll(iso);
  uint64_t sectors = data.size() / 2048;
  std::string out(150 * 2048, '\0');  // the pre-gap of track 1
  out += data;
  uint64_t chunks = out.size();
  auto be32 = [](uint32_t v) { std::string s(4, 0); bytes::PutBE32(reinterpret_cast<uint8_t*>(&s[0]), v); return s; };
  auto be64 = [](uint64_t v) { std::string s(8, 0); bytes::PutBE64(reinterpret_cast<uint8_t*>(&s[0]), v); return s; };
  auto cue = [&](uint8_t ctl, uint8_t track, uint8_t index, int32_t lba) {
    return std::string{char(ctl), char(track), char(index), 0} + be32(uint32_t(lba));
  };
  std::string cuex = cue(0x41, 0x00, 0x00, -150) + cue(0x41, 0x01, 0x00, -150) + cue(0x41, 0x01, 0x01, 0) +
                     cue(0x41, 0xAA, 0x01, int32_t(sectors));
  out += "CUEX" + be32(uint32_t(cuex.size())) + cuex;
  std::string dao = be32(22 + 42) + std::string(14, '\0') + std::string(2, '\0') + std::string{1, 1};
  dao += std::string(12, '\0') + std::string{0x08, 0x00} + std::string{0x00, 0, 0, 0};  // ISRC, 2048, Mode 1
  dao += be64(0) + be64(150 * 2048) + be64(150 * 2048 + sectors * 2048);
  out += "DAOX" + be32(uint32_t(dao.size())) + dao;
  out += "SINF" + be32(4) + be32(1);
  out += "END!" + be32(0);
  out += "NER5" + be64(chunks);
  return out;
}

std::unique_ptr<CDevCmdRW> OpenImage(const std::string& path) {
  auto d = std::make_unique<CDevCmdRW>();
  EXPECT_TRUE(d->SetImageFile(path.c_str())) << d->GetLastOpenError();
  return d;
}

}  // namespace

TEST(ImageDevice, XorrisoIsoReadsAsAPressedCdWithIso9660) {
  ScratchDir dir;
  ASSERT_TRUE(MakeIso(dir, dir / "x.iso"));
  auto d = OpenImage(dir / "x.iso");
  EXPECT_EQ(medium::kCdRom, d->GetMediumType());
  DISC_INFO di;
  ASSERT_EQ(DEV_OK, d->ReadDiscInfo(di));
  EXPECT_EQ(2, di.DiscStatus);
  TocData toc;
  ASSERT_EQ(DEV_OK, d->GetTocData(toc));
  ASSERT_EQ(1, toc.TrackCount);
  uint64_t sectors = std::filesystem::file_size(dir / "x.iso") / 2048;
  EXPECT_EQ(int32_t(sectors), TocAddressToLba(toc.LeadOut));
  TRACK_INFO ti;
  ASSERT_EQ(DEV_OK, d->ReadTrackInfo(ti, 1));
  EXPECT_EQ(sectors, ti.TrackSize);
  EXPECT_EQ(1, ti.DataMode);
  EXPECT_EQ(1, d->JudgeFileSystem(0));
  uint8_t sector[2352];
  ASSERT_EQ(DEV_OK, d->ReadCD_10(sector, 2048, 1, 16));
  EXPECT_EQ(0, std::memcmp(sector, "\x01" "CD001", 6));
  // Raw reads are synthesised with a header that names the sector.
  ASSERT_EQ(DEV_OK, d->ReadCD_All(sector, 2352, 1, 16));
  EXPECT_EQ(0x16, sector[14]);
  EXPECT_EQ(0, std::memcmp(sector + 16, "\x01" "CD001", 6));
  EXPECT_EQ(DEV_CHECK_CONDITION, d->ReadCD_10(sector, 2048, 1, uint32_t(sectors) + 5));
  EXPECT_EQ("5/21/00", SenseOf(*d));
  auto rw = std::make_unique<CDevCmdRW>();
  ASSERT_TRUE(rw->SetImageFile((dir / "x.iso").c_str()));
  EXPECT_EQ(DEV_CHECK_CONDITION, rw->Write(0, sector, 2048, 1)) << "a pressed image takes no writes";
}

TEST(ImageDevice, UdfBridgeIsJudgedAsBothFileSystems) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "u");
  WriteFile(dir / "u/a.txt", "udf\n");
  ASSERT_EQ(0, Shell("genisoimage -quiet -udf -o " + (dir / "u.iso") + " " + (dir / "u")));
  auto d = OpenImage(dir / "u.iso");
  EXPECT_EQ(3, d->JudgeFileSystem(0));
}

TEST(ImageDevice, BinCueExportOfTwoSessionsReadsBackAndCdInfoAgrees) {
  ScratchDir dir;
  auto v = ktest::NewVirtual(dir, "cd-r");
  WriteParam wp = ktest::DataTrackParams(1, true);
  ASSERT_EQ(DEV_OK, v->SetWriteParam(wp));
  auto first = Pattern(200 * 2048, 1);
  for (uint32_t i = 0; i < 200; i += 20) ASSERT_EQ(DEV_OK, v->Write(i, first.data() + i * 2048, 20 * 2048, 20));
  ASSERT_EQ(DEV_OK, v->CloseTrack(1));
  ASSERT_EQ(DEV_OK, v->CloseSession());
  long nwa = 0;
  ASSERT_EQ(DEV_OK, v->GetNextWriteAdd(nwa));
  auto second = Pattern(100 * 2048, 2);
  for (uint32_t i = 0; i < 100; i += 20)
    ASSERT_EQ(DEV_OK, v->Write(uint32_t(nwa) + i, second.data() + i * 2048, 20 * 2048, 20));
  ASSERT_EQ(DEV_OK, v->CloseTrack(2));
  ASSERT_EQ(DEV_OK, v->CloseSession());
  v.reset();

  VirtualRecorder rec;
  std::string error;
  ASSERT_TRUE(rec.Open(dir / "disc.vdisc", &error)) << error;
  ASSERT_TRUE(rec.ExportBinCue(dir / "out.cue", &error)) << error;
  ASSERT_TRUE(rec.ExportIso(dir / "out.iso", &error)) << error;

  // The ISO export: LBA n at byte n * 2048, zeros between the sessions.
  std::string iso = ReadAll(dir / "out.iso");
  ASSERT_EQ(size_t(nwa + 100) * 2048, iso.size());
  EXPECT_EQ(0, std::memcmp(iso.data(), first.data(), first.size()));
  EXPECT_EQ(0, std::memcmp(iso.data() + nwa * 2048, second.data(), second.size()));
  EXPECT_TRUE(std::all_of(iso.begin() + 200 * 2048, iso.begin() + nwa * 2048, [](char c) { return c == 0; }));

  // The BIN/CUE export read by the image device: the same tables and sectors.
  auto d = OpenImage(dir / "out.cue");
  SessionInfo si;
  ASSERT_EQ(DEV_OK, d->GetSessionInfo(si)) << SenseOf(*d);
  ASSERT_EQ(2u, si.Sessions.size());
  EXPECT_EQ(200, TocAddressToLba(si.Sessions[0].LeadOut));
  EXPECT_EQ(nwa, TocAddressToLba(si.Sessions[1].Data[0].Addr));
  uint8_t raw[2352], back[2352];
  ASSERT_EQ(DEV_OK, rec.ReadRaw(int32_t(nwa) + 7, raw) ? DEV_OK : DEV_BAD_RESPONSE);
  ASSERT_EQ(DEV_OK, d->ReadCD_All(back, 2352, 1, uint32_t(nwa) + 7));
  EXPECT_EQ(0, std::memcmp(raw, back, 2352));

  // An independent reader of the pair.
  std::string out;
  ASSERT_EQ(0, Shell("cd-info --no-device-info --no-cddb --cue-file " + (dir / "out.cue"), &out)) << out;
  EXPECT_NE(std::string::npos, out.find("  1: 00:02:00  000000 data")) << out;
  EXPECT_NE(std::string::npos, out.find("  2:")) << out;
}

TEST(ImageDevice, NrgImageReadsLikeTheIsoInside) {
  ScratchDir dir;
  ASSERT_TRUE(MakeIso(dir, dir / "x.iso"));
  WriteFile(dir / "x.nrg", BuildNrg(dir / "x.iso"));
  auto d = OpenImage(dir / "x.nrg");
  TocData toc;
  ASSERT_EQ(DEV_OK, d->GetTocData(toc));
  ASSERT_EQ(1, toc.TrackCount);
  EXPECT_EQ(0, TocAddressToLba(toc.Data[0].Addr));
  uint64_t sectors = std::filesystem::file_size(dir / "x.iso") / 2048;
  EXPECT_EQ(int32_t(sectors), TocAddressToLba(toc.LeadOut));
  EXPECT_EQ(1, d->JudgeFileSystem(0));
  std::string iso = ReadAll(dir / "x.iso");
  uint8_t sector[2048];
  ASSERT_EQ(DEV_OK, d->ReadCD_10(sector, 2048, 1, 17));
  EXPECT_EQ(0, std::memcmp(sector, iso.data() + 17 * 2048, 2048));
  std::string out;
  ASSERT_EQ(0, Shell("cd-info --no-device-info --no-cddb --nrg-file " + (dir / "x.nrg"), &out)) << out;
  // cd-info reads the chunk layout the same way: one data track, the lead-out behind it.
  EXPECT_NE(std::string::npos, out.find("  1: 00:02:00  000000 data")) << out;
  char leadOut[32];
  std::snprintf(leadOut, sizeof leadOut, "%06llu leadout", (unsigned long long)sectors);
  EXPECT_NE(std::string::npos, out.find(leadOut)) << out;
}

TEST(ImageDevice, DamagedImagesAreRefusedWithAReason) {
  ScratchDir dir;
  ASSERT_TRUE(MakeIso(dir, dir / "x.iso"));
  struct Case {
    const char* name;
    std::string text;
    const char* reason;
  } cases[] = {
      {"missing.cue", "FILE \"nothere.bin\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n", "missing"},
      {"badtime.cue", "FILE \"x.iso\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:61:00\n", "bad time"},
      {"noindex.cue", "FILE \"x.iso\" BINARY\n  TRACK 01 MODE1/2048\n", "no INDEX 01"},
      {"order.cue",
       "FILE \"x.iso\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:10\n  TRACK 02 MODE1/2048\n    INDEX 01 00:00:05\n",
       "before the track"},
      {"past.cue",
       "FILE \"x.iso\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n  TRACK 02 MODE1/2048\n    INDEX 01 70:00:00\n",
       "past the end"},
      {"gap.cue", "FILE \"x.iso\" BINARY\n  TRACK 02 MODE1/2048\n    INDEX 01 00:00:00\n  TRACK 04 AUDIO\n", "without gaps"},
      // Raw data sectors that are not: an ISO's plain sectors read as 2352 bytes.
      {"nosync.cue", "FILE \"pcm.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n", "sync"},
  };
  WriteFile(dir / "pcm.bin", std::string(2352 * 40, '\x11'));
  for (const Case& c : cases) {
    WriteFile(dir / c.name, c.text);
    CDevCmdRW d;
    EXPECT_FALSE(d.SetImageFile((dir / c.name).c_str())) << c.name;
    EXPECT_NE(std::string::npos, d.GetLastOpenError().find(c.reason)) << c.name << ": " << d.GetLastOpenError();
  }
  // The same sectors as audio are what they say they are.
  WriteFile(dir / "audio.cue", "FILE \"pcm.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  {
    CDevCmdRW d;
    EXPECT_TRUE(d.SetImageFile((dir / "audio.cue").c_str())) << d.GetLastOpenError();
  }
  // An NRG whose chunk claims more bytes than the file has.
  std::string nrg = BuildNrg(dir / "x.iso");
  size_t dao = nrg.find("DAOX");
  bytes::PutBE32(reinterpret_cast<uint8_t*>(&nrg[dao + 4]), 0x7FFFFFF0);
  WriteFile(dir / "bad.nrg", nrg);
  CDevCmdRW d;
  EXPECT_FALSE(d.SetImageFile((dir / "bad.nrg").c_str()));
  EXPECT_NE(std::string::npos, d.GetLastOpenError().find("past the end")) << d.GetLastOpenError();
}

TEST(ImageDevice, BurningToAMissingFileWritesAnIsoImage) {
  ScratchDir dir;
  ASSERT_TRUE(MakeIso(dir, dir / "x.iso"));
  std::string iso = ReadAll(dir / "x.iso");
  uint32_t sectors = uint32_t(iso.size() / 2048);
  auto d = OpenImage(dir / "burnt.iso");
  EXPECT_EQ(medium::kCdR, d->GetMediumType());
  DISC_INFO di;
  ASSERT_EQ(DEV_OK, d->ReadDiscInfo(di));
  EXPECT_EQ(0, di.DiscStatus);
  uint32_t free = 0;
  ASSERT_EQ(DEV_OK, d->GetBlackDiscCapacity(free));
  EXPECT_GT(free, sectors);
  EXPECT_FALSE(std::filesystem::exists(dir / "burnt.iso")) << "looking at a missing image leaves nothing behind";
  ASSERT_EQ(DEV_OK, d->SetWriteParam(ktest::DataTrackParams(1, false)));
  long nwa = -1;
  ASSERT_EQ(DEV_OK, d->GetNextWriteAdd(nwa));
  ASSERT_EQ(0, nwa);
  for (uint32_t i = 0; i < sectors; i += 16) {
    uint32_t n = std::min<uint32_t>(16, sectors - i);
    ASSERT_EQ(DEV_OK, d->Write(i, reinterpret_cast<const uint8_t*>(iso.data()) + i * 2048, n * 2048, n)) << SenseOf(*d);
  }
  ASSERT_EQ(DEV_OK, d->SynCache());
  ASSERT_EQ(DEV_OK, d->CloseTrack(1));
  ASSERT_EQ(DEV_OK, d->CloseSession());
  d.reset();
  EXPECT_EQ(iso, ReadAll(dir / "burnt.iso"));
  std::string out;
  EXPECT_EQ(0, Shell("xorriso -indev " + (dir / "burnt.iso") + " -ls / 2>&1", &out)) << out;
  EXPECT_NE(std::string::npos, out.find("docs")) << out;
}

TEST(ImageDevice, PressedAudioCdCarriesCdTextAndPcm) {
  ScratchDir dir;
  // Two short WAV files of 44.1 kHz 16-bit stereo.
  auto wav = [&](const std::string& name, size_t frames, uint32_t seed) {
    std::string pcm;
    auto p = Pattern(frames * 4, seed);
    pcm.assign(p.begin(), p.end());
    std::string h = "RIFF" + std::string(4, 0) + "WAVEfmt " + std::string("\x10\0\0\0\x01\0\x02\0", 8);
    uint8_t b[8];
    bytes::PutLE32(b, 44100), bytes::PutLE32(b + 4, 44100 * 4);
    h += std::string(reinterpret_cast<char*>(b), 8) + std::string("\x04\0\x10\0", 4) + "data";
    bytes::PutLE32(b, uint32_t(pcm.size()));
    h += std::string(reinterpret_cast<char*>(b), 4);
    WriteFile(dir / name, h + pcm);
    return p;
  };
  auto a = wav("a.wav", 588 * 100, 1);
  wav("b.wav", 588 * 50 + 10, 2);
  std::string error;
  ASSERT_TRUE(VirtualRecorder::CreatePressedAudio(dir / "audio.vdisc",
                                                  {{dir / "a.wav", "First Song", "The Band"}, {dir / "b.wav", "Second", "Other"}},
                                                  "The Album", "The Band", &error))
      << error;
  auto d = ktest::OpenVirtual(dir / "audio.vdisc");
  EXPECT_EQ(medium::kCdRom, d->GetMediumType());
  TocData toc;
  ASSERT_EQ(DEV_OK, d->GetTocData(toc));
  ASSERT_EQ(2, toc.TrackCount);
  EXPECT_FALSE(toc.Data[0].IsData());
  EXPECT_EQ(100, TocAddressToLba(toc.Data[1].Addr));
  EXPECT_EQ(151, TocAddressToLba(toc.LeadOut)) << "the second track is padded to whole sectors";
  FS_CDTEXT_INFO text;
  ASSERT_EQ(DEV_OK, d->GetCDText(text));
  EXPECT_STREQ("The Album", text.Tracks[0].szTitle);
  EXPECT_STREQ("First Song", text.Tracks[1].szTitle);
  EXPECT_STREQ("Other", text.Tracks[2].szArtist);
  uint8_t raw[2352];
  ASSERT_EQ(DEV_OK, d->ReadCD_All(raw, 2352, 1, 42));
  EXPECT_EQ(0, std::memcmp(raw, a.data() + 42 * 2352, 2352));
  // Many sectors in one command come as the same bytes as one at a time:
  // inside a track, across into the next, and up to the last sector, whose
  // unwritten end is silence.
  for (auto [from, n] : {std::pair{30u, 40}, {90u, 20}, {140u, 11}}) {
    std::vector<uint8_t> run(size_t(n) * 2352), one(2352);
    ASSERT_EQ(DEV_OK, d->ReadCD_All(run.data(), int(run.size()), n, from)) << from;
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(DEV_OK, d->ReadCD_All(one.data(), 2352, 1, from + uint32_t(i)));
      EXPECT_EQ(0, std::memcmp(run.data() + size_t(i) * 2352, one.data(), 2352)) << "sector " << from + uint32_t(i);
    }
  }
  std::vector<uint8_t> tooFar(20 * 2352);
  EXPECT_EQ(DEV_CHECK_CONDITION, d->ReadCD_All(tooFar.data(), int(tooFar.size()), 20, 140)) << "past the lead-out";
  uint8_t user[2048];
  EXPECT_EQ(DEV_CHECK_CONDITION, d->ReadCD_10(user, 2048, 1, 42)) << "audio has no 2048-byte form";
  EXPECT_EQ("5/64/00", SenseOf(*d));

  // The export keeps the texts for other readers.
  VirtualRecorder rec;
  ASSERT_TRUE(rec.Open(dir / "audio.vdisc", &error));
  ASSERT_TRUE(rec.ExportBinCue(dir / "audio.cue", &error)) << error;
  std::string cue = ReadAll(dir / "audio.cue");
  EXPECT_NE(std::string::npos, cue.find("TITLE \"First Song\"")) << cue;
  auto back = OpenImage(dir / "audio.cue");
  FS_CDTEXT_INFO again;
  ASSERT_EQ(DEV_OK, back->GetCDText(again));
  EXPECT_STREQ("Second", again.Tracks[2].szTitle);
}

TEST(ImageDevice, CueSheetGapsFilesAndSessionsGiveTheDiscAddresses) {
  const std::string cue =
      "FILE \"a.bin\" BINARY\n"
      "  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
      "REM SESSION 02\n"
      "FILE \"b.bin\" BINARY\n"
      "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    PREGAP 00:02:00\n    INDEX 01 00:00:00\n"
      "  TRACK 03 AUDIO\n    INDEX 00 00:10:00\n    INDEX 01 00:12:00\n";
  ImageLayout layout;
  std::string why;
  auto sizes = [](const std::string& path) -> int64_t {
    if (path == "/img/a.bin") return 300 * 2352;
    if (path == "/img/b.bin") return 2000 * 2352;
    return -1;
  };
  ASSERT_TRUE(ParseCueSheet(cue, "/img/", sizes, layout, &why)) << why;
  ASSERT_EQ(3u, layout.tracks.size());
  EXPECT_EQ(0, layout.tracks[0].start);
  EXPECT_EQ(300, layout.tracks[0].size);
  EXPECT_EQ(1, layout.tracks[0].session);
  EXPECT_EQ(450, layout.tracks[1].start) << "behind two seconds of pre-gap that are in no file";
  EXPECT_EQ(750, layout.tracks[1].size) << "up to the next track's index 0";
  EXPECT_EQ(2, layout.tracks[1].session);
  EXPECT_EQ(1350, layout.tracks[2].start);
  EXPECT_EQ(1100, layout.tracks[2].size);
  EXPECT_EQ(2, layout.sessions);
  // The sectors of the second file: its index-0 gap lies in the file.
  bool found = false;
  for (const ImageExtent& e : layout.extents)
    if (e.file == 1 && e.lba == 1200) {
      found = true;
      EXPECT_EQ(uint64_t(750) * 2352, e.offset);
      EXPECT_EQ(1250, e.count);
    }
  EXPECT_TRUE(found) << "no extent for track 3 from its index 0";
  FS_CDTEXT_INFO text;
  ASSERT_TRUE(ParseCdTextPacks(layout.cdText.data(), layout.cdText.size(), text));
  EXPECT_STREQ("Two", text.Tracks[2].szTitle);
}

// Long reads of an image go to the file in one piece, across the files of a
// CUE sheet too; they give what sector-by-sector reads give and stop where
// the disc ends.
TEST(ImageDevice, LongReadsCrossTracksAndStopAtTheEndOfTheDisc) {
  ScratchDir dir;
  const std::vector<uint8_t> a = Pattern(30 * 2048, 1), b = Pattern(20 * 2048, 2);
  WriteFile(dir / "a.iso", std::string(a.begin(), a.end()));
  WriteFile(dir / "b.iso", std::string(b.begin(), b.end()));
  WriteFile(dir / "two.cue",
            "FILE \"a.iso\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n"
            "FILE \"b.iso\" BINARY\n  TRACK 02 MODE1/2048\n    INDEX 01 00:00:00\n");
  auto d = OpenImage(dir / "two.cue");
  TocData toc;
  ASSERT_EQ(DEV_OK, d->GetTocData(toc));
  ASSERT_EQ(2, toc.TrackCount);
  const uint32_t second = uint32_t(TocAddressToLba(toc.Data[1].Addr)), end = uint32_t(TocAddressToLba(toc.LeadOut));
  ASSERT_EQ(end, second + 20);
  std::vector<uint8_t> oneByOne(size_t(end) * 2048);
  for (uint32_t i = 0; i < end; ++i)
    ASSERT_EQ(DEV_OK, d->ReadCD_10(oneByOne.data() + size_t(i) * 2048, 2048, 1, i)) << i;
  EXPECT_EQ(0, std::memcmp(oneByOne.data(), a.data(), a.size()));
  EXPECT_EQ(0, std::memcmp(oneByOne.data() + size_t(second) * 2048, b.data(), b.size()));
  std::vector<uint8_t> run(size_t(end) * 2048, 0xEE);
  ASSERT_EQ(DEV_OK, d->ReadCD_10(run.data(), int(run.size()), int(end), 0)) << SenseOf(*d);
  EXPECT_TRUE(run == oneByOne) << "one read of the whole disc";
  std::vector<uint8_t> inside(10 * 2048);
  ASSERT_EQ(DEV_OK, d->ReadCD_10(inside.data(), int(inside.size()), 10, 5));
  EXPECT_EQ(0, std::memcmp(inside.data(), a.data() + 5 * 2048, inside.size())) << "well inside the first file";
  ASSERT_EQ(DEV_OK, d->ReadCD_10(inside.data(), int(inside.size()), 10, second + 3));
  EXPECT_EQ(0, std::memcmp(inside.data(), b.data() + 3 * 2048, inside.size())) << "well inside the second file";
  std::vector<uint8_t> over(8 * 2048, 0xEE);
  EXPECT_EQ(DEV_CHECK_CONDITION, d->ReadCD_10(over.data(), int(over.size()), 8, end - 3));
  EXPECT_EQ("5/21/00", SenseOf(*d));
  EXPECT_EQ(0, std::memcmp(over.data(), b.data() + 17 * 2048, 3 * 2048)) << "the sectors before the end";

  // An image cut short after it was opened: its lost sectors read as zeros,
  // in a long read as one by one.
  auto iso = OpenImage(dir / "a.iso");
  std::filesystem::resize_file(dir / "a.iso", 25 * 2048 + 100);
  std::vector<uint8_t> cut(30 * 2048, 0xEE), cutOne(30 * 2048, 0xEE);
  ASSERT_EQ(DEV_OK, iso->ReadCD_10(cut.data(), int(cut.size()), 30, 0)) << SenseOf(*iso);
  for (uint32_t i = 0; i < 30; ++i) ASSERT_EQ(DEV_OK, iso->ReadCD_10(cutOne.data() + size_t(i) * 2048, 2048, 1, i));
  EXPECT_TRUE(cut == cutOne);
  EXPECT_EQ(0, std::memcmp(cut.data(), a.data(), 25 * 2048));
  EXPECT_TRUE(std::all_of(cut.begin() + 25 * 2048, cut.end(), [](uint8_t x) { return x == 0; }));
}
