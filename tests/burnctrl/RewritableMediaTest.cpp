// Overwritable discs (DVD+RW, BD-RE, DVD-RAM) through varnex-cli: a disc is
// either readable and complete or visibly empty, whatever became of the burn
// that last wrote it. Every disc is read back by our own commands and, through
// an exported image, by independent readers.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "BurnTestSupport.h"
#include "support/HangGuard.h"

namespace fs = std::filesystem;

namespace {

using Files = std::map<std::string, std::string>;  // disc name -> content

std::string Cli(const std::string& args, int* status) {
  return RunTool(std::string(VARNEX_CLI_PATH) + " " + args, status);
}

std::string Bytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> v = PatternBytes(n, seed);
  return std::string(v.begin(), v.end());
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Every regular file below `folder`, by its path relative to it.
Files FilesIn(const std::string& folder) {
  Files files;
  if (!fs::exists(folder)) return files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) files[fs::relative(e.path(), folder).string()] = ReadWholeFile(e.path());
  return files;
}

std::string Names(const Files& files) {
  std::string all;
  for (const auto& [name, content] : files) all += name + "(" + std::to_string(content.size()) + ") ";
  return all;
}

// A varnex-cli burn run as a child of its own, to be interrupted or killed
// while the virtual recorder holds one of its writes.
class CliChild {
 public:
  CliChild(const std::vector<std::string>& args, const std::string& tempFolder) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], 1);
      ::dup2(fds[1], 2);
      ::close(fds[0]);
      ::close(fds[1]);
      ::setenv("TMPDIR", tempFolder.c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(VARNEX_CLI_PATH)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(VARNEX_CLI_PATH, argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
  }
  ~CliChild() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);  // our own child only
      Wait();
    }
    if (out_ >= 0) ::close(out_);
  }

  // Waits until `path` exists; false when the program ended first.
  bool WaitForFile(const std::string& path) {
    while (!Exists(path)) {
      int st = 0;
      if (::waitpid(pid_, &st, WNOHANG) == pid_) {
        reaped_ = true;
        status_ = st;
        return false;
      }
      ::usleep(10000);
    }
    return true;
  }
  // Reads the program's output until `text` appears; false at its end.
  bool ReadUntil(const std::string& text) {
    while (output_.find(text) == std::string::npos)
      if (!ReadSome()) return false;
    return true;
  }
  void Signal(int sig) { ::kill(pid_, sig); }
  // The exit status, or -1 when a signal ended the program.
  int Wait() {
    while (ReadSome()) {
    }
    if (!reaped_) {
      while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
      }
      reaped_ = true;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }
  const std::string& output() const { return output_; }

 private:
  bool ReadSome() {
    char buf[4096];
    ssize_t n;
    while ((n = ::read(out_, buf, sizeof buf)) < 0 && errno == EINTR) {
    }
    if (n <= 0) return false;
    output_.append(buf, size_t(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int status_ = 0;
  bool reaped_ = false;
  std::string output_;
};

class RewritableMedia : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    for (const char* tool : {"udfinfo", "7zz"})
      if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)";
    fs::create_directories(dir_ / "tmp");
    int st = 0;
    std::string out = Cli("virtual create --media " + GetParam() + " " + disc_, &st);
    ASSERT_EQ(st, 0) << out;
  }

  std::string Drive(const std::string& disc = "") const { return "virtual:" + (disc.empty() ? disc_ : disc); }
  std::string Held() const { return disc_ + ".held"; }

  // Writes `files` into a source folder of their own and returns their paths.
  std::string Sources(const std::string& name, const Files& files) {
    std::string paths;
    for (const auto& [file, content] : files) paths += " " + dir_.Write(name + "/" + file, content);
    return paths;
  }

  int Burn(const std::string& name, const Files& files, std::string* out, const std::string& options = "") {
    int st = 0;
    *out = Cli("burn --drive " + Drive() + " --label " + name + " " + options + Sources(name, files), &st);
    return st;
  }

  void Fault(const std::string& what, const std::string& disc = "") {
    int st = 0;
    std::string out = Cli("virtual fault --drive " + Drive(disc) + " " + what, &st);
    ASSERT_EQ(st, 0) << out;
  }

  // An ISO 9660 image of `files`.
  std::string Image(const std::string& name, const Files& files) {
    int st = 0;
    const std::string image = dir_ / name;
    std::string out = Cli("image -o " + image + " --label IMAGE" + Sources(name + ".src", files), &st);
    EXPECT_EQ(st, 0) << out;
    return image;
  }

  // How many writes a burn of `files` sends, counted by the recorder: a
  // hold armed far away counts every write it passes.
  int WritesOfBurn(const Files& files) {
    Fault("--hold-write 1000000");
    std::string out;
    EXPECT_EQ(Burn("COUNTED", files, &out), 0) << out;
    std::string state = ReadWholeFile(disc_);
    size_t at = state.find("fault-hold ");
    EXPECT_NE(at, std::string::npos) << state;
    int armed = 0, seen = 0;
    std::istringstream(state.substr(at + 11)) >> armed >> seen;
    Fault("--clear");
    return seen;
  }

  // A burn of `files` started as a program of its own, held at its Nth write
  // (counted by the recorder) and then stopped by `sig`: SIGINT is answered
  // by the program before the write goes on, SIGKILL ends it at the write.
  void StopBurnAt(int write, int sig, const Files& files, const std::string& options = "") {
    SCOPED_TRACE("stopped by signal " + std::to_string(sig) + " at write " + std::to_string(write));
    Fault("--hold-write " + std::to_string(write));
    std::vector<std::string> args{"burn", "--drive", Drive()};
    const std::string folder = "stopped" + std::to_string(++stops_);
    if (options == "--image") {  // an image brings its own label
      args.insert(args.end(), {"--image", Image(folder + ".iso", files)});
    } else {
      args.insert(args.end(), {"--label", "STOPPED"});
      if (!options.empty()) args.push_back(options);
      for (const auto& [name, content] : files) args.push_back(dir_.Write(folder + "/" + name, content));
    }
    CliChild burn(args, dir_ / "tmp");
    ASSERT_TRUE(burn.WaitForFile(Held())) << burn.output();
    burn.Signal(sig);
    if (sig == SIGINT) {
      // A program that never answers is let go on (its write released), so
      // that the test fails instead of waiting for good.
      bool answered = false;
      ReturnsOrFails([&] { answered = burn.ReadUntil("stopping the burn"); }, [&] { fs::remove(Held()); },
                     "varnex-cli did not answer Ctrl-C");
      EXPECT_TRUE(answered) << burn.output();
    }
    if (sig == SIGKILL) EXPECT_EQ(burn.Wait(), -1) << burn.output();
    fs::remove(Held());
    if (sig == SIGINT) EXPECT_EQ(burn.Wait(), 1) << burn.output();
  }

  // The disc holds exactly `files` under `label`: by our udf-list and
  // extract-files, and in its exported image by udfinfo and 7zz.
  void ExpectDiscHolds(const Files& files, const std::string& label, const std::string& disc = "") {
    SCOPED_TRACE("reading back " + GetParam() + " " + disc);
    int st = 0;
    std::string listing = Cli("udf-list --drive " + Drive(disc), &st);
    ASSERT_EQ(st, 0) << listing;
    EXPECT_EQ(listing.rfind(label + "\t", 0), 0u) << listing;
    std::set<std::string> listed;
    std::istringstream lines(listing);
    std::string line;
    std::getline(lines, line);  // the label
    while (std::getline(lines, line))
      if (line.find("\tFile\t") != std::string::npos) listed.insert(line.substr(0, line.find('\t')));
    std::set<std::string> expected;
    for (const auto& f : files) expected.insert(f.first);
    EXPECT_EQ(listed, expected) << listing;

    const std::string ours = dir_.Mkdir("read" + std::to_string(++reads_));
    std::string out = Cli("extract-files --drive " + Drive(disc) + " -o " + ours + "/x", &st);
    EXPECT_EQ(st, 0) << out;
    Files got = FilesIn(ours + "/x");
    EXPECT_TRUE(got == files) << "extract-files saved " << Names(got) << "; the disc should hold " << Names(files);

    const std::string image = ours + "/disc.iso";
    out = Cli("virtual export --drive " + Drive(disc) + " -o " + image, &st);
    ASSERT_EQ(st, 0) << out;
    std::string info = RunTool("udfinfo " + image, &st);
    EXPECT_EQ(st, 0) << info;
    EXPECT_NE(info.find("label=" + label + "\n"), std::string::npos) << info;
    out = RunTool("7zz x -y -o" + ours + "/7z " + image, &st);
    EXPECT_EQ(st, 0) << out;
    got = FilesIn(ours + "/7z");
    EXPECT_TRUE(got == files) << "7zz saw " << Names(got) << "; the disc should hold " << Names(files);
    fs::remove(image);
  }

  // Nothing on the disc reads as a volume: neither our reader nor the
  // independent ones find one to list; cut short in its data, a burn also
  // leaves a disc that our disc-info calls blank.
  void ExpectNoVolume(const std::string& disc = "", bool looksBlank = true) {
    SCOPED_TRACE("no volume on " + GetParam() + " " + disc);
    int st = 0;
    std::string listing = Cli("udf-list --drive " + Drive(disc), &st);
    EXPECT_NE(st, 0) << "a volume is still found:\n" << listing;
    std::string info = Cli("disc-info --drive " + Drive(disc), &st);
    if (looksBlank) EXPECT_NE(info.find("blank: yes"), std::string::npos) << info;
    const std::string folder = dir_.Mkdir("read" + std::to_string(++reads_));
    std::string out = Cli("extract-files --drive " + Drive(disc) + " -o " + folder + "/x", &st);
    EXPECT_NE(st, 0) << out;
    EXPECT_TRUE(FilesIn(folder + "/x").empty()) << out;
    const std::string image = folder + "/disc.iso";
    out = Cli("virtual export --drive " + Drive(disc) + " -o " + image, &st);
    ASSERT_EQ(st, 0) << out;
    info = RunTool("udfinfo " + image, &st);
    EXPECT_NE(st, 0) << info;
    if (HaveTool("isoinfo")) {
      info = RunTool("isoinfo -d -i " + image, &st);
      EXPECT_NE(info.find("NOT in ISO 9660 format"), std::string::npos) << info;
    }
    out = RunTool("7zz x -y -o" + folder + "/7z " + image, &st);
    EXPECT_TRUE(FilesIn(folder + "/7z").empty()) << out;
    fs::remove(image);
  }

  // The disc that the interrupted burns start from.
  const Files old_{{"old.txt", "the old volume\n"}, {"old.bin", Bytes(1 << 20, 1)}};
  // Big enough that a write held in the middle is well inside its data.
  const Files big_{{"new.bin", Bytes(5 << 20, 2)}, {"new.txt", "never complete\n"}};
  const Files after_{{"after.txt", "the burn after\n"}, {"after.bin", Bytes(300000, 3)}};

  ScratchFolder dir_;
  std::string disc_ = dir_ / "d.vdisc";
  int reads_ = 0, stops_ = 0;
};

