// Audio CDs that carry files: an Enhanced CD (the audio session, then a data
// session) and a mixed-mode CD (a data track, then the audio), burnt on a
// virtual CD-R and read back by the drive, by cd-info and by ISO readers.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "BurnCtrl/AudioDataDisc.h"
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

constexpr int kIndex = 7;

struct VirtualCd : ListedVirtualRecorder {
  explicit VirtualCd(const ScratchFolder& dir, const std::string& medium = "cd-r")
      : ListedVirtualRecorder(dir, medium, kIndex) {}
  rec::TrackInfo Track(int n) const {
    rec::TrackInfo ti;
    EXPECT_EQ(rec->ReadTrackInfo(n, ti), 0u) << "track " << n;
    return ti;
  }
  std::string ExportIso(const ScratchFolder& out) const {
    VirtualRecorder v;
    std::string error, iso = out / "disc.iso";
    EXPECT_TRUE(v.Open(state, &error)) << error;
    EXPECT_TRUE(v.ExportIso(iso, &error)) << error;
    return iso;
  }
  std::string ExportCue(const ScratchFolder& out) const {
    VirtualRecorder v;
    std::string error, cue = out / "disc.cue";
    EXPECT_TRUE(v.Open(state, &error)) << error;
    EXPECT_TRUE(v.ExportBinCue(cue, &error)) << error;
    return cue;
  }
};

// Two tracks of sound with texts, and two files to go with them.
struct Album {
  ScratchFolder dir;
  std::vector<std::vector<uint8_t>> pcm = {PatternBytes(2352 * 320 + 100, 31), PatternBytes(2352 * 310, 32)};
  std::string readme = "liner notes\n", video = std::string(300000, 'v');
  AudioDisc disc;
  std::unique_ptr<StagedProject> files;

  explicit Album(AudioDiscFiles::Place place) {
    disc.title = "Album";
    for (size_t i = 0; i < pcm.size(); ++i) {
      AudioDiscTrack t;
      t.wav = WriteCdWav(dir, "t" + std::to_string(i) + ".wav", pcm[i]);
      t.title = "Song " + std::to_string(i + 1);
      disc.tracks.push_back(t);
    }
    files = std::make_unique<StagedProject>(
        std::vector<std::string>{dir.Write("extra/README.TXT", readme), dir.Write("extra/clip.mpg", video)});
    disc.files.place = place;
    disc.files.stagingRoot = files->root();
    disc.files.label = "EXTRA";
  }
  // The sound of every track read back from where the drive says it starts.
  void ExpectSound(const VirtualCd& drive, int firstAudioTrack) const {
    for (size_t i = 0; i < pcm.size(); ++i) {
      const rec::TrackInfo ti = drive.Track(firstAudioTrack + int(i));
      EXPECT_LT(ti.trackMode, 4) << "track " << firstAudioTrack + int(i) << " is not audio";
      std::vector<uint8_t> raw(pcm[i].size() / 2352 * 2352);
      ASSERT_EQ(drive.rec->ReadCD_All(raw.data(), uint32_t(raw.size()), uint32_t(raw.size() / 2352), ti.trackStart),
                0u);
      EXPECT_TRUE(std::memcmp(raw.data(), pcm[i].data(), raw.size()) == 0) << "track " << i + 1 << " differs";
    }
  }
  // The files, as isoinfo and xorriso take them out of the volume that
  // begins at `start`. xorriso takes a file whose start is blank for blank
  // media, so it reads the volume cut out of the image, told where it lay.
  void ExpectFiles(const std::string& iso, uint32_t start) const {
    const std::string at = std::to_string(start);
    ExpectSame(RunTool("isoinfo -J -T " + at + " -x '/README.TXT;1' -i " + iso), readme, "isoinfo README.TXT");
    ScratchFolder out;
    const std::string volume = out / "volume.iso";
    int st = 0;
    RunTool("dd status=none bs=2048 skip=" + at + " if=" + iso + " of=" + volume, &st);
    ASSERT_EQ(st, 0);
    const std::string log = RunTool("xorriso -displacement -" + at + " -indev " + volume +
                                        " -osirrox on -extract / " + out.path() + "/x",
                                    &st);
    EXPECT_EQ(st, 0) << log;
    ExpectSame(ReadWholeFile(out / "x/clip.mpg"), video, "xorriso clip.mpg");
    ExpectSame(ReadWholeFile(out / "x/README.TXT"), readme, "xorriso README.TXT");
  }
  static void ExpectSame(const std::string& got, const std::string& want, const std::string& what) {
    EXPECT_TRUE(got == want) << what << ": " << got.size() << " bytes, " << want.size() << " expected";
  }
};

TEST(AudioWithFiles, AnEnhancedCdHasItsAudioSessionFirstAndItsFilesInASecond) {
  Album album(AudioDiscFiles::kSessionAfter);
  VirtualCd drive(album.dir);
  ASSERT_EQ(WriteAudioDisc(kIndex, album.disc, false), result::kSuccess) << LastJobError(kIndex);

  rec::DiscInfo di;
  ASSERT_EQ(drive.rec->ReadDiscInfo(di), 0u);
  EXPECT_EQ(di.discStatus, 2) << "the data session closes the disc";
  const rec::TrackInfo data = drive.Track(3);
  EXPECT_EQ(drive.Track(2).sessionNumber, 1);
  EXPECT_EQ(data.sessionNumber, 2);
  EXPECT_GE(data.trackMode, 4) << "track 3 holds the files";
  // The data session begins behind the audio session's lead-out and its
  // own lead-in; its volume was laid out for that place, not for sector 0.
  const rec::TrackInfo last = drive.Track(2);
  EXPECT_EQ(data.trackStart, last.trackStart + last.trackSize + audiodisc::kSecondSessionGap);
  album.ExpectSound(drive, 1);

  ScratchFolder out;
  album.ExpectFiles(drive.ExportIso(out), data.trackStart);
  // cd-info sees two audio tracks and a data track in a second session.
  const std::string cue = drive.ExportCue(out);
  int st = 0;
  const std::string info = RunTool("cd-info --no-header --no-device-info --cue-file " + cue, &st);
  EXPECT_EQ(st, 0) << info;
  EXPECT_NE(info.find("audio"), std::string::npos) << info;
  EXPECT_NE(info.find("data"), std::string::npos) << info;
  EXPECT_NE(info.find("Song 2"), std::string::npos) << "the CD-Text of the audio session: " << info;
}

