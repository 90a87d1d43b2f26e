// The burn library copies discs between virtual recorders, directly and
// through a copy file, and each copy is compared sector for sector with its
// source through the recorders' BIN/CUE and ISO exports, and read by
// independent tools.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "DataSource_CloneFile.h"
#include "DataSource_Device.h"
#include "pollard/CopyTestSupport.h"

using namespace copytest;
using ktest::OpenVirtual;
using ktest::ScratchDir;

namespace {

std::string Flipped(std::string s, size_t at, uint8_t mask) {
  if (at < s.size()) s[at] = char(uint8_t(s[at]) ^ mask);
  return s;
}

// Copies `sourceState` onto a new blank disc of `medium` three ways (on the
// fly, through a copy file, from that file again) and checks that every
// copy exports exactly as the source.
void CopyThreeWays(const ScratchDir& dir, const std::string& sourceState, const std::string& medium, bool close) {
  const Exported want = Export(sourceState, dir / "want");
  ASSERT_FALSE(want.bin.empty());
  auto src = OpenVirtual(sourceState);

  // On the fly.
  std::string error;
  ASSERT_TRUE(VirtualRecorder::Create(dir / "fly.vdisc", medium, &error)) << error;
  {
    DataSource_Device disc(src.get());
    ASSERT_TRUE(disc.IsValid()) << disc.GetLastError();
    auto target = OpenVirtual(dir / "fly.vdisc");
    ASSERT_EQ("", CopySessions(disc, *target, close));
  }
  Exported fly = Export(dir / "fly.vdisc", dir / "fly");
  EXPECT_EQ(want.cue, fly.cue);
  EXPECT_TRUE(want.bin == fly.bin) << "the copy on the fly differs from its source";
  EXPECT_TRUE(want.iso == fly.iso);

  // Through a copy file, twice from the same file.
  DataSource_CloneFile maker((dir / "disc.bcl").c_str());
  ASSERT_EQ(GENE_OK, maker.GeneFile(src.get(), medium.rfind("cd", 0) == 0 ? 2352 : 2048)) << maker.GetLastError();
  EXPECT_EQ(100, maker.GetGeneProgress());
  for (const char* name : {"file1", "file2"}) {
    ASSERT_TRUE(VirtualRecorder::Create(dir / (std::string(name) + ".vdisc"), medium, &error)) << error;
    {
      DataSource_CloneFile file((dir / "disc.bcl").c_str());
      ASSERT_TRUE(file.GetFileInfo()) << file.GetLastError();
      auto target = OpenVirtual(dir / (std::string(name) + ".vdisc"));
      ASSERT_EQ("", CopySessions(file, *target, close));
    }
    Exported copy = Export(dir / (std::string(name) + ".vdisc"), dir / name);
    EXPECT_EQ(want.cue, copy.cue) << name;
    EXPECT_TRUE(want.bin == copy.bin) << name << " differs from the source";
    EXPECT_TRUE(want.iso == copy.iso) << name;
  }
}

}  // namespace

TEST(PollardCopy, DataCdOfTwoOpenSessionsStaysAppendable) {
  ScratchDir dir;
  auto iso1 = MakeIso(dir, "FIRST", 1);
  auto iso2 = MakeIso(dir, "SECOND", 2);
  ASSERT_FALSE(iso1.empty());
  {
    auto d = ktest::NewVirtual(dir, "cd-r", "src.vdisc");
    WriteTaoTrack(*d, iso1, false, 8, true, true);
    WriteTaoTrack(*d, iso2, false, 8, true, true);
  }
  CopyThreeWays(dir, dir / "src.vdisc", "cd-r", false);

  // The copy keeps its two sessions open and takes a third.
  auto copy = OpenVirtual(dir / "file1.vdisc");
  DISC_INFO di;
  ASSERT_EQ(DEV_OK, copy->ReadDiscInfo(di));
  EXPECT_EQ(1, di.DiscStatus) << "appendable";
  WriteTaoTrack(*copy, ktest::Pattern(64 * 2048, 3), false, 8, false, true);
  ASSERT_EQ(DEV_OK, copy->ReadDiscInfo(di));
  EXPECT_EQ(2, di.DiscStatus);
  EXPECT_EQ(3, di.SessionCount);
  copy.reset();

  // An independent reader sees the second session's volume on the copy's ISO export.
  std::string out;
  Exported e = Export(dir / "fly.vdisc", dir / "fly-again");
  ASSERT_EQ(0, ktest::Shell("isoinfo -d -i " + (dir / "fly-again.iso"), &out)) << out;
  EXPECT_NE(std::string::npos, out.find("FIRST")) << out;
}

