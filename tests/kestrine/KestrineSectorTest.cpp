// Raw CD sectors checked against a separate computation: the EDC as a
// bit-by-bit CRC, the P and Q parity by the syndromes of their Reed-Solomon
// codewords (both must be zero for a correct sector).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "CdSector.h"
#include "KestrineTestUtil.h"

namespace {

uint32_t EdcBitwise(const uint8_t* d, size_t n) {
  // x^32 + x^31 + x^16 + x^15 + x^4 + x^3 + x + 1, least significant bit first.
  uint32_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= d[i];
    for (int b = 0; b < 8; ++b) crc = (crc & 1) ? (crc >> 1) ^ 0xD8018001u : crc >> 1;
  }
  return crc;
}

struct Gf {
  uint8_t exp[512], log[256];
  Gf() {
    int x = 1;
    for (int i = 0; i < 255; ++i) {
      exp[i] = uint8_t(x);
      log[x] = uint8_t(i);
      x <<= 1;
      if (x & 0x100) x ^= 0x11D;
    }
    for (int i = 255; i < 512; ++i) exp[i] = exp[i - 255];
  }
  uint8_t Mul(uint8_t a, uint8_t b) const { return (a && b) ? exp[log[a] + log[b]] : 0; }
  uint8_t Pow(int n) const { return exp[n % 255]; }
};

// Both syndromes of one codeword (weights alpha^(n-1) .. alpha^0).
void Syndromes(const Gf& gf, const std::vector<uint8_t>& word, uint8_t& s0, uint8_t& s1) {
  s0 = s1 = 0;
  int n = int(word.size());
  for (int i = 0; i < n; ++i) {
    s0 ^= word[i];
    s1 ^= gf.Mul(word[i], gf.Pow(n - 1 - i));
  }
}

// Counts P and Q codewords of a sector whose syndromes are not zero.
int BadCodewords(const uint8_t* raw, bool zeroHeader) {
  static const Gf gf;
  std::vector<uint8_t> s(raw + 12, raw + 2352);  // from the header on
  if (zeroHeader) std::memset(s.data(), 0, 4);
  int bad = 0;
  for (int c = 0; c < 86; ++c) {  // P: columns of 24 bytes plus 2 parity
    std::vector<uint8_t> w;
    for (int r = 0; r < 26; ++r) w.push_back(s[size_t(c + 86 * r)]);
    uint8_t s0, s1;
    Syndromes(gf, w, s0, s1);
    bad += (s0 || s1);
  }
  for (int d = 0; d < 52; ++d) {  // Q: diagonals of 43 bytes plus 2 parity
    std::vector<uint8_t> w;
    int index = (d >> 1) * 86 + (d & 1);
    for (int k = 0; k < 43; ++k) {
      w.push_back(s[size_t(index)]);
      index = (index + 88) % 2236;
    }
    w.push_back(s[size_t(2236 + d)]);
    w.push_back(s[size_t(2236 + 52 + d)]);
    uint8_t s0, s1;
    Syndromes(gf, w, s0, s1);
    bad += (s0 || s1);
  }
  return bad;
}

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(rng());
  return v;
}

}  // namespace

TEST(KestrineSector, Mode1SectorHasSyncHeaderEdcAndParity) {
  auto user = RandomBytes(2048, 1);
  uint8_t raw[2352];
  cdsector::Encode(16, cdsector::Mode::Mode1, user.data(), raw);
  const uint8_t sync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  EXPECT_EQ(0, std::memcmp(raw, sync, 12));
  // LBA 16 is 00:02:16 on the disc.
  EXPECT_EQ(0x00, raw[12]);
  EXPECT_EQ(0x02, raw[13]);
  EXPECT_EQ(0x16, raw[14]);
  EXPECT_EQ(1, raw[15]);
  EXPECT_EQ(0, std::memcmp(raw + 16, user.data(), 2048));
  uint32_t edc = raw[2064] | raw[2065] << 8 | raw[2066] << 16 | uint32_t(raw[2067]) << 24;
  EXPECT_EQ(EdcBitwise(raw, 2064), edc) << "EDC of a Mode 1 sector covers sync, header and data";
  for (int i = 2068; i < 2076; ++i) EXPECT_EQ(0, raw[i]) << "the intermediate field is zero";
  EXPECT_EQ(0, BadCodewords(raw, false)) << "P or Q parity does not check";
}

TEST(KestrineSector, Mode2Form1ParityIgnoresTheHeader) {
  auto user = RandomBytes(2048, 2);
  uint8_t raw[2352];
  cdsector::Encode(123456, cdsector::Mode::Mode2Form1, user.data(), raw);
  EXPECT_EQ(2, raw[15]);
  EXPECT_EQ(0, std::memcmp(raw + 16, raw + 20, 4)) << "the sub-header is stored twice";
  EXPECT_EQ(0, raw[18] & 0x20) << "form 1";
  uint32_t edc = raw[2072] | raw[2073] << 8 | raw[2074] << 16 | uint32_t(raw[2075]) << 24;
  EXPECT_EQ(EdcBitwise(raw + 16, 2056), edc);
  EXPECT_EQ(0, BadCodewords(raw, true));
  EXPECT_GT(BadCodewords(raw, false), 0) << "with the real header in place the parity must not check";
}

