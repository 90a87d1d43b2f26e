// The audio CD project: the add rules, the rows, the project file, and real
// sound files of every kind converted by ffmpeg and burnt onto a virtual
// CD-R, read back sample for sample.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "BurnCtrl/interfaces/KestrineRecorder.h"
#include "DevDeque.h"
#include "MediaTestSupport.h"
#include "VirtualRecorder.h"
#include "foundation/TempFiles.h"
#include "media/CAVConvert.h"
#include "authoring/ProjectFile.h"
#include "jobs/CAudioCDProject.h"

namespace {

constexpr int kIndex = 17;  // "R:"

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

struct VirtualCdR {
  std::string state;
  std::shared_ptr<KestrineRecorder> rec;
  VirtualCdR(const ScratchFolder& dir, const std::string& medium = "cd-r") : state(dir / (medium + ".vdisc")) {
    std::string error;
    EXPECT_TRUE(VirtualRecorder::Create(state, medium, &error)) << error;
    auto dev = DevDeque::OpenDrive("virtual:" + state, kIndex, &error);
    EXPECT_TRUE(dev) << error;
    rec = std::make_shared<KestrineRecorder>(std::move(dev));
    AddRecorder(rec);
  }
  ~VirtualCdR() {
    ResetBurn(kIndex);
    RemoveRecorder(kIndex);
  }
  int Tracks() {
    rec::TrackInfo ti;
    int n = 0;
    while (rec->ReadTrackInfo(n + 1, ti) == 0 && ti.trackSize > 0 && !ti.blank) ++n;
    return n;
  }
  std::string TrackPcm(int track, uint32_t* sectors) {
    rec::TrackInfo ti;
    if (rec->ReadTrackInfo(track, ti) != 0) return {};
    *sectors = ti.trackSize;
    std::string raw(size_t(ti.trackSize) * 2352, '\0');
    if (rec->ReadCD_All(reinterpret_cast<uint8_t*>(raw.data()), uint32_t(raw.size()), ti.trackSize,
                        ti.trackStart) != 0)
      return {};
    return raw;
  }
};

TEST(AudioProjectRules, SoundFileNamesAreRecognisedWhateverTheirCase) {
  EXPECT_TRUE(CAudioCDProject::IsSoundFileName("/m/song.mp3"));
  EXPECT_TRUE(CAudioCDProject::IsSoundFileName("/m/SONG.Mp3"));
  for (const char* ext : {"wav", "aac", "ogg", "wma", "flac", "m4a", "opus", "FLAC"})
    EXPECT_TRUE(CAudioCDProject::IsSoundFileName(std::string("/m/a.") + ext)) << ext;
  for (const char* name : {"/m/song.mp4", "/m/song.txt", "/m/mp3", "/m/.mp3", "/m.mp3/song", "/m/song.mp3.part"})
    EXPECT_FALSE(CAudioCDProject::IsSoundFileName(name)) << name;
}

TEST(AudioProjectRules, OtherExtensionsAreSkippedWithoutAProbe) {
  ScratchFolder dir;
  ConverterStandIn probe(ProbeOnlyConverter(dir));
  CAudioCDProject p;
  p.BeginAdd();
  EXPECT_EQ(p.AddAudioFile(dir.Write("song.mp4", "x")), CAudioCDProject::kSkipped);
  EXPECT_EQ(p.AddAudioFile(dir.Write("song.mp3", "x")), CAudioCDProject::kAdded);
  ASSERT_EQ(p.RowCount(), 1u);
  const AudioTrackRow row = p.Rows()[0];
  EXPECT_EQ(row.name, "song.mp3");
  EXPECT_EQ(row.duration, "00:00:05");
  // 5 s at 175 kB/s in whole sectors of 2352 bytes.
  EXPECT_EQ(row.bytes, uint64_t(uint32_t(float(5 * 175 / 1024.0) * 445.8231201171875f)) * 2352);
  EXPECT_TRUE(p.Undecodable().empty());
}

TEST(AudioProjectRules, A120FileAddStopsAt99WithOneNote) {
  ScratchFolder dir;
  ConverterStandIn probe(ProbeOnlyConverter(dir));
  for (int i = 0; i < 120; ++i) dir.Write("many/" + std::string(i < 10 ? "00" : i < 100 ? "0" : "") + std::to_string(i) + ".mp3", "x");
  CAudioCDProject p;
  p.BeginAdd();
  p.AddPaths({dir / "many"});
  EXPECT_EQ(p.RowCount(), 99u);
  EXPECT_TRUE(p.LimitReached());
  EXPECT_TRUE(p.AddCancelled()) << "the rest of the add goes on after the limit";
  EXPECT_EQ(p.Rows().back().name, "098.mp3");
  p.BeginAdd();
  EXPECT_EQ(p.AddAudioFile(dir / "many/119.mp3"), CAudioCDProject::kLimitReached);
}

TEST(AudioProjectRows, RemovingRows2And5Of6RenumbersAndSelectsPosition2) {
  ScratchFolder dir;
  ConverterStandIn probe(ProbeOnlyConverter(dir));
  CAudioCDProject p;
  p.BeginAdd();
  for (int i = 1; i <= 6; ++i) p.AddAudioFile(dir.Write(std::to_string(i) + ".mp3", "x"));
  const uint64_t one = p.Rows()[0].bytes;
  EXPECT_EQ(p.DeleteRows({4, 1}), 1);
  std::vector<std::string> names;
  for (const AudioTrackRow& r : p.Rows()) names.push_back(r.name);
  EXPECT_EQ(names, (std::vector<std::string>{"1.mp3", "3.mp3", "4.mp3", "6.mp3"}));
  EXPECT_EQ(p.TotalBytes(), 4 * one);
  EXPECT_EQ(p.DeleteRows({3}), 2) << "past the end: the new last row";
  EXPECT_EQ(p.DeleteRows({0, 1, 2}), -1);
  EXPECT_EQ(p.TotalMB(), 0.0) << "an empty list has exactly nothing";
}

TEST(AudioProjectRows, BlocksMoveUpDownAndToADropPlace) {
  ScratchFolder dir;
  ConverterStandIn probe(ProbeOnlyConverter(dir));
  CAudioCDProject p;
  p.BeginAdd();
  for (const char* n : {"a", "b", "c", "d", "e"}) p.AddAudioFile(dir.Write(std::string(n) + ".mp3", "x"));
  auto order = [&] {
    std::string s;
    for (const AudioTrackRow& r : p.Rows()) s += r.name[0];
    return s;
  };
  EXPECT_EQ(p.MoveUp({0}), std::vector<int>{0});
  EXPECT_EQ(order(), "abcde") << "row 0 does not move up";
  EXPECT_EQ(p.MoveUp({2, 3}), (std::vector<int>{1, 2}));
  EXPECT_EQ(order(), "acdbe");
  EXPECT_EQ(p.MoveDown({1, 2}), (std::vector<int>{2, 3}));
  EXPECT_EQ(order(), "abcde");
  EXPECT_EQ(p.MoveDown({4}), std::vector<int>{4});
  EXPECT_EQ(p.MoveRowsTo({0, 1}, 5), (std::vector<int>{3, 4}));
  EXPECT_EQ(order(), "cdeab");
  EXPECT_EQ(p.MoveRowsTo({4}, 0), std::vector<int>{0});
  EXPECT_EQ(order(), "bcdea");
}

TEST(AudioProjectFile, RowsSurviveSaveAndLoadAndMissingFilesAreNamed) {
  ScratchFolder dir;
  ConverterStandIn probe(ProbeOnlyConverter(dir));
  CAudioCDProject p;
  p.BeginAdd();
  for (const char* n : {"one.mp3", "two.ogg", "three.flac"}) p.AddAudioFile(dir.Write(n, "x"));
  std::string error;
  ASSERT_TRUE(p.SaveAudioProject(dir / "a.bcd", &error)) << error;
  EXPECT_EQ(p.ProjectPath(), dir / "a.bcd");
  std::filesystem::remove(dir / "two.ogg");
  CAudioCDProject q;
  std::vector<std::string> missing;
  ASSERT_TRUE(q.LoadAudioProject(dir / "a.bcd", &error, &missing)) << error;
  // The project file keeps rows up to the first gone file at burn time; the
  // load skips what is gone.
  ASSERT_GE(q.RowCount(), 1u);
  EXPECT_EQ(q.Rows()[0].source, dir / "one.mp3");
  for (const AudioTrackRow& r : q.Rows()) EXPECT_NE(r.source, dir / "two.ogg");
  EXPECT_EQ(q.ProjectPath(), dir / "a.bcd");
}

TEST(AudioProjectFile, TextsCodesAndPausesSurviveSaveAndLoad) {
  ScratchFolder dir;
  ConverterStandIn probe(ProbeOnlyConverter(dir));
  CAudioCDProject p;
  p.BeginAdd();
  for (const char* n : {"one.mp3", "two.mp3", "three.mp3"}) p.AddAudioFile(dir.Write(n, "x"));
  std::string why;
  ASSERT_TRUE(p.SetDiscText(AudioDiscText{"Album \xC3\xA9t\xC3\xA9", "Band", "0602537361231"}, &why)) << why;
  AudioTrackRow second = p.Rows()[1];
  second.title = "Second";
  second.performer = "Singer";
  second.songwriter = "Writer";
  second.composer = "Composer";
  second.isrc = "gb-abc-24-00001";
  second.pauseFrames = 300;
  second.preEmphasis = true;
  ASSERT_TRUE(p.SetRowDetails(1, second, &why)) << why;
  AudioTrackRow third = p.Rows()[2];
  third.copyPermitted = true;
  ASSERT_TRUE(p.SetRowDetails(2, third, &why)) << why;
  ASSERT_TRUE(p.SaveAudioProject(dir / "a.bcd", &why)) << why;

  CAudioCDProject q;
  ASSERT_TRUE(q.LoadAudioProject(dir / "a.bcd", &why)) << why;
  ASSERT_EQ(q.RowCount(), 3u);
  EXPECT_EQ(q.DiscText().title, "Album \xC3\xA9t\xC3\xA9");
  EXPECT_EQ(q.DiscText().performer, "Band");
  EXPECT_EQ(q.DiscText().mcn, "0602537361231");
  const AudioTrackRow back = q.Rows()[1];
  EXPECT_EQ(back.title, "Second");
  EXPECT_EQ(back.performer, "Singer");
  EXPECT_EQ(back.songwriter, "Writer");
  EXPECT_EQ(back.composer, "Composer");
  EXPECT_EQ(back.isrc, "GBABC2400001");
  EXPECT_EQ(back.pauseFrames, 300);
  EXPECT_TRUE(back.preEmphasis);
  EXPECT_FALSE(back.copyPermitted);
  EXPECT_TRUE(q.Rows()[2].copyPermitted);
  EXPECT_EQ(q.Rows()[0].title, "");

  // A row whose file is gone takes its texts with it: the others keep theirs.
  std::filesystem::remove(dir / "one.mp3");
  CAudioCDProject r;
  std::vector<std::string> missing;
  ASSERT_TRUE(r.LoadAudioProject(dir / "a.bcd", &why, &missing)) << why;
  ASSERT_EQ(r.RowCount(), 2u);
  EXPECT_EQ(r.Rows()[0].title, "Second");
  EXPECT_EQ(r.Rows()[0].pauseFrames, 300);

  // A damaged block is told, not taken as texts.
  std::string bytes = ReadWholeFile(dir / "a.bcd");
  bytes.resize(bytes.size() - 5);
  CAudioCDProject s;
  EXPECT_FALSE(s.LoadAudioProject(dir.Write("cut.bcd", bytes), &why));
  EXPECT_NE(why.find("damaged"), std::string::npos) << why;
}

TEST(AudioProjectFile, AProjectFileFromBeforeTheTextsStillLoads) {
  ScratchFolder dir;
  ConverterStandIn probe(ProbeOnlyConverter(dir));
  // As the project's earlier writer saved it: two tracks, the names relative
  // to the project file, nothing after the tracks.
  const std::string stored =
      "000100000100000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
      "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
      "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
      "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
      "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
      "000000000000000000000000000000000101010000000000000000000000000000000000000000000000000000000000"
      "000000000000000000000000000000000000000000000000000000000000000001020102000000000000000000000000"
      "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
      "010100000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
      "00000000000000000000000000000000070000006f6e652e6d7033000000000000000000000000000000000000000000"
      "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000201000000"
      "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
      "00000000000000000000000700000074776f2e6d70330000000000000000000000000000000000000000000000000000"
      "0000000000000000000000000000000000000000000000000000000000000000000000000000";
  std::string bytes;
  for (size_t i = 0; i + 1 < stored.size(); i += 2) bytes.push_back(char(std::stoi(stored.substr(i, 2), nullptr, 16)));
  const std::string copy = dir.Write("old.bcd", bytes);
  dir.Write("one.mp3", "x");
  dir.Write("two.mp3", "x");
  CAudioCDProject p;
  std::string why;
  ASSERT_TRUE(p.LoadAudioProject(copy, &why)) << why;
  ASSERT_EQ(p.RowCount(), 2u);
  EXPECT_EQ(p.Rows()[1].source, dir / "two.mp3");
  EXPECT_EQ(p.Rows()[1].title, "");
  EXPECT_EQ(p.Rows()[1].pauseFrames, 0);
  EXPECT_EQ(p.DiscText().title, "");
  // Saved again, it keeps its rows for the older reader (the track count and
  // the records are where they were) and gains the block after them.
  ASSERT_TRUE(p.SaveAudioProject(dir / "new.bcd", &why)) << why;
  std::vector<std::string> rows;
  ASSERT_TRUE(LoadAudioProject(dir / "new.bcd", &rows, &why)) << why;
  EXPECT_EQ(rows.size(), 2u);
}

TEST(AudioProjectFile, CodesThatAreNoneAreRefusedAndTheRowKept) {
  ScratchFolder dir;
  ConverterStandIn probe(ProbeOnlyConverter(dir));
  CAudioCDProject p;
  p.BeginAdd();
  p.AddAudioFile(dir.Write("one.mp3", "x"));
  AudioTrackRow row = p.Rows()[0];
  row.title = "kept?";
  row.isrc = "12345";
  std::string why;
  EXPECT_FALSE(p.SetRowDetails(0, row, &why));
  EXPECT_NE(why.find("12345"), std::string::npos) << why;
  EXPECT_EQ(p.Rows()[0].title, "");
  row.isrc.clear();
  row.pauseFrames = 751;
  EXPECT_FALSE(p.SetRowDetails(0, row, &why));
  EXPECT_FALSE(p.SetRowDetails(5, p.Rows()[0], &why));
  EXPECT_FALSE(p.SetDiscText(AudioDiscText{"t", "p", "12"}, &why));
  EXPECT_EQ(p.DiscText().title, "");
}

TEST(AudioProjectTags, TheFilesTagsFillTheRowAndTheFirstAlbumNamesTheDisc) {
  const std::string described =
      "Input #0, flac, from 'x.flac':\n"
      "  Metadata:\n"
      "    TITLE           : Caf\xC3\xA9 Song\n"
      "    ARTIST          : Singer\n"
      "    album_artist    : Band\n"
      "    ALBUM           : Album : Two\n"
      "    composer        : Composer\n"
      "    lyricist        : Writer\n"
      "  Duration: 00:00:05.00, start: 0.000000, bitrate: 1 kb/s\n"
      "  Stream #0:0: Audio: flac, 44100 Hz, stereo, s16\n"
      "    Metadata:\n"
      "      title           : not the file's\n";
  const ProbeTags tags = CAVConvert::ParseProbeTags(described);
  EXPECT_EQ(tags.title, "Caf\xC3\xA9 Song");
  EXPECT_EQ(tags.artist, "Singer");
  EXPECT_EQ(tags.albumArtist, "Band");
  EXPECT_EQ(tags.album, "Album : Two");
  EXPECT_EQ(tags.composer, "Composer");
  EXPECT_EQ(tags.lyricist, "Writer");
  EXPECT_EQ(CAVConvert::ParseProbeTags("  Stream #0:0: Audio: flac\n    Metadata:\n      title : x\n").title, "");

  // Through ffmpeg itself: a file tagged as players tag it.
  ScratchFolder dir;
  const std::string path = dir / "tagged.flac";
  CommandResult made = RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i sine=duration=5 -metadata title=Tagged "
                                  "-metadata artist=Singer -metadata album=Album -metadata composer=Composer " +
                                  Quoted(path));
  ASSERT_EQ(made.status, 0) << made.output;
  CAudioCDProject p;
  p.BeginAdd();
  ASSERT_EQ(p.AddAudioFile(path), CAudioCDProject::kAdded);
  const AudioTrackRow row = p.Rows()[0];
  EXPECT_EQ(row.title, "Tagged");
  EXPECT_EQ(row.performer, "Singer");
  EXPECT_EQ(row.composer, "Composer");
  EXPECT_EQ(p.DiscText().title, "Album");
  EXPECT_EQ(p.DiscText().performer, "Singer");
  // What the user typed for the disc is not replaced by the next file's album.
  ASSERT_TRUE(p.SetDiscText(AudioDiscText{"Mine", "Me", ""}));
  ASSERT_EQ(p.AddAudioFile(path), CAudioCDProject::kAdded);
  EXPECT_EQ(p.DiscText().title, "Mine");
}

