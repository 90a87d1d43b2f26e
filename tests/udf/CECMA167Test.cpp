#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "ByteFields.h"
#include "authoring/CECMA167.h"

TEST(Ecma167, CrcAndTagMatchTheStandardForms) {
  // The CRC of ECMA-167 is CRC-16/XMODEM: check value 0x31C3.
  const char* digits = "123456789";
  EXPECT_EQ(CECMA167::Crc(reinterpret_cast<const uint8_t*>(digits), 9), 0x31C3);

  uint8_t d[64] = {};
  for (int i = 16; i < 64; ++i) d[i] = uint8_t(i * 7);
  CECMA167::MakeTag(udf::kTagTerminating, d, 64, 1234);
  EXPECT_EQ(bytes::LE16(d + 10), 48);
  uint32_t where = 1234, elsewhere = 1235;
  std::string why;
  EXPECT_TRUE(CECMA167::VerifyTag(d, 64, &why, &where)) << why;
  EXPECT_FALSE(CECMA167::VerifyTag(d, 64, &why, &elsewhere));
  EXPECT_FALSE(CECMA167::VerifyTag(d, 40, &why));  // CRC length past the buffer
  d[30] ^= 1;
  EXPECT_FALSE(CECMA167::VerifyTag(d, 64, &why));
  EXPECT_EQ(why, "bad descriptor CRC");
  CECMA167::RefreshTag(d);
  EXPECT_TRUE(CECMA167::VerifyTag(d, 64, &why)) << why;
  d[13] ^= 1;
  EXPECT_FALSE(CECMA167::VerifyTag(d, 64, &why));
  EXPECT_EQ(why, "bad tag checksum");
}

TEST(Ecma167, TagChecksumCoversEveryTagByteAtAnyLocation) {
  // The sum of tag bytes 0-3 and 5-15, taken here without the code under
  // test; locations at and above 2^24 put a nonzero byte at offset 15.
  auto sum = [](const uint8_t* tag) {
    unsigned s = 0;
    for (int i = 0; i < 16; ++i) s += i == 4 ? 0 : tag[i];
    return uint8_t(s & 0xFF);
  };
  for (uint32_t location : {0u, 257u, 0x00FFFFFFu, 0x01000000u, 0x12345678u, 0xFFFFFFFFu}) {
    uint8_t d[64] = {};
    for (int i = 16; i < 64; ++i) d[i] = uint8_t(i * 13);
    CECMA167::MakeTag(udf::kTagFileEntry, d, 64, location);
    EXPECT_EQ(bytes::LE32(d + 12), location);
    EXPECT_EQ(d[4], sum(d)) << "tag checksum at location " << location;
    EXPECT_TRUE(CECMA167::VerifyTag(d, 64, nullptr, &location)) << location;

    // A tag made by hand is accepted; one whose highest location byte is
    // off is refused.
    uint8_t hand[64];
    std::memcpy(hand, d, sizeof hand);
    hand[4] = sum(hand);
    EXPECT_TRUE(CECMA167::VerifyTag(hand, 64)) << location;
    hand[15] ^= 0x40;
    std::string why;
    EXPECT_FALSE(CECMA167::VerifyTag(hand, 64, &why)) << location;
    EXPECT_EQ(why, "bad tag checksum");
  }
}

