// varnex-cli video as a user runs it: two clips of today's formats burnt as a
// Video CD and as a Super Video CD onto virtual CD-Rs, exported as BIN/CUE
// and judged by independent readers: vcd-info reads the disc's structure,
// vcdxrip extracts the MPEG tracks, ffprobe times them, isoinfo reads the
// control track's volume.

#include <gtest/gtest.h>

#include <cmath>
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
  const int control = kind == "vcd" ? 1100 : 213;
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
  // Saving again replaces the project only with a complete one.
  r = Cli("video --svcd --save " + project + " " + clip + " " + clip);
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
