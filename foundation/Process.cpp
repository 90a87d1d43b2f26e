#include "foundation/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

extern char** environ;

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

void CloseFd(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return int(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

ProcessExit ExitOf(int status) {
  ProcessExit e;
  if (WIFEXITED(status)) {
    e.exited = true;
    e.code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    e.signal = WTERMSIG(status);
  }
  return e;
}

std::string Reason(const std::string& program, int err) {
  return "cannot start " + program + ": " + std::strerror(err);
}

// Descriptors the child puts in place of its standard streams. Every one is
// a close-on-exec copy numbered 3 or higher, so that putting one in place
// never overwrites another that is still to come.
struct ChildStreams {
  int source[3] = {-1, -1, -1};  // -1: left as it is
  bool errorToOutput = false;
  int ours[3] = {-1, -1, -1};    // our ends of the pipes
  ~ChildStreams() {
    for (int& fd : source) CloseFd(&fd);
    for (int& fd : ours) CloseFd(&fd);
  }
};

// Opens what the three streams need. False (with errno) when something
// cannot be opened; *what then names it.
bool OpenStreams(const ProcessOptions& options, ChildStreams* s, std::string* what) {
  const ProcessStream* streams[3] = {&options.input, &options.output, &options.error};
  for (int i = 0; i < 3; ++i) {
    const ProcessStream& st = *streams[i];
    const bool reads = i == 0;
    int fd = -1;
    switch (st.kind) {
      case ProcessStream::Kind::Inherit:
        continue;
      case ProcessStream::Kind::SameAsOutput:
        if (i != 2) {
          errno = EINVAL;
          *what = "only standard error can go where standard output goes";
          return false;
        }
        s->errorToOutput = true;
        continue;
      case ProcessStream::Kind::Null:
        fd = ::open("/dev/null", (reads ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
        if (fd < 0) *what = "/dev/null";
        break;
      case ProcessStream::Kind::File: {
        int flags = reads ? O_RDONLY : (O_WRONLY | O_CREAT | (st.append ? O_APPEND : O_TRUNC));
        fd = ::open(st.path.c_str(), flags | O_CLOEXEC, 0666);
        if (fd < 0) *what = st.path;
        break;
      }
      case ProcessStream::Kind::Descriptor:
        fd = ::fcntl(st.fd, F_DUPFD_CLOEXEC, 3);
        if (fd < 0) *what = "descriptor " + std::to_string(st.fd);
        break;
      case ProcessStream::Kind::Pipe: {
        int p[2];
        if (::pipe2(p, O_CLOEXEC) != 0) {
          *what = "a pipe";
          return false;
        }
        fd = reads ? p[0] : p[1];
        s->ours[i] = reads ? p[1] : p[0];
        break;
      }
    }
    if (fd < 0) return false;
    if (fd < 3) {
      const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
      const int err = errno;
      ::close(fd);
      if (high < 0) {
        errno = err;
        *what = "a descriptor";
        return false;
      }
      fd = high;
    }
    s->source[i] = fd;
  }
  return true;
}

// What the child does between fork and exec; only async-signal-safe calls.
// Never returns: the reason of a failure goes into `report` as an errno.
struct ChildPlan {
  const char* program = nullptr;
  char* const* argv = nullptr;
  const char* folder = nullptr;  // nullptr: ours
  const ChildStreams* streams = nullptr;
  bool group = false, session = false, endsWithStarter = false;
  pid_t starter = 0;
  int report = -1;
};

[[noreturn]] void ChildFails(int report) {
  int err = errno;
  (void)!::write(report, &err, sizeof err);
  _exit(127);
}

[[noreturn]] void RunChild(const ChildPlan& plan) {
  if (plan.endsWithStarter) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != plan.starter) _exit(127);  // the starter ended before the signal was armed
  }
  if (plan.session && ::setsid() < 0) ChildFails(plan.report);
  if (plan.group && !plan.session) ::setpgid(0, 0);
  for (int i = 0; i < 3; ++i)
    if (plan.streams->source[i] >= 0 && ::dup2(plan.streams->source[i], i) < 0) ChildFails(plan.report);
  if (plan.streams->errorToOutput && ::dup2(1, 2) < 0) ChildFails(plan.report);
  if (plan.folder && ::chdir(plan.folder) != 0) ChildFails(plan.report);
  // Signals the starter ignores or blocks (SIGPIPE, SIGINT of a terminal
  // front, whatever a window toolkit masks) are the program's own again.
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  sigemptyset(&byDefault.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig)
    if (sig != SIGKILL && sig != SIGSTOP) ::sigaction(sig, &byDefault, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execve(plan.program, plan.argv, environ);
  ChildFails(plan.report);
}

// Reads the errno a child wrote before it gave up; 0 when the pipe closed
// on exec (the program runs).
int ReadReport(int fd) {
  int err = 0;
  ssize_t n;
  while ((n = ::read(fd, &err, sizeof err)) < 0 && errno == EINTR) {
  }
  return n == ssize_t(sizeof err) ? (err ? err : EIO) : 0;
}

pid_t WaitFor(pid_t pid, int* status, int flags) {
  pid_t got;
  while ((got = ::waitpid(pid, status, flags)) < 0 && errno == EINTR) {
  }
  return got;
}

// Everything a start needs, made before fork: after it only async-signal-
// safe calls are allowed.
struct Prepared {
  std::string program;
  std::vector<std::string> args;
  std::vector<char*> argv;
  ChildStreams streams;
};

bool Prepare(const std::vector<std::string>& argv, const ProcessOptions& options, Prepared* p, std::string* error) {
  if (argv.empty() || argv[0].empty()) {
    errno = EINVAL;
    if (error) *error = "cannot start a program without a name";
    return false;
  }
  p->program = argv[0];
  if (p->program.find('/') == std::string::npos) {
    p->program = FindInPath(argv[0]);
    if (p->program.empty()) {
      errno = ENOENT;
      if (error) *error = "cannot start " + argv[0] + ": no such program in PATH";
      return false;
    }
  }
  p->args = argv;
  for (std::string& a : p->args) p->argv.push_back(a.data());
  p->argv.push_back(nullptr);
  std::string what;
  if (!OpenStreams(options, &p->streams, &what)) {
    const int err = errno;
    if (error) *error = "cannot start " + argv[0] + ": " + what + ": " + std::strerror(err);
    errno = err;
    return false;
  }
  return true;
}

// What the child runs, from what was prepared; `report` takes its failure.
ChildPlan PlanFor(const Prepared& p, const ProcessOptions& options, int report) {
  ChildPlan plan;
  plan.program = p.program.c_str();
  plan.argv = p.argv.data();
  plan.folder = options.workingFolder.empty() ? nullptr : options.workingFolder.c_str();
  plan.streams = &p.streams;
  plan.report = report;
  return plan;
}

}  // namespace

std::string FindInPath(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return {};
  const char* path = std::getenv("PATH");
  const std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t from = 0;
  while (from <= dirs.size()) {
    size_t colon = dirs.find(':', from);
    if (colon == std::string::npos) colon = dirs.size();
    const std::string candidate = (colon == from ? std::string(".") : dirs.substr(from, colon - from)) + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    from = colon + 1;
  }
  return {};
}

Process::~Process() { Close(); }

Process::Process(Process&& other) noexcept { *this = std::move(other); }

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Close();
    pid_ = std::exchange(other.pid_, -1);
    pidfd_ = std::exchange(other.pidfd_, -1);
    in_ = std::exchange(other.in_, -1);
    out_ = std::exchange(other.out_, -1);
    err_ = std::exchange(other.err_, -1);
    group_ = other.group_;
    reaped_ = other.reaped_;
    exit_ = other.exit_;
  }
  return *this;
}