TEST(KestrineSector, Mode2Form2HasEdcAndNoParity) {
  auto user = RandomBytes(2324, 3);
  uint8_t raw[2352];
  cdsector::Encode(5000, cdsector::Mode::Mode2Form2, user.data(), raw);
  EXPECT_TRUE(raw[18] & 0x20);
  EXPECT_EQ(0, std::memcmp(raw + 24, user.data(), 2324));
  uint32_t edc = raw[2348] | raw[2349] << 8 | raw[2350] << 16 | uint32_t(raw[2351]) << 24;
  EXPECT_EQ(EdcBitwise(raw + 16, 2332), edc);
  EXPECT_EQ(cdsector::Mode::Mode2Form2, cdsector::ModeOf(raw));
}

TEST(KestrineSector, CorruptedByteBreaksTheCodewords) {
  auto user = RandomBytes(2048, 4);
  uint8_t raw[2352];
  cdsector::Encode(77, cdsector::Mode::Mode1, user.data(), raw);
  raw[1000] ^= 0x01;
  EXPECT_EQ(2, BadCodewords(raw, false)) << "one wrong byte lies in one P and one Q codeword";
}

// The same checks on what the virtual recorder hands back from its disc:
// Mode 1, Mode 2 Form 1 and Form 2 sectors written through the recorder.
TEST(KestrineSector, VirtualRecorderReturnsSectorsWithValidEdcAndEcc) {
  ktest::ScratchDir dir;
  auto d = ktest::NewVirtual(dir, "cd-r");
  // Track 1: Mode 1. Track 2: Mode 2 with sub-headers (2332-byte blocks),
  // alternating Form 1 and Form 2 sectors.
  ASSERT_EQ(DEV_OK, d->SetWriteParam(ktest::DataTrackParams(1, true, 4, 8)));
  auto m1 = RandomBytes(16 * 2048, 5);
  ASSERT_EQ(DEV_OK, d->Write(0, m1.data(), uint32_t(m1.size()), 16));
  ASSERT_EQ(DEV_OK, d->CloseTrack(1));
  ASSERT_EQ(DEV_OK, d->SetWriteParam(ktest::DataTrackParams(1, true, 4, 13)));
  long nwa = 0;
  ASSERT_EQ(DEV_OK, d->GetNextWriteAdd(nwa));
  std::vector<uint8_t> mixed(8 * 2332);
  auto fill = RandomBytes(mixed.size(), 6);
  for (int i = 0; i < 8; ++i) {
    uint8_t* s = mixed.data() + i * 2332;
    std::memcpy(s + 8, fill.data() + i * 2332, 2324);
    uint8_t sub[4] = {1, 0, uint8_t(i % 2 ? 0x20 : 0x08), 0};
    std::memcpy(s, sub, 4);
    std::memcpy(s + 4, sub, 4);
  }
  ASSERT_EQ(DEV_OK, d->Write(uint32_t(nwa), mixed.data(), uint32_t(mixed.size()), 8)) << ktest::SenseOf(*d);
  ASSERT_EQ(DEV_OK, d->CloseTrack(2));
  ASSERT_EQ(DEV_OK, d->CloseSession());

  uint8_t raw[2352];
  for (uint32_t lba = 0; lba < 16; ++lba) {
    ASSERT_EQ(DEV_OK, d->ReadCD_All(raw, 2352, 1, lba));
    uint32_t edc = raw[2064] | raw[2065] << 8 | raw[2066] << 16 | uint32_t(raw[2067]) << 24;
    EXPECT_EQ(EdcBitwise(raw, 2064), edc) << "Mode 1 sector " << lba;
    EXPECT_EQ(0, BadCodewords(raw, false)) << "Mode 1 sector " << lba;
  }
  for (int i = 0; i < 8; ++i) {
    uint32_t lba = uint32_t(nwa) + uint32_t(i);
    ASSERT_EQ(DEV_OK, d->ReadCD_All(raw, 2352, 1, lba));
    EXPECT_EQ(2, raw[15]);
    if (i % 2) {
      uint32_t edc = raw[2348] | raw[2349] << 8 | raw[2350] << 16 | uint32_t(raw[2351]) << 24;
      EXPECT_EQ(EdcBitwise(raw + 16, 2332), edc) << "Form 2 sector " << lba;
      EXPECT_EQ(0, std::memcmp(raw + 24, fill.data() + i * 2332, 2324));
    } else {
      uint32_t edc = raw[2072] | raw[2073] << 8 | raw[2074] << 16 | uint32_t(raw[2075]) << 24;
      EXPECT_EQ(EdcBitwise(raw + 16, 2056), edc) << "Form 1 sector " << lba;
      EXPECT_EQ(0, BadCodewords(raw, true)) << "Form 1 sector " << lba;
    }
  }
  // User data of the forms: 2048 bytes of Form 1, 2324 of Form 2.
  uint8_t user[2352];
  ASSERT_EQ(DEV_OK, d->ReadCD_Data(user, sizeof user, 1, uint32_t(nwa) + 1));
  EXPECT_EQ(2324u, d->LastTransferred());
  ASSERT_EQ(DEV_OK, d->ReadCD_Data(user, sizeof user, 1, uint32_t(nwa)));
  EXPECT_EQ(2048u, d->LastTransferred());
  SessionInfo si;
  ASSERT_EQ(DEV_OK, d->GetSessionInfo(si));
  EXPECT_EQ(0x00, si.Sessions[0].DiscType) << "the first track decides the session format";
}
