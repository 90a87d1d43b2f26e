// VarnexShell against a listener of the test's own on the hand-over socket:
// one message per path in order, each answered before the next; the main
// program started when nobody listens; another user's connection refused.

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/HandOver.h"

namespace fs = std::filesystem;

namespace {

struct Scratch {
  fs::path dir;
  Scratch() {
    char name[] = "/tmp/varnex-shell-XXXXXX";
    dir = mkdtemp(name);
    fs::create_directory(dir / "runtime");
    fs::permissions(dir / "runtime", fs::perms::owner_all);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::string Runtime() const { return (dir / "runtime").string(); }
  std::string Socket() const { return Runtime() + "/varnex/handover"; }
};

int Listen(const std::string& path) {
  fs::create_directories(fs::path(path).parent_path());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Takes one connection, records every message and answers each with `answer`.
struct Listener {
  int fd = -1;
  std::thread thread;
  std::vector<std::pair<uint32_t, std::string>> got;
  const char answer;

  explicit Listener(const std::string& path, char answerWith = 1) : fd(Listen(path)), answer(answerWith) {
    thread = std::thread([this] {
      int c = accept(fd, nullptr, nullptr);
      if (c < 0) return;
      std::string buffer;
      char bytes[4096];
      for (;;) {
        ssize_t n = recv(c, bytes, sizeof bytes, 0);
        if (n <= 0) break;
        buffer.append(bytes, size_t(n));
        uint32_t command;
        std::string path;
        while (handover::Decode(&buffer, &command, &path) == 1) {
          got.emplace_back(command, path);
          send(c, &answer, 1, MSG_NOSIGNAL);
        }
      }
      close(c);
    });
  }
  void Join() {
    if (thread.joinable()) thread.join();
    close(fd);
  }
  ~Listener() {
    if (thread.joinable()) {
      shutdown(fd, SHUT_RDWR);
      thread.join();
    }
  }
};

// Runs VarnexShell in `cwd` with the scratch runtime folder; its exit status.
int RunShell(const Scratch& s, const std::vector<std::string>& args, const std::string& cwd,
             const std::string& conf = "/nonexistent/varnex.conf") {
  std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + s.Runtime(), "VARNEX_SYSTEM_CONF=" + conf,
                                  "PATH=/usr/bin:/bin"};
  std::vector<char*> envp, argv;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string program = VARNEX_SHELL_PATH;
  argv.push_back(program.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Touch(const fs::path& p) { std::ofstream(p) << "x"; }

}  // namespace

TEST(VarnexShell, SendsOneMessagePerPathInOrder) {
  Scratch s;
  fs::create_directories(s.dir / "music");
  for (const char* name : {"a.mp3", "b.mp3", "c d.mp3"}) Touch(s.dir / "music" / name);
  Listener listener(s.Socket());
  ASSERT_GE(listener.fd, 0);
  // Names relative to the folder the file manager shows, as Files passes them.
  EXPECT_EQ(RunShell(s, {"103", "b.mp3", (s.dir / "music/a.mp3").string(), "c d.mp3"}, (s.dir / "music").string()), 0);
  listener.Join();
  ASSERT_EQ(listener.got.size(), 3u);
  const std::string music = (s.dir / "music").string();
  EXPECT_EQ(listener.got[0], std::make_pair(103u, music + "/b.mp3"));
  EXPECT_EQ(listener.got[1], std::make_pair(103u, music + "/a.mp3"));
  EXPECT_EQ(listener.got[2], std::make_pair(103u, music + "/c d.mp3"));
}

TEST(VarnexShell, ARefusedPathIsReportedAndTheRestStillSent) {
  Scratch s;
  Listener listener(s.Socket(), 0);
  EXPECT_EQ(RunShell(s, {"data", "/x/one", "/x/two"}, "/"), 1);
  listener.Join();
  ASSERT_EQ(listener.got.size(), 2u);
  EXPECT_EQ(listener.got[0].first, 102u);
}

TEST(VarnexShell, BadCommandsAreRefusedBeforeAnythingIsSent) {
  Scratch s;
  for (const char* command : {"100", "107", "mp4", "", "103x"}) EXPECT_EQ(RunShell(s, {command, "/x"}, "/"), 2) << command;
  EXPECT_EQ(RunShell(s, {"103"}, "/"), 2) << "no path";
}

TEST(VarnexShell, NobodyListeningAndNoProgramEndsWithAFailure) {
  Scratch s;
  std::ofstream(s.dir / "varnex.conf") << "[Varnex]\npath=" << (s.dir / "nowhere").string() << "\n";
  EXPECT_EQ(RunShell(s, {"102", "/x"}, "/", (s.dir / "varnex.conf").string()), 1);
}

TEST(VarnexShell, StartsTheMainProgramWhenNobodyListens) {
  Scratch s;
  fs::create_directories(s.dir / "prog");
  // A stand-in main program: it opens the socket, records and answers.
  const fs::path fake = s.dir / "prog" / "Varnex";
  std::ofstream(fake) << R"(#!/usr/bin/env python3
import os, socket, struct
path = os.environ["XDG_RUNTIME_DIR"] + "/varnex/handover"
os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
s = socket.socket(socket.AF_UNIX)
s.bind(path)
s.listen(1)
c, _ = s.accept()
out = open(os.path.join(os.getcwd(), "received"), "a")
buf = b""
while True:
    d = c.recv(65536)
    if not d:
        break
    buf += d
    while len(buf) >= 8:
        cmd, n = struct.unpack("<II", buf[:8])
        if len(buf) < 8 + n:
            break
        out.write("%d %s\n" % (cmd, buf[8:8 + n].decode()))
        out.flush()
        buf = buf[8 + n:]
        c.send(b"\x01")
)";
  fs::permissions(fake, fs::perms::owner_all);
  std::ofstream(s.dir / "varnex.conf") << "[Varnex]\npath=" << (s.dir / "prog").string() << "\n";
  EXPECT_EQ(RunShell(s, {"101", "/music/one.wav", "/music/two.wav"}, "/", (s.dir / "varnex.conf").string()), 0);
  std::ifstream in(s.dir / "prog" / "received");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "101 /music/one.wav\n101 /music/two.wav\n");
}

TEST(HandOverPeer, AnotherUsersConnectionIsRecognised) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  char name[] = "/tmp/varnex-peer-XXXXXX";
  fs::path dir = mkdtemp(name);
  chmod(dir.c_str(), 0777);
  const std::string path = (dir / "sock").string();
  int fd = Listen(path);
  ASSERT_GE(fd, 0);
  chmod(path.c_str(), 0777);
  pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    int c = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) _exit(4);
    char b;
    while (read(c, &b, 1) > 0) {
    }
    _exit(0);
  }
  int other = accept(fd, nullptr, nullptr);
  ASSERT_GE(other, 0);
  EXPECT_FALSE(handover::PeerIsSameUser(other));
  close(other);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // The same user is let in.
  int mine = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(connect(mine, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  int same = accept(fd, nullptr, nullptr);
  EXPECT_TRUE(handover::PeerIsSameUser(same));
  EXPECT_FALSE(handover::PeerIsSameUser(-1));
  close(same);
  close(mine);
  close(fd);
  fs::remove_all(dir);
}