TEST(AudioProjectFile, AFileThatIsNotSoundIsNotAdded) {
  ScratchFolder dir;
  CAudioCDProject p;
  p.BeginAdd();
  const std::string text = dir.Write("words.mp3", "These are words, not sound.\n");
  EXPECT_EQ(p.AddAudioFile(text), CAudioCDProject::kUndecodable);
  EXPECT_EQ(p.RowCount(), 0u);
  EXPECT_EQ(p.Undecodable(), std::vector<std::string>{text});
}

TEST(AudioProjectBurn, ThreeRowsWithABadMiddleOneGiveTrack1AndTrack2) {
  ScratchFolder dir;
  PrivateTemp temp;
  CAudioCDProject p;
  p.BeginAdd();
  const std::string a = MakeTone(dir, "a.mp3", 1.5), b = MakeTone(dir, "b.mp3", 1.5), c = MakeTone(dir, "c.ogg", 1.5);
  for (const std::string& f : {a, b, c}) ASSERT_EQ(p.AddAudioFile(f), CAudioCDProject::kAdded) << f;
  // The middle file goes bad after it was added.
  dir.Write("b.mp3", "no longer sound");
  std::string asked;
  ASSERT_EQ(p.PrepareTracks([&](const std::string& failures) {
              asked = failures;
              return true;
            }),
            result::kSuccess);
  EXPECT_NE(asked.find(b), std::string::npos) << "the question names the file: " << asked;
  const std::vector<std::string> tracks = p.PreparedTracks();
  ASSERT_EQ(tracks.size(), 2u);
  EXPECT_EQ(tracks[0], p.WorkFolder() + "Track1.wav");
  EXPECT_EQ(tracks[1], p.WorkFolder() + "Track2.wav");
  ASSERT_EQ(p.RowCount(), 2u);
  EXPECT_EQ(p.Rows()[0].source, a);
  EXPECT_EQ(p.Rows()[1].source, c);
  const std::string folder = p.WorkFolder();
  EXPECT_EQ(p.DeleteTempTracks(), 1);
  EXPECT_FALSE(Exists(folder));
}

