// varnex-cli's DVD-Video command as a user runs it: two clips burnt onto a
// virtual DVD-R and read back by lsdvd, udfinfo, isoinfo, 7zz and ffprobe;
// the same disc written into an image file; a failing tool or too many files
// write nothing at all.

#include <gtest/gtest.h>

#include <cmath>

#include "jobs/CDvdVideoProject.h"
#include "media/DvdTestSupport.h"

namespace {

CommandResult Cli(const std::string& args) { return RunCommand(std::string(VARNEX_CLI_PATH) + " " + args); }

// Checks a DVD-Video image with the peers: titles and lengths, both file
// systems, and the VOBs as MPEG-2 program streams.
void ExpectDvdImage(const ScratchFolder& dir, const std::string& image, const std::vector<double>& seconds,
                    const std::string& label) {
  std::string said;
  const std::vector<double> lengths = LsdvdLengths(image, &said);
  ASSERT_EQ(lengths.size(), seconds.size()) << said;
  for (size_t i = 0; i < seconds.size(); ++i) EXPECT_LE(std::fabs(lengths[i] - seconds[i]), 1.0) << said;
  // Each title is one chapter: no stub chapter of its last moment.
  const std::regex chapters(R"(Title: \d+, Length: \S+ Chapters: (\d+))");
  int titles = 0;
  for (std::sregex_iterator it(said.begin(), said.end(), chapters), end; it != end; ++it, ++titles)
    EXPECT_EQ(std::stoi((*it)[1]), 1) << said;
  EXPECT_EQ(titles, int(seconds.size())) << said;
  CommandResult r = RunCommand("udfinfo " + Quoted(image));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("label=" + label), std::string::npos) << r.output;
  const std::vector<IsoListed> iso = IsoinfoFolder(image, "/VIDEO_TS/", false);
  const std::vector<IsoListed> joliet = IsoinfoFolder(image, "/VIDEO_TS/", true);
  ASSERT_GE(iso.size(), 5u) << RunCommand("isoinfo -l -i " + Quoted(image)).output;
  ASSERT_EQ(iso.size(), joliet.size());
  r = RunCommand("cd " + Quoted(dir.path()) + " && rm -rf udf && 7zz x -tudf -oudf " + Quoted(image));
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string disc = ReadWholeFile(image);
  for (size_t i = 0; i < iso.size(); ++i) {
    const std::string name = iso[i].name.substr(0, iso[i].name.find(';'));
    SCOPED_TRACE(name);
    EXPECT_EQ(joliet[i].sector, iso[i].sector);
    EXPECT_EQ(joliet[i].size, iso[i].size);
    // What UDF gives is what lies at the ISO 9660 extent.
    const std::string viaUdf = ReadWholeFile(dir / ("udf/VIDEO_TS/" + name));
    ASSERT_EQ(viaUdf.size(), iso[i].size);
    EXPECT_TRUE(disc.compare(size_t(iso[i].sector) * 2048, viaUdf.size(), viaUdf) == 0);
    if (name.size() > 4 && name.substr(name.size() - 4) == ".VOB" && name != "VIDEO_TS.VOB") {
      r = RunCommand("ffprobe -v error -show_entries stream=codec_name:format=format_name -of compact " +
                     Quoted(dir / ("udf/VIDEO_TS/" + name)));
      EXPECT_NE(r.output.find("codec_name=mpeg2video"), std::string::npos) << r.output;
      EXPECT_TRUE(r.output.find("codec_name=ac3") != std::string::npos ||
                  r.output.find("codec_name=mp2") != std::string::npos)
          << r.output;
      EXPECT_NE(r.output.find("format_name=mpeg"), std::string::npos) << r.output;
    }
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir / "udf/AUDIO_TS"));
}

TEST(CliVideoDvd, TwoClipsBurntOntoAVirtualDvdRArePlayableTitles) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::string vd = dir / "d.vdisc";
  ASSERT_EQ(Cli("virtual create --media dvd-r " + vd).status, 0);
  const std::string mp4 = MakeClip(dir, "first clip.mp4", 3, "-c:v libx264 -c:a aac");
  const std::string avi = MakeClip(dir, "second.avi", 2);
  CommandResult r = Cli(DvdCommand() + " --drive virtual:" + vd + " --label TRIP " + Quoted(mp4) + " " + avi);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(temp.Left().empty()) << "a work folder or header stayed behind";
  r = Cli("virtual export --drive virtual:" + vd + " -o " + dir / "disc.iso");
  ASSERT_EQ(r.status, 0) << r.output;
  ExpectDvdImage(dir, dir / "disc.iso", {3, 2}, "TRIP");
  // The disc is closed: a second burn is refused, the first stays.
  r = Cli(DvdCommand() + " --drive virtual:" + vd + " " + avi);
  EXPECT_NE(r.status, 0);
}