TEST_P(RewritableMedia, ASecondBurnWithoutMultisessionReplacesTheDiscWhole) {
  std::string out;
  ASSERT_EQ(Burn("FIRST", big_, &out), 0) << out;
  ExpectDiscHolds(big_, "FIRST");
  // A smaller volume over a larger one: what the first left behind its end
  // is no part of the second.
  ASSERT_EQ(Burn("SECOND", after_, &out), 0) << out;
  ExpectDiscHolds(after_, "SECOND");
  // Appending is still what --multisession asks for.
  Files both = after_;
  both["third.txt"] = "appended\n";
  ASSERT_EQ(Burn("THIRD", {{"third.txt", "appended\n"}}, &out, "--multisession"), 0) << out;
  ExpectDiscHolds(both, "THIRD");
  // And a burn without it starts over again.
  ASSERT_EQ(Burn("FOURTH", old_, &out), 0) << out;
  ExpectDiscHolds(old_, "FOURTH");
}

TEST_P(RewritableMedia, AFailedBurnLeavesTheOldVolumeOrNoneAndTheNextBurnSucceeds) {
  std::string out;
  // A first burn onto a blank disc fails in its data: no volume at all,
  // not one that lists a file whose data never reached the disc.
  Fault("--write-error 30 --times 1000");
  EXPECT_NE(Burn("NEW", big_, &out), 0) << out;
  Fault("--clear");
  ExpectNoVolume();

  ASSERT_EQ(Burn("OLD", old_, &out), 0) << out;
  ExpectDiscHolds(old_, "OLD");
  // The very first write (clearing the old anchor) fails: nothing of the
  // old volume is lost.
  Fault("--write-error 1 --times 1000");
  EXPECT_NE(Burn("NEW", big_, &out), 0) << out;
  Fault("--clear");
  ExpectDiscHolds(old_, "OLD");

  // A write in the middle of the data fails: the old volume is already gone
  // and the new one never became one.
  Fault("--write-error 30 --times 1000");
  EXPECT_NE(Burn("NEW", big_, &out), 0) << out;
  EXPECT_NE(out.find("WRITE"), std::string::npos) << out;
  Fault("--clear");
  ExpectNoVolume();

  // The next burn has the whole disc and shows nothing of the failed one.
  ASSERT_EQ(Burn("AFTER", after_, &out), 0) << out;
  EXPECT_EQ(out.find("does not fit"), std::string::npos) << out;
  ExpectDiscHolds(after_, "AFTER");
}

