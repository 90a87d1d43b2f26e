#include "foundation/OutputFile.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

namespace {

constexpr const char* kMarkerSuffix = ".owner";
constexpr const char* kMarkerTag = "varnex-partial";

std::string MarkerPath(const std::string& partial) { return partial + kMarkerSuffix; }

// The start time of process `pid` since boot (clock ticks), "" when there is
// no such process. With the process id it names one run of a program, so a
// recycled process id is not taken for the writer of an old partial file.
std::string ProcessStart(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return {};
  size_t close = line.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  // Fields after the command name start with the state (field 3); the start
  // time is field 22.
  for (int i = 3; i <= 22 && (fields >> field); ++i)
    if (i == 22) return field;
  return {};
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A rename is only durable once the folder holding the name is on disk.
void SyncFolder(const std::string& path) {
  int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  (void)::fsync(dir);  // some file systems cannot sync a folder; the data itself is on disk
  ::close(dir);
}

// Renames `from` to `to` unless something has come to stand at `to`.
bool RenameNoReplace(const std::string& from, const std::string& to) {
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
  ino_t inode = 0;
};

Marker ReadMarker(const std::string& path) {
  Marker m;
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return m;
  char buf[256] = {};
  ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return m;
  std::istringstream in(std::string(buf, size_t(n)));
  std::string tag;
  long long pid = 0;
  unsigned long long inode = 0;
  if (!(in >> tag >> pid >> m.start) || tag != kMarkerTag || pid <= 0) return m;
  if (in >> inode) m.inode = ino_t(inode);
  m.pid = pid_t(pid);
  m.valid = true;
  return m;
}

bool WriterAlive(const Marker& m) {
  if (::kill(m.pid, 0) != 0 && errno == ESRCH) return false;
  const std::string start = ProcessStart(m.pid);
  return start.empty() ? ::kill(m.pid, 0) == 0 : start == m.start;
}

bool WriteMarker(int fd, ino_t inode) {
  std::string text = std::string(kMarkerTag) + " " + std::to_string(::getpid()) + " " + ProcessStart(::getpid());
  if (inode != 0) text += " " + std::to_string(static_cast<unsigned long long>(inode));
  text += "\n";
  return ::ftruncate(fd, 0) == 0 && ::pwrite(fd, text.data(), text.size(), 0) == ssize_t(text.size());
}

}  // namespace

std::string OutputErrorText(int err) {
  if (err == ENOSPC || err == EDQUOT) return "the disk is full";
  if (err == EEXIST) return "a file of that name is in the way";
  if (err == ELOOP) return "the name is a symbolic link";
  return std::strerror(err);
}

std::string OutputInTheWay(const std::string& path, Existing existing) {
  struct stat st;
  if (path.empty()) return "no file name was given";
  if (path.back() == '/') return "names a folder, not a file";
  if (::lstat(path.c_str(), &st) != 0) return "";
  if (S_ISLNK(st.st_mode)) return "is a symbolic link (name the file it points to)";
  if (S_ISDIR(st.st_mode)) return "is a folder";
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  if (existing == Existing::kKeep) return "already exists";
  return "";
}

std::string PartialPath(const std::string& path) { return path + ".part"; }

bool ClearStalePartial(const std::string& path, std::string* why) {
  const std::string partial = PartialPath(path), marker = MarkerPath(partial);
  const Marker owner = ReadMarker(marker);
  struct stat st;
  const bool partialThere = ::lstat(partial.c_str(), &st) == 0;
  auto refuse = [&](const std::string& reason) {
    if (why) *why = partial + ": " + reason;
    return false;
  };
  if (owner.valid && WriterAlive(owner)) return refuse("is being written by process " + std::to_string(owner.pid));
  if (!partialThere) {
    if (owner.valid) ::unlink(marker.c_str());
    return true;
  }
  if (!owner.valid)
    return refuse("a file of that name is in the way that this program did not leave (remove it or choose another name)");
  if (!S_ISREG(st.st_mode) || (owner.inode != 0 && owner.inode != st.st_ino))
    return refuse("a file of that name is in the way that this program did not leave (remove it or choose another name)");
  if (::unlink(partial.c_str()) != 0 && errno != ENOENT) return refuse(OutputErrorText(errno));
  ::unlink(marker.c_str());
  return true;
}

OutputFile::~OutputFile() { Discard(); }

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      existing_(other.existing_),
      path_(std::move(other.path_)),
      partial_(std::move(other.partial_)),
      error_(std::move(other.error_)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
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

bool OutputFile::Fail(const std::string& name, int err) {
  error_ = name + ": " + OutputErrorText(err);
  Discard();
  errno = err;
  return false;
}

bool OutputFile::Open(const std::string& path, Existing existing, mode_t mode) {
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
  const std::string marker = MarkerPath(partial_);
  int mfd = ::open(marker.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (mfd < 0) {
    int err = errno;
    error_ = marker + ": " + OutputErrorText(err);
    partial_.clear();
    errno = err;
    return false;
  }
  fd_ = ::open(partial_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd_ < 0) {
    int err = errno;
    ::close(mfd);
    ::unlink(marker.c_str());
    error_ = partial_ + ": " + OutputErrorText(err);
    partial_.clear();
    errno = err;
    return false;
  }
  struct stat st;
  const bool marked = ::fstat(fd_, &st) == 0 && WriteMarker(mfd, st.st_ino);
  const int err = errno;
  if (::close(mfd) != 0 || !marked) return Fail(marker, marked ? errno : err);
  return true;
}

bool OutputFile::Write(const void* data, size_t size) {
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

bool OutputFile::WriteAt(const void* data, size_t size, off_t at) {
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

bool OutputFile::Commit() {
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
    ::unlink(MarkerPath(partial_).c_str());
    error_ = partial_ + ": " + OutputErrorText(err);
    errno = err;
    return false;
  }
  bool renamed;
  if (existing_ == Existing::kReplace) {
    // A link or a folder that appeared at the place meanwhile is not replaced.
    std::string inTheWay = OutputInTheWay(path_, Existing::kReplace);
    if (!inTheWay.empty()) {
      error_ = path_ + ": " + inTheWay;
      errno = EEXIST;
      renamed = false;
    } else {
      renamed = std::rename(partial_.c_str(), path_.c_str()) == 0;
    }
  } else {
    renamed = RenameNoReplace(partial_, path_);
  }
  const int err = errno;
  if (!renamed) {
    if (error_.empty()) error_ = path_ + ": " + OutputErrorText(err);
    ::unlink(partial_.c_str());
    ::unlink(MarkerPath(partial_).c_str());
    errno = err;
    return false;
  }
  ::unlink(MarkerPath(partial_).c_str());
  SyncFolder(path_);
  partial_.clear();
  return true;
}

void OutputFile::Discard() {
  const int saved = errno;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!partial_.empty()) {
    ::unlink(partial_.c_str());
    ::unlink(MarkerPath(partial_).c_str());
    partial_.clear();
  }
  errno = saved;
}

bool WriteWholeFile(const std::string& path, std::string_view bytes, Existing existing, std::string* why,
                    mode_t mode) {
  OutputFile out;
  bool ok = out.Open(path, existing, mode) && out.Write(bytes) && out.Commit();
  if (!ok && why) *why = out.Error();
  return ok;
}
