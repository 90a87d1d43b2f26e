// A session written at once carries what an audio CD has beside its samples:
// CD-Text in the lead-in, the catalogue number and ISRCs in the sub-channel,
// index points and control flags. Read back through the recorder's own
// commands and again after the recorder is opened anew from its files.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "BurnMana_SAO.h"
#include "DataSource.h"
#include "kestrine/KestrineTestUtil.h"

using ktest::ScratchDir;

namespace {

// Audio made up from the address, so that any sector can be told by its bytes.
void FillPcm(int32_t lba, uint8_t* out) {
  for (int i = 0; i < 2352; ++i) out[i] = uint8_t((lba * 7 + i * 13 + (i >> 8)) & 0xFF);
}

class PcmSource : public DataSource {
 public:
  explicit PcmSource(DiscLayout layout) { layout_ = std::move(layout); }
  bool GetSectorData(uint8_t* buffer, int count) override {
    const SourceTrack* t = Open();
    if (!t || position_ + count > t->End()) return Fail("read past the track");
    for (int i = 0; i < count; ++i) FillPcm(int32_t(position_) + i, buffer + size_t(i) * 2352);
    position_ += count;
    return true;
  }
  DataSource* CloneSource() override { return nullptr; }
};

SourceTrack Audio(int number, int32_t pregap, int32_t start, int32_t length, uint8_t control) {
  SourceTrack t;
  t.number = number;
  t.control = control;
  t.pregapStart = pregap;
  t.start = start;
  t.length = length;
  return t;
}

DiscLayout ThreeTracks() {
  DiscLayout d;
  d.discType = CD_TYPE_CD;
  d.profile = 8;
  d.sectorSize = 2352;
  SourceSession s;
  s.tracks.push_back(Audio(1, -150, 0, 400, 0x02));  // copy permitted
  s.tracks.back().indexes = {100, 250};
  s.tracks.back().isrc = "USABC2600001";
  s.tracks.push_back(Audio(2, 400, 400, 300, 0x01));  // gapless, pre-emphasis
  s.tracks.push_back(Audio(3, 700, 775, 200, 0x0A));  // four channels, copy permitted
  s.tracks.back().indexes = {900};
  s.tracks.back().isrc = "GBXYZ2600017";
  d.sessions.push_back(s);
  d.cdText = BuildCdTextPacks({{"Album", "One", "Two", "Three"}, {"Band", "P1", "P2", "P3"}});
  d.mcn = "0123456789012";
  return d;
}

std::string Burn(DataSource& source, CDevCmdRW& target, BurnMana_SAO* mana = nullptr) {
  BurnMana_SAO own(&source, &target, 1, false, -150);
  BurnMana_SAO& m = mana ? *mana : own;
  if (int r = m.BurnBegin(); r != BURN_OK) return "begin " + std::to_string(r) + ": " + m.GetLastError();
  if (!m.Burn()) return "burn: " + m.GetLastError();
  if (int r = m.BurnEnd(); r != BURN_OK) return "end " + std::to_string(r) + ": " + m.GetLastError();
  if (m.GetBurnProgress() != 100) return "progress ended at " + std::to_string(m.GetBurnProgress());
  return "";
}

}  // namespace

