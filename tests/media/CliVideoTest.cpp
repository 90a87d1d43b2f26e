// varnex-cli video as a user runs it: two clips of today's formats burnt as a
// Video CD and as a Super Video CD onto virtual CD-Rs, exported as BIN/CUE
// and judged by independent readers: vcd-info reads the disc's structure,
// vcdxrip extracts the MPEG tracks, ffprobe times them, isoinfo reads the
// control track's volume.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <regex>

#include "MediaTestSupport.h"

namespace {

CommandResult Cli(const std::string& args) { return RunCommand(std::string(VARNEX_CLI_PATH) + " " + args); }

double Seconds(const std::string& path) {
  CommandResult r = RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quoted(path));
  EXPECT_EQ(r.status, 0) << r.output;
  return r.status == 0 ? std::atof(r.output.c_str()) : -1;
}

// The control track's user data (2048 bytes of each Mode 2 Form 1 sector) cut
// out of the exported BIN, as an ISO 9660 image.
std::string ControlTrackImage(const ScratchFolder& dir, const std::string& bin, int sectors) {
  std::string iso;
  for (int s = 0; s < sectors; ++s) iso += bin.substr(size_t(s) * 2352 + 24, 2048);
  return dir.Write("control.iso", iso);
}

struct Clips {
  std::string mp4, avi;
};

Clips MakeClips(const ScratchFolder& dir) {
  return {MakeVideo(dir, "first clip.mp4", 4), MakeVideo(dir, "second.avi", 3)};
}

// Burns, exports and checks a disc of the two clips; returns the vcd-info text.
std::string BurnAndJudge(const ScratchFolder& dir, const Clips& clips, const std::string& kind,
                         const std::string& folder, const std::string& ext) {
  const std::string vd = dir / (kind + ".vdisc");
  EXPECT_EQ(Cli("virtual create --media cd-r " + vd).status, 0);
  CommandResult r = Cli("video --" + kind + " --drive virtual:" + vd + " --label HOLIDAY " + Quoted(clips.mp4) + " " +
                        Quoted(clips.avi));
  EXPECT_EQ(r.status, 0) << r.output;
  if (r.status != 0) return "";
  r = Cli("virtual export --drive virtual:" + vd + " --cue " + dir / (kind + ".cue"));
  EXPECT_EQ(r.status, 0) << r.output;

  CommandResult info = RunCommand("vcd-info -B -c " + Quoted(dir / (kind + ".cue")) + " -f -E -T -p -I -P");
  EXPECT_EQ(info.status, 0) << info.output;
  EXPECT_EQ(info.output.find("WARN"), std::string::npos) << "vcd-info finds fault with the disc:\n" << info.output;
  // Every section, the list offset table included, read without a warning;
  // the two tracks are flagged PAL, the system chosen (and converted to).
  CommandResult all = RunCommand("vcd-info -B -c " + Quoted(dir / (kind + ".cue")));
  EXPECT_EQ(all.status, 0) << all.output;
  EXPECT_FALSE(std::regex_search(all.output, std::regex("warn", std::regex::icase))) << all.output;
  EXPECT_NE(all.output.find("pal flags: 11000000 00000000"), std::string::npos) << all.output;
  // No track is shorter than four seconds (300 sectors), the control track
  // included: the first MPEG track starts after it and its gap of 151.
  CommandResult toc = RunCommand("cd-info --no-header --no-device-info --no-disc-mode -c " +
                                 Quoted(dir / (kind + ".cue")));
  std::smatch second;
  const std::regex trackTwo(R"(\n\s+2: \S+\s+(\d+))");
  EXPECT_TRUE(std::regex_search(toc.output, second, trackTwo)) << toc.output;
  if (!second.empty()) EXPECT_GE(std::stoi(second[1]) - 151, 300) << toc.output;

  // The tracks as vcdxrip gives them back, timed like the clips.
  r = RunCommand("cd " + Quoted(dir.path()) + " && vcdxrip -q -c " + Quoted(kind + ".cue") + " -o " +
                 Quoted(kind + ".xml"));
  EXPECT_EQ(r.status, 0) << r.output;
  const double want[2] = {4, 3};
  for (int i = 0; i < 2; ++i) {
    const std::string track = dir / ("avseq0" + std::to_string(i + 1) + ".mpg");
    EXPECT_NEAR(Seconds(track), want[i], 0.5) << track;
    std::remove(track.c_str());
  }

  const std::string bin = ReadWholeFile(dir / (kind + ".bin"));
  const int control = kind == "vcd" ? 1100 : 300;
  const std::string iso = Quoted(ControlTrackImage(dir, bin, control));
  r = RunCommand("isoinfo -i " + iso + " -d && isoinfo -i " + iso + " -f");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Volume id: HOLIDAY"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("/" + folder + "/AVSEQ02." + ext + ";1"), std::string::npos) << r.output;
  return info.output;
}

}  // namespace

