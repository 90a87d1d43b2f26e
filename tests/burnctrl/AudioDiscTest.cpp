// Audio CDs with their texts, codes and pauses: the CD-Text packs checked
// against a reading of the standard done here on its own, the layout of
// gapless and paused tracks, and discs burnt session-at-once on a virtual
// recorder and read back.

#include <gtest/gtest.h>

#include <cstring>

#include "BurnCtrl/AudioDisc.h"
#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "BurnCtrl/interfaces/KestrineRecorder.h"
#include "BurnTestSupport.h"
#include "CDevCmdRW.h"
#include "DevDeque.h"
#include "ImageLayout.h"
#include "VirtualRecorder.h"

namespace {

constexpr int kIndex = 6;

// CRC-16 with the polynomial x^16 + x^12 + x^5 + 1, no preset, kept inverted:
// what the CD-Text standard puts in bytes 16 and 17 of every pack, worked
// out one message bit at a time.
uint16_t PackCrc(const uint8_t* p) {
  uint32_t reg = 0;
  for (int i = 0; i < 16 * 8; ++i) {
    const int bit = (p[i / 8] >> (7 - i % 8)) & 1;
    const int top = (reg >> 15) & 1;
    reg = (reg << 1) & 0xFFFF;
    if (top ^ bit) reg ^= 0x1021;
  }
  return uint16_t(~reg & 0xFFFF);
}

// The texts of one pack type as the packs carry them: the 12 text bytes of
// every pack of that type, in order.
std::string TextStream(const std::vector<uint8_t>& packs, uint8_t type) {
  std::string s;
  for (size_t at = 0; at + 18 <= packs.size(); at += 18)
    if (packs[at] == type) s.append(reinterpret_cast<const char*>(&packs[at + 4]), 12);
  return s;
}

AudioDisc TwoTracks(const std::vector<std::string>& wavs) {
  AudioDisc disc;
  disc.title = "Album";
  disc.performer = "Band";
  for (size_t i = 0; i < wavs.size(); ++i) {
    AudioDiscTrack t;
    t.wav = wavs[i];
    t.title = "T" + std::to_string(i + 1);
    disc.tracks.push_back(t);
  }
  return disc;
}

TEST(AudioDiscText, TextsBecomeIso8859AndWhatCannotIsTold) {
  bool lossy = false;
  EXPECT_EQ(audiodisc::CdTextBytes("Caf\xC3\xA9 \xC3\x85se", &lossy), "Caf\xE9 \xC5se");
  EXPECT_FALSE(lossy);
  EXPECT_EQ(audiodisc::CdTextBytes("\xE6\x9D\xB1\xE4\xBA\xAC Tokyo \xF0\x9F\x8E\xB5", &lossy), "?? Tokyo ?");
  EXPECT_TRUE(lossy);
  lossy = false;
  // A zero or a line break would end or break the text on the disc.
  EXPECT_EQ(audiodisc::CdTextBytes(std::string("a\0b\nc", 5), &lossy), "a b c");
  // A tag already in ISO 8859-1 is no UTF-8 and stays as it is.
  EXPECT_EQ(audiodisc::CdTextBytes("Caf\xE9", &lossy), "Caf\xE9");
  EXPECT_FALSE(lossy);

  AudioDisc disc;
  disc.title = "\xE6\x9D\xB1";
  disc.tracks.push_back(AudioDiscTrack{"x.wav", "fine"});
  std::vector<std::string> notices;
  EXPECT_FALSE(audiodisc::CdTextPacks(disc, &notices).empty());
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("the disc's title"), std::string::npos) << notices[0];
}

