// The converter driver: its command lines, its text helpers, real short
// conversions with ffmpeg for all four targets, and stopping the converter.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "MediaTestSupport.h"
#include "media/CAVConvert.h"
#include "media/ToolProcess.h"

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool ProcessAlive(pid_t pid) {
  // A zombie has ended too.
  std::string stat = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
  if (stat.empty()) return false;
  const size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

bool WaitFor(const std::function<bool()>& done, int seconds) {
  for (int i = 0; i < seconds * 50; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

TEST(ConverterText, ParseDurationReadsWholeSeconds) {
  EXPECT_EQ(CAVConvert::ParseDuration("01:02:03.99"), 3723);
  EXPECT_EQ(CAVConvert::ParseDuration(""), 0);
  EXPECT_EQ(CAVConvert::ParseDuration("00:03:25"), 205);
  EXPECT_EQ(CAVConvert::ParseDuration("00:03:25.43"), 205);
  EXPECT_EQ(CAVConvert::ParseDuration("N/A"), 0);
}

TEST(ConverterText, SizeEstimatesFollowTheRateOfEachTarget) {
  EXPECT_NEAR(CAVConvert::EstimateSizeMB(0, "00:03:25.43"), 205.0 * 175 / 1024, 1e-4);
  EXPECT_NEAR(CAVConvert::EstimateSizeMB(1, "00:01:00"), 60.0 * 170 / 1024, 1e-4);
  EXPECT_NEAR(CAVConvert::EstimateSizeMB(2, "00:01:00"), 60.0 * 170 / 1024, 1e-4);
  EXPECT_NEAR(CAVConvert::EstimateSizeMB(3, "00:01:00"), 60.0 * 600 / 1024, 1e-4);
  EXPECT_EQ(CAVConvert::EstimateSizeMB(7, "00:01:00"), 0.0f);
  EXPECT_EQ(CAVConvert::EstimateSizeMB(0, ""), 0.0f);
}

TEST(ConverterText, ExtractBetweenTakesTheLastOfARepeatedMarker) {
  const std::string out =
      "frame=  10 fps=0.0 q=2.0 size=1kB time=00:00:01.00 bitrate=1kbits/s\r"
      "frame=  20 fps=0.0 q=2.0 size=2kB time=00:00:02.00 bitrate=1kbits/s\r"
      "frame=  35 fps=0.0 q=2.0 size=3kB time=00:00:03.50 bitrate=1kbits/s\n";
  EXPECT_EQ(ExtractBetween(out, "time=", " "), "00:00:03.50");
  EXPECT_EQ(ExtractBetween(out, "", " "), "");
  EXPECT_EQ(ExtractBetween(out, "time=", ""), "");
  EXPECT_EQ(ExtractBetween("", "time=", " "), "");
  EXPECT_EQ(ExtractBetween(out, "Duration: ", ","), "");
  EXPECT_EQ(ExtractBetween("time=00:01", "time=", " "), "");  // no end marker at all
  EXPECT_EQ(ExtractBetween("a time=1 b time=2", "time=", " "), "");  // none after the last start
  EXPECT_EQ(ExtractBetween("  Duration: 00:00:05.00, start: 0", "Duration: ", ","), "00:00:05.00");
}

TEST(ConverterText, TextBeforeAndAfterTheFirstMarker) {
  EXPECT_EQ(TextBefore("a=b=c", "="), "a");
  EXPECT_EQ(TextAfter("a=b=c", "="), "b=c");
  EXPECT_EQ(TextBefore("abc", "="), "");
  EXPECT_EQ(TextAfter("abc", "="), "");
  EXPECT_EQ(TextBefore("", "="), "");
  EXPECT_EQ(TextAfter("abc", ""), "");
}

TEST(ConverterText, ArgumentsSplitAtBlanksOutsideQuotes) {
  EXPECT_EQ(SplitArguments("-i \"a b.mp3\" -vn  \"c\""), (std::vector<std::string>{"-i", "a b.mp3", "-vn", "c"}));
  EXPECT_EQ(SplitArguments(" \"\" x"), (std::vector<std::string>{"", "x"}));
  EXPECT_TRUE(SplitArguments("   ").empty());
}

TEST(ConverterCommandLines, SoundToWavKeepsTheDesignedOptions) {
  EXPECT_EQ(CAVConvert::ConvertArguments("/m/a b.mp3", "/t/Track1.wav", 0, 0, 1),
            "-i \"file:/m/a b.mp3\" -vn -ar 44100 -ac 2 \"file:/t/Track1.wav\"");
}

TEST(ConverterCommandLines, VideoCdAndSuperVideoCdTakeTheirFormatAndShape) {
  const std::string svcd = CAVConvert::ConvertArguments("in.avi", "out.mpg", 2, 0, 0);
  EXPECT_NE(svcd.find(" -f svcd -target pal-svcd -mbd rd -aspect 4:3 -trellis 1 -mpv_flags +mv0 -cmp 0 -subcmp 2 "),
            std::string::npos)
      << svcd;
  const std::string vcd = CAVConvert::ConvertArguments("in.avi", "out.mpg", 1, 0, 0);
  EXPECT_NE(vcd.find(" -f vcd -target pal-vcd -mbd rd -aspect 4:3 "), std::string::npos) << vcd;
  const std::string ntsc = CAVConvert::ConvertArguments("in.avi", "out.mpg", 1, 1, 1);
  EXPECT_NE(ntsc.find(" -f vcd -target ntsc-vcd -mbd rd -aspect 16:9 "), std::string::npos) << ntsc;
}

TEST(ConverterCommandLines, DvdTakesRateSizeAndTwoBlanksBeforeTheTarget) {
  const std::string dvd = CAVConvert::ConvertArguments("in.avi", "out.mpg", 3, 1, 1);
  EXPECT_EQ(dvd, "-i \"file:in.avi\" -f dvd -target ntsc-dvd -b 5000k -r 29.97 -aspect 16:9 -s 720x480 -ar 48000 "
                 "-ab 384k  \"file:out.mpg\"");
  const std::string pal = CAVConvert::ConvertArguments("in.avi", "out.mpg", 3, 0, 0);
  EXPECT_NE(pal.find("-target pal-dvd -b 5000k -r 25 -aspect 4:3 -s 720x576 "), std::string::npos) << pal;
  EXPECT_EQ(CAVConvert::ConvertArguments("in.avi", "out.mpg", 4, 0, 0), "");
}

TEST(ConverterCommandLines, ProbeAndThumbnail) {
  EXPECT_EQ(CAVConvert::ProbeArguments("x.mp3"), "-analyzeduration 3M -threads 2 -i \"file:x.mp3\"");
  EXPECT_EQ(CAVConvert::ThumbnailArguments(96, 3, "v.avi", "t.jpg"),
            " -sws_flags bilinear -ss 3 -i \"file:v.avi\" -vframes 1 -s 96x96 -f image2 -y \"file:t.jpg\"");
}

TEST(ConverterProbe, AmrNarrowBandSoundHasNoDuration) {
  ScratchFolder dir;
  ConverterStandIn amr(WriteScript(dir, "amr",
                                   "echo \"  Duration: 00:00:10.00, start: 0.000000, bitrate: 12 kb/s\" >&2\n"
                                   "echo \"  Stream #0:0: Audio: amr_nb (samr / 0x726D6173), 8000 Hz, mono\" >&2\n"
                                   "exit 1\n"));
  CAVConvert c;
  EXPECT_EQ(c.GetMediaInfo(dir / "x.3gp"), "");
}

TEST(ConverterProbe, RealSoundFilesGiveTheirPlayTime) {
  ScratchFolder dir;
  CAVConvert c;
  ASSERT_FALSE(c.ConverterPath().empty()) << "ffmpeg is not installed";
  for (const char* ext : {"mp3", "ogg", "flac", "wav", "wma"}) {
    const std::string f = MakeTone(dir, std::string("tone.") + ext, 3);
    const std::string d = c.GetMediaInfo(f);
    EXPECT_EQ(d.substr(0, 8), "00:00:03") << ext << ": " << d;
    EXPECT_TRUE(c.LastProbeHadAudio()) << ext;
  }
  const std::string text = dir.Write("notes.mp3", "This is not sound at all, only words.\n");
  EXPECT_EQ(c.GetMediaInfo(text), "");
  EXPECT_EQ(c.GetMediaInfo(dir / "missing.mp3"), "");
}

TEST(ConverterRun, SoundBecomesA44kStereoWav) {
  ScratchFolder dir;
  for (auto [name, rate, channels] : {std::tuple{"a.mp3", 44100, 2}, std::tuple{"b.wav", 48000, 1}}) {
    const std::string src = MakeTone(dir, name, 2, rate, channels);
    const std::string out = dir / (std::string(name) + ".wav");
    CAVConvert c;
    ASSERT_TRUE(c.Convert(src, out, CAVConvert::kSoundToWav, 0, 1)) << c.LastOutput();
    WavInfo info;
    std::string why;
    ASSERT_TRUE(ReadWavInfo(out, info, &why)) << why;  // 44.1 kHz, 16-bit, stereo
    EXPECT_NEAR(double(info.dataSize) / 4 / 44100, 2.0, 0.05) << name;
  }
}

TEST(ConverterRun, AFileThatIsNotSoundLeavesNoTarget) {
  ScratchFolder dir;
  const std::string text = dir.Write("song.mp3", "only text, renamed\n");
  const std::string out = dir.Write("Track1.wav", "an old file that must go");
  CAVConvert c;
  EXPECT_FALSE(c.Convert(text, out, 0, 0, 1));
  EXPECT_FALSE(Exists(out));
  EXPECT_FALSE(c.LastError().empty());
}

TEST(ConverterRun, TheThreeVideoTargetsGiveMpegProgramStreams) {
  ScratchFolder dir;
  const std::string video = MakeVideo(dir, "clip.avi", 1);
  for (int type : {1, 2, 3}) {
    const std::string out = dir / ("out" + std::to_string(type) + ".mpg");
    CAVConvert c;
    ASSERT_TRUE(c.Convert(video, out, type, 0, 0)) << "type " << type << ": " << c.LastError();
    const std::string head = ReadWholeFile(out).substr(0, 4);
    EXPECT_EQ(head, std::string("\x00\x00\x01\xBA", 4)) << "type " << type << " is no MPEG program stream";
    CommandResult probe = RunCommand("ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 " +
                                     Quoted(out));
    const char* size = type == 1 ? "352,288" : type == 2 ? "480,576" : "720,576";
    EXPECT_NE(probe.output.find(std::string("mpeg") + (type == 1 ? "1" : "2") + "video," + size), std::string::npos)
        << "type " << type << ": " << probe.output;
  }
}

TEST(ConverterRun, AThumbnailIsAnImageOfTheGivenSize) {
  ScratchFolder dir;
  const std::string video = MakeVideo(dir, "clip.avi", 2);
  const std::string image = dir.Write("thumb.jpg", "an old picture");
  CAVConvert c;
  ASSERT_TRUE(c.MakeThumbnail(96, 1, video, image)) << c.LastOutput();
  CommandResult probe = RunCommand("ffprobe -v error -show_entries stream=width,height -of csv=p=0 " + Quoted(image));
  EXPECT_EQ(probe.output, "96,96\n");
}

// A converter that writes part of its target and then takes its time.
std::string SlowConverter(const ScratchFolder& dir, const std::string& name) {
  return WriteScript(dir, name,
                     "for a; do last=$a; done\n"
                     "echo $$ > \"" + dir / (name + ".pid") + "\"\n"
                     "printf 'RIFF half a file' > \"${last#file:}\"\n"
                     "sleep 60 & echo $! > \"" + dir / (name + ".child") + "\"\n"
                     "wait\n");
}

TEST(ConverterRun, AStopEndsTheConverterAtOnceAndLeavesNoPartialFile) {
  ScratchFolder dir;
  ConverterStandIn slow(SlowConverter(dir, "slowconv"));
  const std::string out = dir / "Track1.wav";
  std::atomic<bool> stop{false};
  std::thread stopper([&] {
    WaitFor([&] { return Exists(dir / "slowconv.child"); }, 10);
    stop = true;
  });
  const auto began = std::chrono::steady_clock::now();
  CAVConvert c;
  EXPECT_FALSE(c.Convert(dir / "in.mp3", out, 0, 0, 1, &stop));
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(20));
  EXPECT_FALSE(Exists(out)) << "the half-written target stayed";
  // The converter's own children went with it (its process group).
  const pid_t child = pid_t(std::atoi(ReadWholeFile(dir / "slowconv.child").c_str()));
  ASSERT_GT(child, 0);
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(child); }, 5)) << "the converter's child still runs";
}

