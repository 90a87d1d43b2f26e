#include "authoring/CFileManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <cerrno>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <cstring>
#include <set>

#include "authoring/FileList.h"
#include "authoring/ImportedEntry.h"
#include "authoring/ProjectFile.h"
#include "authoring/StagingFolder.h"
#include "ByteFields.h"
#include "SafeFile.h"

namespace fs = std::filesystem;

namespace {

// Splits a disc path "\a\b\" into its names; false for a path that could
// lead outside the staging root or is otherwise unusable.
bool SafeDiscComponents(const std::string& discPath, std::vector<std::string>* parts) {
  parts->clear();
  if (discPath.empty() || discPath[0] != '\\') return false;
  size_t pos = 1;
  while (pos < discPath.size()) {
    size_t next = discPath.find('\\', pos);
    if (next == std::string::npos) next = discPath.size();
    std::string name = discPath.substr(pos, next - pos);
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos)
      return false;
    parts->push_back(name);
    pos = next + 1;
  }
  return true;
}

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool ReadExact(FILE* f, void* buffer, size_t n) { return std::fread(buffer, 1, n, f) == n; }

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

// The head of a data or MP3 project file: its kind, its label and the length
// of its tree records, the file left at the first record. False (`error`)
// for anything else or a damaged head.
bool ReadDataProjectHead(FILE* f, const std::string& projectPath, uint8_t* kind, std::string* label,
                         uint8_t* options, uint64_t* treeLength, std::string* error) {
  uint8_t head[project::kDiscHeaderSize];
  if (!f || !ReadExact(f, head, 19)) {
    SetError(error, "cannot read the project file " + projectPath);
    return false;
  }
  if (head[4] != project::kDataDisc && head[4] != project::kMp3Disc) {
    SetError(error, projectPath + " is not a data or MP3 project");
    return false;
  }
  *kind = head[4];
  uint8_t rawLabel[project::kLabelField + 1] = {};
  std::fseek(f, long(project::kLabelOffset), SEEK_SET);
  size_t labelBytes = std::fread(rawLabel, 1, project::kLabelField, f);
  label->assign(reinterpret_cast<char*>(rawLabel), strnlen(reinterpret_cast<char*>(rawLabel), labelBytes));
  constexpr size_t kOptionsAt = project::kDiscOptionsOffset - project::kLabelOffset;
  *options = labelBytes > kOptionsAt ? rawLabel[kOptionsAt] : 0;
  uint8_t length[4];
  uint32_t mark = bytes::LE32(head);
  if (mark > (1u << 30) || std::fseek(f, long(mark) + 192, SEEK_SET) != 0 || !ReadExact(f, length, 4)) {
    SetError(error, projectPath + " is damaged: its tree length cannot be read");
    return false;
  }
  *treeLength = bytes::LE32(length);
  return true;
}


struct FolderContent {
  std::vector<std::pair<std::string, uint64_t>> files;  // plain files (or links to them) and sizes
  std::vector<std::pair<std::string, bool>> folders;    // subfolders (or links to them: true)
  std::vector<std::string> others;   // devices, pipes, sockets, dangling links
  mode_t mode = 0;                   // the folder's own permissions
  bool unreadable = false;           // the folder itself could not be listed
};

// The content of a source folder, each list sorted by name so that additions
// come out the same on every run.
FolderContent ReadSourceFolder(const std::string& folder) {
  FolderContent c;
  DIR* dir = opendir(folder.c_str());
  struct stat own;
  if (!dir || fstat(dirfd(dir), &own) != 0) {
    if (dir) closedir(dir);
    c.unreadable = true;
    return c;
  }
  c.mode = own.st_mode;
  errno = 0;
  while (dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    // Relative to the open folder: the folder's own path is not walked
    // again for each of its entries.
    struct stat st;
    if (fstatat(dirfd(dir), e->d_name, &st, 0) != 0) {
      c.others.emplace_back(e->d_name);
    } else if (S_ISDIR(st.st_mode)) {
      bool link = e->d_type == DT_LNK;
      struct stat lst;
      if (e->d_type == DT_UNKNOWN)
        link = fstatat(dirfd(dir), e->d_name, &lst, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(lst.st_mode);
      c.folders.emplace_back(e->d_name, link);
    } else if (S_ISREG(st.st_mode)) {
      c.files.emplace_back(e->d_name, uint64_t(st.st_size));
    } else {
      c.others.emplace_back(e->d_name);
    }
    errno = 0;
  }
  if (errno != 0) c.unreadable = true;
  closedir(dir);
  std::sort(c.files.begin(), c.files.end());
  std::sort(c.folders.begin(), c.folders.end());
  return c;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder == "/" ? folder + name : folder + "/" + name;
}

}  // namespace