TEST(AudioDiscText, CodesAreTakenInTheirWrittenFormsAndOthersRefused) {
  EXPECT_EQ(audiodisc::NormalIsrc("gb-abc-24-00001"), "GBABC2400001");
  EXPECT_EQ(audiodisc::NormalIsrc("USRC17607839"), "USRC17607839");
  for (const char* bad : {"", "GB-ABC-24-0001", "GBABC24X0001", "GB ABC 24 00001", "GBABC24000011", "GB-ABC-24-0000\xC3\xA9"})
    EXPECT_EQ(audiodisc::NormalIsrc(bad), "") << bad;
  EXPECT_TRUE(audiodisc::ValidMcn("0602537361231"));
  EXPECT_FALSE(audiodisc::ValidMcn("060253736123"));
  EXPECT_FALSE(audiodisc::ValidMcn("06025373612X1"));
}

TEST(AudioDiscText, PacksCarryEveryTextWithTheirCrcsAndSizes) {
  AudioDisc disc;
  disc.title = "A long album title";
  disc.performer = "Band";
  disc.tracks = {AudioDiscTrack{"1.wav", "One", "Singer", "Writer"}, AudioDiscTrack{"2.wav", "Two"},
                 AudioDiscTrack{"3.wav", "", "", "", "Composer"}};
  const std::vector<uint8_t> packs = audiodisc::CdTextPacks(disc, nullptr);
  ASSERT_FALSE(packs.empty());
  ASSERT_EQ(packs.size() % 18, 0u);
  int counts[16] = {};
  for (size_t at = 0, seq = 0; at < packs.size(); at += 18, ++seq) {
    const uint8_t* p = &packs[at];
    EXPECT_EQ((p[16] << 8) | p[17], PackCrc(p)) << "pack " << seq;
    EXPECT_EQ(p[2], seq) << "sequence number of pack " << seq;
    EXPECT_EQ((p[3] >> 4) & 7, 0) << "block of pack " << seq;
    ASSERT_GE(p[0], 0x80);
    ASSERT_LE(p[0], 0x8F);
    ++counts[p[0] - 0x80];
  }
  // Each type: the disc's text, then each track's, zero-terminated, the last
  // pack filled out with zeros.
  EXPECT_EQ(TextStream(packs, 0x80), std::string("A long album title\0One\0Two\0\0", 28) + std::string(8, '\0'));
  EXPECT_EQ(TextStream(packs, 0x81), std::string("Band\0Singer\0\0\0", 14) + std::string(10, '\0'));
  EXPECT_EQ(TextStream(packs, 0x82), std::string("\0Writer\0\0\0", 10) + std::string(2, '\0'));
  EXPECT_EQ(TextStream(packs, 0x83), std::string("\0\0\0Composer\0", 12));
  // The second title pack begins inside the disc's title: it belongs to
  // track 0 and says how many of its characters came before.
  size_t second = 0;
  for (size_t at = 0, n = 0; at < packs.size(); at += 18)
    if (packs[at] == 0x80 && n++ == 1) second = at;
  EXPECT_EQ(packs[second + 1], 0);
  EXPECT_EQ(packs[second + 3] & 0x0F, 12);
  // Size information: three packs at the end, counting every type and the
  // last track, and the last sequence number.
  ASSERT_EQ(counts[0xF], 3);
  const uint8_t* size = &packs[packs.size() - 3 * 18];
  std::vector<uint8_t> info;
  for (int i = 0; i < 3; ++i) info.insert(info.end(), size + 18 * i + 4, size + 18 * i + 16);
  EXPECT_EQ(info[0], 0x00) << "character set ISO 8859-1";
  EXPECT_EQ(info[1], 1) << "first track";
  EXPECT_EQ(info[2], 3) << "last track";
  for (int type = 0; type < 16; ++type) EXPECT_EQ(info[4 + type], counts[type]) << "packs of type " << type;
  EXPECT_EQ(info[20], packs.size() / 18 - 1) << "last sequence number of block 0";

  // Parsed back by the reader of discs: the same texts.
  FS_CDTEXT_INFO back;
  ASSERT_TRUE(ParseCdTextPacks(packs.data(), packs.size(), back));
  EXPECT_STREQ(back.Tracks[0].szTitle, "A long album title");
  EXPECT_STREQ(back.Tracks[1].szArtist, "Singer");
  EXPECT_STREQ(back.Tracks[1].szSongster, "Writer");
  EXPECT_STREQ(back.Tracks[3].szComposer, "Composer");
}

