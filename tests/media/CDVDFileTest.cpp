// DVD-Video authoring with the real tools: both engines make a VIDEO_TS
// folder lsdvd reads with the clips' lengths; a failing tool or a cancel
// leaves no work folder and no header, and says what the tool said.

#include <gtest/gtest.h>
#include <signal.h>

#include <cmath>
#include <cstring>
#include <thread>

#include "media/CDVDFile.h"
#include "media/DvdTestSupport.h"

namespace {

// Sets an environment variable while it lives.
class EnvSetting {
 public:
  EnvSetting(const char* name, const std::string& value) : name_(name) { setenv(name, value.c_str(), 1); }
  ~EnvSetting() { unsetenv(name_); }

 private:
  const char* name_;
};

TEST(CDVDFile, TheAuthoringScriptOfOneTitleIsTheDesignedText) {
  const std::string s = CDVDFile::AuthoringScript("/w/", {{"/w/0.mpg", true}}, CDVDFile::kPal,
                                                  CDVDFile::kAspect4x3);
  EXPECT_EQ(s,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dvdauthor dest=\"/w/\">\n"
            "<vmgm><fpc>if (g0 == 1) { jump title 1; } jump title 1;</fpc><menus lang=\"en\"><video aspect=\"4:3\" "
            "format=\"pal\" /></menus></vmgm><titleset><titles><audio lang=\"EN\" format=\"ac3\" channels=\"2\" />"
            "<video format=\"pal\" aspect=\"4:3\" /><pgc><pre></pre><vob file=\"/w/0.mpg\" chapters=\"0:00\" "
            " /><post></post></pgc></titles></titleset></dvdauthor>");
  // Two titles: the first hands over to the second; a name cannot change the script.
  const std::string two = CDVDFile::AuthoringScript(
      "/w/", {{"/w/a&b\"<c>.vob", false}, {"/w/1.mpg", true}}, CDVDFile::kNtsc, CDVDFile::kAspect16x9);
  EXPECT_NE(two.find("if (g0 == 1) { jump title 1; }if (g0 == 2) { jump title 2; } jump title 1;"), std::string::npos);
  EXPECT_NE(two.find("<post>g0 = 2; call vmgm fpc;</post>"), std::string::npos) << two;
  EXPECT_NE(two.find("file=\"/w/a&amp;b&quot;&lt;c&gt;.vob\" chapters=\"0:00\""), std::string::npos) << two;
  EXPECT_NE(two.find("format=\"ntsc\" aspect=\"16:9\""), std::string::npos);
  // The second engine's converter and multiplexer arguments, as the tools take them today.
  const std::string video = CDVDFile::VideoArguments("/in.mp4", "/w/0", CDVDFile::kNtsc, CDVDFile::kAspect16x9);
  EXPECT_NE(video.find("-vcodec mpeg2video -s 720x480 -vf scale=672:480,pad=720:480:24:0 -r 29.97"),
            std::string::npos)
      << video;
  EXPECT_NE(video.find("-aspect 16:9"), std::string::npos);
  EXPECT_NE(video.find("file:/w/0.m2v"), std::string::npos);
  EXPECT_NE(CDVDFile::SoundArguments("/in.mp4", "/w/0").find("-map 0:a:0 -acodec ac3"), std::string::npos);
  EXPECT_EQ(CDVDFile::MultiplexArguments("/w/0"), "-f 8 --vbr -o /w/0.mpg /w/0.m2v /w/0.ac3");
}

TEST(CDVDFile, InputsUsedAsTheyAreAndCountsRefused) {
  EXPECT_TRUE(CDVDFile::UsedDirectly("/a/film.VOB", 1));
  EXPECT_TRUE(CDVDFile::UsedDirectly("/a/film.mpeg", 0));
  EXPECT_FALSE(CDVDFile::UsedDirectly("/a/film.mpg", 1));
  EXPECT_FALSE(CDVDFile::UsedDirectly("/a/clip.MoV", 0));
  EXPECT_FALSE(CDVDFile::UsedDirectly("/a.vob/clip", 0));
  CDVDFile dvd;
  std::vector<char> table(261 * CDVDFile::kPathSize, 0);
  EXPECT_EQ(dvd.Build("X", 0, 2, 1, 261, table.data()), 0);
  EXPECT_EQ(dvd.Build("X", 0, 2, 1, 0, table.data()), 0);
  EXPECT_EQ(dvd.Build("X", 0, 2, 1, 1, nullptr), 0);
  EXPECT_EQ(dvd.GetFileTable(table.data()), 0);
  std::strcpy(table.data(), "/no/such/clip.mp4");
  EXPECT_EQ(dvd.Build("X", 0, 2, 1, 1, table.data()), result::kDvdInputMissing);
  EXPECT_NE(dvd.LastError().find("/no/such/clip.mp4"), std::string::npos);
}

void ExpectAuthored(const CDVDFile& dvd, const std::vector<double>& seconds) {
  std::string said;
  const std::vector<double> lengths = LsdvdLengths(dvd.WorkFolder(), &said);
  ASSERT_EQ(lengths.size(), seconds.size()) << said;
  for (size_t i = 0; i < seconds.size(); ++i) EXPECT_LE(std::fabs(lengths[i] - seconds[i]), 1.0) << said;
  // The file table: the IFO first, every file of the folder once, packed.
  std::vector<char> table(size_t(dvd.TableCount()) * CDVDFile::kPathSize);
  ASSERT_EQ(dvd.GetFileTable(table.data()), dvd.FileCount() + 1) << "the files and the closing sector";
  EXPECT_EQ(std::string(table.data()), dvd.WorkFolder() + "VIDEO_TS/VIDEO_TS.IFO");
  EXPECT_EQ(std::filesystem::file_size(table.data() + size_t(dvd.FileCount()) * CDVDFile::kPathSize), 2048u);
  size_t inFolder = 0;
  for (const auto& e : std::filesystem::directory_iterator(dvd.WorkFolder() + "VIDEO_TS")) (void)e, ++inFolder;
  EXPECT_EQ(size_t(dvd.FileCount()), inFolder);
  EXPECT_EQ(std::filesystem::file_size(dvd.GetHeaderFile()),
            (dvdvol::kFileEntries + size_t(dvd.FileCount()) + 1) * 2048u);
  // Nothing of the conversions stays beside the folder.
  for (const auto& e : std::filesystem::directory_iterator(dvd.WorkFolder()))
    EXPECT_TRUE(e.path().filename() == "VIDEO_TS" || e.path().filename() == "AUDIO_TS" ||
                e.path().filename() == "closing.anchor")
        << e.path();
}

TEST(CDVDFile, TheFirstEngineAuthorsTwoClipsAsTwoTitles) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::vector<std::string> clips = {MakeClip(dir, "one.mp4", 3, "-c:v libx264 -c:a aac"),
                                          MakeClip(dir, "two.avi", 2)};
  CDVDFile dvd;
  ASSERT_EQ(dvd.Build("TRIP", 0, CDVDFile::kPal, CDVDFile::kAspect4x3, clips), 1) << dvd.LastError();
  EXPECT_EQ(dvd.EngineUsed(), 1);
  EXPECT_EQ(dvd.progress.load(), 100);
  ExpectAuthored(dvd, {3, 2});
  // The label is in the disc's information file.
  EXPECT_EQ(ReadWholeFile(dvd.WorkFolder() + "VIDEO_TS/VIDEO_TS.IFO").substr(64, 16), std::string("TRIP") + std::string(12, '\0'));
  dvd.CleanUp();
  EXPECT_TRUE(temp.Left().empty()) << "CleanUp left the work folder or the header";
}

