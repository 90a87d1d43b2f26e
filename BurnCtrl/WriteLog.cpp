#include "BurnCtrl/WriteLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/ProgramDir.h"

namespace {

std::atomic<bool> gLogOn{false};
constexpr off_t kLogLimit = 2097152;
constexpr size_t kLineMax = 255;

// Holds the log's advisory lock for one line; gives up after one second.
bool LockFor(int fd) {
  for (int i = 0; i < 100; ++i) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void AppendLine(const std::string& path, std::string line) {
  if (line.size() > kLineMax) line.resize(kLineMax);
  for (char& c : line) c = char(uint8_t(c) + 6);
  line += '\n';
  int lockFd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lockFd < 0) return;
  if (LockFor(lockFd)) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ssize_t ignored = ::write(fd, line.data(), line.size());
      (void)ignored;
      ::fsync(fd);
      ::close(fd);
    }
    ::flock(lockFd, LOCK_UN);
  }
  ::close(lockFd);
}

}  // namespace

void SetWriteLogEnabled(bool on) { gLogOn = on; }
bool WriteLogEnabled() { return gLogOn; }
std::string WriteLogPath() { return GetWritableDir() + "Record.log"; }

void WriteLogEntry(const std::string& message, const char* sourceFile, int line, const rec::Sense& sense) {
  if (!gLogOn) return;
  const std::string path = WriteLogPath();
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && st.st_size >= kLogLimit) std::remove(path.c_str());
  char place[kLineMax + 1], senseText[kLineMax + 1];
  std::snprintf(place, sizeof place, "File:%s, Line:%d", sourceFile, line);
  std::snprintf(senseText, sizeof senseText, "SenseKey:%2X, ASC:%2X, ASCQ:%2X, SRBStatus:%2X\n", sense.key,
                sense.asc, sense.ascq, sense.srb);
  AppendLine(path, message);
  AppendLine(path, place);
  AppendLine(path, senseText);
}