TEST_P(RewritableMedia, CtrlCDuringABurnLeavesNoVolumeAndTheNextBurnSucceeds) {
  std::string out;
  StopBurnAt(30, SIGINT, big_);  // the first burn of a blank disc
  ExpectNoVolume();
  ASSERT_EQ(Burn("OLD", old_, &out), 0) << out;
  StopBurnAt(30, SIGINT, big_);
  ExpectNoVolume();

  ASSERT_EQ(Burn("AFTER", after_, &out), 0) << out;
  EXPECT_EQ(out.find("does not fit"), std::string::npos) << out;
  ExpectDiscHolds(after_, "AFTER");
}

TEST_P(RewritableMedia, AKilledBurnLeavesNoVolumeAndTheNextBurnSucceeds) {
  std::string out;
  StopBurnAt(30, SIGKILL, big_);  // the first burn of a blank disc
  ExpectNoVolume();
  ASSERT_EQ(Burn("OLD", old_, &out), 0) << out;
  // The burn's writes: the old volume cleared, its data, and last the
  // volume's head, the anchor's block and the recognition block at its end.
  const int writes = WritesOfBurn(big_);
  ASSERT_GT(writes, 40);
  ExpectDiscHolds(big_, "COUNTED");
  // Killed in the middle of the data, and killed just before the anchor's
  // block, over a complete volume each time.
  for (int at : {30, writes - 1}) {
    ASSERT_EQ(Burn("OLD", old_, &out), 0) << out;
    StopBurnAt(at, SIGKILL, big_);
    ExpectNoVolume("", at == 30);
  }

  ASSERT_EQ(Burn("AFTER", after_, &out), 0) << out;
  EXPECT_EQ(out.find("does not fit"), std::string::npos) << out;
  ExpectDiscHolds(after_, "AFTER");
}