TEST(AudioDiscLayout, TracksFollowGaplessShortOnesAreFilledOutAndPausesKept) {
  ScratchFolder dir;
  const std::vector<uint8_t> a = PatternBytes(2352 * 400 + 100, 1);  // ends 100 bytes into a sector
  const std::vector<uint8_t> b = PatternBytes(2352 * 75, 2);         // one second
  const std::vector<uint8_t> c = PatternBytes(2352 * 310, 3);
  AudioDisc disc = TwoTracks({WriteCdWav(dir, "a.wav", a), WriteCdWav(dir, "b.wav", b), WriteCdWav(dir, "c.wav", c)});
  disc.mcn = "0602537361231";
  disc.tracks[1].isrc = "gb-abc-24-00001";
  disc.tracks[1].preEmphasis = true;
  disc.tracks[2].pauseFrames = 150;
  disc.tracks[2].copyPermitted = true;
  ImageLayout layout;
  std::vector<std::string> notices;
  std::string why;
  ASSERT_TRUE(audiodisc::PlanAudioDisc(disc, &layout, &notices, &why)) << why;
  ASSERT_EQ(layout.tracks.size(), 3u);
  EXPECT_EQ(layout.tracks[0].start, 0);
  EXPECT_EQ(layout.tracks[0].size, 401);
  EXPECT_EQ(layout.tracks[1].start, 401) << "no gap between tracks 1 and 2";
  EXPECT_EQ(layout.tracks[1].size, 300) << "a track of one second is filled out to four";
  EXPECT_EQ(layout.notes[2].index0, 701);
  EXPECT_EQ(layout.tracks[2].start, 851) << "two seconds of pause before track 3";
  EXPECT_EQ(layout.notes[1].isrc, "GBABC2400001");
  EXPECT_EQ(layout.notes[1].flags, 0x1);
  EXPECT_EQ(layout.notes[2].flags, 0x2);
  EXPECT_EQ(layout.catalog, "0602537361231");
  EXPECT_FALSE(layout.cdText.empty());
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("track 2 is 1 s long"), std::string::npos) << notices[0];

  disc.tracks[2].pauseFrames = 751;
  EXPECT_FALSE(audiodisc::PlanAudioDisc(disc, &layout, &notices, &why));
  EXPECT_NE(why.find("0 to 10 seconds"), std::string::npos) << why;
  disc.tracks[2].pauseFrames = 0;
  disc.tracks[0].isrc = "GB-ABC-24";
  EXPECT_FALSE(audiodisc::PlanAudioDisc(disc, &layout, &notices, &why));
  EXPECT_NE(why.find("GB-ABC-24 of track 1"), std::string::npos) << why;
  disc.tracks[0].isrc.clear();
  disc.mcn = "123";
  EXPECT_FALSE(audiodisc::PlanAudioDisc(disc, &layout, &notices, &why));
  disc.mcn.clear();
  disc.tracks[0].wav = dir.Write("words.wav", "not a wave");
  EXPECT_FALSE(audiodisc::PlanAudioDisc(disc, &layout, &notices, &why));
  EXPECT_NE(why.find("words.wav"), std::string::npos) << why;
}

TEST(AudioDiscLayout, NinetyNineTitledTracksFitAndTooMuchTextIsRefused) {
  ScratchFolder dir;
  const std::string wav = WriteCdWav(dir, "s.wav", PatternBytes(2352 * 300, 4));
  AudioDisc disc = TwoTracks(std::vector<std::string>(99, wav));
  ImageLayout layout;
  std::vector<std::string> notices;
  std::string why;
  ASSERT_TRUE(audiodisc::PlanAudioDisc(disc, &layout, &notices, &why)) << why;
  FS_CDTEXT_INFO back;
  ASSERT_TRUE(ParseCdTextPacks(layout.cdText.data(), layout.cdText.size(), back));
  EXPECT_STREQ(back.Tracks[99].szTitle, "T99");
  // 99 titles of 40 characters: 99 * 41 / 12 packs of titles alone, beyond 256.
  for (AudioDiscTrack& t : disc.tracks) t.title = std::string(40, 'x');
  EXPECT_FALSE(audiodisc::PlanAudioDisc(disc, &layout, &notices, &why));
  EXPECT_NE(why.find("shorten"), std::string::npos) << why;
}

