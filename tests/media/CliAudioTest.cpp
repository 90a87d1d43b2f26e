// varnex-cli audio as a user runs it: sound files of any kind burnt as an
// audio CD onto a virtual CD-R and read back from the BIN of its export;
// files that are not sound refused by name; no work folder left behind.

#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "MediaTestSupport.h"
#include "authoring/ProjectFile.h"
#include "media/CAVConvert.h"

namespace {

CommandResult Cli(const std::string& args) { return RunCommand(std::string(VARNEX_CLI_PATH) + " " + args); }

struct CueTrack {
  int number;
  int32_t lba;
};

std::vector<CueTrack> CueTracks(const std::string& cue) {
  std::vector<CueTrack> tracks;
  std::regex track(R"(TRACK (\d+) AUDIO)"), index(R"(INDEX 01 (\d+):(\d+):(\d+))");
  std::smatch m;
  std::string::const_iterator at = cue.begin();
  while (std::regex_search(at, cue.end(), m, track)) {
    CueTrack t{std::stoi(m[1]), -1};
    at = m.suffix().first;
    std::smatch i;
    if (std::regex_search(at, cue.end(), i, index))
      t.lba = (std::stoi(i[1]) * 60 + std::stoi(i[2])) * 75 + std::stoi(i[3]);
    tracks.push_back(t);
  }
  return tracks;
}

TEST(CliAudio, SoundFilesBurnInTheirOrderAndComeBackSampleIdentical) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::string vd = dir / "a.vdisc";
  ASSERT_EQ(Cli("virtual create --media cd-r " + vd).status, 0);
  const std::vector<std::string> files = {MakeTone(dir, "first.flac", 4.2, 44100, 2, 330),
                                          MakeTone(dir, "second.mp3", 4.0, 44100, 2, 550),
                                          MakeTone(dir, "third.wav", 4.4, 48000, 1, 770)};
  CommandResult r = Cli("audio burn --drive virtual:" + vd + " " + files[0] + " " + files[1] + " " + files[2]);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("converting 3/3: third.wav"), std::string::npos) << r.output;
  EXPECT_TRUE(temp.Left().empty()) << "a work folder stayed behind";

  r = Cli("virtual export --drive virtual:" + vd + " --cue " + dir / "disc.cue");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string cue = ReadWholeFile(dir / "disc.cue");
  const std::string bin = ReadWholeFile(dir / "disc.bin");
  const std::vector<CueTrack> tracks = CueTracks(cue);
  ASSERT_EQ(tracks.size(), files.size()) << cue;
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i]);
    EXPECT_EQ(tracks[i].number, int(i + 1));
    // The converter gives the same WAV for the same file every time.
    CAVConvert c;
    const std::string wav = dir / ("ref" + std::to_string(i) + ".wav");
    ASSERT_TRUE(c.Convert(files[i], wav, 0, 0, 1)) << c.LastError();
    const std::string pcm = WavPcm(wav);
    ASSERT_GE(bin.size(), size_t(tracks[i].lba) * 2352 + pcm.size());
    EXPECT_TRUE(std::memcmp(bin.data() + size_t(tracks[i].lba) * 2352, pcm.data(), pcm.size()) == 0)
        << "track " << i + 1 << " differs from the converter's WAV";
  }
}

// Sectors the converter's WAV of a file takes on the disc.
int32_t ConvertedSectors(const ScratchFolder& dir, const std::string& file) {
  CAVConvert c;
  const std::string wav = dir / (file.substr(file.rfind('/') + 1) + ".ref.wav");
  EXPECT_TRUE(c.Convert(file, wav, 0, 0, 1)) << c.LastError();
  return int32_t((WavPcm(wav).size() + 2351) / 2352);
}