// The folders of a source tree read in the order the walk takes them (depth
// first, by name), while the walk makes the staging folders: the two wait on
// different things. Links are not followed here; the walk reads what lies
// behind them itself. Reading has no effect of its own: what the walk
// passes over is thrown away.
class CFileManager::ReadAhead {
 public:
  ReadAhead(const std::string& top, const std::string& real, const std::string& stagingReal,
            const std::atomic<bool>* stop)
      : stop_(stop), thread_([this, top, real, stagingReal] {
          Walk(top, real, stagingReal);
          std::lock_guard<std::mutex> hold(lock_);
          done_ = true;
          changed_.notify_all();
        }) {}
  ~ReadAhead() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      quit_ = true;
      changed_.notify_all();
    }
    thread_.join();
  }

  // The content of `folder`, which must be one the walk reaches without a
  // link; read here when the reader has passed it by.
  FolderContent Take(const std::string& folder) {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      while (!read_.empty()) {
        std::pair<std::string, FolderContent> next = std::move(read_.front());
        read_.pop_front();
        changed_.notify_all();
        if (next.first == folder) return std::move(next.second);
      }
      if (done_) break;
      changed_.wait(hold);
    }
    hold.unlock();
    return ReadSourceFolder(folder);
  }

 private:
  static constexpr size_t kAhead = 64;  // folders read and not yet taken

  void Walk(const std::string& folder, const std::string& real, const std::string& stagingReal) {
    FolderContent content = ReadSourceFolder(folder);
    std::vector<std::string> below;
    for (const auto& [name, link] : content.folders)
      if (!link && name.find('\\') == std::string::npos) below.push_back(name);
    {
      std::unique_lock<std::mutex> hold(lock_);
      changed_.wait(hold, [this] { return quit_ || *stop_ || read_.size() < kAhead; });
      if (quit_ || *stop_) return;
      read_.emplace_back(folder, std::move(content));
      changed_.notify_all();
    }
    for (const std::string& name : below) {
      const std::string subReal = JoinPath(real, name);
      if (subReal == stagingReal) continue;  // the walk never enters the project
      Walk(folder + "/" + name, subReal, stagingReal);
      std::lock_guard<std::mutex> hold(lock_);
      if (quit_ || *stop_) return;
    }
  }

  const std::atomic<bool>* stop_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::pair<std::string, FolderContent>> read_;
  bool done_ = false;
  bool quit_ = false;
  std::thread thread_;  // last: it starts once the rest is ready
};

