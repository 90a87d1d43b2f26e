// The device library's value types: what users read of a drive's answers.

#include <gtest/gtest.h>

#include "DevTypes.h"

TEST(DevTypes, SenseIsNamedAsUsersKnowIt) {
  EXPECT_EQ(SenseText(SenseData{3, 0x0C, 0x00}), "sense 3/0C/00");
  EXPECT_EQ(SenseCodes(SenseData{5, 0x21, 0x02}), "5/21/02");
  // Bits above the key belong to other fields of the sense byte.
  EXPECT_EQ(SenseCodes(0xE5, 0xAB, 0xFF), "5/AB/FF");
}

namespace {

std::vector<uint8_t> Page(uint8_t length, std::initializer_list<uint16_t> speeds, uint8_t rotation = 0) {
  std::vector<uint8_t> p(64, 0);
  p[0] = 0x2A;
  p[1] = length;
  p[2] = 0x08;
  p[3] = 0x01;
  p[8] = 0x21, p[9] = 0x00;   // 8448
  p[14] = 0x10, p[15] = 0x80; // 4224
  p[28] = 0x06, p[29] = 0xE0; // 1760
  p[31] = uint8_t(speeds.size());
  size_t at = 32;
  for (uint16_t s : speeds) {
    p[at + 1] = rotation;
    p[at + 2] = uint8_t(s >> 8), p[at + 3] = uint8_t(s);
    at += 4;
  }
  return p;
}

}  // namespace

TEST(DevTypes, CapabilitiesPageGivesSpeedsWithinItsLength) {
  CAPABILITIES_PAGE caps;
  std::vector<uint8_t> p = Page(30 + 3 * 4, {7040, 0, 1760}, 1);
  ASSERT_TRUE(caps.Parse(p.data(), p.size()));
  EXPECT_EQ(caps.ReadBits, 0x08);
  EXPECT_TRUE(caps.Writes());
  EXPECT_EQ(caps.MaxReadSpeed, 8448);
  EXPECT_EQ(caps.CurrentReadSpeed, 4224);
  EXPECT_EQ(caps.CurrentWriteSpeed, 1760);
  // The rotation byte is not part of the speed, and a 0 ends the list.
  EXPECT_EQ(caps.WriteSpeeds, (std::vector<uint16_t>{7040}));

  // Descriptors beyond the page's own length are not the drive's.
  p = Page(30 + 4, {7040, 3520});
  ASSERT_TRUE(caps.Parse(p.data(), p.size()));
  EXPECT_EQ(caps.WriteSpeeds, (std::vector<uint16_t>{7040}));
  // An old drive's short page: bits only.
  p = Page(0x12, {7040});
  ASSERT_TRUE(caps.Parse(p.data(), p.size()));
  EXPECT_EQ(caps.CurrentWriteSpeed, 0);
  EXPECT_TRUE(caps.WriteSpeeds.empty());

  p[0] = 0x05;
  EXPECT_FALSE(caps.Parse(p.data(), p.size())) << "another page is no capabilities page";
  EXPECT_FALSE(caps.Writes()) << "a refused answer leaves nothing of the last one";
  EXPECT_FALSE(caps.Parse(p.data(), 3));
}

TEST(DevTypes, WriteSpeedChoiceIncludesTheUnitSpeed) {
  CAPABILITIES_PAGE caps;
  caps.WriteSpeeds = {1760, 7040, 3520};
  CAPABILITIES_PAGE::SpeedChoice c = caps.WriteSpeedChoice(176);
  EXPECT_EQ(c.Max, 7040);
  EXPECT_EQ(c.Second, 3520);
  EXPECT_EQ(c.Low, 176);
  caps.WriteSpeeds.clear();
  c = caps.WriteSpeedChoice(1385);
  EXPECT_EQ(c.Max, 1385);
  EXPECT_EQ(c.Second, 1385);
  EXPECT_EQ(c.Low, 1385);
}

TEST(DevTypes, CdTimeAndBcdRoundTrip) {
  EXPECT_EQ(ToBcd(59), 0x59);
  EXPECT_EQ(FromBcd(0x74), 74);
  EXPECT_TRUE(IsBcd(0x99));
  EXPECT_FALSE(IsBcd(0x9A));
  EXPECT_FALSE(IsBcd(0xA0));
  // 79:59:74, the end of an 80-minute disc.
  const Msf m = FramesToMsf(79 * 4500 + 59 * 75 + 74);
  EXPECT_EQ(m.M, 79);
  EXPECT_EQ(m.S, 59);
  EXPECT_EQ(m.F, 74);
  EXPECT_EQ(MsfToFrames(m.M, m.S, m.F), 79 * 4500 + 59 * 75 + 74);
  EXPECT_EQ(MsfText(kMsfOfLbaZero), "00:02:00");
  EXPECT_EQ(MsfText(-1), "00:00:00") << "no time before the start of the scale";
  // The table of contents counts from 00:02:00.
  const TocAddress a = LbaToTocAddress(0);
  EXPECT_EQ(a.S, 2);
  EXPECT_EQ(TocAddressToLba(a), 0);
}