TEST(CliAudio, TracksAreGaplessUnlessAGapIsAskedForAndTrackAtOnceKeepsItsGaps) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::vector<std::string> files = {MakeTone(dir, "a.flac", 4.2, 44100, 2, 330),
                                          MakeTone(dir, "b.mp3", 4.1, 44100, 2, 550),
                                          MakeTone(dir, "c.wav", 4.4, 44100, 2, 770)};
  std::vector<int32_t> sectors;
  for (const std::string& f : files) sectors.push_back(ConvertedSectors(dir, f));
  struct Case {
    std::string options;
    int32_t second, third;  // where tracks 2 and 3 begin
  };
  const std::vector<Case> cases = {
      {"", sectors[0], sectors[0] + sectors[1]},
      {"--gap 1.5", sectors[0] + 113, sectors[0] + 113 + sectors[1] + 113},
      {"--tao", sectors[0] + 150, sectors[0] + 150 + sectors[1] + 150},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const std::string vd = dir / "a.vdisc";
    std::remove(vd.c_str());
    ASSERT_EQ(Cli("virtual create --media cd-r " + vd).status, 0);
    CommandResult r = Cli("audio burn --drive virtual:" + vd + " " + c.options + " --title Album --performer Band " +
                          files[0] + "::First::Singer " + files[1] + " " + files[2] + "::Third");
    ASSERT_EQ(r.status, 0) << r.output;
    if (c.options == "--tao") EXPECT_NE(r.output.find("CD-Text and the codes are left out"), std::string::npos) << r.output;
    r = Cli("virtual export --replace --drive virtual:" + vd + " --cue " + dir / "disc.cue");
    ASSERT_EQ(r.status, 0) << r.output;
    const std::vector<CueTrack> tracks = CueTracks(ReadWholeFile(dir / "disc.cue"));
    ASSERT_EQ(tracks.size(), 3u);
    EXPECT_EQ(tracks[0].lba, 0);
    if (c.options == "--tao") {
      // Each track written on its own: its 2-second gap, and the link
      // sectors the recorder adds between tracks.
      EXPECT_GE(tracks[1].lba, c.second);
      EXPECT_GE(tracks[2].lba - tracks[1].lba, sectors[1] + 150);
    } else {
      EXPECT_EQ(tracks[1].lba, c.second);
      EXPECT_EQ(tracks[2].lba, c.third);
    }
  }
  EXPECT_TRUE(temp.Left().empty()) << "a work folder stayed behind";
}

TEST(CliAudio, CodesGapsAndTitlesThatCannotBeWrittenAreRefusedBeforeAnyConversion) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::string vd = dir / "a.vdisc";
  ASSERT_EQ(Cli("virtual create --media cd-r " + vd).status, 0);
  const std::string song = MakeTone(dir, "song.ogg", 4.5);
  const std::string folder = dir / "album";
  ASSERT_EQ(RunCommand("mkdir " + Quoted(folder)).status, 0);
  struct Case {
    std::string args, said;
  };
  const std::vector<Case> cases = {
      {"--mcn 12345 " + song, "13 digits"},
      {"--isrc 2=GB-ABC-24-00001 " + song, "TRACK=CODE"},
      {"--isrc 1=GB-ABC " + song, "GB-ABC"},
      {"--gap 11 " + song, "0 to 10"},
      {"--gap -1 " + song, "0 to 10"},
      {folder + "::Title " + song, "takes no title"},
      {song + "::" + std::string(4000, 'x'), "shorten"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.substr(0, 80));
    CommandResult r = Cli("audio burn --drive virtual:" + vd + " " + c.args);
    EXPECT_NE(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(c.said), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("converting"), std::string::npos) << r.output;
  }
  CommandResult r = Cli("disc-info --drive virtual:" + vd);
  EXPECT_NE(r.output.find("blank: yes"), std::string::npos) << r.output;
  EXPECT_TRUE(temp.Left().empty()) << "a work folder stayed behind";
}

TEST(CliAudio, AShortTrackIsFilledOutAndATitleBeyondIso8859IsTold) {
  ScratchFolder dir;
  const std::string vd = dir / "a.vdisc";
  ASSERT_EQ(Cli("virtual create --media cd-r " + vd).status, 0);
  const std::string shortOne = MakeTone(dir, "short.flac", 1.5);
  CommandResult r = Cli("audio burn --drive virtual:" + vd + " " + shortOne + "::\xE6\x9D\xB1\xE4\xBA\xAC " +
                        MakeTone(dir, "long.flac", 4.5));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("filled out with silence"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("ISO 8859-1"), std::string::npos) << r.output;
  r = Cli("virtual export --drive virtual:" + vd + " --cue " + dir / "disc.cue");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::vector<CueTrack> tracks = CueTracks(ReadWholeFile(dir / "disc.cue"));
  ASSERT_EQ(tracks.size(), 2u);
  EXPECT_EQ(tracks[1].lba, 300) << "the short track lasts the 4 seconds a track must";
}

TEST(CliAudio, AFileThatIsNotSoundIsRefusedByNameAndNothingIsWritten) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::string vd = dir / "a.vdisc";
  ASSERT_EQ(Cli("virtual create --media cd-r " + vd).status, 0);
  const std::string good = MakeTone(dir, "good.ogg", 1.5);
  const std::string fake = dir.Write("fake.mp3", "A letter, renamed to look like a song.\n");
  CommandResult r = Cli("audio burn --drive virtual:" + vd + " " + good + " " + fake);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find(fake), std::string::npos) << r.output;
  r = Cli("disc-info --drive virtual:" + vd);
  EXPECT_NE(r.output.find("blank: yes"), std::string::npos) << r.output;
  // Other names are not sound files at all.
  r = Cli("audio burn --drive virtual:" + vd + " " + dir.Write("clip.mp4", "x"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("clip.mp4"), std::string::npos) << r.output;
  EXPECT_TRUE(temp.Left().empty()) << "a work folder stayed behind";
}