TEST(CDVDFile, TheSecondEngineTakesOverWhenTheFirstFails) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::vector<std::string> clips = {MakeClip(dir, "clip.MoV", 2, "-c:v mpeg4 -c:a aac"),
                                          MakeClip(dir, "silent.mkv", 2, "-c:v mpeg4 -an")};
  // A converter that refuses the one-pass DVD conversion and does the rest.
  const std::string stand = WriteScript(dir, "no-target",
                                        "for a in \"$@\"; do [ \"$a\" = -target ] && { echo 'no DVD target here' >&2; "
                                        "exit 1; }; done\nexec ffmpeg \"$@\"\n");
  ConverterStandIn converter(stand);
  CDVDFile dvd;
  ASSERT_EQ(dvd.Build("TRIP", 0, CDVDFile::kNtsc, CDVDFile::kAspect16x9, clips), 1) << dvd.LastError();
  EXPECT_EQ(dvd.EngineUsed(), 2);
  ExpectAuthored(dvd, {2, 2});
}

TEST(CDVDFile, AFailedToolGivesNoDiscAndShowsTheToolsLastLines) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::vector<std::string> clips = {MakeClip(dir, "one.avi", 1)};
  EnvSetting author("VARNEX_AUTHORING", WriteScript(dir, "author", "echo 'ERR:  no space left on the work disk' >&2\n"
                                                                   "exit 1\n"));
  CDVDFile dvd;
  EXPECT_EQ(dvd.Build("TRIP", 0, CDVDFile::kPal, CDVDFile::kAspect4x3, clips), result::kDvdAuthoringFailed);
  EXPECT_NE(dvd.LastError().find("ERR:  no space left on the work disk"), std::string::npos) << dvd.LastError();
  EXPECT_EQ(dvd.FileCount(), 0);
  EXPECT_TRUE(dvd.GetHeaderFile().empty());
  EXPECT_TRUE(temp.Left().empty()) << "the failed run left its work folder";
}

TEST(CDVDFile, CancelEndsTheRunningToolAndRemovesTheWorkFolder) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::vector<std::string> clips = {MakeClip(dir, "one.avi", 1)};
  // The converter says it has started, then works until it is ended.
  const std::string started = dir / "started";
  ConverterStandIn converter(WriteScript(dir, "busy", "echo $$ > " + Quoted(started) + ".part\nmv " +
                                                           Quoted(started) + ".part " + Quoted(started) +
                                                           "\nexec sleep 600\n"));
  CDVDFile dvd;
  int result = 0;
  std::thread worker([&] { result = dvd.Build("X", 0, CDVDFile::kPal, CDVDFile::kAspect4x3, clips); });
  while (!std::filesystem::exists(started)) std::this_thread::yield();
  const pid_t pid = pid_t(std::stol(ReadWholeFile(started)));
  // The caption names the step that runs, in the user's language.
  EXPECT_EQ(dvd.CurrentStep(), "Title 1 of 1: converting to a DVD stream");
  EXPECT_EQ(dvd.progress.load(), 0);
  dvd.cancel = true;
  worker.join();
  EXPECT_EQ(result, result::kDvdStopped);
  EXPECT_NE(::kill(pid, 0), 0) << "the converter still runs";
  EXPECT_TRUE(temp.Left().empty()) << "the cancelled run left its work folder";
}

}  // namespace
