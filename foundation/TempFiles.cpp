#include "foundation/TempFiles.h"

#include "ProcessStart.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

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

// "_p<pid>_<start>" of this process; made anew after a fork.
std::string OwnerStamp() {
  const pid_t pid = ::getpid();
  std::string start = ProcessStartTime(pid);
  return "_p" + std::to_string(pid) + "_" + (start.empty() ? "0" : start);
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The owner a name of ours carries: "<prefix><random>_p<pid>_<start>" with an
// optional ".<ext>". False for any other name.
bool OwnerOf(const std::string& name, pid_t* pid, std::string* start) {
  const size_t at = name.rfind("_p");
  if (at == std::string::npos || at == 0 || !std::isdigit(static_cast<unsigned char>(name[at - 1]))) return false;
  std::string rest = name.substr(at + 2);
  const size_t dot = rest.find('.');
  if (dot != std::string::npos) {
    const std::string ext = rest.substr(dot + 1);
    if (ext.empty() || ext.find_first_of("./_") != std::string::npos) return false;
    rest.erase(dot);
  }
  const size_t sep = rest.find('_');
  if (sep == std::string::npos) return false;
  const std::string pidText = rest.substr(0, sep);
  *start = rest.substr(sep + 1);
  if (!AllDigits(pidText) || !AllDigits(*start) || pidText.size() > 9) return false;
  *pid = pid_t(std::stol(pidText));
  return *pid > 0;
}

// Whether the run that made a name still runs. When it cannot be told, it
// does: nothing is removed on a guess.
bool OwnerRuns(pid_t pid, const std::string& start) {
  const std::string now = ProcessStartTime(pid);
  if (!now.empty()) return start == "0" || now == start;
  return ::kill(pid, 0) == 0 || errno == EPERM;
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
    std::string path = TempFolder() + "Temp" + std::to_string(NextRandom()) + OwnerStamp() + "." + ext;
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
    std::string path = root + prefix + std::to_string(NextRandom()) + OwnerStamp();
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

int RemoveAbandonedTempFiles() {
  std::vector<std::string> roots = WorkFolderRoots();
  if (std::find(roots.begin(), roots.end(), TempFolder()) == roots.end()) roots.push_back(TempFolder());
  const uid_t me = ::geteuid();
  int removed = 0;
  for (const std::string& root : roots) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root, ec)) {
      const std::string name = entry.path().filename().string();
      pid_t pid = 0;
      std::string start;
      if (!OwnerOf(name, &pid, &start)) continue;
      struct stat st;
      const std::string path = entry.path().string();
      if (::lstat(path.c_str(), &st) != 0 || st.st_uid != me) continue;
      if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) continue;  // links and the like are never ours
      if (OwnerRuns(pid, start)) continue;
      if (RemoveTree(path)) ++removed;
    }
  }
  return removed;
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