TEST(PollardSaoText, CueSheetCarriesCatalogueIsrcsIndexesAndFlags) {
  ScratchDir dir;
  PcmSource source(ThreeTracks());
  ASSERT_EQ("", source.Layout().Check());
  auto target = ktest::NewVirtual(dir, "cd-r");
  BurnMana_SAO mana(&source, target.get(), 1, false, -150);
  ASSERT_EQ(BURN_OK, mana.BurnBegin()) << mana.GetLastError();
  const std::vector<uint8_t> want = {
      0x21, 0x00, 0x00, 0x41, 0, 0, 0, 0,               // lead-in with CD-Text
      0x22, '0', '1', '2', '3', '4', '5', '6',          // catalogue number
      0x22, '7', '8', '9', '0', '1', '2', 0,
      0x23, 0x01, 'U', 'S', 'A', 'B', 'C', '2',         // ISRC of track 1
      0x23, 0x01, '6', '0', '0', '0', '0', '1',
      0x21, 0x01, 0x00, 0x00, 0, 0, 0, 0,               // track 1 index 0 at -150
      0x21, 0x01, 0x01, 0x00, 0, 0, 2, 0,               // index 1 at 0
      0x21, 0x01, 0x02, 0x00, 0, 0, 3, 25,              // index 2 at 100
      0x21, 0x01, 0x03, 0x00, 0, 0, 5, 25,              // index 3 at 250
      0x11, 0x02, 0x01, 0x00, 0, 0, 7, 25,              // track 2 at 400, no gap, pre-emphasis
      0xA3, 0x03, 'G', 'B', 'X', 'Y', 'Z', '2',         // ISRC of track 3
      0xA3, 0x03, '6', '0', '0', '0', '1', '7',
      0xA1, 0x03, 0x00, 0x00, 0, 0, 11, 25,             // track 3 index 0 at 700
      0xA1, 0x03, 0x01, 0x00, 0, 0, 12, 25,             // index 1 at 775
      0xA1, 0x03, 0x02, 0x00, 0, 0, 14, 0,              // index 2 at 900
      0xA1, 0xAA, 0x01, 0x00, 0, 0, 15, 0,              // lead-out at 975
  };
  EXPECT_EQ(want, mana.CueSheet());
  ASSERT_TRUE(mana.Burn());
  ASSERT_EQ(BURN_OK, mana.BurnEnd()) << mana.GetLastError();
}

TEST(PollardSaoText, WrittenDiscAnswersTextCatalogueAndIsrcsAndKeepsThemInItsFiles) {
  ScratchDir dir;
  const DiscLayout layout = ThreeTracks();
  PcmSource source(layout);
  {
    auto target = ktest::NewVirtual(dir, "cd-r");
    ASSERT_EQ("", Burn(source, *target));
  }
  auto d = ktest::OpenVirtual(dir / "disc.vdisc");  // from the files alone
  std::vector<uint8_t> packs;
  ASSERT_EQ(DEV_OK, d->ReadCdTextPacks(packs)) << ktest::SenseOf(*d);
  EXPECT_EQ(layout.cdText, packs);
  FS_CDTEXT_INFO text;
  ASSERT_EQ(DEV_OK, d->GetCDText(text));
  EXPECT_STREQ("Album", text.Tracks[0].szTitle);
  EXPECT_STREQ("Three", text.Tracks[3].szTitle);
  EXPECT_STREQ("P2", text.Tracks[2].szArtist);

  std::string code;
  ASSERT_EQ(DEV_OK, d->ReadMediaCatalog(code));
  EXPECT_EQ("0123456789012", code);
  ASSERT_EQ(DEV_OK, d->ReadTrackIsrc(1, code));
  EXPECT_EQ("USABC2600001", code);
  ASSERT_EQ(DEV_OK, d->ReadTrackIsrc(2, code));
  EXPECT_EQ("", code);
  ASSERT_EQ(DEV_OK, d->ReadTrackIsrc(3, code));
  EXPECT_EQ("GBXYZ2600017", code);
  EXPECT_NE(DEV_OK, d->ReadTrackIsrc(4, code));  // no such track

  TocData toc;
  ASSERT_EQ(DEV_OK, d->GetTocData(toc));
  ASSERT_EQ(3u, toc.Data.size());
  EXPECT_EQ(0x12, toc.Data[0].AdrCtrl);
  EXPECT_EQ(0x11, toc.Data[1].AdrCtrl);
  EXPECT_EQ(0x1A, toc.Data[2].AdrCtrl);
  EXPECT_EQ(775, TocAddressToLba(toc.Data[2].Addr));

  // The samples landed where the layout has them: either side of the gapless
  // joint, in the pre-gap of track 3 and the last sector.
  for (int32_t lba : {0, 399, 400, 700, 774, 974}) {
    std::vector<uint8_t> got(2352), expect(2352);
    ASSERT_EQ(DEV_OK, d->ReadCD_Audio(got.data(), 2352, 1, uint32_t(lba))) << lba << " " << ktest::SenseOf(*d);
    FillPcm(lba, expect.data());
    EXPECT_TRUE(got == expect) << "sector " << lba;
  }

  VirtualRecorder r;
  std::string error;
  ASSERT_TRUE(r.Open(dir / "disc.vdisc", &error)) << error;
  ASSERT_EQ(3u, r.Model().tracks.size());
  EXPECT_EQ((std::vector<int32_t>{100, 250}), r.Model().tracks[0].indexes);
  EXPECT_TRUE(r.Model().tracks[1].indexes.empty());
  EXPECT_EQ((std::vector<int32_t>{900}), r.Model().tracks[2].indexes);
}

