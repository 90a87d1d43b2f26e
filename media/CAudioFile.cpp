#include "media/CAudioFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void CAudioFile::SetFile(const std::string& path) {
  path_ = path;
  position_ = kHeaderSize;
}

uint32_t CAudioFile::GetSectorCount() const {
  if (path_.empty()) return 0;
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  uint64_t sectors = (uint64_t(st.st_size) + kSectorSize - 1) / kSectorSize;
  return sectors > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(sectors);
}

int CAudioFile::ReadData(uint8_t* buffer, uint32_t n) {
  if (path_.empty()) return 0;
  int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  if (::lseek(fd, off_t(position_), SEEK_SET) == off_t(position_)) {
    uint32_t done = 0;
    while (done < n) {
      ssize_t got = ::read(fd, buffer + done, n - done);
      if (got <= 0) break;
      done += uint32_t(got);
    }
  }
  ::close(fd);
  position_ += n;
  return 0;
}