TEST(AudioWithFiles, AMixedModeCdHasItsFilesInTrackOneAndTheSoundAfterThem) {
  Album album(AudioDiscFiles::kTrackFirst);
  VirtualCd drive(album.dir);
  ASSERT_EQ(WriteAudioDisc(kIndex, album.disc, false), result::kSuccess) << LastJobError(kIndex);

  const rec::TrackInfo data = drive.Track(1);
  EXPECT_GE(data.trackMode, 4) << "track 1 holds the files";
  EXPECT_EQ(data.trackStart, 0u);
  // Between the data and the sound: the data track's post-gap and the
  // first audio track's pre-gap.
  EXPECT_GE(drive.Track(2).trackStart,
            data.trackStart + audiodisc::kDataPostgap + audiodisc::kAudioPregapAfterData);
  album.ExpectSound(drive, 2);
  EXPECT_EQ(drive.Track(3).sessionNumber, 1);

  ScratchFolder out;
  const std::string iso = drive.ExportIso(out);
  album.ExpectFiles(iso, 0);
  ScratchFolder x;
  int st = 0;
  const std::string log = RunTool("7zz x -y -o" + x.path() + " " + iso, &st);
  EXPECT_EQ(st, 0) << log;
  Album::ExpectSame(ReadWholeFile(x / "clip.mpg"), album.video, "7zz clip.mpg");

  // CD-Text numbers the data track 1: the first song is track 2's title.
  CDevCmdRW* d = drive.rec->Device();
  ASSERT_TRUE(d);
  std::vector<uint8_t> packs;
  ASSERT_EQ(d->ReadCdTextPacks(packs), DEV_OK);
  FS_CDTEXT_INFO text;
  ASSERT_TRUE(ParseCdTextPacks(packs.data(), packs.size(), text));
  EXPECT_STREQ(text.Tracks[1].szTitle, "");
  EXPECT_STREQ(text.Tracks[2].szTitle, "Song 1");
  EXPECT_STREQ(text.Tracks[3].szTitle, "Song 2");
}

TEST(AudioWithFiles, WhatCannotBeWrittenIsRefusedBeforeTheDiscIsTouched) {
  // An Enhanced CD whose audio fits the disc but whose data session does
  // not fit behind it. The long track is a sparse file: it is never read.
  Album album(AudioDiscFiles::kSessionAfter);
  {
    VirtualCd drive(album.dir);
    uint32_t capacity = 0;
    ASSERT_EQ(drive.rec->GetBlackDiscCapacity(capacity), 0u);
    const uint32_t sound = capacity - audiodisc::kSecondSessionGap - 50 - 320 - 2 - 310;
    const std::string wav = WriteCdWav(album.dir, "long.wav", {});
    {
      std::fstream f(wav, std::ios::in | std::ios::out | std::ios::binary);
      const uint32_t bytes = sound * 2352;
      f.seekp(4);
      const uint32_t riff = bytes + 36;
      f.write(reinterpret_cast<const char*>(&riff), 4);
      f.seekp(40);
      f.write(reinterpret_cast<const char*>(&bytes), 4);
    }
    std::filesystem::resize_file(wav, 44 + uint64_t(sound) * 2352);
    album.disc.tracks.push_back(AudioDiscTrack());
    album.disc.tracks.back().wav = wav;
    EXPECT_EQ(WriteAudioDisc(kIndex, album.disc, false), result::kDoesNotFit) << LastJobError(kIndex);
    EXPECT_NE(LastJobError(kIndex).find("data session"), std::string::npos) << LastJobError(kIndex);
    rec::DiscInfo di;
    ASSERT_EQ(drive.rec->ReadDiscInfo(di), 0u);
    EXPECT_EQ(di.discStatus, 0) << "the disc must stay blank";
  }
  // Track-at-once writes sound only: files with it are refused, not dropped.
  Album tao(AudioDiscFiles::kTrackFirst);
  tao.disc.trackAtOnce = true;
  VirtualCd drive(tao.dir);
  EXPECT_EQ(WriteAudioDisc(kIndex, tao.disc, false), result::kNothingDone);
  EXPECT_NE(LastJobError(kIndex).find("session at once"), std::string::npos) << LastJobError(kIndex);
  // A file gone before the burn leaves the disc blank with its name.
  Album gone(AudioDiscFiles::kTrackFirst);
  std::filesystem::remove(gone.dir / "extra/README.TXT");
  EXPECT_NE(WriteAudioDisc(kIndex, gone.disc, false), result::kSuccess);
  EXPECT_NE(LastJobError(kIndex).find("README.TXT"), std::string::npos) << LastJobError(kIndex);
  rec::DiscInfo di;
  ASSERT_EQ(drive.rec->ReadDiscInfo(di), 0u);
  EXPECT_EQ(di.discStatus, 0);
}

}  // namespace
