#include "media/CAudioFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include "SafeFile.h"

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
  int fd = safefile::OpenForReading(path_, nullptr);
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

bool IsCdAudioWav(const std::string& path, std::string* why) {
  auto fail = [&](const std::string& text) {
    if (why) *why = path + ": " + text;
    return false;
  };
  std::string reason;
  int fd = safefile::OpenForReading(path, &reason);
  if (fd < 0) return fail(reason.substr(path.size() + 2));
  uint8_t h[CAudioFile::kHeaderSize];
  ssize_t got = ::read(fd, h, sizeof h);
  ::close(fd);
  auto le16 = [&](int at) { return unsigned(h[at] | (h[at + 1] << 8)); };
  auto le32 = [&](int at) { return uint32_t(h[at] | (h[at + 1] << 8) | (h[at + 2] << 16) | (uint32_t(h[at + 3]) << 24)); };
  if (got != ssize_t(sizeof h) || std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0)
    return fail("not a WAV file");
  if (std::memcmp(h + 12, "fmt ", 4) != 0 || le32(16) != 16 || std::memcmp(h + 36, "data", 4) != 0)
    return fail("the WAV header is not the plain 44-byte form (extra chunks)");
  if (le16(20) != 1 || le16(22) != 2 || le32(24) != 44100 || le16(34) != 16)
    return fail("not 16-bit stereo PCM at 44100 Hz");
  return true;
}
