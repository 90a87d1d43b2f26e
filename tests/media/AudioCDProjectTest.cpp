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
