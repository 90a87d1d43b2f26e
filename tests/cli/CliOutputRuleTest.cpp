// One rule for every file varnex-cli writes: whatever stands at the output
// (a file, a symbolic link, a folder) is left as it was unless --replace is
// given, and with --replace a run that dies half way leaves the old file as
// it was, and the partial file it left does not block the next run.
//
// The commands and their output options are read from the program's own
// help, so that a command or option added later without a case here fails.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "burnctrl/BurnTestSupport.h"
#include "media/MediaTestSupport.h"

namespace fs = std::filesystem;

namespace {

std::string Cli(const std::string& args, int* status, const std::string& prefix = "") {
  return RunTool(prefix + std::string(VARNEX_CLI_PATH) + " " + args, status);
}

// Every output form the help names: "COMMAND OPTION", with "image:" for a
// drive option that may name an image file to write.
std::set<std::string> OutputFormsFromHelp() {
  std::set<std::string> forms;
  int st = 0;
  std::istringstream commands(Cli("--help", &st));
  std::string line;
  bool inList = false;
  std::vector<std::string> names;
  while (std::getline(commands, line)) {
    if (line == "Commands:") inList = true;
    else if (inList && line.empty()) break;
    else if (inList) {
      std::istringstream words(line);
      std::string name;
      if (words >> name) names.push_back(name);
    }
  }
  EXPECT_GT(names.size(), 10u) << "the command list could not be read from --help";
  static const std::regex kOutputOption(R"((^|\s)(-o|--save|--cue|--via|--plot|--report|--md5)(\s|$))");
  for (const std::string& name : names) {
    std::istringstream help(Cli("help " + name, &st));
    std::string option;
    while (std::getline(help, line)) {
      // Options are printed as "  OPTION" followed by "      meaning".
      if (line.rfind("      ", 0) == 0) {
        if (option == "--replace" && line.find("image:FILE target") != std::string::npos) forms.insert(name + " image:");
        continue;
      }
      if (line.rfind("  ", 0) != 0) continue;
      option = line.substr(2);
      std::smatch m;
      if (std::regex_search(option, m, kOutputOption)) forms.insert(name + " " + m[2].str());
    }
  }
  return forms;
}

// What a case needs that takes long to make: recorders with written discs
// and files to put on them, made once for the whole suite.
class Inputs {
 public:
  Inputs() {
    int st = 0;
    source_ = dir_.Write("src/readme.txt", std::string(200000, 'x'));
    data_ = dir_ / "data.vdisc";
    Cli("virtual create --media cd-r " + Quoted(data_), &st);
    Cli("burn --drive virtual:" + Quoted(data_) + " " + Quoted(source_), &st);
    EXPECT_EQ(st, 0) << "the data disc could not be burnt";
    wav_ = MakeTone(dir_, "tone.wav", 1.0);
    audio_ = dir_ / "audio.vdisc";
    Cli("virtual create --media audio --track " + Quoted(wav_) + " " + Quoted(audio_), &st);
    EXPECT_EQ(st, 0) << "the audio disc could not be made";
    video_ = MakeVideo(dir_, "clip.avi", 1.0);
  }
  const std::string& source() const { return source_; }
  const std::string& data() const { return data_; }
  const std::string& audio() const { return audio_; }
  const std::string& wav() const { return wav_; }
  const std::string& video() const { return video_; }
  // A fresh blank recorder for a copy target.
  std::string Blank(const std::string& name) const {
    int st = 0;
    const std::string path = dir_ / name;
    fs::remove(path);
    Cli("virtual create --replace --media cd-r " + Quoted(path), &st);
    return path;
  }

