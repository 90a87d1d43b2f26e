#pragma once
// How every file the programs write for a user comes into being: images,
// exports, project files, copy files, saved sectors, ripped tracks, extracted
// files, settings and downloads alike.
//
// The file is written as "NAME.part", created exclusively and never through a
// link, with every write checked; Commit() flushes it to disk and only then
// renames it to NAME, without replacing anything that appeared there unless
// the caller was asked to replace. On any failure, and when the object goes
// away uncommitted, the partial file is removed and NAME is left as it was.
//
// A partial file is recognised as ours by a marker beside it, made before the
// partial file: "NAME.part.owner", a symbolic link whose text names this
// program, the writer's process id and its start time (a link, because it
// comes into being whole, with no write that could fail half way). A later
// run removes a partial file whose writer is gone; a file of that name that
// carries no such marker belongs to somebody else and is never touched.

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

#include "ProcessStart.h"

// What may stand at the place of a new file.
enum class Existing {
  kKeep,     // anything at the place refuses the write
  kReplace,  // a regular file there is replaced whole once the new one is on disk
};

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;

  // Checks the place and creates the partial file. False with Error() set
  // when something is in the way or the partial file cannot be made.
  bool Open(const std::string& path, Existing existing = Existing::kKeep, mode_t mode = 0644);

  bool Write(const void* data, size_t size);
  bool WriteAt(const void* data, size_t size, off_t at);
  bool Write(std::string_view text) { return Write(text.data(), text.size()); }

  // Flushes, closes and renames the partial file into place. False with
  // Error() set; the partial file is gone and the place is as it was.
  bool Commit();
  // Gives the partial file up (nothing happens once committed).
  void Discard();

  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  const std::string& partial() const { return partial_; }
  // "PATH: reason", for the user.
  const std::string& Error() const { return error_; }

 private:
  bool Fail(const std::string& name, int err);

  int fd_ = -1;
  Existing existing_ = Existing::kKeep;
  std::string path_, partial_, error_;
};

// Why `existing` forbids writing at `path`: "" when it may be written,
// otherwise a description ("already exists", "is a symbolic link", ...).
// Replacing takes the place of a regular file or of a symbolic link itself
// (a write never lands where a link points); a folder or a device is never
// replaced.
std::string OutputInTheWay(const std::string& path, Existing existing);

// The partial file name of `path`, and removal of a partial file that an
// earlier run of ours left behind when its writer is gone. False (with
// `why`) when a partial file is in the way that is not ours to remove.
std::string PartialPath(const std::string& path);
bool ClearStalePartial(const std::string& path, std::string* why);

// Writes `bytes` whole to `path` through an OutputFile.
bool WriteWholeFile(const std::string& path, std::string_view bytes, Existing existing, std::string* why,
                    mode_t mode = 0644);

// The reason of a failed system call as the user reads it.
std::string OutputErrorText(int err);

// ---- how it is done -------------------------------------------------------

namespace outputfile_detail {

constexpr const char* kMarkerSuffix = ".owner";
constexpr const char* kMarkerTag = "varnex-partial";

inline std::string MarkerPath(const std::string& partial) { return partial + kMarkerSuffix; }

inline std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A rename is only durable once the folder holding the name is on disk.
inline void SyncFolder(const std::string& path) {
  int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  (void)::fsync(dir);  // some file systems cannot sync a folder; the data itself is on disk
  ::close(dir);
}

// Renames `from` to `to` unless something has come to stand at `to`.
inline bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without the no-replace rename: a hard link fails as well
  // when the name is taken.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return std::rename(from.c_str(), to.c_str()) == 0;
}

struct Marker {
  bool valid = false;
  pid_t pid = 0;
  std::string start;
};

inline Marker ReadMarker(const std::string& path) {
  Marker m;
  char buf[256];
  ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return m;
  std::istringstream in(std::string(buf, size_t(n)));
  std::string tag;
  long long pid = 0;
  if (!(in >> tag >> pid >> m.start) || tag != kMarkerTag || pid <= 0) return m;
  m.pid = pid_t(pid);
  m.valid = true;
  return m;
}

inline bool WriterAlive(const Marker& m) {
  if (::kill(m.pid, 0) != 0 && errno == ESRCH) return false;
  const std::string start = ProcessStartTime(m.pid);
  return start.empty() ? ::kill(m.pid, 0) == 0 : start == m.start;
}

// Makes the marker; false (errno set) when anything has its name.
inline bool MakeMarker(const std::string& path) {
  const std::string text = std::string(kMarkerTag) + " " + std::to_string(::getpid()) + " " + ProcessStartTime(::getpid());
  return ::symlink(text.c_str(), path.c_str()) == 0;
}

}  // namespace outputfile_detail


inline std::string OutputErrorText(int err) {
  if (err == ENOSPC || err == EDQUOT) return "the disk is full";
  if (err == EEXIST) return "a file of that name is in the way";
  if (err == ELOOP) return "the name is a symbolic link";
  return std::strerror(err);
}

inline std::string OutputInTheWay(const std::string& path, Existing existing) {
  struct stat st;
  if (path.empty()) return "no file name was given";
  if (path.back() == '/') return "names a folder, not a file";
  if (::lstat(path.c_str(), &st) != 0) return "";
  // A link is replaced itself when asked to; what it points at never is.
  if (S_ISLNK(st.st_mode)) return existing == Existing::kKeep ? "is a symbolic link" : "";
  if (S_ISDIR(st.st_mode)) return "is a folder";
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  if (existing == Existing::kKeep) return "already exists";
  return "";
}

