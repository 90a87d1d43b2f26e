#pragma once
// Starting other programs. Every program Varnex runs (the converters and
// authoring tools, the updater, the main program started from a context
// menu, the desktop's cache refreshers) is started here. A program gets its
// arguments as a vector and is never run through a shell, so nothing in an
// argument (blanks, quotes, ";", "$") is ever read as a command.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// Where one standard stream of a started program goes.
struct ProcessStream {
  enum class Kind {
    Inherit,     // ours
    Null,        // /dev/null
    Pipe,        // a pipe whose other end the Process handle holds
    File,        // a file, opened by us before the start
    Descriptor,  // a descriptor of ours
    SameAsOutput // standard error only: wherever standard output goes
  };
  Kind kind = Kind::Inherit;
  std::string path;     // File
  bool append = false;  // File, written streams: append instead of truncating
  int fd = -1;          // Descriptor (stays ours; the program gets a copy)

  static ProcessStream Inherit() { return {}; }
  static ProcessStream Null() { return {Kind::Null}; }
  static ProcessStream Pipe() { return {Kind::Pipe}; }
  static ProcessStream File(const std::string& path, bool append = false) { return {Kind::File, path, append}; }
  static ProcessStream Descriptor(int fd) { return {Kind::Descriptor, {}, false, fd}; }
  static ProcessStream SameAsOutput() { return {Kind::SameAsOutput}; }
};

struct ProcessOptions {
  ProcessStream input;
  ProcessStream output;
  ProcessStream error;
  // "" keeps ours. A folder that cannot be entered fails the start.
  std::string workingFolder;
  // The program leads a process group of its own, so that SignalGroup also
  // reaches whatever it started, and nothing else.
  bool ownProcessGroup = false;
  // The program starts a session of its own: no controlling terminal, no
  // signals from ours.
  bool ownSession = false;
  // The program is killed when the thread that started it ends (the
  // kernel's parent-death signal follows the starting thread), so that a
  // starter killed outright leaves nothing running on for nobody.
  bool endsWithStarter = false;
};

// How a program ended.
struct ProcessExit {
  bool exited = false;  // ended by itself, with `code`
  int code = -1;        // 0 to 255 when exited
  int signal = 0;       // the signal that ended it otherwise (0: unknown)
  bool Succeeded() const { return exited && code == 0; }
};

// One started program. The handle never waits for or signals its program
// on its own: a program may outlive its handle (it then stays unreaped
// until this process ends). The handle closes its ends of the pipes.
class Process {
 public:
  Process() = default;
  ~Process();
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts argv[0] with the arguments argv (argv[0] included, as the program
  // sees it). A name without "/" is looked for in PATH. On failure the
  // handle is not Started(), errno says why, and *error (when given) names
  // the program and the reason. Signals our program ignores or blocks are
  // the started program's own again.
  static Process Start(const std::vector<std::string>& argv, const ProcessOptions& options = {},
                       std::string* error = nullptr);

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // Our ends of the Pipe streams, -1 for the others. The handle closes them
  // when it goes; CloseInput ends the program's input early.
  int InputFd() const { return in_; }
  int OutputFd() const { return out_; }
  int ErrorFd() const { return err_; }
  void CloseInput();

  // Blocks until the program has ended and reaps it. After that the
  // process id is the system's again: nothing is signalled any more.
  ProcessExit Wait();
  // Reaps the program when it has ended, without blocking.
  std::optional<ProcessExit> TryWait();
  // Blocks until the program has ended or `timeoutMs` have passed (-1: no
  // limit) without reaping it, so that its process id (and group) stay its
  // own until Wait: a caller may watch something else between two waits
  // (a stop flag) and still signal the right program. True once it ended.
  bool WaitEnded(int timeoutMs);
  // Becomes readable when the program ends, for poll() together with its
  // pipes; -1 where the system has no process descriptors.
  int EndFd() const { return pidfd_; }

  // Sends a signal to the program / to the group it leads (ownProcessGroup).
  // False once the program was reaped, or when the signal could not be sent.
  bool Signal(int sig);
  bool SignalGroup(int sig);
  bool Terminate();
  bool Kill();

 private:
  void Close();
  pid_t pid_ = -1;
  int pidfd_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  bool group_ = false;
  bool reaped_ = false;
  ProcessExit exit_;
};

// Runs a program to its end with nothing to read (standard input is
// /dev/null). With `output`, what it writes to standard output and error is
// appended there in the order written; without, both go to /dev/null.
struct ProcessResult {
  bool started = false;
  ProcessExit exit;
  std::string error;  // why it did not start
};
ProcessResult RunProcess(const std::vector<std::string>& argv, std::string* output = nullptr,
                         const std::string& workingFolder = "");

// Starts a program that is not our child: it runs in a session of its own
// (the program it replaces, or that starts it, may end at once) and is
// reaped by the system. The streams and the working folder of `options` are
// used; its group, session and ending settings are not. True once the program
// itself runs; false with *error when it could not be started.
bool StartDetachedProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {},
                          std::string* error = nullptr);

// The first executable file called `name` in the folders of PATH (an empty
// entry is the current folder; without PATH, the system's folders); "" when
// there is none.
std::string FindInPath(const std::string& name);