TEST(CliVideo, VideoCdOfTwoClipsIsReadByVcdInfoAndRippedByVcdxrip) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::string info = BurnAndJudge(dir, MakeClips(dir), "vcd", "MPEGAV", "DAT");
  EXPECT_TRUE(temp.Left().empty()) << "a work folder stayed behind";
  EXPECT_NE(info.find("VCD 2.0"), std::string::npos) << info;
  EXPECT_NE(info.find("volume id: `HOLIDAY'"), std::string::npos) << info;
  EXPECT_NE(info.find("XA marker present: yes"), std::string::npos) << info;
  EXPECT_TRUE(std::regex_search(info, std::regex("entries: 2"))) << info;
}

TEST(CliVideo, SuperVideoCdOfTwoClipsIsReadByVcdInfoAndRippedByVcdxrip) {
  ScratchFolder dir;
  const std::string info = BurnAndJudge(dir, MakeClips(dir), "svcd", "MPEG2", "MPG");
  EXPECT_NE(info.find("SVCD"), std::string::npos) << info;
  EXPECT_TRUE(std::regex_search(info, std::regex("entries: 2"))) << info;
}

TEST(CliVideo, WithoutReencodingOnlyMpegStreamsOfTheDiscsKindGoOn) {
  ScratchFolder dir;
  const std::string vd = dir / "vcd.vdisc";
  ASSERT_EQ(Cli("virtual create --media cd-r " + vd).status, 0);
  const std::string mp4 = MakeVideo(dir, "clip.MoV", 2);
  CommandResult r = Cli("video --vcd --no-reencode --drive virtual:" + vd + " " + mp4);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find(mp4), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("-400"), std::string::npos) << r.output;
  EXPECT_NE(Cli("disc-info --drive virtual:" + vd).output.find("blank"), std::string::npos) << "nothing was written";

  // An MPEG-1 stream made for Video CDs goes on as it is; for a Super
  // Video CD it is refused.
  const std::string mpg = dir / "ready.mpg";
  ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -y -i " + Quoted(mp4) + " -target pal-vcd " + Quoted(mpg)).status, 0);
  r = Cli("video --svcd --no-reencode --drive virtual:" + vd + " " + mpg);
  EXPECT_NE(r.output.find("-400"), std::string::npos) << r.output;
  r = Cli("video --vcd --no-reencode --drive virtual:" + vd + " " + mpg);
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_EQ(Cli("virtual export --drive virtual:" + vd + " --cue " + dir / "d.cue").status, 0);
  r = RunCommand("cd " + Quoted(dir.path()) + " && vcdxrip -q -c d.cue -o d.xml");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NEAR(Seconds(dir / "avseq01.mpg"), Seconds(mpg), 0.5);
}

