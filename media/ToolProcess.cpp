#include "media/ToolProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "foundation/ProgramDir.h"

extern char** environ;

namespace {

// The process groups RunTool started and has not reaped yet, with the base
// name of their tool. A group leaves the table under the lock in the same
// step that reaps it, so a group id is never signalled after the system could
// have given it to another process.
std::mutex gToolsLock;
std::map<pid_t, std::string> gTools;

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Starts the tool in a process group of its own, reading nothing (its
// standard input is /dev/null, so a tool that asks a question gets no
// answer instead of waiting) and writing to `outFd`. The tool dies with
// us: killed outright, we leave no converter running on for nobody.
pid_t Spawn(const std::string& exePath, const std::vector<std::string>& arguments, int outFd) {
  // Everything the child needs is made before fork: after it only
  // async-signal-safe calls are allowed.
  std::vector<std::string> args;
  args.push_back(exePath);
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  sigset_t none;
  sigemptyset(&none);
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  sigemptyset(&byDefault.sa_mask);
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return -1;
  const pid_t parent = ::getpid();

  pid_t pid;
  {
    std::lock_guard<std::mutex> hold(gToolsLock);
    pid = ::fork();
    if (pid == 0) {
      // The death signal follows the thread that forked; RunTool waits on
      // that thread until the tool has ended, so it is the right one.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) _exit(127);  // we died before the signal was armed
      ::setpgid(0, 0);
      int in = ::open("/dev/null", O_RDONLY);
      if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(outFd, 1) < 0 || ::dup2(outFd, 2) < 0) {
        int err = errno;
        (void)!::write(report[1], &err, sizeof err);
        _exit(127);
      }
      // Signals the caller ignores or blocks (SIGPIPE, SIGINT of a terminal
      // front) are the tool's own again.
      for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::sigaction(sig, &byDefault, nullptr);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      ::execve(exePath.c_str(), argv.data(), environ);
      int err = errno;
      (void)!::write(report[1], &err, sizeof err);
      _exit(127);
    }
    if (pid > 0) {
      // Also here, so that a stop right after the start finds the group.
      ::setpgid(pid, pid);
      gTools[pid] = BaseName(exePath);
    }
  }
  ::close(report[1]);
  if (pid < 0) {
    ::close(report[0]);
    return -1;
  }
  // The pipe closes on exec; a number in it is why the tool did not start.
  int err = 0;
  ssize_t n;
  while ((n = ::read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  if (n == 0) return pid;
  std::lock_guard<std::mutex> hold(gToolsLock);
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  gTools.erase(pid);
  errno = err;
  return -1;
}

void KillGroupLocked(pid_t pid) { ::kill(-pid, SIGKILL); }

// Reaps the tool once it has ended; with a stop asked for, ends its group
// first. Returns the exit status (-1 for a signal).
int Reap(pid_t pid, const std::atomic<bool>* stop) {
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(gToolsLock);
      if (stop && *stop) KillGroupLocked(pid);
      int status = 0;
      pid_t got = ::waitpid(pid, &status, WNOHANG);
      if (got == pid || (got < 0 && errno != EINTR)) {
        gTools.erase(pid);
        if (got == pid && WIFEXITED(status)) return WEXITSTATUS(status);
        return -1;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

std::string FindTool(const std::string& name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  const std::string beside = GetProgramDir() + name;
  if (IsExecutableFile(beside)) return beside;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t from = 0;
  while (from <= dirs.size()) {
    size_t colon = dirs.find(':', from);
    if (colon == std::string::npos) colon = dirs.size();
    // An empty entry of PATH is the current folder.
    const std::string candidate = (colon == from ? std::string(".") : dirs.substr(from, colon - from)) + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    from = colon + 1;
  }
  return {};
}

std::vector<std::string> SplitArguments(const std::string& text) {
  std::vector<std::string> out;
  std::string current;
  bool inQuotes = false, any = false;
  for (char c : text) {
    if (c == '"') {
      inQuotes = !inQuotes;
      any = true;  // "" is an empty argument
    } else if ((c == ' ' || c == '\t') && !inQuotes) {
      if (any) out.push_back(current);
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) out.push_back(current);
  return out;
}

bool RunTool(const std::string& exePath, const std::vector<std::string>& arguments, std::string* output,
             ToolRun* run) {
  const std::atomic<bool>* stop = run ? run->stop : nullptr;
  if (run) run->exitStatus = -1;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  const pid_t pid = Spawn(exePath, arguments, fds[1]);
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    return false;
  }
  // Everything the tool prints is collected as it comes; the tool never
  // waits on a full pipe. A stop ends the group at once; the pipe then
  // closes and the loop ends.
  char buffer[4096];
  bool killed = false;
  for (;;) {
    if (stop && *stop && !killed) {
      std::lock_guard<std::mutex> hold(gToolsLock);
      KillGroupLocked(pid);
      killed = true;
    }
    pollfd p{fds[0], POLLIN, 0};
    int ready = ::poll(&p, 1, 100);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) continue;
    ssize_t got = ::read(fds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (output) output->append(buffer, size_t(got));
  }
  ::close(fds[0]);
  const int status = Reap(pid, stop);
  if (run) run->exitStatus = status;
  return true;
}

bool RunTool(const std::string& exePath, const std::string& arguments, std::string* output, ToolRun* run) {
  return RunTool(exePath, SplitArguments(arguments), output, run);
}

int KillToolProcess(const std::string& toolName) {
  std::lock_guard<std::mutex> hold(gToolsLock);
  int count = 0;
  for (const auto& [pid, name] : gTools)
    if (name == toolName) {
      KillGroupLocked(pid);
      ++count;
    }
  return count;
}

void KillAllTools() {
  for (const char* tool : {"ffmpeg", "mplex", "dvdauthor"}) KillToolProcess(tool);
}

void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size()))
    text->replace(at, from.size(), to);
}

std::string ExtractBetween(const std::string& text, const std::string& start, const std::string& end) {
  if (text.empty() || start.empty() || end.empty()) return {};
  if (text.find(end) == std::string::npos) return {};
  // The last start marker: a tool that prints a figure again and again
  // yields its final value.
  const size_t at = text.rfind(start);
  if (at == std::string::npos) return {};
  const size_t from = at + start.size();
  const size_t stop = text.find(end, from);
  if (stop == std::string::npos) return {};
  return text.substr(from, stop - from);
}

std::string TextBefore(const std::string& text, const std::string& marker) {
  if (text.empty() || marker.empty()) return {};
  const size_t at = text.find(marker);
  return at == std::string::npos ? std::string() : text.substr(0, at);
}

std::string TextAfter(const std::string& text, const std::string& marker) {
  if (text.empty() || marker.empty()) return {};
  const size_t at = text.find(marker);
  return at == std::string::npos ? std::string() : text.substr(at + marker.size());
}