TEST(Ecma167, FileIdentifierStaysInsideItsFieldsWhateverTheName) {
  uint8_t fid[CECMA167::kMaxFileIdentifierLength + 16];
  std::memset(fid, 0xEE, sizeof fid);
  std::u16string longName(300, u'x');
  longName[126] = 0xD83D;  // a surrogate pair across the cut
  longName[127] = 0xDE00;
  uint32_t length = CECMA167::MakeFileIdentifier(fid, longName, 7, CECMA167::kFile, true, 9);
  EXPECT_EQ(length % 4, 0u);
  EXPECT_LE(length, CECMA167::kMaxFileIdentifierLength);
  EXPECT_EQ(fid[udf::fid::kIdLength], 1 + 2 * 126);  // the pair is dropped whole
  EXPECT_EQ(fid[CECMA167::kMaxFileIdentifierLength], 0xEE);
  EXPECT_EQ(fid[udf::fid::kCharacteristics], udf::kCharHidden);
  EXPECT_EQ(bytes::LE32(fid + udf::fid::kIcb + 4), 9u);
  EXPECT_TRUE(CECMA167::VerifyTag(fid, length));

  uint32_t parent = CECMA167::MakeFileIdentifier(fid, u"", 7, CECMA167::kParent, false, 3);
  EXPECT_EQ(parent, 40u);
  EXPECT_EQ(fid[udf::fid::kCharacteristics], udf::kCharDirectory | udf::kCharParent);

  std::string back;
  uint32_t named = CECMA167::MakeFileIdentifier(fid, u"Köln", 7, CECMA167::kFolder, false, 3);
  EXPECT_EQ(named, 48u);  // 38 + 1 + 8, rounded to 4
  ASSERT_TRUE(CECMA167::DecodeCS0(fid + 38, fid[udf::fid::kIdLength], &back));
  EXPECT_EQ(back, "Köln");
}

TEST(Ecma167, TimestampsCarryTheOffsetOfTheirLocalTime) {
  const char* saved = std::getenv("TZ");
  std::string restore = saved ? saved : "";
  setenv("TZ", "IST-5:30", 1);
  tzset();
  uint8_t stamp[12];
  time_t t = 86400 * 365;  // 1971-01-01 00:00 UTC
  CECMA167::MakeTimestamp(stamp, t);
  EXPECT_EQ(bytes::LE16(stamp), 0x1000 | 330);
  EXPECT_EQ(bytes::LE16(stamp + 2), 1971);
  EXPECT_EQ(stamp[6], 5);   // hour
  EXPECT_EQ(stamp[7], 30);  // minute
  setenv("TZ", "PST8", 1);
  tzset();
  CECMA167::MakeTimestamp(stamp, t);
  EXPECT_EQ(bytes::LE16(stamp), 0x1000 | (uint16_t(-480) & 0x0FFF));
  EXPECT_EQ(bytes::LE16(stamp + 2), 1970);
  if (saved) setenv("TZ", restore.c_str(), 1); else unsetenv("TZ");
  tzset();

  uint8_t date[7] = {126, 12, 8, 9, 15, 42, uint8_t(-20)};  // -5 hours
  CECMA167::TimestampFromIsoDate(stamp, date);
  uint8_t back[7];
  CECMA167::TimestampToIsoDate(stamp, back);
  EXPECT_EQ(std::memcmp(date, back, 7), 0);
}

TEST(Ecma167, FileEntriesCutLargeFilesInto512MiBExtents) {
  uint8_t fe[2048];
  uint32_t length = CECMA167::MakeFileEntry(fe, true, 21, 0x50000000ull, 100, 55, nullptr, false);
  EXPECT_EQ(bytes::LE32(fe + udf::fe::kAdLength), 24u);
  EXPECT_EQ(length, 176u + 24);
  EXPECT_EQ(bytes::LE32(fe + 176 + 16), 0x10000000u);
  EXPECT_EQ(bytes::LE32(fe + 176 + 20), 100u + 2 * 0x40000);
  EXPECT_EQ(bytes::LE64(fe + udf::fe::kBlocksRecorded), 0x50000000ull / 2048);
  EXPECT_TRUE(CECMA167::VerifyTag(fe, 2048));

  CECMA167::MakeFileEntry(fe, true, 21, 0, 100, 55, nullptr, false);
  EXPECT_EQ(bytes::LE32(fe + udf::fe::kAdLength), 16u);  // one empty descriptor, then the end
  EXPECT_EQ(bytes::LE32(fe + 176), 0u);
}