TEST(AudioProjectBurn, GivingUpAfterAFailureOrFailingAllRemovesTheWorkFolder) {
  ScratchFolder dir;
  PrivateTemp temp;
  CAudioCDProject p;
  p.BeginAdd();
  const std::string a = MakeTone(dir, "a.wav", 1.2), b = MakeTone(dir, "b.wav", 1.2);
  p.AddAudioFile(a);
  p.AddAudioFile(b);
  dir.Write("b.wav", "broken");
  EXPECT_EQ(p.PrepareTracks([](const std::string&) { return false; }), CAudioCDProject::kNothingConverted);
  EXPECT_EQ(p.WorkFolder(), "");
  EXPECT_EQ(p.RowCount(), 2u) << "giving up keeps the rows";
  dir.Write("a.wav", "broken too");
  EXPECT_EQ(p.PrepareTracks([](const std::string&) { return true; }), CAudioCDProject::kNothingConverted);
  EXPECT_TRUE(temp.Left().empty()) << "a work folder stayed behind";
  CAudioCDProject empty;
  EXPECT_EQ(empty.PrepareTracks(nullptr), CAudioCDProject::kEmptyProject);
}

TEST(AudioProjectBurn, AStoppedConversionLeavesNoTrackAndNoFolder) {
  ScratchFolder dir;
  PrivateTemp temp;
  ConverterStandIn probe(ProbeOnlyConverter(dir));
  CAudioCDProject p;
  p.BeginAdd();
  p.AddAudioFile(dir.Write("a.mp3", "x"));
  ConverterStandIn slow(WriteScript(dir, "slow", "for a; do last=$a; done\nprintf RIFF > \"${last#file:}\"\nsleep 60\n"));
  std::atomic<bool> stop{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
  });
  EXPECT_EQ(p.PrepareTracks(nullptr, &stop), result::kBurnStopped);
  stopper.join();
  EXPECT_TRUE(p.PreparedTracks().empty());
  EXPECT_TRUE(temp.Left().empty()) << "a work folder stayed behind";
}

