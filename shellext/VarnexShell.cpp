// VarnexShell: the file managers' context-menu commands call this program
// with a command code and the selected paths; it hands every path to the
// running main window over the per-user hand-over socket, one message per
// path, sent in windows of up to 256 before their replies are read (so that
// the window adds them together). When nobody
// listens it starts the main program and looks again.
//
//   VarnexShell COMMAND PATH...
//
// COMMAND is 101-106 or its name: audio-cd, data, mp3, vcd, svcd, dvd.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/HandOver.h"
#include "foundation/Process.h"
#include "foundation/SystemSettings.h"

namespace {

constexpr int kStartWaits = 6;          // as long as a program takes to open its window
constexpr int kWaitMs = 600;
constexpr int kLoadingWaits = 100;      // further waits while the started program still runs

int CommandOf(const std::string& word) {
  static const std::map<std::string, int> names = {{"audio-cd", 101}, {"data", 102}, {"mp3", 103},
                                                   {"vcd", 104},      {"svcd", 105}, {"dvd", 106}};
  auto it = names.find(word);
  if (it != names.end()) return it->second;
  char* end = nullptr;
  long v = std::strtol(word.c_str(), &end, 10);
  if (word.empty() || *end || v < handover::kFirstCommand || v > handover::kLastCommand) return -1;
  return int(v);
}

// File managers may pass names relative to the folder they show.
std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

int Connect(const std::string& socketPath) {
  sockaddr_un addr{};
  if (socketPath.empty() || socketPath.size() >= sizeof(addr.sun_path)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size());
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The folder of this program ("/usr/bin/"), from /proc/self/exe.
std::string OwnFolder() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string self(buf, size_t(n));
  return self.substr(0, self.rfind('/') + 1);
}

// The main program: in the installation folder the machine settings name
// ("path"), else beside this program.
std::string MainProgram() {
  std::string folder = ReadSystemSetting("path", "");
  if (folder.empty()) folder = OwnFolder();
  if (folder.empty()) return "";
  if (folder.back() != '/') folder += '/';
  return folder + "Varnex";
}

// Starts the main program in its own session and its own folder, with
// nothing of this one's input or output; not Started() when it could not be
// started.
Process StartMain(const std::string& program) {
  ProcessOptions options;
  options.input = ProcessStream::Null();
  options.output = ProcessStream::Null();
  options.error = ProcessStream::Null();
  options.ownSession = true;
  options.workingFolder = program.substr(0, program.rfind('/') + 1);
  return Process::Start({program}, options);
}

// A connection to the main window, starting the main program when nobody
// listens; -1 when none could be made.
int ConnectOrStart(const std::string& socketPath) {
  int fd = Connect(socketPath);
  if (fd >= 0) return fd;
  const std::string program = MainProgram();
  Process main = program.empty() ? Process() : StartMain(program);
  if (!main.Started()) {
    std::fprintf(stderr, "VarnexShell: Varnex is not running and %s could not be started\n",
                 program.empty() ? "the program" : program.c_str());
    return -1;
  }
  bool running = true;
  for (int wait = 0; wait < kStartWaits + kLoadingWaits; ++wait) {
    usleep(kWaitMs * 1000);
    fd = Connect(socketPath);
    if (fd >= 0) return fd;
    // A program that ended will not listen any more; one that still loads
    // (a slow machine, a large project) gets its time.
    if (running && main.TryWait()) running = false;
    if (wait + 1 >= kStartWaits && !running) break;
  }
  std::fprintf(stderr, "VarnexShell: %s did not open its window\n", program.c_str());
  return -1;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// 1 taken, 0 refused, -1 the connection ended.
int Reply(int fd) {
  char reply = 0;
  for (;;) {
    ssize_t n = recv(fd, &reply, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n != 1) return -1;
    return reply == 1 ? 1 : 0;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || CommandOf(argv[1]) < 0) {
    std::fprintf(stderr,
                 "usage: VarnexShell COMMAND PATH...\n"
                 "COMMAND: 101 or audio-cd, 102 or data, 103 or mp3, 104 or vcd, 105 or svcd, 106 or dvd\n");
    return 2;
  }
  const uint32_t command = uint32_t(CommandOf(argv[1]));
  const std::string socketPath = handover::SocketPath();
  if (socketPath.empty()) {
    std::fprintf(stderr, "VarnexShell: XDG_RUNTIME_DIR is not set; there is no hand-over socket\n");
    return 1;
  }
  int fd = ConnectOrStart(socketPath);
  if (fd < 0) return 1;
  // The paths go out in windows of kWindow messages before their replies are
  // read, so that the window adds what arrived together at once; the window
  // keeps the socket's buffers small whatever the number of paths.
  constexpr int kWindow = 256;
  int refused = 0;
  std::vector<std::string> sent;
  auto collect = [&]() {
    for (const std::string& path : sent) {
      int got = Reply(fd);
      if (got < 0) {
        std::fprintf(stderr, "VarnexShell: Varnex closed the connection at %s\n", path.c_str());
        return false;
      }
      if (got == 0) {
        std::fprintf(stderr, "VarnexShell: Varnex did not add %s\n", path.c_str());
        ++refused;
      }
    }
    sent.clear();
    return true;
  };
  for (int i = 2; i < argc; ++i) {
    const std::string path = Absolute(argv[i]);
    if (path.size() > handover::kMaxPathBytes) {
      std::fprintf(stderr, "VarnexShell: the name is too long: %.80s...\n", path.c_str());
      ++refused;
      continue;
    }
    if (!SendAll(fd, handover::Encode(command, path))) {
      std::fprintf(stderr, "VarnexShell: Varnex closed the connection at %s\n", path.c_str());
      close(fd);
      return 1;
    }
    sent.push_back(path);
    if (int(sent.size()) == kWindow && !collect()) {
      close(fd);
      return 1;
    }
  }
  if (!collect()) {
    close(fd);
    return 1;
  }
  close(fd);
  return refused == 0 ? 0 : 1;
}
