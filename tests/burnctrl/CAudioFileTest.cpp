#include <gtest/gtest.h>

#include <cstring>

#include "BurnTestSupport.h"
#include "media/CAudioFile.h"

namespace {

std::string WavHeader(uint32_t dataBytes, uint16_t channels = 2, uint32_t rate = 44100) {
  uint8_t h[44] = {};
  auto le32 = [&](int at, uint32_t v) { for (int i = 0; i < 4; ++i) h[at + i] = uint8_t(v >> (8 * i)); };
  auto le16 = [&](int at, uint16_t v) { h[at] = uint8_t(v), h[at + 1] = uint8_t(v >> 8); };
  std::memcpy(h, "RIFF", 4);
  le32(4, 36 + dataBytes);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  le32(16, 16);
  le16(20, 1);
  le16(22, channels);
  le32(24, rate);
  le32(28, rate * channels * 2);
  le16(32, uint16_t(channels * 2));
  le16(34, 16);
  std::memcpy(h + 36, "data", 4);
  le32(40, dataBytes);
  return std::string(reinterpret_cast<char*>(h), 44);
}

}  // namespace

TEST(CAudioFile, CountsSectorsWithTheHeaderAndReadsBehindIt) {
  ScratchFolder dir;
  std::string onlyHeader = dir.Write("h.wav", WavHeader(0));
  CAudioFile a;
  a.SetFile(onlyHeader);
  EXPECT_EQ(a.GetSectorCount(), 1u);
  uint8_t buf[2352];
  std::memset(buf, 0xAB, sizeof buf);
  a.ReadData(buf, sizeof buf);
  EXPECT_EQ(buf[0], 0xAB) << "a header-only file has no PCM to read";

  std::vector<uint8_t> pcm = PatternBytes(2352 * 3, 3);
  std::string full = dir.Write("f.wav", WavHeader(uint32_t(pcm.size())) + std::string(pcm.begin(), pcm.end()));
  a.Rewind();
  a.SetFile(full);
  EXPECT_EQ(a.GetSectorCount(), 4u) << "2352 x 3 + 44 bytes make four sectors";
  std::vector<uint8_t> got(2352 * 3);
  for (int i = 0; i < 3; ++i) a.ReadData(&got[size_t(i) * 2352], 2352);
  EXPECT_TRUE(got == pcm);
}

TEST(CAudioFile, AVanishedFileLeavesPositionAndBuffer) {
  ScratchFolder dir;
  std::string path = dir.Write("v.wav", WavHeader(4704) + std::string(4704, '\x11'));
  CAudioFile a;
  a.SetFile(path);
  uint8_t buf[2352];
  a.ReadData(buf, sizeof buf);
  ASSERT_EQ(a.Position(), 44u + 2352u);
  std::remove(path.c_str());
  std::memset(buf, 0x5A, sizeof buf);
  a.ReadData(buf, sizeof buf);
  EXPECT_EQ(a.Position(), 44u + 2352u);
  EXPECT_EQ(buf[100], 0x5A);
  EXPECT_EQ(a.GetSectorCount(), 0u);
}

TEST(CAudioFile, OnlyPlainCdAudioWavFilesAreAccepted) {
  ScratchFolder dir;
  std::string why;
  EXPECT_TRUE(IsCdAudioWav(dir.Write("ok.wav", WavHeader(0)), &why)) << why;
  EXPECT_FALSE(IsCdAudioWav(dir.Write("mono.wav", WavHeader(0, 1)), &why));
  EXPECT_NE(why.find("stereo"), std::string::npos);
  EXPECT_FALSE(IsCdAudioWav(dir.Write("48k.wav", WavHeader(0, 2, 48000)), &why));
  std::string withList = WavHeader(0);
  std::memcpy(&withList[36], "LIST", 4);  // a chunk before the data
  EXPECT_FALSE(IsCdAudioWav(dir.Write("list.wav", withList), &why));
  EXPECT_NE(why.find("extra chunks"), std::string::npos);
  EXPECT_FALSE(IsCdAudioWav(dir.Write("text.wav", "hello"), &why));
  EXPECT_FALSE(IsCdAudioWav(dir / "missing.wav", &why));
}