TEST(CliAudio, AFailedBurnStillRemovesTheConvertedTracks) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::string vd = dir / "a.vdisc";
  ASSERT_EQ(Cli("virtual create --media cd-r " + vd).status, 0);
  ASSERT_EQ(Cli("virtual fault --drive virtual:" + vd + " --write-error 2 --times 1000").status, 0);
  CommandResult r = Cli("audio burn --drive virtual:" + vd + " " + MakeTone(dir, "a.wav", 2));
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_TRUE(temp.Left().empty()) << "a work folder stayed behind after a failed burn";
  // A DVD is refused before anything is converted.
  const std::string dvd = dir / "d.vdisc";
  ASSERT_EQ(Cli("virtual create --media dvd+r " + dvd).status, 0);
  r = Cli("audio burn --drive virtual:" + dvd + " " + MakeTone(dir, "b.wav", 1.5));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("-511"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("converting"), std::string::npos) << r.output;
}

TEST(CliAudio, AnAudioProjectIsSavedAndShownRowByRow) {
  ScratchFolder dir;
  const std::string a = MakeTone(dir, "a.flac", 1.5), b = MakeTone(dir, "b.mp3", 1.5);
  CommandResult r = Cli("audio project save -o " + dir / "p.bcd" + " " + b + " " + a);
  ASSERT_EQ(r.status, 0) << r.output;
  // The texts, codes and gap given are kept with the rows.
  r = Cli("audio project save -o " + dir / "t.bcd" + " --title Album --mcn 0602537361231 --gap 2 --isrc "
          "2=GB-ABC-24-00001 " + b + "::Bee " + a);
  ASSERT_EQ(r.status, 0) << r.output;
  AudioProjectDisc kept;
  std::string why;
  ASSERT_TRUE(LoadAudioProject(dir / "t.bcd", &kept, &why)) << why;
  EXPECT_EQ(kept.title, "Album");
  EXPECT_EQ(kept.mcn, "0602537361231");
  ASSERT_EQ(kept.tracks.size(), 2u);
  EXPECT_EQ(kept.tracks[0].title, "Bee");
  EXPECT_EQ(kept.tracks[1].isrc, "GBABC2400001");
  EXPECT_EQ(kept.tracks[1].pauseFrames, 150);
  r = Cli("project show " + dir / "p.bcd");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("kind: audio CD (1)"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("track 1: " + b), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("track 2: " + a), std::string::npos) << r.output;
  r = Cli("audio project save -o " + dir / "q.bcd" + " " + dir.Write("n.mp3", "words"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("n.mp3"), std::string::npos) << r.output;
}

}  // namespace

TEST(CliAudio, FilesGoInASessionAfterTheSoundOrInATrackBeforeItAndAreKeptInTheProject) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::string song = MakeTone(dir, "song.flac", 4.2);
  const std::string notes = dir.Write("extra/notes.txt", "liner notes\n");
  const std::string vd = dir / "e.vdisc";
  ASSERT_EQ(Cli("virtual create --media cd-r " + vd).status, 0);
  // Refused before any conversion: both places, a label without files, a
  // file that is not there.
  for (const std::string& args :
       {"--data-session " + notes + " --data-track " + notes, std::string("--data-label X"),
        "--data-session " + dir / "gone.txt"}) {
    CommandResult r = Cli("audio burn --drive virtual:" + vd + " " + args + " " + song);
    EXPECT_NE(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("converting"), std::string::npos) << r.output;
  }
  CommandResult r = Cli("audio burn --drive virtual:" + vd + " --data-session " + dir / "extra" +
                        " --data-label NOTES " + song);
  ASSERT_EQ(r.status, 0) << r.output;
  r = Cli("analyse --drive virtual:" + vd);
  EXPECT_NE(r.output.find("Session 2"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("label \"NOTES\""), std::string::npos) << r.output;
  r = Cli("extract-files --drive virtual:" + vd + " -o " + dir / "out");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(ReadWholeFile(dir / "out/extra/notes.txt"), "liner notes\n");
  EXPECT_TRUE(temp.Left().empty()) << "a work folder stayed behind";

  // A mixed-mode CD: the first audio track is track 2, and extract refuses
  // track 1 as no audio.
  const std::string vm = dir / "m.vdisc";
  ASSERT_EQ(Cli("virtual create --media cd-r " + vm).status, 0);
  ASSERT_EQ(Cli("audio burn --drive virtual:" + vm + " --data-track " + notes + " " + song).status, 0);
  r = Cli("extract --drive virtual:" + vm + " --track 1 -o " + dir / "t1.wav");
  EXPECT_NE(r.status, 0) << r.output;
  r = Cli("extract --drive virtual:" + vm + " --track 2 -o " + dir / "t2.wav");
  EXPECT_EQ(r.status, 0) << r.output;

  // The project keeps where the files go.
  r = Cli("audio project save -o " + dir / "p.bcd" + " --data-track " + notes + " " + song);
  ASSERT_EQ(r.status, 0) << r.output;
  AudioProjectDisc kept;
  std::string why;
  ASSERT_TRUE(LoadAudioProject(dir / "p.bcd", &kept, &why)) << why;
  EXPECT_EQ(kept.filesPlace, 2);
  EXPECT_EQ(kept.files, std::vector<std::string>{notes});
}