void Process::Close() {
  CloseFd(&pidfd_);
  CloseFd(&in_);
  CloseFd(&out_);
  CloseFd(&err_);
}

void Process::CloseInput() { CloseFd(&in_); }

Process Process::Start(const std::vector<std::string>& argv, const ProcessOptions& options, std::string* error) {
  Process started;
  Prepared p;
  if (!Prepare(argv, options, &p, error)) return started;
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    const int err = errno;
    if (error) *error = Reason(argv[0], err);
    errno = err;
    return started;
  }
  ChildPlan plan = PlanFor(p, options, report[1]);
  plan.group = options.ownProcessGroup;
  plan.session = options.ownSession;
  plan.endsWithStarter = options.endsWithStarter;
  plan.starter = ::getpid();

  const pid_t pid = ::fork();
  if (pid == 0) RunChild(plan);
  const int forkErr = errno;
  ::close(report[1]);
  if (pid < 0) {
    ::close(report[0]);
    if (error) *error = Reason(argv[0], forkErr);
    errno = forkErr;
    return started;
  }
  // Also here, so that a signal to the group right after the start finds it.
  if (options.ownProcessGroup && !options.ownSession) ::setpgid(pid, pid);
  // The pipe closes on exec; a number in it is why the program did not start.
  const int err = ReadReport(report[0]);
  ::close(report[0]);
  if (err != 0) {
    int status;
    WaitFor(pid, &status, 0);
    if (error) *error = Reason(argv[0], err);
    errno = err;
    return started;
  }
  started.pid_ = pid;
  started.pidfd_ = OpenPidFd(pid);
  started.group_ = options.ownProcessGroup || options.ownSession;
  for (int i = 0; i < 3; ++i) std::swap((i == 0 ? started.in_ : i == 1 ? started.out_ : started.err_), p.streams.ours[i]);
  return started;
}

