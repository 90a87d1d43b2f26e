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

#include "SafeFile.h"

using cdsector::Mode;

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
  const int64_t size = LocalSheetFiles().sizeOf(path);
  if (size <= 0) return OpenForWriting(error);
  std::string why;
  if (!ReadImageLayout(path, layout_, &why)) return fail(why);
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
  for (size_t i = 0; i < m.tracks.size(); ++i) {
    const ImageTrackNotes notes = layout_.NotesOf(i);
    m.tracks[i].flags = notes.flags;
    m.tracks[i].isrc = notes.isrc;
    m.tracks[i].indexes = notes.indexes;
  }
  m.closedSessions = layout_.sessions;
  m.cdText = layout_.cdText;
  m.mcn = layout_.catalog;
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
    if (n != e.sectorSize) return 0;
    if (e.swapBytes)
      for (int i = 0; i + 1 < e.sectorSize; i += 2) std::swap(buf[i], buf[i + 1]);
    return e.sectorSize;
  }
  return 0;
}

bool ImageFileDevice::ReadStoredRun(int32_t lba, uint8_t* out, uint32_t count) {
  if (lba < 0) return false;
  if (writing_) return fds_[0] >= 0 && safefile::PreadAll(fds_[0], out, size_t(count) * 2048, off_t(lba) * 2048);
  // The run may cross from one extent into the next (a BIN of several files).
  while (count > 0) {
    const auto e = std::find_if(layout_.extents.begin(), layout_.extents.end(),
                                [&](const ImageExtent& x) { return lba >= x.lba && lba < x.lba + x.count; });
    if (e == layout_.extents.end() || e->file < 0 || e->sectorSize != 2048 || e->swapBytes) return false;
    const uint32_t n = std::min<uint32_t>(count, uint32_t(e->lba + e->count - lba));
    const off_t at = off_t(e->offset + uint64_t(lba - e->lba) * 2048);
    if (!safefile::PreadAll(fds_[size_t(e->file)], out, size_t(n) * 2048, at)) return false;
    lba += int32_t(n);
    out += size_t(n) * 2048;
    count -= n;
  }
  return true;
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
  return WriteStoredRun(lba, user, 1);
}

bool ImageFileDevice::WriteStoredRun(int32_t lba, const uint8_t* buf, uint32_t count) {
  if (!writing_ || lba < 0) return false;
  if (fds_[0] < 0) fds_[0] = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  return fds_[0] >= 0 && safefile::PwriteAll(fds_[0], buf, size_t(count) * 2048, off_t(lba) * 2048);
}

bool ImageFileDevice::FlushStore() { return !writing_ || fds_[0] < 0 || fdatasync(fds_[0]) == 0; }