 private:
  ScratchFolder dir_;
  std::string source_, data_, audio_, wav_, video_;
};

struct Case {
  // The command line with OUT standing for the output path.
  std::function<std::string(const Inputs&)> args;
  // "--replace" where the command may replace its output, "" where it never does.
  std::string replace;
  // The file size limit (KiB) under which a run dies while writing.
  int dieAtKiB = 0;
};

std::string With(std::string args, const std::string& out) {
  return std::regex_replace(args, std::regex("OUT"), Quoted(out));
}

const std::map<std::string, Case>& Cases() {
  static const std::map<std::string, Case> cases = {
      {"image -o", {[](const Inputs& in) { return "image -o OUT " + Quoted(in.source()); }, "--replace", 100}},
      {"burn image:", {[](const Inputs& in) { return "burn --drive image:OUT " + Quoted(in.source()); }, "--replace", 100}},
      {"project -o", {[](const Inputs& in) { return "project save -o OUT " + Quoted(in.source()); }, "--replace", 0}},
      {"audio -o", {[](const Inputs& in) { return "audio project save -o OUT " + Quoted(in.wav()); }, "--replace", 0}},
      {"video --save", {[](const Inputs& in) { return "video --vcd --save OUT " + Quoted(in.video()); }, "--replace", 0}},
      {"video image:",
       {[](const Inputs& in) { return "video --dvd --drive image:OUT " + Quoted(in.video()); }, "--replace", 0}},
      {"virtual -o", {[](const Inputs& in) { return "virtual export --drive virtual:" + Quoted(in.data()) + " -o OUT"; },
                      "--replace", 100}},
      {"virtual --cue",
       {[](const Inputs& in) { return "virtual export --drive virtual:" + Quoted(in.data()) + " --cue OUT"; }, "--replace", 0}},
      {"sector -o", {[](const Inputs& in) { return "sector --drive virtual:" + Quoted(in.data()) + " 16 -o OUT"; },
                     "--replace", 0}},
      {"extract -o", {[](const Inputs& in) { return "extract --drive virtual:" + Quoted(in.audio()) + " --track 1 -o OUT"; },
                      "--replace", 50}},
      {"copy image:",
       {[](const Inputs& in) { return "copy --from virtual:" + Quoted(in.data()) + " --to image:OUT"; }, "--replace", 100}},
      {"copy --save", {[](const Inputs& in) { return "copy --from virtual:" + Quoted(in.data()) + " --save OUT"; }, "", 0}},
      {"copy --via",
       {[](const Inputs& in) {
          return "copy --from virtual:" + Quoted(in.data()) + " --to virtual:" + Quoted(in.Blank("target.vdisc")) +
                 " --via OUT --keep";
        },
        "", 0}},
      {"check --plot",
       {[](const Inputs& in) { return "check --drive virtual:" + Quoted(in.data()) + " --plot OUT"; }, "--replace", 0}},
      {"check --report",
       {[](const Inputs& in) { return "check --drive virtual:" + Quoted(in.data()) + " --report OUT"; }, "--replace", 0}},
      {"analyse --md5",
       {[](const Inputs& in) { return "analyse --drive virtual:" + Quoted(in.data()) + " --md5 OUT"; }, "--replace", 0}},
      {"extract-files -o",
       {[](const Inputs& in) { return "extract-files --drive virtual:" + Quoted(in.data()) + " -o OUT"; }, "", 0}},
  };
  return cases;
}

bool IsLink(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Entries in `folder` whose name ends in ".part" or ".part.owner".
std::string Leftovers(const std::string& folder) {
  std::string left;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (name.find(".part") != std::string::npos) left += name + " ";
  }
  return left;
}

}  // namespace

TEST(CliOutputRule, EveryOutputOptionOfTheHelpHasACase) {
  for (const std::string& form : OutputFormsFromHelp())
    EXPECT_TRUE(Cases().count(form)) << "\"" << form << "\" writes a file but has no case in this test";
}