TEST(PollardCopy, ClosedMode2DataCdAndMixedModeCd) {
  ScratchDir dir;
  auto iso = MakeIso(dir, "XADISC", 4);
  ASSERT_FALSE(iso.empty());
  {
    // Mode 2 Form 1 sectors: a CD-ROM XA disc, closed.
    auto d = ktest::NewVirtual(dir, "cd-r", "xa.vdisc");
    WriteTaoTrack(*d, iso, false, 10, false, true);
  }
  CopyThreeWays(dir, dir / "xa.vdisc", "cd-r", true);
  DataSource_Device xa(OpenVirtual(dir / "file2.vdisc").get());
  ASSERT_TRUE(xa.OpenTrack(1));
  EXPECT_EQ(MODE_FORM_MODE2_FORM1, xa.GetTrackModeForm());

  // A data track followed by two audio tracks.
  ScratchDir mixed;
  {
    auto d = ktest::NewVirtual(mixed, "cd-r", "mixed.vdisc");
    WriteTaoTrack(*d, iso, false, 8, false, false);
    WriteTaoTrack(*d, Pcm(400, 5), true, 0, false, false);
    WriteTaoTrack(*d, Pcm(333, 6), true, 0, false, true);
  }
  CopyThreeWays(mixed, mixed / "mixed.vdisc", "cd-rw", true);
  std::string out;
  ASSERT_EQ(0, ktest::Shell("cd-info --no-cddb --no-device-info --cue-file " + (mixed / "file1.cue"), &out)) << out;
  EXPECT_NE(std::string::npos, out.find("mixed mode CD")) << out;
  EXPECT_NE(std::string::npos, out.find("label `XADISC")) << out;
  EXPECT_NE(std::string::npos, out.find("  3: ")) << out;
}

TEST(PollardCopy, AudioCdIsCopiedSampleExact) {
  ScratchDir dir;
  auto wav = [&](const std::string& name, size_t frames, uint32_t seed) {
    auto p = ktest::Pattern(frames * 4, seed);
    uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,
                     0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a'};
    uint32_t n = uint32_t(p.size());
    std::memcpy(h + 40, &n, 4);
    std::ofstream f(dir / name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(h), 44);
    f.write(reinterpret_cast<const char*>(p.data()), std::streamsize(p.size()));
  };
  wav("a.wav", 588 * 300, 1);
  wav("b.wav", 588 * 200 + 17, 2);
  wav("c.wav", 588 * 151, 3);
  std::string error;
  ASSERT_TRUE(VirtualRecorder::CreatePressedAudio(
      dir / "audio.vdisc", {{dir / "a.wav", "", ""}, {dir / "b.wav", "", ""}, {dir / "c.wav", "", ""}}, "", "", &error))
      << error;
  CopyThreeWays(dir, dir / "audio.vdisc", "cd-r", true);
  EXPECT_EQ('\x01', ReadText(dir / "disc.bcl")[8]) << "a disc without extras makes a file of the first version";
  std::string out;
  ASSERT_EQ(0, ktest::Shell("cd-info --no-cddb --no-device-info --cue-file " + (dir / "fly.cue"), &out)) << out;
  EXPECT_NE(std::string::npos, out.find("  3: ")) << out;
}

