#include "media/ToolProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "foundation/ProgramDir.h"
#include "foundation/Process.h"

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
// answer instead of waiting) and writing both its streams into a pipe. The
// tool dies with us: killed outright, we leave no converter running on for
// nobody (the death signal follows the starting thread; RunTool waits on
// that thread until the tool has ended, so it is the right one).
Process Spawn(const std::string& exePath, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv;
  argv.push_back(exePath);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  ProcessOptions options;
  options.input = ProcessStream::Null();
  options.output = ProcessStream::Pipe();
  options.error = ProcessStream::SameAsOutput();
  options.ownProcessGroup = true;
  options.endsWithStarter = true;
  // Registered under the lock together with the start, so that a stop right
  // after the start finds the group.
  std::lock_guard<std::mutex> hold(gToolsLock);
  // The tool is the file its path names: a bare name is a file of the
  // current folder, never one looked up in PATH.
  if (exePath.find('/') == std::string::npos) argv[0] = "./" + exePath;
  Process tool = Process::Start(argv, options);
  if (tool.Started()) gTools[tool.Pid()] = BaseName(exePath);
  return tool;
}

// Reaps the tool once it has ended; with a stop asked for, ends its group
// first. Returns the exit status (-1 for a signal).
int Reap(Process* tool, const std::atomic<bool>* stop) {
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(gToolsLock);
      if (stop && *stop) tool->SignalGroup(SIGKILL);
      if (tool->WaitEnded(0)) {
        gTools.erase(tool->Pid());
        const ProcessExit e = tool->Wait();
        return e.exited ? e.code : -1;
      }
    }
    // Waits for the end without the lock, so that a stop from another
    // thread gets in; the stop flag is looked at between waits.
    tool->WaitEnded(stop ? 100 : -1);
  }
}

}  // namespace

std::string FindTool(const std::string& name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  const std::string beside = GetProgramDir() + name;
  if (IsExecutableFile(beside)) return beside;
  return FindInPath(name);
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
  Process tool = Spawn(exePath, arguments);
  if (!tool.Started()) return false;
  // Everything the tool prints is collected as it comes; the tool never
  // waits on a full pipe. A stop ends the group at once; the pipe then
  // closes and the loop ends.
  char buffer[4096];
  bool killed = false;
  for (;;) {
    if (stop && *stop && !killed) {
      std::lock_guard<std::mutex> hold(gToolsLock);
      tool.SignalGroup(SIGKILL);
      killed = true;
    }
    pollfd p{tool.OutputFd(), POLLIN, 0};
    int ready = ::poll(&p, 1, 100);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) continue;
    ssize_t got = ::read(tool.OutputFd(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (output) output->append(buffer, size_t(got));
  }
  const int status = Reap(&tool, stop);
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
      ::kill(-pid, SIGKILL);
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
