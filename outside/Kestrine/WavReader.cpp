#include "WavReader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "ByteFields.h"
#include "SafeFile.h"

bool ParseWavHeader(const uint8_t* d, size_t size, uint64_t fileSize, WavInfo& out, std::string* why) {
  auto fail = [&](const char* w) {
    if (why) *why = w;
    return false;
  };
  if (size < 12 || std::memcmp(d, "RIFF", 4) != 0 || std::memcmp(d + 8, "WAVE", 4) != 0)
    return fail("not a WAV file");
  bool haveFormat = false;
  for (uint64_t off = 12; off + 8 <= size;) {
    uint32_t len = bytes::LE32(d + off + 4);
    const uint8_t* body = d + off + 8;
    if (std::memcmp(d + off, "fmt ", 4) == 0) {
      if (len < 16 || off + 8 + 16 > size) return fail("damaged format chunk");
      uint16_t tag = bytes::LE16(body), channels = bytes::LE16(body + 2), bits = bytes::LE16(body + 14);
      uint32_t rate = bytes::LE32(body + 4);
      if (tag != 1 || channels != 2 || bits != 16 || rate != 44100)
        return fail("not 44.1 kHz 16-bit stereo PCM (convert it first)");
      haveFormat = true;
    } else if (std::memcmp(d + off, "data", 4) == 0) {
      if (!haveFormat) return fail("data before the format chunk");
      out.dataOffset = off + 8;
      uint64_t avail = fileSize > out.dataOffset ? fileSize - out.dataOffset : 0;
      out.dataSize = len > avail ? avail : len;  // a cut-off file keeps what it has
      out.dataSize -= out.dataSize % 4;
      return true;
    }
    off += 8 + uint64_t(len) + (len & 1);
  }
  return fail("no data chunk");
}

bool ReadWavInfo(const std::string& path, WavInfo& out, std::string* why) {
  std::string reason;
  int fd = safefile::OpenForReading(path, &reason);  // a FIFO or device is refused, not waited on
  if (fd < 0) {
    if (why) *why = reason.substr(std::min(reason.size(), path.size() + 2));
    return false;
  }
  struct stat st;
  const uint64_t fileSize = ::fstat(fd, &st) == 0 ? uint64_t(st.st_size) : 0;
  std::vector<uint8_t> head(size_t(std::min<uint64_t>(fileSize, kWavHeadBytes)));
  size_t got = 0;
  while (got < head.size()) {
    ssize_t n = ::pread(fd, head.data() + got, head.size() - got, off_t(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  ::close(fd);
  return ParseWavHeader(head.data(), got, fileSize, out, why);
}