TEST(CliVideoDvd, AnImageTargetGetsTheSameDiscAndNeverReplacesAFile) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::string avi = MakeClip(dir, "clip.avi", 2);
  const std::string out = dir / "out.iso";
  CommandResult r = Cli(DvdCommand() + " --ntsc --wide --drive image:" + out + " --medium dvd-r " + avi);
  ASSERT_EQ(r.status, 0) << r.output;
  ExpectDvdImage(dir, out, {2}, "DVD_VIDEO");
  const std::string before = ReadWholeFile(out);
  r = Cli(DvdCommand() + " --drive image:" + out + " --medium dvd-r " + avi);
  EXPECT_NE(r.status, 0) << "an existing image was replaced";
  EXPECT_TRUE(ReadWholeFile(out) == before);
  EXPECT_TRUE(temp.Left().empty());
}

TEST(CliVideoDvd, AFailedToolOrTooManyFilesWriteNothing) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::string vd = dir / "d.vdisc";
  ASSERT_EQ(Cli("virtual create --media dvd+r " + vd).status, 0);
  const std::string avi = MakeClip(dir, "clip.avi", 1);
  const std::string fail = WriteScript(dir, "author", "echo 'ERROR: cannot open the title set' >&2\nexit 1\n");
  CommandResult r = RunCommand("VARNEX_AUTHORING=" + Quoted(fail) + " " + VARNEX_CLI_PATH + " " + DvdCommand() +
                               " --drive virtual:" + vd + " " + avi);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("ERROR: cannot open the title set"), std::string::npos) << r.output;
  EXPECT_TRUE(temp.Left().empty());
  // 261 files are refused before anything is converted.
  std::string many;
  for (int i = 0; i < 261; ++i) many += " " + avi;
  r = Cli(DvdCommand() + " --drive virtual:" + vd + many);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("261"), std::string::npos) << r.output;
  // The disc is still blank: a DVD goes onto it.
  r = Cli(DvdCommand() + " --drive virtual:" + vd + " " + avi);
  EXPECT_EQ(r.status, 0) << r.output;
}

TEST(CliVideoDvd, EveryWritableDvdMediumTakesTheDiscAndACdIsRefused) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::string avi = MakeClip(dir, "clip.avi", 1);
  for (const char* medium : {"dvd+r", "dvd-rw", "dvd+rw", "dvd-r-dl", "dvd+r-dl"}) {
    SCOPED_TRACE(medium);
    const std::string vd = dir / (std::string(medium) + ".vdisc");
    ASSERT_EQ(Cli("virtual create --media " + std::string(medium) + " " + vd).status, 0);
    CommandResult r = Cli(DvdCommand() + " --label " + medium + " --drive virtual:" + vd + " " + avi);
    ASSERT_EQ(r.status, 0) << r.output;
    r = Cli("virtual export --replace --drive virtual:" + vd + " -o " + dir / "disc.iso");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(LsdvdLengths(dir / "disc.iso").size(), 1u);
    EXPECT_NE(RunCommand("udfinfo " + Quoted(dir / "disc.iso")).output.find(std::string("label=") + medium),
              std::string::npos);
  }
  // A CD is refused before anything is converted.
  const std::string cd = dir / "cd.vdisc";
  ASSERT_EQ(Cli("virtual create --media cd-r " + cd).status, 0);
  CommandResult r = Cli(DvdCommand() + " --drive virtual:" + cd + " " + avi);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("not a writable DVD"), std::string::npos) << r.output;
  EXPECT_TRUE(temp.Left().empty());
}