struct VirtualCd : ListedVirtualRecorder {
  explicit VirtualCd(const ScratchFolder& dir, const std::string& medium = "cd-r")
      : ListedVirtualRecorder(dir, medium, kIndex) {}
};

TEST(AudioDiscBurn, SessionAtOnceWritesTracksGaplessAndSampleForSample) {
  ScratchFolder dir;
  const std::vector<std::vector<uint8_t>> pcm = {PatternBytes(2352 * 320 + 1000, 11), PatternBytes(2352 * 330, 12),
                                                 PatternBytes(2352 * 305 + 4, 13)};
  std::vector<std::string> wavs;
  for (size_t i = 0; i < pcm.size(); ++i) wavs.push_back(WriteCdWav(dir, "t" + std::to_string(i) + ".wav", pcm[i]));
  AudioDisc disc = TwoTracks(wavs);
  disc.tracks[2].pauseFrames = 75;
  VirtualCd drive(dir);
  std::vector<std::string> notices;
  ASSERT_EQ(WriteAudioDisc(kIndex, disc, false, &notices), result::kSuccess) << LastJobError(kIndex);
  EXPECT_TRUE(notices.empty());
  const int32_t starts[] = {0, 321, 321 + 330 + 75};
  for (size_t i = 0; i < pcm.size(); ++i) {
    rec::TrackInfo ti;
    ASSERT_EQ(drive.rec->ReadTrackInfo(int(i + 1), ti), 0u);
    EXPECT_LT(ti.trackMode, 4) << "track " << i + 1 << " is not audio";
    EXPECT_EQ(int32_t(ti.trackStart), starts[i]) << "track " << i + 1;
    const uint32_t sectors = uint32_t((pcm[i].size() + 2351) / 2352);
    std::vector<uint8_t> raw(size_t(sectors) * 2352);
    ASSERT_EQ(drive.rec->ReadCD_All(raw.data(), uint32_t(raw.size()), sectors, ti.trackStart), 0u);
    EXPECT_TRUE(std::memcmp(raw.data(), pcm[i].data(), pcm[i].size()) == 0) << "track " << i + 1 << " differs";
    EXPECT_TRUE(std::all_of(raw.begin() + long(pcm[i].size()), raw.end(), [](uint8_t x) { return x == 0; }))
        << "the end of track " << i + 1 << " must be silence";
  }
  // The pause is silence, read as the end of track 2.
  std::vector<uint8_t> pause(75 * 2352);
  ASSERT_EQ(drive.rec->ReadCD_All(pause.data(), uint32_t(pause.size()), 75, 321 + 330), 0u);
  EXPECT_TRUE(std::all_of(pause.begin(), pause.end(), [](uint8_t x) { return x == 0; }));
}