TEST(AudioProjectBurn, EveryKindOfSoundFileBurnsSampleIdenticalOntoAVirtualCdR) {
  ScratchFolder dir;
  PrivateTemp temp;
  struct Source {
    std::string name;
    int rate, channels;
    // Lossy coders without gap information add their priming and pad the
    // last frame; the converter's WAV is what is burnt either way.
    uint32_t slackSectors;
  };
  const std::vector<Source> sources = {{"t1.mp3", 44100, 2, 1}, {"t2.ogg", 44100, 2, 1}, {"t3.aac", 44100, 2, 4},
                                       {"t4.wma", 44100, 2, 4}, {"t5.flac", 44100, 2, 1}, {"t6.wav", 44100, 2, 1},
                                       {"t7.wav", 48000, 1, 1}, {"t8.m4a", 44100, 2, 2}, {"t9.opus", 48000, 2, 1}};
  constexpr double kSeconds = 4.5;
  CAudioCDProject p;
  p.BeginAdd();
  for (size_t i = 0; i < sources.size(); ++i) {
    const std::string f = MakeTone(dir, sources[i].name, kSeconds, sources[i].rate, sources[i].channels, 300 + 50 * int(i));
    ASSERT_EQ(p.AddAudioFile(f), CAudioCDProject::kAdded) << sources[i].name;
  }
  ASSERT_EQ(p.PrepareTracks(nullptr), result::kSuccess);
  const std::vector<std::string> wavs = p.PreparedTracks();
  ASSERT_EQ(wavs.size(), sources.size());
  // Keep the converter's WAVs to compare against after the burn.
  std::vector<std::string> pcm;
  for (const std::string& w : wavs) pcm.push_back(WavPcm(w));

  VirtualCdR drive(dir);
  ASSERT_EQ(p.BurnTracks(kIndex, false), result::kSuccess) << LastJobError(kIndex);
  ASSERT_EQ(drive.Tracks(), int(sources.size())) << "track count";
  for (size_t i = 0; i < sources.size(); ++i) {
    SCOPED_TRACE(sources[i].name);
    uint32_t sectors = 0;
    const std::string raw = drive.TrackPcm(int(i + 1), &sectors);
    ASSERT_FALSE(raw.empty());
    const uint32_t wavSectors = uint32_t((pcm[i].size() + 2351) / 2352);
    EXPECT_EQ(sectors, wavSectors) << "the track is not as long as the converter's WAV";
    EXPECT_LE(std::abs(int(sectors) - int(kSeconds * 75)), int(sources[i].slackSectors))
        << "the track is " << sectors << " sectors for " << kSeconds << " s";
    ASSERT_GE(raw.size(), pcm[i].size());
    EXPECT_TRUE(std::memcmp(raw.data(), pcm[i].data(), pcm[i].size()) == 0) << "the PCM differs from the WAV";
    EXPECT_TRUE(std::all_of(raw.begin() + long(pcm[i].size()), raw.end(), [](char b) { return b == 0; }));
  }
  p.DeleteTempTracks();
  EXPECT_TRUE(temp.Left().empty()) << "a work folder stayed behind";
}