TEST(PollardCopy, AudioCdKeepsItsTextCodesIndexesAndFlags) {
  ScratchDir dir;
  const std::vector<uint8_t> pcm = ktest::Pattern(size_t(2352) * 700, 11);
  std::ofstream(dir / "a.bin", std::ios::binary).write(reinterpret_cast<const char*>(pcm.data()), std::streamsize(pcm.size()));
  std::ofstream(dir / "a.cue") << "CATALOG 4006381333931\n"
                                  "TITLE \"Album\"\nPERFORMER \"Band\"\n"
                                  "FILE \"a.bin\" BINARY\n"
                                  "  TRACK 01 AUDIO\n    TITLE \"One\"\n    FLAGS DCP\n    ISRC USABC2600001\n"
                                  "    INDEX 01 00:00:00\n    INDEX 02 00:01:00\n    INDEX 03 00:02:10\n"
                                  "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    PERFORMER \"Guest\"\n    FLAGS PRE\n"
                                  "    INDEX 00 00:04:00\n    INDEX 01 00:05:00\n    INDEX 02 00:07:00\n"
                                  "  TRACK 03 AUDIO\n    ISRC GBXYZ2600017\n    INDEX 01 00:08:00\n";
  std::string error;
  ASSERT_TRUE(VirtualRecorder::CreatePressedImage(dir / "src.vdisc", dir / "a.cue", &error)) << error;
  const Exported want = Export(dir / "src.vdisc", dir / "src");
  // The source says what is to be kept, so that the copies' equal exports mean something.
  for (const char* line : {"CATALOG 4006381333931", "TITLE \"Album\"", "PERFORMER \"Guest\"", "FLAGS DCP",
                           "FLAGS PRE", "ISRC USABC2600001", "ISRC GBXYZ2600017", "INDEX 03 00:02:10",
                           "INDEX 00 00:04:00", "INDEX 02 00:07:00"})
    EXPECT_NE(std::string::npos, want.cue.find(line)) << line << " is not in\n" << want.cue;
  CopyThreeWays(dir, dir / "src.vdisc", "cd-r", true);
  // The copy file carries them in its extras; a disc without them gets a
  // file of the first version, which older programs read.
  const std::string bcl = ReadText(dir / "disc.bcl");
  EXPECT_EQ('\x02', bcl[8]);
  std::ofstream(dir / "spoilt.bcl", std::ios::binary) << Flipped(bcl, bcl.size() - 3, 0x10);
  DataSource_CloneFile spoilt((dir / "spoilt.bcl").c_str());
  EXPECT_FALSE(spoilt.GetFileInfo());
  EXPECT_NE(std::string::npos, spoilt.GetLastError().find("index points are damaged")) << spoilt.GetLastError();
  auto copy = OpenVirtual(dir / "file2.vdisc");
  std::string code;
  ASSERT_EQ(DEV_OK, copy->ReadMediaCatalog(code));
  EXPECT_EQ("4006381333931", code);
  ASSERT_EQ(DEV_OK, copy->ReadTrackIsrc(3, code));
  EXPECT_EQ("GBXYZ2600017", code);
  std::string out;
  ASSERT_EQ(0, ktest::Shell("cd-info --no-cddb --no-device-info --cue-file " + (dir / "fly.cue"), &out)) << out;
  EXPECT_NE(std::string::npos, out.find("Media Catalog Number (MCN): 4006381333931")) << out;
  EXPECT_NE(std::string::npos, out.find("PERFORMER: Guest")) << out;
}

TEST(PollardCopy, DvdAndBdMediaInSessions) {
  ScratchDir dir;
  auto iso = MakeIso(dir, "DVDDISC", 7);
  ASSERT_FALSE(iso.empty());
  for (const char* medium : {"dvd+r", "dvd-r", "bd-r"}) {
    ScratchDir d;
    {
      auto src = ktest::NewVirtual(d, medium, "src.vdisc");
      WriteTaoTrack(*src, iso, false, 8, true, true);
      if (std::string(medium) == "dvd-r") {
        // A second session of whole blocks: the copy reserves it.
        WriteTaoTrack(*src, ktest::Pattern(64 * 2048, 8), false, 8, true, true);
      }
    }
    SCOPED_TRACE(medium);
    CopyThreeWays(d, d / "src.vdisc", medium, false);
  }
}

