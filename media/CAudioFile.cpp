#include "media/CAudioFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "SafeFile.h"
#include "WavReader.h"

void CAudioFile::SetFile(const std::string& path) {
  path_ = path;
  WavInfo info;
  if (ReadWavInfo(path, info, nullptr)) {
    position_ = uint32_t(info.dataOffset);
    dataStart_ = info.dataOffset;
    dataEnd_ = info.dataOffset + info.dataSize;
  } else {  // read as the canonical form; IsCdAudioWav has said what is wrong
    position_ = kHeaderSize;
    dataStart_ = kHeaderSize;
    dataEnd_ = UINT64_MAX;
  }
}

uint32_t CAudioFile::GetSectorCount() const {
  if (path_.empty()) return 0;
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  uint64_t sectors = (uint64_t(st.st_size) + kSectorSize - 1) / kSectorSize;
  return sectors > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(sectors);
}

uint32_t CAudioFile::GetSoundSectorCount() const {
  if (path_.empty()) return 0;
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  const uint64_t end = std::min<uint64_t>(dataEnd_, uint64_t(st.st_size));
  if (end <= dataStart_) return 0;
  const uint64_t sectors = (end - dataStart_ + kSectorSize - 1) / kSectorSize;
  return sectors > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(sectors);
}

int CAudioFile::ReadData(uint8_t* buffer, uint32_t n) {
  if (path_.empty()) return 0;
  int fd = safefile::OpenForReading(path_, nullptr);
  if (fd < 0) return 0;
  // Chunks behind the audio data (a LIST at the end) are not sound.
  const uint32_t want = uint32_t(std::min<uint64_t>(n, dataEnd_ > position_ ? dataEnd_ - position_ : 0));
  if (::lseek(fd, off_t(position_), SEEK_SET) == off_t(position_)) {
    uint32_t done = 0;
    while (done < want) {
      ssize_t got = ::read(fd, buffer + done, want - done);
      if (got <= 0) break;
      done += uint32_t(got);
    }
  }
  ::close(fd);
  position_ += n;
  return 0;
}

bool IsCdAudioWav(const std::string& path, std::string* why) {
  WavInfo info;
  std::string reason;
  if (ReadWavInfo(path, info, &reason)) return true;
  if (why) *why = path + ": " + reason;
  return false;
}