TEST(AudioProjectBurn, OnlyABlankCdTakesTheTracks) {
  ScratchFolder dir;
  PrivateTemp temp;
  CAudioCDProject p;
  p.BeginAdd();
  p.AddAudioFile(MakeTone(dir, "a.flac", 1.2));
  ASSERT_EQ(p.PrepareTracks(nullptr), result::kSuccess);
  VirtualCdR dvd(dir, "dvd+r");
  EXPECT_EQ(p.BurnTracks(kIndex, false), result::kNothingDone);
  EXPECT_EQ(dvd.Tracks(), 0);
}

TEST(AudioProjectBurn, TheWritingCaptionNamesTheRowOfTheTrack) {
  EXPECT_EQ(CAudioCDProject::TrackRowOfItem("/tmp/varnex-audio-1/Track3.wav"), 2);
  EXPECT_EQ(CAudioCDProject::TrackRowOfItem("/tmp/Track/x.wav"), -1);
  EXPECT_EQ(CAudioCDProject::TrackRowOfItem("Track.wav"), -1);
  EXPECT_EQ(CAudioCDProject::TrackRowOfItem(""), -1);
}

TEST(WorkFolders, TheRootWithTheMostRoomIsTakenAndTheFolderIsFresh) {
  const std::string root = WorkFolderRoot();
  ASSERT_FALSE(root.empty());
  bool candidate = false;
  for (const std::string& r : WorkFolderRoots()) candidate = candidate || r == root;
  EXPECT_TRUE(candidate) << root;
  const std::string a = MakeWorkFolder("varnex-test-"), b = MakeWorkFolder("varnex-test-");
  EXPECT_NE(a, b);
  EXPECT_TRUE(Exists(a) && Exists(b));
  RemoveTree(a);
  RemoveTree(b);
}

}  // namespace