TEST(CliAudio, SeveralRecordersGetTheTracksConvertedOnce) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::vector<std::string> discs = {dir / "a.vdisc", dir / "b.vdisc"};
  for (const std::string& d : discs) ASSERT_EQ(Cli("virtual create --media cd-r " + d).status, 0);
  const std::string song = MakeTone(dir, "song.mp3", 3.0, 44100, 2, 440);
  CommandResult r = Cli("audio burn --drive virtual:" + discs[0] + " --drive virtual:" + discs[1] + " " + song);
  ASSERT_EQ(r.status, 0) << r.output;
  size_t conversions = 0;
  for (size_t at = r.output.find("converting 1/1"); at != std::string::npos; at = r.output.find("converting 1/1", at + 1))
    ++conversions;
  EXPECT_EQ(conversions, 1u) << r.output;
  EXPECT_TRUE(temp.Left().empty()) << "a work folder stayed behind";
  std::string bins[2];
  for (int i = 0; i < 2; ++i) {
    const std::string cue = dir / ("d" + std::to_string(i) + ".cue");
    ASSERT_EQ(Cli("virtual export --drive virtual:" + discs[i] + " --cue " + cue).status, 0);
    bins[i] = ReadWholeFile(dir / ("d" + std::to_string(i) + ".bin"));
    ASSERT_EQ(CueTracks(ReadWholeFile(cue)).size(), 1u);
  }
  EXPECT_GT(bins[0].size(), 2352u * 200);
  EXPECT_TRUE(bins[0] == bins[1]) << "the two discs differ";
  r = Cli("audio burn --copies 0 --drive virtual:" + discs[0] + " " + song);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("--copies"), std::string::npos) << r.output;
}

TEST(CliAudio, BurnAudioWritesWavsGaplessAsAudioBurnDoesAndTrackAtOnceOnlyWhenAsked) {
  ScratchFolder dir;
  const std::string a = MakeTone(dir, "a.wav", 4.2, 44100, 2, 330), b = MakeTone(dir, "b.wav", 1.5, 44100, 2, 550);
  const int32_t first = int32_t((WavPcm(a).size() + 2351) / 2352);
  for (const std::string& mode : {std::string(), std::string("--tao")}) {
    SCOPED_TRACE(mode.empty() ? "session at once" : mode);
    const std::string vd = dir / "b.vdisc";
    std::remove(vd.c_str());
    ASSERT_EQ(Cli("virtual create --media cd-r " + vd).status, 0);
    const CommandResult burnt = Cli("burn --drive virtual:" + vd + " " + mode + " --audio " + a + " " + b);
    ASSERT_EQ(burnt.status, 0) << burnt.output;
    CommandResult r = Cli("virtual export --replace --drive virtual:" + vd + " --cue " + dir / "disc.cue");
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string cue = ReadWholeFile(dir / "disc.cue");
    const std::vector<CueTrack> tracks = CueTracks(cue);
    ASSERT_EQ(tracks.size(), 2u) << cue;
    const std::string bin = ReadWholeFile(dir / "disc.bin");
    const std::string pcm = WavPcm(b);
    ASSERT_GE(bin.size(), size_t(tracks[1].lba) * 2352 + pcm.size());
    EXPECT_TRUE(std::memcmp(bin.data() + size_t(tracks[1].lba) * 2352, pcm.data(), pcm.size()) == 0);
    if (mode.empty()) {
      // One session at once, as audio burn writes it: no gap between the
      // tracks, and the short track filled out to 4 seconds, which is told.
      EXPECT_EQ(tracks[1].lba, first) << cue;
      EXPECT_NE(burnt.output.find("track 2 is 1.5 s long; it is filled out with silence"), std::string::npos)
          << burnt.output;
      EXPECT_EQ(bin.size(), size_t(first + 300) * 2352);
    } else {
      EXPECT_GE(tracks[1].lba, first + 150) << cue;
    }
  }
  // Only an audio CD or an image is written track at once.
  CommandResult r = Cli("burn --drive virtual:" + (dir / "b.vdisc") + " --tao " + a);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("--tao"), std::string::npos) << r.output;
}