inline std::string PartialPath(const std::string& path) { return path + ".part"; }

inline bool ClearStalePartial(const std::string& path, std::string* why) {
  const std::string partial = PartialPath(path), marker = outputfile_detail::MarkerPath(partial);
  const outputfile_detail::Marker owner = outputfile_detail::ReadMarker(marker);
  struct stat st;
  const bool partialThere = ::lstat(partial.c_str(), &st) == 0;
  auto refuse = [&](const std::string& reason) {
    if (why) *why = partial + ": " + reason;
    return false;
  };
  if (owner.valid && outputfile_detail::WriterAlive(owner)) return refuse("is being written by process " + std::to_string(owner.pid));
  if (!partialThere) {
    if (owner.valid) ::unlink(marker.c_str());
    return true;
  }
  if (!owner.valid)
    return refuse("a file of that name is in the way that this program did not leave (remove it or choose another name)");
  if (!S_ISREG(st.st_mode))
    return refuse("a file of that name is in the way that this program did not leave (remove it or choose another name)");
  if (::unlink(partial.c_str()) != 0 && errno != ENOENT) return refuse(OutputErrorText(errno));
  ::unlink(marker.c_str());
  return true;
}

inline OutputFile::~OutputFile() { Discard(); }

inline OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      existing_(other.existing_),
      path_(std::move(other.path_)),
      partial_(std::move(other.partial_)),
      error_(std::move(other.error_)) {}

inline OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    Discard();
    fd_ = std::exchange(other.fd_, -1);
    existing_ = other.existing_;
    path_ = std::move(other.path_);
    partial_ = std::move(other.partial_);
    error_ = std::move(other.error_);
  }
  return *this;
}

inline bool OutputFile::Fail(const std::string& name, int err) {
  error_ = name + ": " + OutputErrorText(err);
  Discard();
  errno = err;
  return false;
}

inline bool OutputFile::Open(const std::string& path, Existing existing, mode_t mode) {
  Discard();
  path_ = path;
  partial_ = PartialPath(path);
  existing_ = existing;
  error_.clear();
  if (std::string inTheWay = OutputInTheWay(path, existing); !inTheWay.empty()) {
    error_ = path + ": " + inTheWay;
    partial_.clear();
    errno = EEXIST;
    return false;
  }
  if (!ClearStalePartial(path, &error_)) {
    partial_.clear();
    errno = EEXIST;
    return false;
  }
  // The marker comes first, so that a partial file of ours always has one.
  const std::string marker = outputfile_detail::MarkerPath(partial_);
  if (!outputfile_detail::MakeMarker(marker)) {
    int err = errno;
    error_ = err == ENOENT || err == ENOTDIR ? path + ": its folder does not exist" : marker + ": " + OutputErrorText(err);
    partial_.clear();
    errno = err;
    return false;
  }
  fd_ = ::open(partial_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd_ < 0) {
    int err = errno;
    ::unlink(marker.c_str());
    error_ = partial_ + ": " + OutputErrorText(err);
    partial_.clear();
    errno = err;
    return false;
  }
  return true;
}

inline bool OutputFile::Write(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd_, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(partial_, n == 0 ? ENOSPC : errno);
    p += n;
    size -= size_t(n);
  }
  return true;
}

inline bool OutputFile::WriteAt(const void* data, size_t size, off_t at) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::pwrite(fd_, p, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(partial_, n == 0 ? ENOSPC : errno);
    p += n;
    at += n;
    size -= size_t(n);
  }
  return true;
}

inline bool OutputFile::Commit() {
  if (fd_ < 0) {
    if (error_.empty()) error_ = path_ + ": the file was not written";
    return false;
  }
  if (::fsync(fd_) != 0) return Fail(partial_, errno);
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0) {
    const int err = errno;
    fd_ = -1;
    ::unlink(partial_.c_str());
    ::unlink(outputfile_detail::MarkerPath(partial_).c_str());
    error_ = partial_ + ": " + OutputErrorText(err);
    errno = err;
    return false;
  }
  bool renamed;
  if (existing_ == Existing::kReplace) {
    // A folder or a device that appeared at the place meanwhile is not replaced.
    std::string inTheWay = OutputInTheWay(path_, Existing::kReplace);
    if (!inTheWay.empty()) {
      error_ = path_ + ": " + inTheWay;
      errno = EEXIST;
      renamed = false;
    } else {
      renamed = std::rename(partial_.c_str(), path_.c_str()) == 0;
    }
  } else {
    renamed = outputfile_detail::RenameNoReplace(partial_, path_);
  }
  const int err = errno;
  if (!renamed) {
    if (error_.empty()) error_ = path_ + ": " + OutputErrorText(err);
    ::unlink(partial_.c_str());
    ::unlink(outputfile_detail::MarkerPath(partial_).c_str());
    errno = err;
    return false;
  }
  ::unlink(outputfile_detail::MarkerPath(partial_).c_str());
  outputfile_detail::SyncFolder(path_);
  partial_.clear();
  return true;
}

inline void OutputFile::Discard() {
  const int saved = errno;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!partial_.empty()) {
    ::unlink(partial_.c_str());
    ::unlink(outputfile_detail::MarkerPath(partial_).c_str());
    partial_.clear();
  }
  errno = saved;
}

inline bool WriteWholeFile(const std::string& path, std::string_view bytes, Existing existing, std::string* why,
                    mode_t mode) {
  OutputFile out;
  bool ok = out.Open(path, existing, mode) && out.Write(bytes) && out.Commit();
  if (!ok && why) *why = out.Error();
  return ok;
}
