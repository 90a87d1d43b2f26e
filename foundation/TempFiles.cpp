#include "foundation/TempFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
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

namespace {

std::string MakeFolderIn(const std::string& root, const std::string& prefix) {
  for (int attempt = 0; attempt < 10000; ++attempt) {
    std::string path = root + prefix + std::to_string(NextRandom());
    if (::mkdir(path.c_str(), 0700) == 0) return path;
    if (errno != EEXIST) return {};
  }
  return {};
}

}  // namespace

std::string MakeTempFolder(const std::string& prefix) { return MakeFolderIn(TempFolder(), prefix); }

std::vector<std::string> WorkFolderRoots() {
  std::vector<std::string> roots;
  auto add = [&roots](const char* dir) {
    if (!dir || !*dir) return;
    std::string d = dir;
    if (d.back() != '/') d += '/';
    for (const std::string& r : roots)
      if (r == d) return;
    roots.push_back(d);
  };
  add(std::getenv("TMPDIR"));
  add("/var/tmp");
  add("/tmp");
  add(std::getenv("XDG_CACHE_HOME"));
  return roots;
}

std::string WorkFolderRoot() {
  std::string best;
  uint64_t bestFree = 0;
  unsigned long bestFs = 0;
  for (const std::string& root : WorkFolderRoots()) {
    struct statvfs vs;
    if (::statvfs(root.c_str(), &vs) != 0 || ::access(root.c_str(), W_OK | X_OK) != 0) continue;
    // Roots on one file system have the same free bytes, whatever was
    // written between the two looks: the first of them stays.
    if (!best.empty() && vs.f_fsid == bestFs) continue;
    const uint64_t freeBytes = uint64_t(vs.f_bavail) * vs.f_frsize;
    if (best.empty() || freeBytes > bestFree) {
      best = root;
      bestFree = freeBytes;
      bestFs = vs.f_fsid;
    }
  }
  return best;
}

std::string MakeWorkFolder(const std::string& prefix) {
  const std::string root = WorkFolderRoot();
  return root.empty() ? std::string() : MakeFolderIn(root, prefix);
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