TEST(PollardCopy, WrongMediaAndPlacesAreRefusedBeforeWriting) {
  ScratchDir dir;
  {
    auto d = ktest::NewVirtual(dir, "cd-r", "src.vdisc");
    WriteTaoTrack(*d, ktest::Pattern(100 * 2048, 9), false, 8, false, true);
  }
  auto src = OpenVirtual(dir / "src.vdisc");
  DataSource_Device disc(src.get());
  ASSERT_TRUE(disc.IsValid());
  // A CD onto a DVD, and onto a disc that already holds a session.
  auto dvd = ktest::NewVirtual(dir, "dvd+r", "dvd.vdisc");
  BurnMana_SAO onDvd(&disc, dvd.get(), 1, false, -150);
  EXPECT_EQ(BURN_WRONG_MEDIUM, onDvd.BurnBegin());
  EXPECT_NE(std::string::npos, onDvd.GetLastError().find("DVD+R")) << onDvd.GetLastError();
  auto used = ktest::NewVirtual(dir, "cd-r", "used.vdisc");
  WriteTaoTrack(*used, ktest::Pattern(50 * 2048, 1), false, 8, true, true);
  BurnMana_SAO onUsed(&disc, used.get(), 1, false, -150);
  EXPECT_EQ(BURN_WRONG_MEDIUM, onUsed.BurnBegin());
  EXPECT_FALSE(onUsed.Burn()) << "nothing runs after a refused begin";
  DISC_INFO di;
  ASSERT_EQ(DEV_OK, used->ReadDiscInfo(di));
  EXPECT_EQ(1, di.DiscStatus) << "the used disc is untouched";
  ASSERT_EQ(DEV_OK, dvd->ReadDiscInfo(di));
  EXPECT_EQ(0, di.DiscStatus);
}

TEST(PollardCopy, CueSheetNamesPregapsIndexesAndForms) {
  ScratchDir dir;
  {
    auto d = ktest::NewVirtual(dir, "cd-r", "src.vdisc");
    WriteTaoTrack(*d, ktest::Pattern(300 * 2048, 1), false, 8, false, false);
    WriteTaoTrack(*d, Pcm(200, 2), true, 0, false, true);
  }
  auto src = OpenVirtual(dir / "src.vdisc");
  DataSource_Device disc(src.get());
  ASSERT_TRUE(disc.IsValid()) << disc.GetLastError();
  auto target = ktest::NewVirtual(dir, "cd-r", "t.vdisc");
  BurnMana_SAO mana(&disc, target.get(), 1, false, -150);
  ASSERT_EQ(BURN_OK, mana.BurnBegin()) << mana.GetLastError();
  const std::vector<uint8_t> want = {
      0x41, 0x00, 0x00, 0x11, 0, 0, 0, 0,     // lead-in
      0x41, 0x01, 0x00, 0x11, 0, 0, 0, 0,     // track 1 index 0 at -150
      0x41, 0x01, 0x01, 0x11, 0, 0, 2, 0,     // index 1 at 0, Mode 1 raw
      0x01, 0x02, 0x00, 0x00, 0, 0, 6, 0,     // track 2 pre-gap at 300 (the TAO run-out and gap)
      0x01, 0x02, 0x01, 0x00, 0, 0, 8, 2,     // index 1 at 452
      0x01, 0xAA, 0x01, 0x00, 0, 0, 10, 52,   // lead-out at 652
  };
  EXPECT_EQ(want, mana.CueSheet());
  ASSERT_TRUE(mana.Burn());
  EXPECT_EQ(BURN_OK, mana.BurnEnd()) << mana.GetLastError();
}