TEST(CliVideoDvd, ADvdAuthoredOnceIsWrittenOnTwoRecordersAndAFailingOneIsNamed) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::string a = dir / "a.vdisc", b = dir / "b.vdisc", c = dir / "c.vdisc";
  for (const std::string& vd : {a, b, c}) ASSERT_EQ(Cli("virtual create --media dvd-r " + vd).status, 0);
  const std::string first = MakeClip(dir, "one.avi", 2), second = MakeClip(dir, "two.avi", 1);
  CommandResult r = Cli(DvdCommand() + " --label PAIR --drive virtual:" + a + " --drive virtual:" + b + " " + first +
                        " " + second);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(temp.Left().empty()) << "the authored files stayed behind";
  ASSERT_EQ(Cli("virtual export --drive virtual:" + a + " -o " + dir / "a.iso").status, 0);
  ASSERT_EQ(Cli("virtual export --drive virtual:" + b + " -o " + dir / "b.iso").status, 0);
  const std::string discA = ReadWholeFile(dir / "a.iso");
  EXPECT_GT(discA.size(), 100u * 2048);
  EXPECT_TRUE(discA == ReadWholeFile(dir / "b.iso")) << "the two DVDs differ";
  std::string said;
  EXPECT_EQ(LsdvdLengths(dir / "b.iso", &said).size(), 2u) << said;

  // One of three recorders fails while writing: it alone is named, the others complete.
  const std::string d = dir / "d.vdisc", e = dir / "e.vdisc";
  for (const std::string& vd : {d, e}) ASSERT_EQ(Cli("virtual create --media dvd-r " + vd).status, 0);
  ASSERT_EQ(Cli("virtual fault --drive virtual:" + d + " --write-error 5 --times 1000").status, 0);
  r = Cli(DvdCommand() + " --label PAIR --drive virtual:" + c + " --drive virtual:" + d + " --drive virtual:" + e +
          " " + first + " " + second);
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_NE(r.output.find(d), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find(c + " (copy"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find(e + " (copy"), std::string::npos) << r.output;
  EXPECT_TRUE(temp.Left().empty()) << "the authored files stayed behind";
  ASSERT_EQ(Cli("virtual export --drive virtual:" + e + " -o " + dir / "e.iso").status, 0);
  EXPECT_EQ(LsdvdLengths(dir / "e.iso").size(), 2u);
  // Several copies go to recorders only, never into one image file.
  r = Cli(DvdCommand() + " --copies 2 --drive image:" + dir / "x.iso" + " " + first);
  EXPECT_NE(r.status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "x.iso"));
}

TEST(DvdVideoProject, InputsCapacityAndShapes) {
  EXPECT_TRUE(CDvdVideoProject::IsVideoFileName("/v/clip.MoV"));
  EXPECT_TRUE(CDvdVideoProject::IsVideoFileName("/v/cam.m2ts"));
  EXPECT_TRUE(CDvdVideoProject::IsVideoFileName("/v/film.mkv"));
  EXPECT_FALSE(CDvdVideoProject::IsVideoFileName("/v/song.mp3"));
  EXPECT_FALSE(CDvdVideoProject::IsVideoFileName("/v/song.WMA")) << "sound alone makes no title";
  EXPECT_FALSE(CDvdVideoProject::IsVideoFileName("/v/AVSEQ01.DAT")) << "Video CD tracks are not DVD titles";
  EXPECT_FALSE(CDvdVideoProject::IsVideoFileName("/v.mp4/readme"));
  // The capacity rule: 10240 sectors stay free.
  const uint64_t dvdR = 2298496;
  EXPECT_TRUE(CDvdVideoProject::Fits(dvdR - 10240, dvdR));
  EXPECT_FALSE(CDvdVideoProject::Fits(dvdR - 10239, dvdR));
  EXPECT_FALSE(CDvdVideoProject::Fits(1, 10000));
  ScratchFolder dir;
  const std::string clip = dir.Write("a.mp4", "not looked into yet");
  CDvdVideoProject project;
  for (size_t i = 0; i < CDvdVideoProject::kMaxInputs; ++i) ASSERT_EQ(project.AddInput(clip), CDvdVideoProject::kAdded);
  EXPECT_EQ(project.AddInput(clip), CDvdVideoProject::kLimitReached);
  EXPECT_EQ(project.Inputs().size(), CDvdVideoProject::kMaxInputs);
  EXPECT_EQ(project.AddInput(dir / "gone.mp4"), CDvdVideoProject::kMissing);
  EXPECT_EQ(project.AddInput(dir.Write("b.txt", "x")), CDvdVideoProject::kNotVideo);
  project.SetTvSystem(7);
  project.SetAspect(0);
  EXPECT_EQ(project.TvSystem(), CDVDFile::kPal);
  EXPECT_EQ(project.Aspect(), CDVDFile::kAspect4x3);
  EXPECT_EQ(project.Burn(0), CDvdVideoProject::kNotPrepared);
}

}  // namespace
