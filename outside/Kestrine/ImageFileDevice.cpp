#include "ImageFileDevice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

using cdsector::Mode;

namespace {

// A data track given as raw 2352-byte sectors starts with the sync pattern of
// a data sector; one that does not is audio or a damaged image, and burning it
// as data would write rubbish that no reader accepts.
bool RawDataTracksHaveSync(const ImageLayout& layout, std::string* why) {
  static const uint8_t kSync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  for (const ImageExtent& e : layout.extents) {
    if (e.sectorSize != 2352 || e.file < 0 || e.count <= 0) continue;
    const DiscTrack* track = nullptr;
    for (const DiscTrack& t : layout.tracks)
      if (e.lba >= t.start && e.lba < t.start + t.size) track = &t;
    if (!track || track->mode == Mode::Audio) continue;
    const std::string& file = layout.files[size_t(e.file)];
    uint8_t head[12] = {};
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    const bool read = fd >= 0 && pread(fd, head, sizeof head, off_t(e.offset)) == ssize_t(sizeof head);
    if (fd >= 0) ::close(fd);
    if (!read || std::memcmp(head, kSync, sizeof kSync) != 0) {
      *why = "track " + std::to_string(track->number) + " (" + file +
             ") is described as raw data sectors, but its first sector has no data sync pattern";
      return false;
    }
  }
  return true;
}


std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(uint8_t(c)));
  return s;
}

std::string Extension(const std::string& path) {
  size_t dot = path.find_last_of('.'), slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return Lower(path.substr(dot + 1));
}

int64_t SizeOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

}  // namespace

ImageFileDevice::~ImageFileDevice() {
  for (int fd : fds_)
    if (fd >= 0) ::close(fd);
}

bool ImageFileDevice::Open(const std::string& path, std::string* error) {
  path_ = path;
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  // Only a regular file is an image; a FIFO or a device would block or lie.
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return fail(path + ": not a regular file");
  int64_t size = SizeOf(path);
  if (size <= 0) return OpenForWriting(error);
  std::string why;
  std::string ext = Extension(path);
  bool ok = false;
  if (ext == "cue") {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    if (size > (1 << 20)) return fail(path + ": too large for a CUE sheet");
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    ok = ParseCueSheet(text.str(), folder, SizeOf, layout_, &why);
  } else {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(path + ": " + std::strerror(errno));
    uint8_t last[12] = {};
    bool nrg = false;
    if (size >= 12 && pread(fd, last, 12, size - 12) == 12) {
      // A file that ends in an NRG footer is read as one or refused, never
      // taken for plain sectors.
      uint64_t chunks = NrgChunkOffset(last, uint64_t(size));
      if (chunks > 0) {
        nrg = true;
        if (chunks < uint64_t(size) && uint64_t(size) - chunks <= (16u << 20)) {
          std::vector<uint8_t> tail(size_t(uint64_t(size) - chunks));
          if (pread(fd, tail.data(), tail.size(), off_t(chunks)) == ssize_t(tail.size()))
            ok = ParseNrg(tail.data(), tail.size(), uint64_t(size), path, layout_, &why);
          else
            why = std::string("cannot read its NRG chunks: ") + std::strerror(errno);
        } else {
          why = "its NRG footer points outside the file";
        }
        if (!ok) why = "not a readable NRG image: " + why;
      }
    }
    if (!nrg) {
      uint8_t head[16] = {};
      static const uint8_t sync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
      bool raw = pread(fd, head, 16, 0) == 16 && std::memcmp(head, sync, 12) == 0 && size % 2352 == 0;
      if (!raw && size % 2048 != 0 && size % 2352 == 0 && (ext == "bin" || ext == "img")) {
        // Raw sectors without a data sync: an audio disc.
        ok = LayoutPlainImage(path, uint64_t(size), true, Mode::Audio, layout_, &why);
      } else {
        Mode m = raw ? (head[15] == 2 ? Mode::Mode2Form1 : Mode::Mode1) : Mode::Mode1;
        ok = LayoutPlainImage(path, uint64_t(size), raw, m, layout_, &why);
      }
    }
    ::close(fd);
  }
  if (!ok) return fail(path + ": " + why);
  if (!RawDataTracksHaveSync(layout_, &why)) return fail(path + ": " + why);
  for (const std::string& f : layout_.files) {
    int fd = ::open(f.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(f + ": " + std::strerror(errno));
    fds_.push_back(fd);
  }
  DiscModel m;
  int32_t end = std::max(layout_.EndLba(), 1);
  if (layout_.cd) m.profile = 8;
  else m.profile = end <= 12219392 / 2 ? 16 : 64;  // larger than a dual-layer DVD: a BD
  m.pressed = true;
  m.finalized = true;
  m.capacity = end;
  m.tracks = layout_.tracks;
  m.closedSessions = layout_.sessions;
  m.cdText = layout_.cdText;
  for (const DiscTrack& t : m.tracks)
    if (t.mode != Mode::Mode1 && t.mode != Mode::Audio) m.sessionFormat = 0x20;
  model_ = m;
  return true;
}

bool ImageFileDevice::OpenForWriting(std::string* error) {
  // The file is made by the first write, so that looking at a missing image
  // leaves nothing behind; its folder must take it.
  size_t slash = path_.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : path_.substr(0, slash + 1);
  if (access(folder.c_str(), W_OK) != 0) {
    if (error) *error = "cannot create " + path_ + ": " + std::strerror(errno);
    return false;
  }
  fds_.push_back(::open(path_.c_str(), O_RDWR | O_CLOEXEC));
  writing_ = true;
  // A blank recordable disc as large as the folder's free space.
  struct statvfs vs;
  int64_t freeSectors = 405000;
  if (statvfs(folder.c_str(), &vs) == 0) freeSectors = int64_t(vs.f_bavail) * int64_t(vs.f_frsize) / 2048;
  DiscModel m;
  m.profile = 9;
  m.capacity = int32_t(std::clamp<int64_t>(freeSectors, 0, 0x3FFFFFFF));
  model_ = m;
  return true;
}

int ImageFileDevice::ReadStored(int32_t lba, uint8_t* buf) {
  if (writing_) {
    if (fds_[0] < 0) return 0;
    ssize_t n = pread(fds_[0], buf, 2048, off_t(lba) * 2048);
    return n == 2048 ? 2048 : 0;
  }
  for (const ImageExtent& e : layout_.extents) {
    if (lba < e.lba || lba >= e.lba + e.count) continue;
    if (e.file < 0) return 0;
    off_t at = off_t(e.offset + uint64_t(lba - e.lba) * uint64_t(e.sectorSize));
    ssize_t n = pread(fds_[size_t(e.file)], buf, size_t(e.sectorSize), at);
    return n == e.sectorSize ? e.sectorSize : 0;
  }
  return 0;
}

bool ImageFileDevice::WriteStored(int32_t lba, const uint8_t* buf, int size) {
  if (!writing_ || lba < 0) return false;
  const uint8_t* user = buf;
  if (size == 2352) {
    // The image keeps the user data of data sectors only.
    Mode m = cdsector::ModeOf(buf);
    if (m != Mode::Mode1 && m != Mode::Mode2Form1) return false;
    user = buf + cdsector::UserOffset(m);
  } else if (size != 2048) {
    return false;
  }
  if (fds_[0] < 0) fds_[0] = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fds_[0] < 0) return false;
  return pwrite(fds_[0], user, 2048, off_t(lba) * 2048) == 2048;
}

bool ImageFileDevice::FlushStore() { return !writing_ || fds_[0] < 0 || fdatasync(fds_[0]) == 0; }