TEST_P(RewritableMedia, AnInterruptedAppendLeavesTheOldVolumeWhole) {
  std::string out;
  ASSERT_EQ(Burn("OLD", old_, &out), 0) << out;
  StopBurnAt(30, SIGKILL, big_, "--multisession");
  ExpectDiscHolds(old_, "OLD");
  StopBurnAt(30, SIGINT, big_, "--multisession");
  ExpectDiscHolds(old_, "OLD");

  Files both = old_;
  both.insert(after_.begin(), after_.end());
  ASSERT_EQ(Burn("AFTER", after_, &out, "--multisession"), 0) << out;
  ExpectDiscHolds(both, "AFTER");
}

TEST_P(RewritableMedia, AnImageBurntOverAVolumeReplacesItAndAStoppedOneLeavesNone) {
  if (!HaveTool("isoinfo")) GTEST_SKIP() << "isoinfo is not installed (scripts/install-deps.sh installs it)";
  std::string out;
  int st = 0;
  ASSERT_EQ(Burn("OLD", old_, &out), 0) << out;
  out = Cli("burn --drive " + Drive() + " --image " + Image("after.iso", after_), &st);
  ASSERT_EQ(st, 0) << out;
  const std::string exported = dir_ / "export.iso";
  out = Cli("virtual export --drive " + Drive() + " -o " + exported, &st);
  ASSERT_EQ(st, 0) << out;
  for (const auto& [name, content] : after_) {
    std::string got = RunTool("isoinfo -J -x '/" + name + ";1' -i " + exported, &st);
    EXPECT_TRUE(st == 0 && got == content) << name << " read back by isoinfo: " << got.size() << " bytes";
  }
  fs::remove(exported);
  out = Cli("udf-list --drive " + Drive(), &st);
  EXPECT_NE(st, 0) << "the old UDF volume is still found:\n" << out;

  StopBurnAt(30, SIGKILL, big_, "--image");
  ExpectNoVolume();
}

// Several recorders at once write from caches of their own: each disc is
// replaced whole, and one whose burn fails is left without a volume.
TEST_P(RewritableMedia, SeveralRecordersAtOnceReplaceEachDisc) {
  const std::string second = dir_ / "e.vdisc";
  int st = 0;
  std::string out = Cli("virtual create --media " + GetParam() + " " + second, &st);
  ASSERT_EQ(st, 0) << out;
  const std::string both = " --drive " + Drive() + " --drive " + Drive(second);
  out = Cli("burn" + both + " --label OLD" + Sources("old", old_), &st);
  ASSERT_EQ(st, 0) << out;
  ExpectDiscHolds(old_, "OLD", second);
  Fault("--write-error 30 --times 1000", second);
  out = Cli("burn" + both + " --label NEW" + Sources("new", big_), &st);
  EXPECT_NE(st, 0) << out;
  ExpectDiscHolds(big_, "NEW");
  ExpectNoVolume(second);
  Fault("--clear", second);
  out = Cli("burn" + both + " --label AFTER" + Sources("after", after_), &st);
  ASSERT_EQ(st, 0) << out;
  ExpectDiscHolds(after_, "AFTER");
  ExpectDiscHolds(after_, "AFTER", second);
}

INSTANTIATE_TEST_SUITE_P(Burn, RewritableMedia, ::testing::Values("dvd+rw", "bd-re", "dvd-ram"),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& c : n) c = (c == '-') ? '_' : (c == '+') ? 'P' : c;
                           return n;
                         });

}  // namespace