TEST(ToolProcesses, KillEndsOnlyWhatVarnexStarted) {
  ScratchFolder dir, elsewhere;
  const std::string tool = SlowConverter(dir, "fakeconv");
  // A program of the same name, started by someone else.
  const std::string otherTool = SlowConverter(elsewhere, "fakeconv");
  ASSERT_EQ(RunCommand(otherTool + " x " + Quoted("file:" + elsewhere / "other.out") + " >/dev/null 2>&1 &").status, 0);
  ASSERT_TRUE(WaitFor([&] { return Exists(elsewhere / "fakeconv.child"); }, 10));
  const pid_t other = pid_t(std::atoi(ReadWholeFile(elsewhere / "fakeconv.pid").c_str()));
  const pid_t otherChild = pid_t(std::atoi(ReadWholeFile(elsewhere / "fakeconv.child").c_str()));
  ASSERT_GT(other, 0);

  ToolRun run;
  std::string output;
  bool started = false;
  std::thread worker([&] { started = RunTool(tool, "x \"file:" + dir / "ours.out" + "\"", &output, &run); });
  ASSERT_TRUE(WaitFor([&] { return Exists(dir / "fakeconv.child") && Exists(dir / "ours.out"); }, 10));
  EXPECT_EQ(KillToolProcess("notthetool"), 0);
  EXPECT_GE(KillToolProcess("fakeconv"), 1);
  worker.join();
  EXPECT_TRUE(started);
  EXPECT_EQ(run.exitStatus, -1) << "the tool was not ended by the kill";
  EXPECT_TRUE(ProcessAlive(other)) << "a program of the same name that Varnex did not start was ended";
  ::kill(other, SIGKILL);
  ::kill(otherChild, SIGKILL);
  EXPECT_EQ(KillToolProcess("fakeconv"), 0) << "an ended tool stays in the table";
}

TEST(ToolProcesses, OutputAndExitStatusComeBack) {
  ScratchFolder dir;
  const std::string tool = WriteScript(dir, "talk", "echo out \"$1\"; echo err \"$2\" >&2; exit 3\n");
  std::string output;
  ToolRun run;
  ASSERT_TRUE(RunTool(tool, "\"a b\" c", &output, &run));
  EXPECT_EQ(run.exitStatus, 3);
  EXPECT_NE(output.find("out a b\n"), std::string::npos) << output;
  EXPECT_NE(output.find("err c\n"), std::string::npos) << output;
  EXPECT_FALSE(RunTool(dir / "no-such-tool", "", &output));
  EXPECT_EQ(FindTool("sh").empty(), false);
  EXPECT_EQ(FindTool("no-such-tool-anywhere"), "");
}

}  // namespace
