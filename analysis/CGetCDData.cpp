#include "analysis/CGetCDData.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "SafeFile.h"
#include "Writeback.h"
#include "SectorSizes.h"

namespace {

constexpr uint32_t kBlock = kDataSectorSize;

std::string Num(uint64_t n) { return std::to_string(n); }

bool Below(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

// "stem (n).ext" for the n-th try of a name that is taken.
std::string Numbered(const std::string& name, int n) {
  if (n <= 1) return name;
  size_t dot = name.rfind('.');
  if (dot == 0 || dot == std::string::npos) dot = name.size();
  std::string suffix = " (" + std::to_string(n) + ")";
  std::string stem = name.substr(0, dot), ext = name.substr(dot);
  while (!stem.empty() && stem.size() + suffix.size() + ext.size() > CGetCDData::kMaxNameBytes) {
    stem.pop_back();
    while (!stem.empty() && (uint8_t(stem.back()) & 0xC0) == 0x80) stem.pop_back();
  }
  return stem + suffix + ext;
}

bool Exists(int dirFd, const std::string& name) {
  struct stat st;
  return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

// Cuts a UTF-8 text to at most `limit` bytes without splitting a character.
std::string CutUtf8(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t n = limit;
  while (n > 0 && (uint8_t(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

// Opens a folder below the destination one component at a time, never
// through a symbolic link.
class LocalFolders {
 public:
  explicit LocalFolders(int root) : root_(root) {}
  ~LocalFolders() { Forget(); }
  int Open(const std::string& relative) {
    if (relative.empty()) return root_;
    if (fd_ >= 0 && path_ == relative) return fd_;
    Forget();
    int at = root_;
    size_t start = 0;
    while (start <= relative.size()) {
      size_t slash = relative.find('/', start);
      if (slash == std::string::npos) slash = relative.size();
      int next = ::openat(at, relative.substr(start, slash - start).c_str(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (at != root_) ::close(at);
      if (next < 0) return -1;
      at = next;
      start = slash + 1;
    }
    fd_ = at;
    path_ = relative;
    return fd_;
  }

 private:
  void Forget() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int root_;
  int fd_ = -1;
  std::string path_;
};

}  // namespace

std::string SafeLocalName(const std::string& discName, std::string* why) {
  std::string name = discName, reason;
  for (char& c : name) {
    uint8_t u = uint8_t(c);
    if (u < 0x20 || u == 0x7F || c == '/') {
      c = '_';
      reason = "it holds \"/\" or control characters";
    }
  }
  if (name.empty() || name == "." || name == "..") {
    name = name.empty() ? "_" : std::string(name.size(), '_');
    reason = "\"" + discName + "\" cannot be a file name";
  }
  if (name.size() > CGetCDData::kMaxNameBytes) {
    size_t dot = name.rfind('.');
    std::string ext = (dot != std::string::npos && dot > 0 && name.size() - dot <= 16) ? name.substr(dot) : "";
    name = CutUtf8(name.substr(0, name.size() - ext.size()), CGetCDData::kMaxNameBytes - ext.size()) + ext;
    reason = "the name is too long";
  }
  if (why) *why = reason;
  return name;
}

CGetCDData::~CGetCDData() {
  Stop();
  Wait();
  if (namer_.joinable()) namer_.join();
}

std::string CGetCDData::CurrentFile() const {
  std::lock_guard<std::mutex> lock(currentLock_);
  return current_;
}

void CGetCDData::SetCurrent(const std::string& path) {
  std::lock_guard<std::mutex> lock(currentLock_);
  current_ = path;
}

bool CGetCDData::Start(std::vector<UdfEntry> tree, std::vector<std::string> selected, std::string destination) {
  if (worker_.joinable()) return false;
  done_ = false;
  worker_ = std::thread([this, tree = std::move(tree), selected = std::move(selected),
                         destination = std::move(destination)]() { Save(tree, selected, destination); });
  return true;
}

void CGetCDData::Wait() {
  if (worker_.joinable()) worker_.join();
}

bool CGetCDData::Save(const std::vector<UdfEntry>& tree, const std::vector<std::string>& selected,
                      const std::string& destination) {
  done_ = false;
  report_ = GetCDDataReport();
  bytesDone_ = 0;
  bytesTotal_ = 0;
  result_ = Run(tree, selected, destination);
  report_.stopped = stop_.load();
  SetCurrent("");
  done_ = true;
  return result_ && report_.Complete();
}

namespace {

// The disc paths chosen for saving; none chosen means the whole disc.
struct Selection {
  std::set<std::string> paths;

  // An entry saved straight into the destination folder.
  bool IsRoot(const UdfEntry& e) const {
    if (paths.empty()) return e.parentPath.empty();
    return paths.count(e.Path()) && !std::any_of(paths.begin(), paths.end(), [&](const std::string& s) {
             return Below(e.Path(), s);
           });
  }
  bool Includes(const UdfEntry& e) const {
    if (paths.empty()) return true;
    for (const std::string& s : paths)
      if (e.Path() == s || Below(e.Path(), s)) return true;
    return false;
  }
};

// Turns the caller's paths into disc paths, reporting the ones the disc does
// not have. A selection inside another selected folder is saved with that
// folder.
std::set<std::string> ResolveSelection(const std::vector<UdfEntry>& tree, const std::vector<std::string>& selectedIn,
                                       std::vector<std::string>& failed) {
  std::set<std::string> selected;
  std::set<std::string> known;
  for (const UdfEntry& e : tree) known.insert(e.Path());
  for (const std::string& s : selectedIn) {
    std::string path = s;
    while (!path.empty() && path.front() == '/') path.erase(0, 1);
    while (!path.empty() && path.back() == '/') path.pop_back();
    if (path.empty()) {
      selected.clear();
      break;
    }
    if (!known.count(path)) {
      failed.push_back("\"" + s + "\": no such file or folder on the disc");
      continue;
    }
    selected.insert(path);
  }
  return selected;
}

uint64_t BytesSelected(const std::vector<UdfEntry>& tree, const Selection& pick) {
  uint64_t total = 0;
  for (const UdfEntry& e : tree)
    if (!e.folder && pick.Includes(e)) total += e.size;
  return total;
}

// Finds the first free numbered form of `base` in the folder; a folder is
// made there at once, a file's name is only chosen. On failure errno tells why.
bool PlaceName(int dirFd, const std::string& base, bool folder, const std::set<std::string>& taken,
               std::string* name) {
  for (int n = 1; n < 10000; ++n) {
    *name = Numbered(base, n);
    if (taken.count(*name) || Exists(dirFd, *name)) continue;
    if (!folder) return true;  // SaveFile takes the name only if it is still free
    if (::mkdirat(dirFd, name->c_str(), 0755) == 0) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

// The report line of an entry saved under another name, empty when it kept its own.
std::string RenameNote(const UdfEntry& e, const std::string& name, const std::string& base, std::string why,
                       const std::string& localPath) {
  if (name == e.name && !e.nameChanged) return {};
  if (why.empty()) why = e.nameChanged && name == base ? "the disc's name holds \"/\" or NUL, or is \".\" or \"..\""
                                                      : "the name was taken";
  return "\"" + e.Path() + "\" saved as \"" + localPath + "\" (" + why + ")";
}

// The permissions and times a disc with a POSIX view gives an entry. Set-id
// and sticky bits are not taken from a disc.
void RestorePosix(int fd, const UdfEntry& e) {
  if (!e.posix) return;
  ::fchmod(fd, mode_t(e.mode & 0777));
  const timespec times[2] = {{time_t(e.accessed), 0}, {time_t(e.modified), 0}};
  ::futimens(fd, times);
}

}  // namespace

// Where the entries of one save went.
struct CGetCDData::Walk {
  Walk(int root, const std::string& destination, const Selection& pick)
      : folders(root), destination(destination), pick(pick) {}
  LocalFolders folders;
  const std::string& destination;
  const Selection& pick;
  std::map<std::string, std::string> localOf;       // disc folder -> local folder (relative)
  std::map<std::string, std::set<std::string>> used;  // local folder -> names given in this run
  std::set<std::string> lost;                          // disc folders that could not be made
  std::vector<std::pair<std::string, const UdfEntry*>> posixFolders;  // given their modes last
};

bool CGetCDData::Run(const std::vector<UdfEntry>& tree, const std::vector<std::string>& selectedIn,
                     const std::string& destination) {
  if (destination.empty()) {
    report_.failed.push_back("no destination folder was given");
    return false;
  }
  const Selection pick{ResolveSelection(tree, selectedIn, report_.failed)};
  if (!selectedIn.empty() && pick.paths.empty() && !report_.failed.empty()) return false;
  bytesTotal_ = BytesSelected(tree, pick);

  std::error_code ec;
  std::filesystem::create_directories(destination, ec);
  int root = ::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    report_.failed.push_back("the folder " + destination + " cannot be created or opened: " +
                             safefile::ErrorText(ec ? ec.value() : errno));
    return false;
  }
  Walk walk(root, destination, pick);
  bool ok = true;
  destinationError_ = 0;
  size_t left = 0;
  for (const UdfEntry& e : tree) {
    if (destinationError_) {
      if (pick.Includes(e)) ++left;
      continue;
    }
    if (stop_) break;
    if (!pick.Includes(e)) continue;
    if (!SaveEntry(walk, e)) ok = false;
  }
  // Files saved whole keep their names even when the save was stopped.
  if (!NameWaitingFiles()) ok = false;
  if (!TakeNamed()) ok = false;
  waitingFolder_.reset();
  // Folders take their modes and times once nothing more is written into
  // them (a folder without write permission would refuse its own files),
  // the deepest first.
  for (auto it = walk.posixFolders.rbegin(); it != walk.posixFolders.rend(); ++it) {
    const int fd = walk.folders.Open(it->first);
    if (fd >= 0) RestorePosix(fd, *it->second);
  }
  ::close(root);
  if (left) {
    report_.failed.push_back(std::to_string(left) + " further files and folders were not saved: " +
                             safefile::ErrorText(destinationError_));
    ok = false;
  }
  return ok;
}

bool CGetCDData::SaveEntry(Walk& walk, const UdfEntry& e) {
  std::string parentLocal;
  if (!walk.pick.IsRoot(e)) {
    auto it = walk.localOf.find(e.parentPath);
    if (it == walk.localOf.end()) {
      // Its folder's own failure has been reported already.
      const bool reported = walk.lost.count(e.parentPath);
      if (!reported) report_.failed.push_back("\"" + e.Path() + "\": its folder is missing on the disc");
      if (e.folder) walk.lost.insert(e.Path());
      return reported;
    }
    parentLocal = it->second;
  }
  int dirFd = walk.folders.Open(parentLocal);
  if (dirFd < 0) {
    report_.failed.push_back("\"" + e.Path() + "\": the folder " + walk.destination + "/" + parentLocal +
                             " cannot be opened: " + safefile::ErrorText(errno));
    if (e.folder) walk.lost.insert(e.Path());
    return false;
  }
  std::string why;
  const std::string base = SafeLocalName(e.name, &why);
  std::set<std::string>& taken = walk.used[parentLocal];
  std::string name;
  const bool placed = PlaceName(dirFd, base, e.folder, taken, &name);
  const std::string localPath = parentLocal.empty() ? name : parentLocal + "/" + name;
  if (!placed) {
    report_.failed.push_back("\"" + e.Path() + "\" cannot be created in " + walk.destination + ": " +
                             safefile::ErrorText(errno));
    if (e.folder) walk.lost.insert(e.Path());
    return false;
  }
  taken.insert(name);
  const std::string renamed = RenameNote(e, name, base, why, localPath);
  if (e.link) {
    // A link is made as the link it is; its target is never written.
    if (::symlinkat(e.linkTarget.c_str(), dirFd, name.c_str()) != 0) {
      report_.failed.push_back("\"" + e.Path() + "\": the link cannot be made: " + safefile::ErrorText(errno));
      return false;
    }
    const timespec times[2] = {{time_t(e.accessed), 0}, {time_t(e.modified), 0}};
    if (e.posix) ::utimensat(dirFd, name.c_str(), times, AT_SYMLINK_NOFOLLOW);
    ++report_.files;
    if (!renamed.empty()) report_.renamed.push_back(renamed);
    return true;
  }
  if (e.folder) {
    walk.localOf[e.Path()] = localPath;
    if (e.posix) walk.posixFolders.emplace_back(localPath, &e);
    ++report_.folders;
    if (!renamed.empty()) report_.renamed.push_back(renamed);
    return true;
  }
  SetCurrent(e.Path());
  // The file's new name is reported once it has that name.
  return SaveFile(dirFd, name, e, localPath, renamed);
}

bool CGetCDData::SaveFile(int dirFd, const std::string& name, const UdfEntry& entry, const std::string& localPath,
                          const std::string& renamed) {
  std::string partial;
  int fd = -1;
  for (int n = 0; n < 1000 && fd < 0; ++n) {
    partial = ".varnex-part-" + Num(uint64_t(::getpid())) + "-" + Num(uint64_t(n)) + "-" + CutUtf8(name, 180);
    fd = ::openat(dirFd, partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    report_.failed.push_back("\"" + entry.Path() + "\": cannot create " + localPath + ": " + safefile::ErrorText(errno));
    return false;
  }
  auto discard = [&]() {
    ::close(fd);
    ::unlinkat(dirFd, partial.c_str(), 0);
  };
  std::string why;
  if (!CopyData(fd, entry, &why)) {
    discard();
    if (!stop_) report_.failed.push_back("\"" + entry.Path() + "\" not saved: " + why);
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    report_.failed.push_back("\"" + entry.Path() + "\" not saved: " + safefile::ErrorText(errno));
    discard();
    return false;
  }
  if (uint64_t(st.st_size) != entry.size) {
    report_.failed.push_back("\"" + entry.Path() + "\" not saved: " + Num(uint64_t(st.st_size)) +
                             " bytes were written of " + Num(entry.size));
    discard();
    return false;
  }
  RestorePosix(fd, entry);
  if (::close(fd) != 0) {
    report_.failed.push_back("\"" + entry.Path() + "\" not saved: " + safefile::ErrorText(errno));
    ::unlinkat(dirFd, partial.c_str(), 0);
    return false;
  }
  std::shared_ptr<const int> folder = WaitingFolder(dirFd, localPath);
  if (!folder) {
    report_.failed.push_back("\"" + entry.Path() + "\" not saved: " + safefile::ErrorText(errno));
    ::unlinkat(dirFd, partial.c_str(), 0);
    return false;
  }
  waiting_.push_back({std::move(folder), partial, name, entry.Path(), localPath, renamed, entry.size});
  waitingBytes_ += entry.size;
  if (waiting_.size() >= kMaxWaitingFiles || waitingBytes_ >= kMaxWaitingBytes) return NameWaitingFiles();
  return true;
}

std::shared_ptr<const int> CGetCDData::WaitingFolder(int dirFd, const std::string& localPath) {
  const size_t slash = localPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : localPath.substr(0, slash);
  if (waitingFolder_ && waitingFolderPath_ == folder) return waitingFolder_;
  // The walk's own handle moves on to other folders; the waiting files keep one of their own.
  const int keep = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
  if (keep < 0) return nullptr;
  waitingFolder_ = std::shared_ptr<const int>(new int(keep), [](const int* fd) {
    ::close(*fd);
    delete fd;
  });
  waitingFolderPath_ = folder;
  return waitingFolder_;
}

bool CGetCDData::NameWaitingFiles() {
  const bool ok = TakeNamed();
  if (waiting_.empty()) return ok;
  namer_ = std::thread([this, batch = std::move(waiting_)]() { named_ = NameBatch(batch); });
  waiting_.clear();
  waitingBytes_ = 0;
  return ok;
}

bool CGetCDData::TakeNamed() {
  if (!namer_.joinable()) return true;
  namer_.join();
  Named named = std::move(named_);
  named_ = Named();
  report_.files += named.files;
  report_.bytes += named.bytes;
  report_.renamed.insert(report_.renamed.end(), named.renamed.begin(), named.renamed.end());
  report_.failed.insert(report_.failed.end(), named.failed.begin(), named.failed.end());
  return named.failed.empty();
}

CGetCDData::Named CGetCDData::NameBatch(const std::vector<Waiting>& batch) const {
  Named named;
  // One flush makes every file of the batch durable before any takes its name.
  const bool synced = ::syncfs(*batch.front().dir) == 0;
  const int err = errno;
  for (const Waiting& w : batch) {
    const int dirFd = *w.dir;
    if (synced && namingHook_) namingHook_(w.localPath);
    if (!synced) {
      named.failed.push_back("\"" + w.discPath + "\" not saved: " + safefile::ErrorText(err));
      ::unlinkat(dirFd, w.partial.c_str(), 0);
    } else if (::renameat2(dirFd, w.partial.c_str(), dirFd, w.name.c_str(), RENAME_NOREPLACE) != 0) {
      // The complete file takes its name only when nothing has that name.
      named.failed.push_back("\"" + w.discPath + "\" not saved as " + w.localPath + ": " + safefile::ErrorText(errno));
      ::unlinkat(dirFd, w.partial.c_str(), 0);
    } else {
      ++named.files;
      named.bytes += w.size;
      if (!w.renamed.empty()) named.renamed.push_back(w.renamed);
    }
  }
  return named;
}

void CGetCDData::NoteDestinationError(int err) {
  if (err == ENOSPC || err == EDQUOT || err == EROFS || err == EIO) destinationError_ = err;
}

bool CGetCDData::CopyData(int fd, const UdfEntry& entry, std::string* why) {
  if (entry.embedded) {
    if (entry.inlineData.size() != entry.size) {
      *why = "its data kept inside the file entry is cut short";
      return false;
    }
    if (!safefile::WriteAll(fd, entry.inlineData.data(), entry.inlineData.size())) {
      NoteDestinationError(errno);
      *why = safefile::ErrorText(errno);
      return false;
    }
    bytesDone_ += entry.size;
    if (hook_) hook_(*this);
    return true;
  }
  uint64_t listed = 0;
  for (const auto& run : entry.sectors) listed += run.second;
  if (listed != entry.size) {
    *why = "its extents hold " + Num(listed) + " bytes, not " + Num(entry.size);
    return false;
  }
  const uint64_t end = source_->SectorCount();
  std::vector<uint8_t> buffer(size_t(kChunkSectors) * kBlock);
  off_t written = 0;
  for (const auto& run : entry.sectors) {
    const uint64_t sectors = (run.second + kBlock - 1) / kBlock;
    if (end != 0 && run.first + sectors > end) {
      *why = "its data lies past the end of the disc (sector " + Num(run.first) + ")";
      return false;
    }
    uint64_t left = run.second;
    for (uint64_t done = 0; done < sectors; done += kChunkSectors) {
      if (stop_) {
        *why = "stopped";
        return false;
      }
      const uint32_t n = uint32_t(std::min<uint64_t>(kChunkSectors, sectors - done));
      const uint32_t at = uint32_t(run.first + done);
      if (!source_->ReadSectors(at, n, buffer.data())) {
        // Find the sector that fails, so the user learns where the disc is damaged.
        uint32_t bad = at;
        for (uint32_t i = 0; i < n; ++i)
          if (!source_->ReadSectors(at + i, 1, buffer.data())) {
            bad = at + i;
            break;
          }
        *why = "sector " + Num(bad) + " cannot be read";
        return false;
      }
      const size_t bytes = size_t(std::min<uint64_t>(left, uint64_t(n) * kBlock));
      if (!safefile::WriteAll(fd, buffer.data(), bytes)) {
        NoteDestinationError(errno);
        *why = safefile::ErrorText(errno);
        return false;
      }
      safefile::StartWriteback(fd, written, bytes);
      written += off_t(bytes);
      left -= bytes;
      bytesDone_ += bytes;
      if (hook_) hook_(*this);
    }
  }
  return true;
}
