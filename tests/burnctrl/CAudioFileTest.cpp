#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "BurnTestSupport.h"
#include "media/CAudioFile.h"
#include "support/RunCommand.h"

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
  std::string noData = WavHeader(0);
  std::memcpy(&noData[36], "LIST", 4);  // a chunk, and no data chunk at all
  EXPECT_FALSE(IsCdAudioWav(dir.Write("nodata.wav", noData), &why));
  EXPECT_NE(why.find("no data chunk"), std::string::npos) << why;
  EXPECT_FALSE(IsCdAudioWav(dir.Write("text.wav", "hello"), &why));
  EXPECT_FALSE(IsCdAudioWav(dir / "missing.wav", &why));
}

// A WAV as editors write it: a LIST chunk before the data and another behind
// it. The burn takes it, reads exactly its audio data, and the virtual
// recorder's audio disc accepts the same file.
TEST(CAudioFile, ChunksAroundTheDataAreSkippedNotBurnt) {
  ScratchFolder dir;
  std::vector<uint8_t> pcm = PatternBytes(2352 * 2, 5);
  std::string head = WavHeader(uint32_t(pcm.size()));
  std::string info = std::string("LIST") + std::string("\x0b\0\0\0", 4) + "INFOISFTab" + std::string(1, '\0');
  info += '\0';  // chunks are padded to an even length
  std::string trailer = std::string("LIST") + std::string("\x04\0\0\0", 4) + "INFO";
  std::string wav = head.substr(0, 36) + info + head.substr(36) + std::string(pcm.begin(), pcm.end()) + trailer;
  std::string path = dir.Write("list.wav", wav);

  std::string why;
  ASSERT_TRUE(IsCdAudioWav(path, &why)) << why;
  CAudioFile a;
  a.SetFile(path);
  std::vector<uint8_t> got(2352 * 3, 0);
  for (int i = 0; i < 3; ++i) a.ReadData(&got[size_t(i) * 2352], 2352);
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), got.begin())) << "the audio data is read from behind the LIST chunk";
  EXPECT_TRUE(std::all_of(got.begin() + 2352 * 2, got.end(), [](uint8_t b) { return b == 0; }))
      << "the trailing LIST chunk went out as sound";

  CommandResult r = RunCommand(Quoted(VARNEX_CLI_PATH) + " virtual create --media audio --track " + Quoted(path) +
                               " " + Quoted(dir / "a.vdisc"));
  EXPECT_EQ(r.status, 0) << r.output;
}

TEST(CAudioFile, ATrackIsAsLongAsItsSoundToTheSector) {
  ScratchFolder dir;
  CAudioFile a;
  // 44 + 2352 x 10 + 1 bytes: eleven sectors of file, but ten of sound (the
  // odd byte is no whole sample).
  a.SetFile(dir.Write("odd.wav", WavHeader(2352 * 10 + 1) + std::string(2352 * 10 + 1, 'x')));
  EXPECT_EQ(a.GetSectorCount(), 11u);
  EXPECT_EQ(a.GetSoundSectorCount(), 10u);
  a.SetFile(dir.Write("more.wav", WavHeader(2352 * 10 + 4) + std::string(2352 * 10 + 4, 'x')));
  EXPECT_EQ(a.GetSoundSectorCount(), 11u) << "one more sample takes a sector of its own";
  // Exactly ten sectors of sound behind a header make a ten-sector track,
  // whatever chunks stand before the sound.
  std::string withList = WavHeader(2352 * 10);
  withList.insert(36, std::string("LIST\x04\0\0\0INFO", 12));
  const uint32_t riff = 36 + 12 + 2352 * 10;
  for (int i = 0; i < 4; ++i) withList[size_t(4 + i)] = char(riff >> (8 * i));
  a.SetFile(dir.Write("list.wav", withList + std::string(2352 * 10, 'y')));
  EXPECT_EQ(a.GetSoundSectorCount(), 10u);
  a.SetFile(dir.Write("empty.wav", WavHeader(0)));
  EXPECT_EQ(a.GetSoundSectorCount(), 0u) << "a WAV without sound is no track";
}
