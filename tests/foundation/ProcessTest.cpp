// Starting programs: what a program is given comes to it unchanged, how it
// ended comes back, and a detached program runs on after its start.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/Process.h"
#include "support/HangGuard.h"
#include "support/TestFolders.h"

namespace {

std::string ReadToEnd(int fd) {
  std::string text;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) text.append(buffer, size_t(n));
  return text;
}

std::string Script(const ScratchFolder& dir, const std::string& name, const std::string& body) {
  const std::string path = dir.Write(name, "#!/bin/sh\n" + body);
  ::chmod(path.c_str(), 0755);
  return path;
}

}  // namespace

TEST(Process, ExitStatusComesBack) {
  ProcessResult r = RunProcess({"sh", "-c", "exit 7"});
  ASSERT_TRUE(r.started) << r.error;
  EXPECT_TRUE(r.exit.exited);
  EXPECT_EQ(r.exit.code, 7);
  EXPECT_FALSE(r.exit.Succeeded());
  r = RunProcess({"true"});
  EXPECT_TRUE(r.exit.Succeeded()) << "a program found in PATH that ends well";
}

// `cat` on a pipe we hold open runs until we act, so every step below is
// decided by the test, never by how fast the program is.
TEST(Process, ASignalEndsItAndIsReported) {
  for (int sig : {SIGTERM, SIGKILL}) {
    ProcessOptions options;
    options.input = ProcessStream::Pipe();
    options.output = ProcessStream::Null();
    Process cat = Process::Start({"cat"}, options);
    ASSERT_TRUE(cat.Started());
    EXPECT_FALSE(cat.TryWait().has_value()) << "cat ended while its input was open";
    EXPECT_FALSE(cat.WaitEnded(0));
    ASSERT_TRUE(sig == SIGTERM ? cat.Terminate() : cat.Kill());
    EXPECT_TRUE(cat.WaitEnded(-1));
    const ProcessExit e = cat.Wait();
    EXPECT_FALSE(e.exited);
    EXPECT_EQ(e.signal, sig);
    EXPECT_FALSE(cat.Kill()) << "a reaped program's id is the system's again";
  }
}

TEST(Process, EndsWhenItsInputCloses) {
  ProcessOptions options;
  options.input = ProcessStream::Pipe();
  options.output = ProcessStream::Pipe();
  Process cat = Process::Start({"cat"}, options);
  ASSERT_TRUE(cat.Started());
  ASSERT_EQ(::write(cat.InputFd(), "echo\n", 5), 5);
  cat.CloseInput();
  EXPECT_EQ(ReadToEnd(cat.OutputFd()), "echo\n");
  EXPECT_TRUE(cat.WaitEnded(-1));
  EXPECT_TRUE(cat.Wait().Succeeded());
}

TEST(Process, ASignalToTheGroupReachesWhatTheProgramStarted) {
  ScratchFolder dir;
  // The shell starts a second program, held on a FIFO nobody writes, and
  // waits for it: ending only the shell would leave the second one running.
  const std::string started = dir / "started", held = dir / "held";
  ASSERT_EQ(::mkfifo(started.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(held.c_str(), 0600), 0);
  // Orphans come to this process, so the second program's end can be waited for.
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  ProcessOptions options;
  options.ownProcessGroup = true;
  Process sh = Process::Start({"sh", "-c", "cat < \"$1\" & echo $! > \"$0\"; wait", started, held}, options);
  ASSERT_TRUE(sh.Started());
  pid_t inner = 0;
  std::ifstream(started) >> inner;  // opens once the shell writes
  ASSERT_GT(inner, 0);
  EXPECT_EQ(::getpgid(inner), sh.Pid());
  ASSERT_TRUE(sh.SignalGroup(SIGKILL));
  EXPECT_EQ(sh.Wait().signal, SIGKILL);
  // Ours now, unless the shell reaped it before it went (which only its end allows).
  int status = 0;
  pid_t got = -1;
  int err = 0;
  ReturnsOrFails([&] {
    got = ::waitpid(inner, &status, 0);
    err = errno;
  }, [&] { ::kill(inner, SIGKILL); },
                 "the program the shell started runs on after its group was killed");
  if (got == inner) EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  else EXPECT_EQ(err, ECHILD);
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);

  Process plain = Process::Start({"true"});
  EXPECT_FALSE(plain.SignalGroup(SIGTERM)) << "a program that leads no group of its own";
  plain.Wait();
}