TEST(PollardCopy, StoppingEndsTheBurnAndTheCopyFileLeavesNothing) {
  ScratchDir dir;
  {
    auto d = ktest::NewVirtual(dir, "cd-r", "src.vdisc");
    WriteTaoTrack(*d, ktest::Pattern(400 * 2048, 1), false, 8, false, true);
  }
  // Stopping the copy file at its fifth read: the partial file is removed.
  DataSource_CloneFile file((dir / "stop.bcl").c_str());
  int reads = 0;
  auto src = OpenHooked(dir / "src.vdisc", [&](ScsiCommand& c) {
    if (c.opcode() == 0xBE && ++reads == 5) file.GeneFile_SetStop(true);
  });
  EXPECT_EQ(GENE_STOPPED, file.GeneFile(src.get(), 2352));
  for (auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(std::string::npos, e.path().string().find(".bcl")) << e.path();

  // Stopping the burn at its third write.
  DataSource_Device disc(src.get());
  ASSERT_TRUE(disc.IsValid());
  std::string error;
  ASSERT_TRUE(VirtualRecorder::Create(dir / "t.vdisc", "cd-r", &error));
  BurnMana_SAO* running = nullptr;
  int writes = 0;
  auto target = OpenHooked(dir / "t.vdisc", [&](ScsiCommand& c) {
    if (c.opcode() == 0x2A && ++writes == 3) running->BurnStop();
  });
  BurnMana_SAO mana(&disc, target.get(), 1, false, -150);
  running = &mana;
  ASSERT_EQ(BURN_OK, mana.BurnBegin());
  ASSERT_TRUE(mana.Burn());
  EXPECT_EQ(BURN_STOPPED, mana.BurnEnd());
  EXPECT_TRUE(mana.IsOver());
  EXPECT_LT(mana.GetBurnProgress(), 100);
}

TEST(PollardCopyFile, DamagedCutOffAndForeignFilesAreRefused) {
  ScratchDir dir;
  {
    auto d = ktest::NewVirtual(dir, "cd-r", "src.vdisc");
    WriteTaoTrack(*d, ktest::Pattern(120 * 2048, 1), false, 8, false, true);
  }
  auto src = OpenVirtual(dir / "src.vdisc");
  DataSource_CloneFile maker((dir / "good.bcl").c_str());
  ASSERT_EQ(GENE_OK, maker.GeneFile(src.get(), 2352)) << maker.GetLastError();
  EXPECT_EQ(GENE_FILE_IN_THE_WAY, maker.GeneFile(src.get(), 2352)) << "an existing copy file is never replaced";
  DataSource_CloneFile wrongSize((dir / "other.bcl").c_str());
  EXPECT_EQ(GENE_BAD_SECTOR_SIZE, wrongSize.GeneFile(src.get(), 2048));
  const std::string good = ReadText(dir / "good.bcl");
  ASSERT_EQ(size_t(64 + 32 + (120 + 150) * 2352), good.size());

  DataSource_CloneFile ok((dir / "good.bcl").c_str());
  ASSERT_TRUE(ok.GetFileInfo()) << ok.GetLastError();
  EXPECT_EQ(CD_TYPE_CD, ok.GetDiscType());
  SessionInfo si;
  ASSERT_TRUE(ok.GetSessionInfo(si));
  ASSERT_EQ(1u, si.Sessions.size());
  EXPECT_EQ(120, TocAddressToLba(si.Sessions[0].LeadOut));
  EXPECT_TRUE(si.Sessions[0].Data[0].IsData());

  struct Case {
    const char* name;
    std::function<std::string(std::string)> damage;
    const char* says;
  } cases[] = {
      {"cut", [](std::string s) { return s.substr(0, s.size() - 1000); }, "cut off"},
      {"header", [](std::string s) { return Flipped(s, 20, 1); }, "damaged"},
      {"table", [](std::string s) { return Flipped(s, 64 + 8, 1); }, "damaged"},
      {"sectors", [](std::string s) { return Flipped(s, s.size() / 2, 0x40); }, "sectors are damaged"},
      {"longer", [](std::string s) { return s + "x"; }, "past its end"},
      {"foreign", [](std::string s) { return "PK\x03\x04" + s.substr(4); }, "not a disc copy file"},
      {"short", [](std::string) { return std::string("VXBCL"); }, "too short"},
      {"newer", [](std::string s) { return Flipped(s, 8, 1 ^ 3); }, "version 3"},
  };
  for (const Case& c : cases) {
    std::string path = dir / (std::string(c.name) + ".bcl");
    std::ofstream(path, std::ios::binary) << c.damage(good);
    DataSource_CloneFile f(path.c_str());
    EXPECT_FALSE(f.GetFileInfo()) << c.name;
    EXPECT_NE(std::string::npos, f.GetLastError().find(c.says)) << c.name << ": " << f.GetLastError();
    EXPECT_EQ(0, f.GetSessionNum()) << c.name << ": a refused file shows no layout";
  }
  DataSource_CloneFile missing((dir / "none.bcl").c_str());
  EXPECT_FALSE(missing.GetFileInfo());
  EXPECT_FALSE(missing.GetLastError().empty());
}

// Copy files made before keep their checksums: the checksum is CRC-32 as zip
// and PNG have it, whatever the lengths and alignments of the pieces it is
// fed in (folded 64 bytes at a time where the processor can, with the
// tables for the rest).
TEST(PollardCopyFile, ChecksumIsCrc32OfZipInAnyPieces) {
  const std::string check = "123456789";
  EXPECT_EQ(0xCBF43926u, bcl::Crc32(0, reinterpret_cast<const uint8_t*>(check.data()), check.size()));
  EXPECT_EQ(0u, bcl::Crc32(0, nullptr, 0));
  auto bitwise = [](const std::vector<uint8_t>& v, size_t from, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = from; i < from + n; ++i) {
      c ^= v[i];
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
  };
  const std::vector<uint8_t> data = ktest::Pattern(70000, 9);
  for (size_t from : {0u, 1u, 3u, 7u})
    for (size_t n : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 32u, 33u, 63u, 64u, 65u, 79u, 80u, 127u, 128u, 129u,
                     2048u, 2352u, 65536u + 47u}) {
      const uint32_t whole = bcl::Crc32(0, data.data() + from, n);
      EXPECT_EQ(bitwise(data, from, n), whole) << from << "+" << n;
      for (size_t cut : {size_t(0), n / 3, std::min(n, n / 2 + 1), n}) {
        EXPECT_EQ(whole, bcl::Crc32(bcl::Crc32(0, data.data() + from, cut), data.data() + from + cut, n - cut))
            << from << "+" << n << " cut at " << cut;
      }
    }
}