TEST(CliVideo, ProjectsSaveAndBurnAndBadInputIsRefusedByName) {
  ScratchFolder dir;
  const std::string clip = MakeVideo(dir, "clip.mp4", 2);
  const std::string project = dir / "holiday.bcd";
  CommandResult r = Cli("video --svcd --label TRIP --save " + project + " " + clip);
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string body = ReadWholeFile(project);
  ASSERT_EQ(body.size(), 256u + 4 + 260);
  EXPECT_EQ(body[4], 5) << "a Super Video CD project";
  EXPECT_EQ(body.substr(5, 4), "TRIP");
  EXPECT_EQ(body.substr(260, clip.size()), clip);
  // Saving again is refused unless asked, and then replaces the project
  // only with a complete one.
  r = Cli("video --svcd --save " + project + " " + clip + " " + clip);
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_EQ(ReadWholeFile(project).size(), 256u + 4 + 260);
  r = Cli("video --svcd --replace --save " + project + " " + clip + " " + clip);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(ReadWholeFile(project).size(), 256u + 4 + 2 * 260);
  r = Cli("project show " + project);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("kind: Super Video CD (5)"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("video 2: " + clip), std::string::npos) << r.output;

  const std::string vd = dir / "d.vdisc";
  ASSERT_EQ(Cli("virtual create --media cd-r " + vd).status, 0);
  r = Cli("video --svcd --drive virtual:" + vd + " --project " + project);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("2 video tracks"), std::string::npos) << r.output;

  // A file of another kind, a missing file and a damaged project are named.
  const std::string blank = dir / "e.vdisc";
  ASSERT_EQ(Cli("virtual create --media cd-r " + blank).status, 0);
  r = Cli("video --vcd --drive virtual:" + blank + " " + clip + " " + dir.Write("notes.txt", "x") + " " + dir / "gone.avi");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("notes.txt"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("gone.avi"), std::string::npos) << r.output;
  r = Cli("video --vcd --drive virtual:" + blank + " --project " + dir.Write("bad.bcd", std::string(300, '\x07')));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("bad.bcd"), std::string::npos) << r.output;
  r = Cli("video --dvd --drive virtual:" + blank + " " + clip);
  EXPECT_NE(r.status, 0);
  // A DVD-Video job goes to the DVD command, which refuses a CD before converting anything.
  EXPECT_NE(r.output.find("need a writable DVD"), std::string::npos) << r.output;
  r = Cli("video --vcd --svcd --drive virtual:" + blank + " " + clip);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(Cli("disc-info --drive virtual:" + blank).output.find("blank"), std::string::npos);
}

TEST(CliVideo, AFailingRecorderIsReportedAndTheConvertedFilesGo) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::string vd = dir / "f.vdisc";
  ASSERT_EQ(Cli("virtual create --media cd-r " + vd).status, 0);
  ASSERT_EQ(Cli("virtual fault --drive virtual:" + vd + " --write-error 5 --times 1000").status, 0);
  CommandResult r = Cli("video --vcd --drive virtual:" + vd + " " + MakeVideo(dir, "clip.mp4", 2));
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("-113"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(vd), std::string::npos) << "the recorder is named: " << r.output;
  EXPECT_TRUE(temp.Left().empty()) << "the converted files and the control track stayed behind";
}