ProcessExit Process::Wait() {
  if (!Started() || reaped_) return exit_;
  int status = 0;
  const pid_t got = WaitFor(pid_, &status, 0);
  reaped_ = true;
  // ECHILD: someone else reaped it (SIGCHLD ignored); how it ended is lost.
  exit_ = got == pid_ ? ExitOf(status) : ProcessExit{};
  CloseFd(&pidfd_);
  return exit_;
}

std::optional<ProcessExit> Process::TryWait() {
  if (!Started()) return std::nullopt;
  if (reaped_) return exit_;
  int status = 0;
  const pid_t got = WaitFor(pid_, &status, WNOHANG);
  if (got == 0) return std::nullopt;
  reaped_ = true;
  exit_ = got == pid_ ? ExitOf(status) : ProcessExit{};
  CloseFd(&pidfd_);
  return exit_;
}

bool Process::WaitEnded(int timeoutMs) {
  if (!Started()) return false;
  if (reaped_) return true;
  if (pidfd_ >= 0) {
    pollfd p{pidfd_, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    return ready > 0;
  }
  // Kernels without process descriptors (before 5.3): waitid can block
  // without reaping, but not for a limited time, so a limited wait looks
  // in steps.
  siginfo_t info{};
  if (timeoutMs < 0) {
    while (::waitid(P_PID, id_t(pid_), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    return true;
  }
  for (int waited = 0;; waited += 10) {
    info.si_pid = 0;
    if (::waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) < 0 && errno != EINTR) return true;
    if (info.si_pid == pid_) return true;
    if (waited >= timeoutMs) return false;
    ::poll(nullptr, 0, 10);
  }
}

bool Process::Signal(int sig) {
  if (!Started() || reaped_) return false;
#ifdef SYS_pidfd_send_signal
  if (pidfd_ >= 0) return ::syscall(SYS_pidfd_send_signal, pidfd_, sig, nullptr, 0) == 0;
#endif
  return ::kill(pid_, sig) == 0;
}

bool Process::SignalGroup(int sig) {
  // Unreaped, the leader keeps the group id from being given to another.
  if (!Started() || reaped_ || !group_) return false;
  return ::kill(-pid_, sig) == 0;
}

bool Process::Terminate() { return Signal(SIGTERM); }

bool Process::Kill() { return Signal(SIGKILL); }

ProcessResult RunProcess(const std::vector<std::string>& argv, std::string* output, const std::string& workingFolder) {
  ProcessResult r;
  ProcessOptions options;
  options.input = ProcessStream::Null();
  options.output = output ? ProcessStream::Pipe() : ProcessStream::Null();
  options.error = output ? ProcessStream::SameAsOutput() : ProcessStream::Null();
  options.workingFolder = workingFolder;
  Process p = Process::Start(argv, options, &r.error);
  if (!p.Started()) return r;
  r.started = true;
  if (output) {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(p.OutputFd(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      output->append(buffer, size_t(n));
    }
  }
  r.exit = p.Wait();
  return r;
}

bool StartDetachedProcess(const std::vector<std::string>& argv, const ProcessOptions& options, std::string* error) {
  Prepared p;
  if (!Prepare(argv, options, &p, error)) return false;
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    if (error) *error = Reason(argv[0], errno);
    return false;
  }
  ChildPlan plan = PlanFor(p, options, report[1]);

  // The child starts a session and leaves at once; the grandchild, orphaned,
  // is the system's to reap and can never take a terminal of ours.
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setsid() < 0) ChildFails(report[1]);
    const pid_t grandchild = ::fork();
    if (grandchild == 0) RunChild(plan);
    if (grandchild < 0) ChildFails(report[1]);
    _exit(0);
  }
  const int forkErr = errno;
  ::close(report[1]);
  if (child < 0) {
    ::close(report[0]);
    if (error) *error = Reason(argv[0], forkErr);
    return false;
  }
  int status = 0;
  WaitFor(child, &status, 0);
  // Reading waits for the grandchild's exec (or its failure).
  const int err = ReadReport(report[0]);
  ::close(report[0]);
  if (err != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    if (error) *error = Reason(argv[0], err ? err : ECHILD);
    errno = err ? err : ECHILD;
    return false;
  }
  return true;
}