// The drive reads the next piece of a track while the last goes to the file:
// a track of many pieces, its length no multiple of one, arrives whole and in
// order, and a sector the drive cannot read in a later piece fails the copy
// file with nothing left behind, whether the write or the read is ahead.
TEST(PollardCopyFile, LongTracksAreReadAheadAndABadSectorLeavesNoFile) {
  ScratchDir dir;
  const std::vector<uint8_t> data = ktest::Pattern(2711 * 2048, 5);
  {
    auto d = ktest::NewVirtual(dir, "dvd+r", "src.vdisc");
    WriteTaoTrack(*d, data, false, 8, false, true);
  }
  {
    DataSource_CloneFile made((dir / "whole.bcl").c_str());
    auto src = OpenVirtual(dir / "src.vdisc");
    ASSERT_EQ(GENE_OK, made.GeneFile(src.get(), 2048)) << made.GetLastError();
  }
  DataSource_CloneFile file((dir / "whole.bcl").c_str());
  ASSERT_TRUE(file.GetFileInfo()) << file.GetLastError();
  ASSERT_TRUE(file.OpenTrack(1));
  ASSERT_TRUE(file.SetStartAdd(0));
  std::vector<uint8_t> back(data.size());
  ASSERT_TRUE(file.GetSectorData(back.data(), 2711)) << file.GetLastError();
  EXPECT_TRUE(back == data) << "the copy file's sectors differ from the disc's";

  for (int32_t bad : {5, 1500, 2710}) {
    SCOPED_TRACE(bad);
    {
      VirtualRecorder v;
      std::string error;
      VirtualFaults f;
      f.unreadable = {{bad, bad}};
      ASSERT_TRUE(v.Open(dir / "src.vdisc", &error) && v.SetFaults(f, &error)) << error;
    }
    DataSource_CloneFile broken((dir / "bad.bcl").c_str());
    auto src = OpenVirtual(dir / "src.vdisc");
    EXPECT_EQ(GENE_SOURCE_UNREADABLE, broken.GeneFile(src.get(), 2048));
    EXPECT_FALSE(broken.GetLastError().empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "bad.bcl"));
    EXPECT_FALSE(std::filesystem::exists(dir / "bad.bcl.part"));
  }
}