namespace {

std::string MakeBlankCds(const ScratchFolder& dir, int n, std::vector<std::string>* discs) {
  std::string drives;
  for (int i = 0; i < n; ++i) {
    discs->push_back(dir / ("r" + std::to_string(i) + ".vdisc"));
    EXPECT_EQ(Cli("virtual create --media cd-r " + discs->back()).status, 0);
    drives += " --drive virtual:" + discs->back();
  }
  return drives;
}

// The disc exported as BIN/CUE: the BIN's bytes, and "" when it fails.
std::string ExportedBin(const ScratchFolder& dir, const std::string& disc, const std::string& name) {
  CommandResult r = Cli("virtual export --drive virtual:" + disc + " --cue " + dir / (name + ".cue"));
  EXPECT_EQ(r.status, 0) << r.output;
  return r.status == 0 ? ReadWholeFile(dir / (name + ".bin")) : std::string();
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(CliVideo, AVideoCdIsConvertedOnceAndWrittenOnThreeRecorders) {
  ScratchFolder dir;
  PrivateTemp temp;
  std::vector<std::string> discs;
  const std::string drives = MakeBlankCds(dir, 3, &discs);
  const std::string clip = MakeVideo(dir, "clip.mp4", 3);
  CommandResult r = Cli("video --vcd --label TRIO" + drives + " " + clip);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Occurrences(r.output, "converting 1/1"), 1u) << r.output;
  EXPECT_EQ(Occurrences(r.output, "video tracks burnt on"), 3u) << r.output;
  EXPECT_TRUE(temp.Left().empty()) << "the prepared files stayed behind";
  std::string bins[3];
  for (int i = 0; i < 3; ++i) bins[i] = ExportedBin(dir, discs[i], "d" + std::to_string(i));
  ASSERT_GT(bins[0].size(), 2352u * 1100);
  EXPECT_TRUE(bins[0] == bins[1] && bins[0] == bins[2]) << "the three discs differ";
  CommandResult info = RunCommand("vcd-info -B -c " + Quoted(dir / "d2.cue") + " -f -E -T -p -I -P");
  EXPECT_EQ(info.status, 0) << info.output;
  EXPECT_EQ(info.output.find("WARN"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("volume id: `TRIO'"), std::string::npos) << info.output;

  // Bad numbers of copies, an image target and a drive given twice are refused before any work.
  for (const std::string& bad : {" --copies 0" + drives, " --copies x" + drives, drives + " --drive image:" + dir / "i.bin",
                                 " --drive virtual:" + discs[0] + " --drive virtual:" + discs[0]}) {
    r = Cli("video --svcd" + bad + " " + clip);
    EXPECT_NE(r.status, 0) << bad;
    EXPECT_EQ(r.output.find("converting"), std::string::npos) << r.output;
  }
}

TEST(CliVideo, ARecorderThatFailsIsNamedAndTheOthersComplete) {
  ScratchFolder dir;
  PrivateTemp temp;
  std::vector<std::string> discs;
  const std::string drives = MakeBlankCds(dir, 3, &discs);
  ASSERT_EQ(Cli("virtual fault --drive virtual:" + discs[1] + " --write-error 5 --times 1000").status, 0);
  CommandResult r = Cli("video --svcd" + drives + " " + MakeVideo(dir, "clip.mp4", 2));
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_NE(r.output.find(discs[1]), std::string::npos) << "the failing recorder is named\n" << r.output;
  EXPECT_NE(r.output.find("-113"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find(discs[0] + " (copy"), std::string::npos) << "a good recorder is named as failed\n" << r.output;
  EXPECT_EQ(r.output.find(discs[2] + " (copy"), std::string::npos) << "a good recorder is named as failed\n" << r.output;
  EXPECT_TRUE(temp.Left().empty()) << "the prepared files stayed behind";
  const std::string a = ExportedBin(dir, discs[0], "a"), c = ExportedBin(dir, discs[2], "c");
  ASSERT_GT(a.size(), 2352u * 200);
  EXPECT_TRUE(a == c) << "the two good discs differ";
  CommandResult info = RunCommand("vcd-info -B -c " + Quoted(dir / "c.cue") + " -f -E -T -p -I -P");
  EXPECT_EQ(info.status, 0) << info.output;
  EXPECT_NE(info.output.find("SVCD"), std::string::npos) << info.output;
}

// Ctrl-C while the recorders wait for the second blank disc: the run ends,
// the first discs are complete and the prepared files are gone. The test
// acts on the prompts the command prints, never on time.
TEST(CliVideo, ACancelledRunOfCopiesLeavesNoTemporaryFiles) {
  ScratchFolder dir;
  PrivateTemp temp;
  std::vector<std::string> discs;
  const std::string drives = MakeBlankCds(dir, 2, &discs);
  const std::string command =
      "exec " + std::string(VARNEX_CLI_PATH) + " video --vcd --copies 2" + drives + " " + MakeVideo(dir, "c.mp4", 2);
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(out[1], 2);
    close(out[0]);
    close(out[1]);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  FILE* said = fdopen(out[0], "r");
  std::string text;
  char line[4096];
  int prompts = 0;
  bool interrupted = false;
  while (std::fgets(line, sizeof line, said)) {
    text += line;
    if (std::string(line).find("insert a blank disc") != std::string::npos && ++prompts == 2 && !interrupted)
      interrupted = kill(pid, SIGINT) == 0;
  }
  std::fclose(said);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(interrupted) << text;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << text;
  EXPECT_NE(text.find("-920"), std::string::npos) << text;
  EXPECT_TRUE(temp.Left().empty()) << "the prepared files stayed behind";
  const std::string a = ExportedBin(dir, discs[0], "a"), b = ExportedBin(dir, discs[1], "b");
  ASSERT_GT(a.size(), 2352u * 200);
  EXPECT_TRUE(a == b) << "the first copies differ";
}