TEST(PollardSaoText, OlderMediumFilesLoadAndABlankedDiscForgetsItsTexts) {
  ScratchDir dir;
  PcmSource source(ThreeTracks());
  {
    auto target = ktest::NewVirtual(dir, "cd-rw");
    ASSERT_EQ("", Burn(source, *target));
  }
  // The state file as programs before these fields wrote it.
  std::ifstream in(dir / "disc.vdisc");
  std::stringstream old;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("isrc ", 0) == 0 || line.rfind("index ", 0) == 0 || line.rfind("mcn ", 0) == 0) continue;
    old << line << "\n";
  }
  in.close();
  ASSERT_NE(std::string::npos, old.str().find("track 3 "));
  std::ofstream(dir / "disc.vdisc", std::ios::trunc) << old.str();
  {
    auto d = ktest::OpenVirtual(dir / "disc.vdisc");
    TocData toc;
    ASSERT_EQ(DEV_OK, d->GetTocData(toc));
    EXPECT_EQ(3u, toc.Data.size());
    std::string code = "x";
    ASSERT_EQ(DEV_OK, d->ReadMediaCatalog(code));
    EXPECT_EQ("", code);
    ASSERT_EQ(DEV_OK, d->ReadTrackIsrc(1, code));
    EXPECT_EQ("", code);
    std::vector<uint8_t> packs;
    ASSERT_EQ(DEV_OK, d->ReadCdTextPacks(packs));
    EXPECT_FALSE(packs.empty());  // the texts were kept before these fields

    ASSERT_EQ(DEV_OK, d->Blank(BLANK_MINIMAL)) << ktest::SenseOf(*d);
  }
  DiscLayout plain = ThreeTracks();
  plain.cdText.clear();
  plain.mcn.clear();
  PcmSource withoutText(plain);
  {
    auto target = ktest::OpenVirtual(dir / "disc.vdisc");
    ASSERT_EQ("", Burn(withoutText, *target));
  }
  auto d = ktest::OpenVirtual(dir / "disc.vdisc");
  std::vector<uint8_t> packs = {1};
  ASSERT_EQ(DEV_OK, d->ReadCdTextPacks(packs));
  EXPECT_TRUE(packs.empty()) << "the texts of the blanked disc came back";
  std::string code = "x";
  ASSERT_EQ(DEV_OK, d->ReadMediaCatalog(code));
  EXPECT_EQ("", code);
}

TEST(PollardSaoText, BadCodesAndIndexesAreRefusedBeforeTheBurn) {
  ScratchDir dir;
  auto target = ktest::NewVirtual(dir, "cd-r");
  for (int fault = 0; fault < 4; ++fault) {
    DiscLayout d = ThreeTracks();
    if (fault == 0) d.mcn = "01234567890AB";
    if (fault == 1) d.sessions[0].tracks[0].isrc = "usabc2600001";
    if (fault == 2) d.sessions[0].tracks[0].indexes = {250, 100};
    if (fault == 3) d.sessions[0].tracks[2].indexes = {975};  // on the lead-out
    EXPECT_NE("", d.Check()) << fault;
  }
}