namespace {

bool IsMp3Name(const std::string& name) {
  std::string t = name;
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.pop_back();
  return t.size() >= 4 && strcasecmp(t.c_str() + t.size() - 4, ".MP3") == 0;
}

std::string TrimName(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

bool HasControlCharacter(const std::string& name) {
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

std::string ControlCharactersReplaced(std::string name) {
  for (char& c : name)
    if ((unsigned char)c < 0x20 || c == 0x7F) c = '_';
  return name;
}

// "name~N.ext" (files) or "name~N" (folders), as the layouts number names.
std::string Numbered(const std::string& name, bool isFolder, int n) {
  const std::string suffix = "~" + std::to_string(n);
  const size_t dot = isFolder ? std::string::npos : name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name + suffix;
  return name.substr(0, dot) + suffix + name.substr(dot);
}

std::string RealPath(const std::string& p) {
  std::error_code ec;
  fs::path r = fs::weakly_canonical(p, ec);
  return ec ? p : r.string();
}

// Whole list entries grow in memory up to this many bytes before they are
// written: a folder of any size costs a few writes, not one per entry.
constexpr size_t kListChunk = size_t(1) << 20;

}  // namespace

void SizeTotalListener::SizePiece(uint32_t wParam, uint32_t lParam) {
  (void)wParam;
  total_ += lParam;
}

CFileManager::~CFileManager() {
  Stop();
  Wait();
}

std::string CFileManager::CurrentFileText() const {
  std::lock_guard<std::mutex> lock(textLock_);
  return currentFileText_;
}

void CFileManager::SetCurrentFileText(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(textLock_);
    currentFileText_ = text;
  }
  if (listener_) listener_->CurrentFileChanged(text);
}

void CFileManager::ReportSize(uint64_t bytes) {
  if (!listener_) return;
  for (uint64_t n = bytes / kSizePiece; n > 0; --n) listener_->SizePiece(0, kSizePiece);
  listener_->SizePiece(1, uint32_t(bytes % kSizePiece));
}

void CFileManager::Refuse(const std::string& path, AddRefusal reason) {
  if (listener_) listener_->Refused(path, reason);
}

std::string CFileManager::GetItemPath(ProjectTree* tree, TreeItem item) {
  std::vector<std::string> names;
  for (TreeItem i = item; i && tree->Parent(i); i = tree->Parent(i)) names.push_back(tree->Text(i));
  std::string path = stagingRoot_;
  for (auto it = names.rbegin(); it != names.rend(); ++it) path += "/" + *it;
  return path;
}

int CFileManager::FolderExists(const std::string& path) {
  struct stat st;
  return (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? 2 : 0;
}

int CFileManager::FileNameExists(const std::string& stagingFolder, const std::string& name) {
  std::string list = FindFileList(stagingFolder);
  if (list.empty()) return 0;
  FileListReader reader(list);
  FileListEntry e;
  while (reader.Next(&e))
    if (e.sourcePath == name || e.discName == name) return 2;
  return 0;
}

void CFileManager::RemoveChildItem(ProjectTree* tree, TreeItem parent, const std::string& name) {
  if (!tree || !parent) return;
  for (TreeItem child : tree->Children(parent)) {
    if (tree->Text(child) == name) {
      tree->Remove(child);
      return;
    }
  }
}

bool CFileManager::ReplaceFolder(ProjectTree* tree, TreeItem parent, const std::string& target) {
  if (FolderExists(target) != 2) return false;
  std::error_code ec;
  fs::remove_all(target, ec);
  RemoveChildItem(tree, parent, NamePart(target));
  return true;
}

CFileManager::TakenNames CFileManager::NamesIn(const std::string& stagingFolder) {
  TakenNames taken;
  std::vector<FileListEntry> listed;
  ReadFileList(stagingFolder, &listed);
  for (const FileListEntry& e : listed) {
    taken.files.insert(e.discName);
    taken.sources.insert(e.sourcePath);
  }
  for (const StagingEntry& e : EnumerateStagingFolder(stagingFolder))
    if (e.kind == StagingEntry::kFolder) taken.folders.insert(e.name);
  return taken;
}

std::string CFileManager::WithoutControlCharacters(const std::string& name, const std::string& source) {
  if (!HasControlCharacter(name)) return name;
  const std::string discName = ControlCharactersReplaced(name);
  if (listener_) listener_->Renamed(source, discName, AddRenaming::kControlCharacter);
  return discName;
}

std::string CFileManager::DiscNameFor(const std::string& source, const std::string& name, bool isFolder,
                                      TakenNames* taken) {
  std::string discName = WithoutControlCharacters(name, source);
  // Otherwise nothing consults the names taken.
  if (!keepEveryPath_) return discName;
  if (!isFolder && taken->sources.count(source)) return "";
  auto used = [&](const std::string& n) { return taken->files.count(n) || taken->folders.count(n); };
  const bool merges = isFolder && taken->folders.count(discName);
  if (!merges && used(discName)) {
    std::string numbered;
    for (int n = 1; used(numbered = Numbered(discName, isFolder, n)); ++n) {
    }
    discName = numbered;
    if (listener_) listener_->Renamed(source, discName, AddRenaming::kNameTaken);
  }
  (isFolder ? taken->folders : taken->files).insert(discName);
  if (!isFolder) taken->sources.insert(source);
  return discName;
}

bool CFileManager::AddPath(ProjectTree* tree, TreeItem parent, const std::string& sourcePath,
                           const std::string& stagingFolder, const std::string& discName) {
  if (stop_) return false;
  if (!sourcePath.empty() && sourcePath[0] == '<') return AddImportedEntry(stagingFolder, sourcePath);
  std::string source = StripTrailing(sourcePath);
  std::string name = NamePart(source);
  struct stat st;
  if (source.empty() || stat(source.c_str(), &st) != 0) {
    Refuse(sourcePath, AddRefusal::kMissing);
    return false;
  }
  if (name.empty() || name == "/") name = "Root";
  if (name.find('\\') != std::string::npos) {
    Refuse(sourcePath, AddRefusal::kBackslash);
    return false;
  }
  TakenNames taken;
  if (keepEveryPath_) taken = NamesIn(stagingFolder);
  if (S_ISDIR(st.st_mode)) {
    std::string target = stagingFolder + "/" + DiscNameFor(source, name, true, &taken);
    bool saved = suppressSizes_;
    if (!keepEveryPath_ && ReplaceFolder(tree, parent, target)) suppressSizes_ = true;
    bool ok = AddFolderTree(tree, parent, source, target);
    suppressSizes_ = saved;
    if (tree && parent) tree->Expand(parent);
    return ok;
  }
  if (!keepEveryPath_ && FileNameExists(stagingFolder, name) == 2) return true;
  if (mode_ == kModeMp3 && !IsMp3Name(name)) return true;
  if (!discName.empty()) return AddFile(source, stagingFolder, discName);
  const std::string chosen = DiscNameFor(source, name, false, &taken);
  return chosen.empty() || AddFile(source, stagingFolder, chosen);
}

bool CFileManager::AddFolderTree(ProjectTree* tree, TreeItem parent, const std::string& sourceFolder,
                                 const std::string& targetFolder) {
  if (stop_) return false;
  std::string source = StripTrailing(sourceFolder);
  if (strcasecmp(source.c_str(), StripTrailing(currentItemPath_).c_str()) == 0) {
    Refuse(sourceFolder, AddRefusal::kProjectFolder);
    return false;
  }
  std::set<std::string> onPath;
  const std::string real = RealPath(source);
  const std::string stagingReal = stagingRoot_.empty() ? std::string() : RealPath(stagingRoot_);
  ReadAhead ahead(source, real, stagingReal, &stop_);
  return AddFolderWalk(tree, parent, source, real, targetFolder, stagingReal, &onPath, &ahead);
}

bool CFileManager::AddFolderWalk(ProjectTree* tree, TreeItem parent, const std::string& source,
                                 const std::string& real, const std::string& targetFolder,
                                 const std::string& stagingReal, std::set<std::string>* onPath,
                                 ReadAhead* ahead) {
  // The staging tree is never added into itself. (A folder that holds it may
  // be added; the walk skips the staging root.)
  if (!stagingReal.empty() && (real == stagingReal || real.rfind(stagingReal + "/", 0) == 0)) {
    Refuse(source, AddRefusal::kProjectFolder);
    return false;
  }
  if (!keepEveryPath_) ReplaceFolder(tree, parent, targetFolder);
  std::vector<Subfolder> subfolders;
  // Names in the folder once its files are listed: a subfolder meeting a
  // file of its name is numbered, one meeting a folder merges with it.
  TakenNames taken;
  if (!AddFolderFiles(source, targetFolder, ahead, &subfolders, &taken)) return false;
  TreeItem item = tree && parent ? tree->Insert(parent, NamePart(targetFolder)) : nullptr;

  // Folders already on the way down: followed links may lead back up.
  onPath->insert(real);
  bool ok = true;
  for (const Subfolder& sub : subfolders) {
    if (stop_) {
      ok = false;
      break;
    }
    std::string subSource = source + "/" + sub.name;
    // Below a real path only a link leads anywhere else; asking the system
    // for every folder's real path cost more than reading the folder.
    std::string subReal = sub.link ? RealPath(subSource) : JoinPath(real, sub.name);
    if (subReal == stagingReal) continue;  // never copy the project into itself
    if (onPath->count(subReal)) {
      Refuse(subSource, AddRefusal::kLoop);
      continue;
    }
    if (sub.name.find('\\') != std::string::npos) {
      Refuse(subSource, AddRefusal::kBackslash);
      continue;
    }
    const std::string subName = DiscNameFor(subSource, sub.name, true, &taken);
    // What lies behind a link is not read ahead.
    ok = AddFolderWalk(tree, item, subSource, subReal, targetFolder + "/" + subName, stagingReal, onPath,
                       sub.link ? nullptr : ahead) && ok;
  }
  onPath->erase(real);
  return ok;
}

bool CFileManager::AppendListUnits(const std::string& listPath, const std::string& units) {
  const int fd = ::open(listPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  size_t done = 0;
  while (done < units.size()) {
    const ssize_t n = ::write(fd, units.data() + done, units.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  bool ok = done == units.size();
  // Half an entry would make the whole list unreadable: the entries before
  // stay as they were.
  if (!ok && done > 0 && ftruncate(fd, st.st_size) != 0) ok = false;
  return ::close(fd) == 0 && ok;
}

bool CFileManager::AddFolderFiles(const std::string& sourceFolder, const std::string& targetFolder,
                                  ReadAhead* ahead, std::vector<Subfolder>* subfolders, TakenNames* taken) {
  // A folder made here is empty: there is no list or folder in it to read.
  const bool fresh = ::mkdir(targetFolder.c_str(), 0777) == 0;
  if (!fresh) {
    std::error_code ec;
    fs::create_directories(targetFolder, ec);
    if (FolderExists(targetFolder) != 2) {
      Refuse(targetFolder, AddRefusal::kNotWritable);
      return false;
    }
  }
  currentItemPath_ = targetFolder;

  FolderContent content = ahead ? ahead->Take(sourceFolder) : ReadSourceFolder(sourceFolder);
  struct stat st;
  if (!content.unreadable) chmod(targetFolder.c_str(), (content.mode & 0777) | 0700);
  else if (stat(sourceFolder.c_str(), &st) == 0) chmod(targetFolder.c_str(), (st.st_mode & 0777) | 0700);
  // A folder that cannot be listed would otherwise stand on the disc empty.
  if (content.unreadable) {
    Refuse(sourceFolder, AddRefusal::kUnreadableFolder);
    return false;
  }
  for (const std::string& other : content.others)
    Refuse(sourceFolder + "/" + other, AddRefusal::kNotPlainFile);
  subfolders->clear();
  for (const auto& [name, link] : content.folders) subfolders->push_back({name, link});

  // A subfolder of the source stands in the staging folder once the walk
  // reaches it; a file does not take its name. The walk itself then sees
  // the folder's names as they stand (files listed, folders made).
  std::vector<std::string> reserved;
  if (keepEveryPath_) {
    if (!fresh) *taken = NamesIn(targetFolder);
    for (const auto& sub : content.folders)
      if (taken->folders.insert(sub.first).second) reserved.push_back(sub.first);
  }
  auto unreserve = [&] {
    for (const std::string& name : reserved) taken->folders.erase(name);
  };
  if (content.files.empty()) {
    unreserve();
    return true;
  }

  std::string listPath = fresh ? std::string() : FindFileList(targetFolder);
  if (listPath.empty()) listPath = targetFolder + "/" + filels::kFileName;
  // The entries in memory, told to the listener once they are in the list.
  std::string units;
  std::vector<std::pair<std::string, uint64_t>> listed;
  units.reserve(std::min(kListChunk, content.files.size() * filels::kEntrySize) + filels::kEntrySize);
  auto flush = [&] {
    if (units.empty()) return true;
    if (!AppendListUnits(listPath, units)) {
      Refuse(listPath, AddRefusal::kNotWritable);
      return false;
    }
    for (const auto& [name, size] : listed) {
      SetCurrentFileText(name);
      if (!suppressSizes_) ReportSize(size);
    }
    units.clear();
    listed.clear();
    return true;
  };
  bool ok = true;
  std::string source = sourceFolder + "/";
  const size_t stem = source.size();
  for (const auto& [sourceName, size] : content.files) {
    if (stop_) {
      ok = false;
      break;
    }
    if (mode_ == kModeMp3 && !IsMp3Name(sourceName)) continue;
    source.resize(stem);
    source += sourceName;
    if (sourceName.find('\\') != std::string::npos) {
      Refuse(source, AddRefusal::kBackslash);
      continue;
    }
    if (maxFileSize_ && size > maxFileSize_) {
      Refuse(source, AddRefusal::kTooLargeForCd);
      continue;
    }
    std::string name = DiscNameFor(source, sourceName, false, taken);
    if (name.empty()) continue;  // listed there already
    if (!AppendFileListUnits(source, name, &units)) {
      Refuse(source, AddRefusal::kNotWritable);
      ok = false;
      break;
    }
    listed.emplace_back(std::move(name), size);
    if (units.size() >= kListChunk && !flush()) {
      ok = false;
      break;
    }
  }
  if (!flush()) ok = false;
  unreserve();
  return ok;
}

bool CFileManager::AddFile(const std::string& sourcePath, const std::string& stagingFolder,
                           const std::string& discName) {
  struct stat st;
  if (stat(sourcePath.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (!S_ISREG(st.st_mode)) {
    Refuse(sourcePath, AddRefusal::kNotPlainFile);
    return false;
  }
  uint64_t size = uint64_t(st.st_size);
  if (maxFileSize_ && size > maxFileSize_) {
    Refuse(sourcePath, AddRefusal::kTooLargeForCd);
    return false;
  }
  std::string name = TrimName(discName);
  if (name.empty()) name = NamePart(sourcePath);
  if (EncodeFileListEntry({sourcePath, name}).empty()) {
    Refuse(sourcePath, AddRefusal::kNameTooLong);
    return false;
  }
  if (!AppendFileListEntry(stagingFolder, {sourcePath, name})) {
    Refuse(sourcePath, AddRefusal::kNotWritable);
    return false;
  }
  SetCurrentFileText(name);
  if (!suppressSizes_) ReportSize(size);
  return true;
}

bool CFileManager::AddImportedEntry(const std::string& stagingFolder, const std::string& descriptor) {
  ImportedEntry e;
  if (!ParseImportedEntry(descriptor, &e)) return false;
  if (e.name.find('/') != std::string::npos || e.name == "." || e.name == "..") return false;
  if (e.kind == ImportedEntry::kFolder) {
    std::error_code ec;
    fs::create_directories(stagingFolder + "/" + e.name, ec);
    return FolderExists(stagingFolder + "/" + e.name) == 2;
  }
  std::error_code ec;
  fs::create_directories(stagingFolder, ec);
  if (FileNameExists(stagingFolder, e.name) == 2) return true;
  return AppendFileListEntry(stagingFolder, {descriptor, e.name});
}

void CFileManager::RecountSizes(const std::string& folder) {
  for (const StagingEntry& entry : EnumerateStagingFolder(folder)) {
    if (stop_) return;
    std::string path = folder + "/" + entry.name;
    if (entry.kind == StagingEntry::kFolder) {
      RecountSizes(path);
      continue;
    }
    FileListReader reader(path);
    FileListEntry e;
    while (reader.Next(&e)) {
      struct stat st;
      if (!e.IsImported() && stat(e.sourcePath.c_str(), &st) == 0) ReportSize(uint64_t(st.st_size));
    }
  }
}

void CFileManager::BuildTreeItems(ProjectTree* tree, TreeItem parent, const std::string& folder) {
  for (const StagingEntry& entry : EnumerateStagingFolder(folder)) {
    if (stop_) return;
    if (entry.kind != StagingEntry::kFolder) continue;
    TreeItem item = tree->Insert(parent, entry.name);
    SetCurrentFileText(kCreateTreeText);
    BuildTreeItems(tree, item, folder + "/" + entry.name);
  }
}

bool CFileManager::StartWorker(std::function<bool()> work, Done done) {
  if (busy_.exchange(true)) return false;
  if (worker_.joinable()) worker_.join();
  stop_ = false;
  worker_ = std::thread([this, work = std::move(work), done = std::move(done)] {
    bool ok = work();
    busy_ = false;
    if (done) done(ok);
  });
  return true;
}

bool CFileManager::StartAddPaths(ProjectTree* tree, TreeItem parent, const std::string& stagingFolder,
                                 std::vector<std::string> paths, Done done) {
  return StartWorker(
      [this, tree, parent, stagingFolder, paths = std::move(paths)] {
        bool ok = true;
        for (const std::string& p : paths) {
          if (stop_) return false;
          ok = AddPath(tree, parent, p, stagingFolder) && ok;
        }
        return ok;
      },
      std::move(done));
}

void CFileManager::Wait() {
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

bool CFileManager::LoadDataProject(ProjectTree* tree, const std::string& projectPath,
                                   std::string* label, std::string* error) {
  int fd = safefile::OpenForReading(projectPath, nullptr);  // a FIFO or device is refused, not waited on
  File f(fd >= 0 ? ::fdopen(fd, "rb") : nullptr);
  if (fd >= 0 && !f) ::close(fd);
  uint8_t projectKind = 0;
  std::string name;
  uint64_t remaining = 0;
  if (!ReadDataProjectHead(f.get(), projectPath, &projectKind, &name, &discOptions_, &remaining, error)) return false;
  if (label) *label = name;
  mode_ = projectKind == project::kMp3Disc ? kModeMp3 : kModeData;
  if (tree) {
    tree->Remove(tree->Root());
    tree->SetText(tree->Root(), name);
  }
  bool complete = true;
  const std::string root = StripTrailing(stagingRoot_);
  std::vector<std::string> parts;
  while (remaining > 0 && !stop_) {
    uint8_t kind, len[2];
    std::string a, b;
    auto readText = [&](std::string* text) {
      if (!ReadExact(f.get(), len, 2)) return false;
      text->resize(bytes::LE16(len));
      return text->empty() || ReadExact(f.get(), &(*text)[0], text->size());
    };
    if (!ReadExact(f.get(), &kind, 1) || !readText(&a) || !readText(&b)) {
      complete = false;  // a record cut short ends the load
      break;
    }
    uint64_t used = 5 + a.size() + b.size();
    remaining = used > remaining ? 0 : remaining - used;

    std::error_code ec;
    if (kind == project::kFolderRecord) {
      if (!SafeDiscComponents(b, &parts)) {
        Refuse(b, AddRefusal::kUnusableRecord);
        continue;
      }
      std::string dir = root;
      for (const std::string& p : parts) dir += "/" + WithoutControlCharacters(p, b);
      fs::create_directories(dir, ec);
      SetCurrentFileText(b);
      continue;
    }
    a = ResolveProjectSource(projectPath, a);
    size_t cut = b.rfind('\\');
    std::string discName = cut == std::string::npos ? std::string() : b.substr(cut + 1);
    if (kind != project::kFileRecord || discName.empty() || discName == "." || discName == ".." ||
        !SafeDiscComponents(b.substr(0, cut + 1), &parts)) {
      Refuse(b, AddRefusal::kUnusableRecord);
      continue;
    }
    std::string dir = root;
    // The folder's own record told of its new name.
    for (const std::string& p : parts) dir += "/" + ControlCharactersReplaced(p);
    fs::create_directories(dir, ec);
    discName = WithoutControlCharacters(discName, a);
    std::string appendError;
    if (!AppendFileListEntry(dir, {a, discName}, &appendError)) {
      SetError(error, appendError);
      return false;
    }
    struct stat st;
    if (a.empty() || a[0] != '<') {
      if (stat(a.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ReportSize(uint64_t(st.st_size));
    }
    SetCurrentFileText(discName);
  }
  if (tree) {
    SetCurrentFileText(kCreateTreeText);
    BuildTreeItems(tree, tree->Root(), root);
  }
  if (!complete) {
    SetError(error, projectPath + " is damaged: it ends inside a record; the records before it were loaded");
    return false;
  }
  // Boot image paths are taken from the project file's folder, as its sources are.
  boot_ = {};
  if (!stop_ && project::ReadBootBlock(f.get(), &boot_))
    for (std::string* p : {&boot_.biosImage, &boot_.efiImage, &boot_.mbrTemplate}) *p = ResolveProjectSource(projectPath, *p);
  return !stop_;
}