TEST(CliOutputRule, NothingAtTheOutputIsTouchedWithoutReplace) {
  Inputs in;
  for (const auto& [form, c] : Cases()) {
    SCOPED_TRACE(form);
    ScratchFolder dir;
    int st = 0;
    const bool folderOutput = form == "extract-files -o";
    // A free name works, so that every refusal below is the rule's.
    const std::string fresh = dir / (folderOutput ? "fresh" : "fresh.out");
    std::string out = Cli(With(c.args(in), fresh), &st);
    ASSERT_EQ(st, 0) << "a free output name failed: " << out;
    if (form == "virtual --cue") fs::remove(dir / "fresh.bin");

    const std::string file = dir.Write("taken.out", "keep me");
    if (form == "virtual --cue") {
      // The BIN file beside a free sheet name is the user's file too.
      const std::string bin = dir.Write("sheet.bin", "keep the bin");
      out = Cli(With(c.args(in), dir / "sheet.cue"), &st);
      EXPECT_NE(st, 0) << out;
      EXPECT_EQ(ReadWholeFile(bin), "keep the bin");
      EXPECT_FALSE(fs::exists(dir / "sheet.cue")) << "a sheet was written for a BIN file that was kept";
    }
    if (!folderOutput) {
      out = Cli(With(c.args(in), file), &st);
      EXPECT_NE(st, 0) << "an existing file was written over: " << out;
      EXPECT_EQ(ReadWholeFile(file), "keep me");
    }
    const std::string target = dir.Write("target.txt", "the link's target");
    fs::create_symlink(target, dir / "link.out");
    out = Cli(With(c.args(in), dir / "link.out"), &st);
    EXPECT_NE(st, 0) << "a symbolic link was written through: " << out;
    EXPECT_EQ(ReadWholeFile(target), "the link's target");
    EXPECT_TRUE(IsLink(dir / "link.out"));
    if (!folderOutput) {
      dir.Write("folder.out/inside.txt", "inside");
      out = Cli(With(c.args(in), dir / "folder.out"), &st);
      EXPECT_NE(st, 0) << out;
      EXPECT_EQ(ReadWholeFile(dir / "folder.out/inside.txt"), "inside");
    } else {
      // Saving into an existing folder keeps what is there, changing the new names.
      dir.Write("folder.out/readme.txt", "the user's readme");
      out = Cli(With(c.args(in), dir / "folder.out"), &st);
      EXPECT_EQ(ReadWholeFile(dir / "folder.out/readme.txt"), "the user's readme") << out;
    }
    EXPECT_EQ(Leftovers(dir.path()), "");
  }
}

TEST(CliOutputRule, AReplacingRunThatDiesKeepsTheOldFileAndDoesNotBlockTheNext) {
  Inputs in;
  for (const auto& [form, c] : Cases()) {
    if (c.replace.empty()) continue;
    SCOPED_TRACE(form);
    ScratchFolder dir;
    int st = 0;
    const std::string old = dir.Write("old.out", "the old file");
    // The run is killed (SIGXFSZ) as soon as it writes past the limit; what
    // it leaves in its temporary folder stays in the scratch folder.
    const std::string temp = dir.Mkdir("tmp");
    const std::string limit = "ulimit -f " + std::to_string(c.dieAtKiB) + "; TMPDIR=" + Quoted(temp) + " ";
    std::string out = Cli(With(c.args(in), old) + " " + c.replace, &st, limit);
    EXPECT_NE(st, 0) << "the run did not fail under the size limit: " << out;
    EXPECT_EQ(ReadWholeFile(old), "the old file");
    // The partial file the dead run may have left is cleared by the next run.
    out = Cli(With(c.args(in), old) + " " + c.replace, &st);
    EXPECT_EQ(st, 0) << out;
    EXPECT_NE(ReadWholeFile(old), "the old file") << "the replacing run did not replace";
    EXPECT_EQ(Leftovers(dir.path()), "");
  }
}

TEST(CliOutputRule, APartialFileThatIsNotOursIsNeverRemoved) {
  Inputs in;
  ScratchFolder dir;
  int st = 0;
  const std::string foreign = dir.Write("image.iso.part", "somebody else's file");
  std::string out = Cli("image -o " + Quoted(dir / "image.iso") + " " + Quoted(in.source()), &st);
  EXPECT_NE(st, 0) << out;
  EXPECT_NE(out.find("image.iso.part"), std::string::npos) << "the refusal does not name the file in the way: " << out;
  EXPECT_EQ(ReadWholeFile(foreign), "somebody else's file");
  EXPECT_FALSE(fs::exists(dir / "image.iso"));
}
