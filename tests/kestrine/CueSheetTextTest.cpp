// The recorder's side of a session written at once with more than sectors:
// the lead-in's CD-Text as sub-channel symbols, and cue sheets whose codes or
// index points a drive would not take.

#include <gtest/gtest.h>

#include "CDevCmdRW.h"
#include "kestrine/KestrineTestUtil.h"

using ktest::ScratchDir;

TEST(CueSheetText, PacksTravelAsSixBitSymbolsHighBitFirst) {
  uint8_t packs[72] = {};
  const uint8_t head[6] = {0x80, 0x00, 0x00, 0x12, 0x34, 0x56};
  std::copy(head, head + 6, packs);
  packs[69] = 0xFF, packs[70] = 0xFF, packs[71] = 0xFF;
  uint8_t sub[96];
  CdTextPacksToSubchannel(packs, sub);
  // 1000 0000 0000 ... gives 100000 000000 ...; 0x123456 is 000100 100011 010001 010110.
  const uint8_t want[8] = {0x20, 0x00, 0x00, 0x00, 0x04, 0x23, 0x11, 0x16};
  EXPECT_TRUE(std::equal(want, want + 8, sub));
  EXPECT_EQ(0x3F, sub[92]);
  EXPECT_EQ(0x3F, sub[95]);
  for (uint8_t s : sub) EXPECT_EQ(0, s & 0xC0);
  auto p = ktest::Pattern(72, 9);
  uint8_t back[72];
  CdTextPacksToSubchannel(p.data(), sub);
  SubchannelToCdTextPacks(sub, back);
  EXPECT_TRUE(std::equal(p.begin(), p.end(), back));
}

TEST(CueSheetText, CodesAndIndexPointsADriveWouldNotTakeAreRefused) {
  using Entry = std::vector<uint8_t>;
  const Entry leadIn = {0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0};
  const Entry t1i0 = {0x01, 0x01, 0x00, 0x00, 0, 0, 0, 0};
  const Entry t1i1 = {0x01, 0x01, 0x01, 0x00, 0, 0, 2, 0};
  const Entry t1i2 = {0x01, 0x01, 0x02, 0x00, 0, 0, 3, 0};
  const Entry t1i3 = {0x01, 0x01, 0x03, 0x00, 0, 0, 4, 0};
  const Entry leadOut = {0x01, 0xAA, 0x01, 0x00, 0, 0, 6, 0};
  const Entry isrcA = {0x03, 0x01, 'U', 'S', 'A', 'B', 'C', '2'};
  const Entry isrcB = {0x03, 0x01, '6', '0', '0', '0', '0', '1'};
  const Entry isrcLower = {0x03, 0x01, 'u', 's', 'a', 'b', 'c', '2'};
  const Entry mcnA = {0x02, '0', '1', '2', '3', '4', '5', '6'};
  const Entry mcnB = {0x02, '7', '8', '9', '0', '1', '2', 0};
  const Entry mcnBad = {0x02, '7', '8', '9', 'X', '1', '2', 0};
  const Entry textLeadInBadForm = {0x01, 0x00, 0x00, 0x81, 0, 0, 0, 0};
  auto sheet = [](std::initializer_list<Entry> entries) {
    std::vector<uint8_t> s;
    for (const Entry& e : entries) s.insert(s.end(), e.begin(), e.end());
    return s;
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> cue;
    bool taken;
  };
  const std::vector<Case> cases = {
      {"sound", sheet({leadIn, mcnA, mcnB, isrcA, isrcB, t1i0, t1i1, t1i2, t1i3, leadOut}), true},
      {"index 3 before 2", sheet({leadIn, t1i0, t1i1, t1i3, t1i2, leadOut}), false},
      {"index 2 skipped", sheet({leadIn, t1i0, t1i1, t1i3, leadOut}), false},
      {"index 2 before index 1", sheet({leadIn, t1i0, {0x01, 0x01, 0x02, 0, 0, 0, 1, 0}, t1i1, leadOut}), false},
      {"index 2 at index 1", sheet({leadIn, t1i0, t1i1, {0x01, 0x01, 0x02, 0, 0, 0, 2, 0}, leadOut}), false},
      {"index past the lead-out", sheet({leadIn, t1i0, t1i1, {0x01, 0x01, 0x02, 0, 0, 0, 7, 0}, leadOut}), false},
      {"lower-case ISRC", sheet({leadIn, isrcLower, isrcB, t1i0, t1i1, leadOut}), false},
      {"half an ISRC", sheet({leadIn, isrcA, t1i0, t1i1, leadOut}), false},
      {"letter in the catalogue number", sheet({leadIn, mcnA, mcnBad, t1i0, t1i1, leadOut}), false},
      {"half a catalogue number", sheet({leadIn, mcnA, t1i0, t1i1, leadOut}), false},
      {"lead-in with unknown sub-channel", sheet({textLeadInBadForm, t1i0, t1i1, leadOut}), false},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    auto d = ktest::NewVirtual(dir, "cd-r");
    ASSERT_EQ(DEV_OK, d->SetWriteParam(ktest::DataTrackParams(2, false, 0, 0)));
    const uint32_t s = d->SendCueSheet(c.cue.data(), int(c.cue.size()));
    if (c.taken) {
      EXPECT_EQ(DEV_OK, s) << c.what << ": " << ktest::SenseOf(*d);
    } else {
      EXPECT_EQ("5/26/00", ktest::SenseOf(*d)) << c.what;
    }
  }
}

TEST(CueSheetText, ALeadInWithTextMustBeWrittenFromItsStart) {
  ScratchDir dir;
  auto d = ktest::NewVirtual(dir, "cd-r");
  ASSERT_EQ(DEV_OK, d->SetWriteParam(ktest::DataTrackParams(2, false, 0, 0)));
  const std::vector<uint8_t> cue = {0x01, 0x00, 0x00, 0x41, 0, 0, 0, 0, 0x01, 0x01, 0x00, 0x00, 0, 0, 0, 0,
                                    0x01, 0x01, 0x01, 0x00, 0, 0, 2, 0, 0x01, 0xAA, 0x01, 0x00, 0, 0, 6, 0};
  ASSERT_EQ(DEV_OK, d->SendCueSheet(cue.data(), int(cue.size()))) << ktest::SenseOf(*d);
  DISC_INFO di;
  ASSERT_EQ(DEV_OK, d->ReadDiscInfo(di));
  const int32_t leadIn = TocAddressToLba(TocAddress{di.Raw[16], di.Raw[17], di.Raw[18], di.Raw[19]});
  ASSERT_LT(leadIn, -150);
  std::vector<uint8_t> pcm(2352);
  EXPECT_NE(DEV_OK, d->Write(uint32_t(-150), pcm.data(), 2352, 1));  // skipping the lead-in
  EXPECT_EQ("5/21/02", ktest::SenseOf(*d));
  std::vector<uint8_t> sub(96 * 2);
  EXPECT_NE(DEV_OK, d->Write(uint32_t(leadIn), sub.data(), 2352, 1));  // main data in the lead-in
  EXPECT_EQ("5/64/00", ktest::SenseOf(*d));
  EXPECT_EQ(DEV_OK, d->Write(uint32_t(leadIn), sub.data(), 192, 2)) << ktest::SenseOf(*d);
}