TEST(AudioDiscBurn, TheTextsAndCodesAreReadBackFromTheLeadInAndTheSubChannel) {
  ScratchFolder dir;
  std::vector<std::string> wavs;
  for (int i = 0; i < 3; ++i) wavs.push_back(WriteCdWav(dir, "t" + std::to_string(i) + ".wav", PatternBytes(2352 * 300, 20 + i)));
  AudioDisc disc = TwoTracks(wavs);
  disc.title = "Caf\xC3\xA9 Album";
  disc.mcn = "0602537361231";
  disc.tracks[0].performer = "Singer";
  disc.tracks[1].isrc = "GB-ABC-24-00001";
  disc.tracks[2].composer = "Composer";
  disc.tracks[2].isrc = "usrc17607839";
  VirtualCd drive(dir);
  ASSERT_EQ(WriteAudioDisc(kIndex, disc, false), result::kSuccess) << LastJobError(kIndex);
  CDevCmdRW* d = drive.rec->Device();
  ASSERT_TRUE(d);
  // READ TOC format 5: the packs as written, every CRC right by the
  // reckoning above, the texts in ISO 8859-1.
  std::vector<uint8_t> packs;
  ASSERT_EQ(d->ReadCdTextPacks(packs), DEV_OK);
  ASSERT_FALSE(packs.empty());
  ASSERT_EQ(packs.size() % 18, 0u);
  for (size_t at = 0; at < packs.size(); at += 18)
    EXPECT_EQ((packs[at + 16] << 8) | packs[at + 17], PackCrc(&packs[at])) << "pack " << at / 18;
  EXPECT_EQ(TextStream(packs, 0x80).substr(0, 24), std::string("Caf\xE9 Album\0T1\0T2\0T3\0", 21) + std::string(3, '\0'));
  FS_CDTEXT_INFO text;
  ASSERT_TRUE(ParseCdTextPacks(packs.data(), packs.size(), text));
  EXPECT_STREQ(text.Tracks[1].szArtist, "Singer");
  EXPECT_STREQ(text.Tracks[3].szComposer, "Composer");
  EXPECT_STREQ(text.Tracks[2].szTitle, "T2");
  // READ SUB-CHANNEL: the catalogue number and the ISRCs as the disc keeps them.
  std::string code;
  ASSERT_EQ(d->ReadMediaCatalog(code), DEV_OK);
  EXPECT_EQ(code, "0602537361231");
  ASSERT_EQ(d->ReadTrackIsrc(1, code), DEV_OK);
  EXPECT_EQ(code, "");
  ASSERT_EQ(d->ReadTrackIsrc(2, code), DEV_OK);
  EXPECT_EQ(code, "GBABC2400001");
  ASSERT_EQ(d->ReadTrackIsrc(3, code), DEV_OK);
  EXPECT_EQ(code, "USRC17607839");
}

TEST(AudioDiscBurn, RefusalsComeBeforeTheRecorderWrites) {
  ScratchFolder dir;
  AudioDisc disc = TwoTracks({WriteCdWav(dir, "a.wav", PatternBytes(2352 * 300, 5))});
  disc.tracks[0].isrc = "nonsense";
  {
    VirtualCd drive(dir);
    EXPECT_EQ(WriteAudioDisc(kIndex, disc, false), result::kLayoutFailed);
    EXPECT_NE(LastJobError(kIndex).find("nonsense"), std::string::npos) << LastJobError(kIndex);
    rec::DiscInfo di;
    ASSERT_EQ(drive.rec->ReadDiscInfo(di), 0u);
    EXPECT_EQ(di.discStatus, 0) << "the disc must stay blank";
  }
  disc.tracks[0].isrc.clear();
  ScratchFolder other;
  VirtualCd dvd(other, "dvd+r");
  EXPECT_EQ(WriteAudioDisc(kIndex, disc, false), result::kAudioNeedsCd);
}

TEST(AudioDiscBurn, APauseThatMakesTheDiscTooLongIsRefused) {
  ScratchFolder dir;
  // 79 minutes of tracks of 60 s each on an 80-minute CD-R fit; ten-second
  // pauses between them do not.
  const std::string wav = WriteCdWav(dir, "m.wav", std::vector<uint8_t>(size_t(2352) * 75 * 60));
  AudioDisc disc = TwoTracks(std::vector<std::string>(79, wav));
  for (AudioDiscTrack& t : disc.tracks) t.title.clear(), t.pauseFrames = 750;
  disc.title.clear(), disc.performer.clear();
  VirtualCd drive(dir);
  EXPECT_EQ(WriteAudioDisc(kIndex, disc, true), result::kDoesNotFit) << LastJobError(kIndex);
  EXPECT_NE(LastJobError(kIndex).find("needs"), std::string::npos) << LastJobError(kIndex);
}

}  // namespace
