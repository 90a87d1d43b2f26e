#include "foundation/TempFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;

namespace {

// Reseeded per attempt from a process-wide counter, so that threads and
// processes started at the same moment do not walk the same names.
uint32_t NextRandom() {
  static std::atomic<uint32_t> counter{0};
  std::seed_seq seq{uint32_t(getpid()), counter.fetch_add(1), uint32_t(std::random_device{}())};
  std::mt19937 gen(seq);
  return gen() % 100000000u;
}

}  // namespace

std::string TempFolder() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = (t && *t) ? t : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::string MakeTempFile(const std::string& ext) {
  for (int attempt = 0; attempt < 10000; ++attempt) {
    std::string path = TempFolder() + "Temp" + std::to_string(NextRandom()) + "." + ext;
    int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) return {};
  }
  return {};
}

std::string MakeTempFolder(const std::string& prefix) {
  for (int attempt = 0; attempt < 10000; ++attempt) {
    std::string path = TempFolder() + prefix + std::to_string(NextRandom());
    if (::mkdir(path.c_str(), 0700) == 0) return path;
    if (errno != EEXIST) return {};
  }
  return {};
}

bool RemoveTree(const std::string& path) {
  if (path.empty()) return true;
  std::error_code ec;
  fs::remove_all(path, ec);
  return !fs::exists(fs::symlink_status(path, ec));
}

TempFile::~TempFile() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
  if (this != &other) {
    if (!path_.empty()) ::unlink(path_.c_str());
    path_ = std::move(other.path_);
    other.path_.clear();
  }
  return *this;
}