TEST(Process, AMissingProgramSaysSoClearly) {
  ScratchFolder dir;
  std::string error;
  Process p = Process::Start({dir / "no-such-program"}, {}, &error);
  EXPECT_FALSE(p.Started());
  EXPECT_EQ(errno, ENOENT);
  EXPECT_NE(error.find(dir / "no-such-program"), std::string::npos) << error;
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;

  error.clear();
  p = Process::Start({"varnex-no-such-tool"}, {}, &error);
  EXPECT_FALSE(p.Started());
  EXPECT_NE(error.find("varnex-no-such-tool"), std::string::npos) << error;
  EXPECT_NE(error.find("PATH"), std::string::npos) << error;

  const std::string notRunnable = dir.Write("plain.txt", "text\n");
  ProcessResult r = RunProcess({notRunnable});
  EXPECT_FALSE(r.started);
  EXPECT_NE(r.error.find("Permission denied"), std::string::npos) << r.error;

  error.clear();
  ProcessOptions options;
  options.workingFolder = dir / "no-such-folder";
  p = Process::Start({"true"}, options, &error);
  EXPECT_FALSE(p.Started()) << "a folder that cannot be entered fails the start";
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

TEST(Process, ArgumentsReachTheProgramUnchanged) {
  const std::vector<std::string> arguments = {"a b", "it's", "\"quoted\"", "", "$HOME", "; ls", "*", "back\\slash",
                                              "new\nline"};
  std::vector<std::string> argv = {"printf", "[%s]\\n"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::string output;
  ProcessResult r = RunProcess(argv, &output);
  ASSERT_TRUE(r.started) << r.error;
  EXPECT_TRUE(r.exit.Succeeded());
  std::string expected;
  for (const std::string& a : arguments) expected += "[" + a + "]\n";
  EXPECT_EQ(output, expected);
}

TEST(Process, OutputIsCapturedApartTogetherOrIntoFiles) {
  ScratchFolder dir;
  ProcessOptions apart;
  apart.output = ProcessStream::Pipe();
  apart.error = ProcessStream::Pipe();
  Process p = Process::Start({"sh", "-c", "echo out; echo err >&2; exit 3"}, apart);
  ASSERT_TRUE(p.Started());
  EXPECT_EQ(ReadToEnd(p.OutputFd()), "out\n");
  EXPECT_EQ(ReadToEnd(p.ErrorFd()), "err\n");
  EXPECT_EQ(p.Wait().code, 3);

  std::string together;
  ProcessResult r = RunProcess({"sh", "-c", "echo one; echo two >&2; echo three"}, &together);
  EXPECT_EQ(together, "one\ntwo\nthree\n");

  const std::string in = dir.Write("in.txt", "from a file\n");
  ProcessOptions files;
  files.input = ProcessStream::File(in);
  files.output = ProcessStream::File(dir / "out.txt");
  files.error = ProcessStream::SameAsOutput();
  EXPECT_TRUE(Process::Start({"sh", "-c", "cat; echo said >&2"}, files).Wait().Succeeded());
  EXPECT_EQ(ReadWholeFile(dir / "out.txt"), "from a file\nsaid\n");
  files.output = ProcessStream::File(dir / "out.txt", true);
  EXPECT_TRUE(Process::Start({"cat"}, files).Wait().Succeeded());
  EXPECT_EQ(ReadWholeFile(dir / "out.txt"), "from a file\nsaid\nfrom a file\n") << "appended";

  ProcessOptions folder;
  folder.output = ProcessStream::Pipe();
  folder.workingFolder = dir.path();
  p = Process::Start({"pwd"}, folder);
  EXPECT_EQ(ReadToEnd(p.OutputFd()), dir.path() + "\n");
  p.Wait();
}

// The detached program is held on a FIFO until the start has returned, and
// tells what it is through another: it runs on after the call, in the
// folder it was given, and is not our child.
TEST(Process, ADetachedProgramOutlivesItsStart) {
  ScratchFolder dir;
  const std::string go = dir / "go", said = dir / "said";
  ASSERT_EQ(::mkfifo(go.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(said.c_str(), 0600), 0);
  const std::string program =
      Script(dir, "program with blanks", "read line < \"$1\"\necho \"$$ $(pwd) $line $2\" > \"$3\"\n");
  ProcessOptions options;
  options.workingFolder = dir.path();
  std::string error;
  ASSERT_TRUE(StartDetachedProcess({program, go, "it's here", said}, options, &error)) << error;
  std::ofstream(go) << "released\n";  // opens once the program reads
  std::string told;
  std::getline(std::ifstream(said), told);
  pid_t pid = 0;
  std::string rest;
  {
    std::istringstream words(told);
    words >> pid;
    std::getline(words, rest);
  }
  ASSERT_GT(pid, 0) << told;
  EXPECT_EQ(rest, " " + dir.path() + " released it's here");
  errno = 0;
  EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD) << "the detached program is our child";

  error.clear();
  EXPECT_FALSE(StartDetachedProcess({dir / "missing"}, options, &error));
  EXPECT_NE(error.find("missing"), std::string::npos) << error;
}
