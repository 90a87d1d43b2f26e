#include "BurnCtrl/WriteLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "foundation/ProgramDir.h"

namespace {

constexpr uint64_t kMaxLogBytes = 2097152;  // 2 MiB
constexpr size_t kMaxLine = 255;
constexpr size_t kMaxPath = 260;
constexpr int kLockWaitMs = 1000;

// -1: not decided yet (the environment decides at first use).
std::atomic<int> g_switch{-1};

// Holds the lock file shared by every writer of the log, threads and
// processes alike, for at most kLockWaitMs; -1 when it stays taken.
int TakeLock(const std::string& logPath) {
  int fd = ::open((logPath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockWaitMs);
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (std::chrono::steady_clock::now() >= until) {
      ::close(fd);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return fd;
}

void AppendLine(const std::string& logPath, std::string text) {
  if (text.size() > kMaxLine) text.resize(kMaxLine);
  for (char& c : text) c = char(uint8_t(c) + 6);
  text += '\n';
  int lock = TakeLock(logPath);
  if (lock < 0) return;  // a writer that waits longer than a second drops its line
  int fd = ::open(logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd >= 0) {
    ssize_t n = ::write(fd, text.data(), text.size());
    (void)n;
    fdatasync(fd);
    ::close(fd);
  }
  ::close(lock);  // releases the lock
}

}  // namespace

void SetWriteLogSwitch(bool on) { g_switch = on ? 1 : 0; }

bool WriteLogSwitch() {
  int s = g_switch;
  if (s < 0) {
    const char* env = std::getenv("VARNEX_WRITE_LOG");
    s = (env && std::strcmp(env, "1") == 0) ? 1 : 0;
    g_switch = s;
  }
  return s == 1;
}

std::string WriteLogPath() { return GetWritableDir() + "Record.log"; }

void WriteLogEntry(const std::string& message, const char* sourceFile, int line, const SenseData& sense) {
  if (!WriteLogSwitch()) return;
  std::string path = WriteLogPath();
  if (path.size() > kMaxPath) return;
  // Checked once per entry, so that a deletion never splits an entry.
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && uint64_t(st.st_size) >= kMaxLogBytes) std::remove(path.c_str());
  char where[kMaxLine + 1];
  std::snprintf(where, sizeof where, "File:%s, Line:%d", sourceFile ? sourceFile : "", line);
  char senseLine[kMaxLine + 1];
  std::snprintf(senseLine, sizeof senseLine, "SenseKey:%2X, ASC:%2X, ASCQ:%2X, SRBStatus:%2X\n", sense.SenseKey,
                sense.ASC, sense.ASCQ, sense.SRBStatus);
  AppendLine(path, message);
  AppendLine(path, where);
  AppendLine(path, senseLine);
}

void WriteLogFormat(const char* sourceFile, int line, const char* format, ...) {
  if (!WriteLogSwitch()) return;
  char text[kMaxPath + 1];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text - 1, format, ap);
  va_end(ap);
  std::string message = text;
  message += '\n';
  WriteLogEntry(message, sourceFile, line, SenseData{0, 0, 0, 0});
}

std::vector<std::string> ReadWriteLog(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    for (char& c : line) c = char(uint8_t(c) - 6);
    lines.push_back(line);
  }
  return lines;
}
