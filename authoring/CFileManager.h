#pragma once
// Every addition to a data project's staging folder goes through here: files
// and folders from disk, entries imported from a disc, and projects loaded
// from a file. The tree of the project window and the project's size total
// are kept in step through ProjectTree and FileManagerListener.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "authoring/ElTorito.h"
#include "authoring/ProjectTree.h"
#include "OutputFile.h"

// Why a file or folder was not added. Each value is the key of its text in
// the "Message" section of the language file, which the windows and the
// command line show.
enum class AddRefusal {
  kMissing = 900,         // does not exist
  kBackslash = 901,       // a name with a backslash
  kProjectFolder = 902,   // the project's own folder
  kLoop = 903,            // a folder that leads back to a parent
  kNotWritable = 904,     // the staging folder cannot be written
  kNotPlainFile = 905,    // device, pipe or socket
  kTooLargeForCd = 906,   // 4 GiB or larger on an ISO 9660 disc
  kUnreadableFolder = 910,
  kUnusableRecord = 912,  // a project file's entry with an unsafe or damaged path
  kNameTooLong = 914,     // a disc name longer than a file list entry holds
};

// Why a file or folder goes onto the disc under another name than its own.
// Each value is the key of its text in the "Message" section.
enum class AddRenaming {
  kControlCharacter = 915,  // control characters became "_"
  kNameTaken = 916,         // the name was taken in its folder: "name~N.ext"
};

// Stands for the project window's notifications.
class FileManagerListener {
 public:
  virtual ~FileManagerListener() = default;
  // The current file text changed (one file added, or a tree item created
  // while a project is loaded).
  virtual void CurrentFileChanged(const std::string& text) { (void)text; }
  // One piece of a size added to the project total: (0, 0x7FFFFFFF) for every
  // whole 0x7FFFFFFF bytes, then (1, the remainder).
  virtual void SizePiece(uint32_t wParam, uint32_t lParam) { (void)wParam, (void)lParam; }
  // A file or folder that was not added, and why.
  virtual void Refused(const std::string& path, AddRefusal reason) { (void)path, (void)reason; }
  // A file or folder that goes onto the disc as `discName`, and why.
  virtual void Renamed(const std::string& path, const std::string& discName, AddRenaming reason) {
    (void)path, (void)discName, (void)reason;
  }
};

// Sums the size pieces into a 64-bit total, as the project window does.
class SizeTotalListener : public FileManagerListener {
 public:
  void SizePiece(uint32_t wParam, uint32_t lParam) override;
  uint64_t total() const { return total_.load(); }
  void Reset() { total_ = 0; }

 private:
  std::atomic<uint64_t> total_{0};
};

class CFileManager {
 public:
  static constexpr int kModeData = 2;
  static constexpr int kModeMp3 = 3;
  static constexpr uint32_t kSizePiece = 0x7FFFFFFF;
  // Files of 4 GiB or more cannot be described by ISO 9660 records.
  static constexpr uint64_t kIsoFileSizeLimit = 0xFFFFFFFFull;

  CFileManager() = default;
  ~CFileManager();
  CFileManager(const CFileManager&) = delete;
  CFileManager& operator=(const CFileManager&) = delete;

  void SetStagingRoot(const std::string& root) { stagingRoot_ = root; }
  const std::string& StagingRoot() const { return stagingRoot_; }
  void SetListener(FileManagerListener* listener) { listener_ = listener; }
  void SetMode(int mode) { mode_ = mode; }
  int Mode() const { return mode_; }
  // Files larger than this are refused (Refused is told). 0: no limit.
  void SetMaxFileSize(uint64_t bytes) { maxFileSize_ = bytes; }
  // The disc options (project::DiscOption bits) the project file keeps.
  void SetDiscOptions(uint8_t options) { discOptions_ = options; }
  uint8_t DiscOptions() const { return discOptions_; }
  // The boot images of a bootable data disc, kept in the project file.
  void SetBoot(const eltorito::BootOptions& boot) { boot_ = boot; }
  const eltorito::BootOptions& Boot() const { return boot_; }
  // Paths named one by one (the command line): every path given is kept. A
  // folder meeting a folder of its name merges with it; a file (or a folder
  // meeting a file) whose name is taken is numbered "name~N.ext", and
  // Renamed is told. One source given twice stays one entry. Otherwise, as
  // the project window has it, a folder added again replaces the one there
  // and a file whose name is taken is not added again.
  void SetKeepEveryPath(bool keep) { keepEveryPath_ = keep; }

  // Staging path of a tree item: the root followed by the item texts below it.
  std::string GetItemPath(ProjectTree* tree, TreeItem item);
  // 2 when the staging folder exists, else 0.
  int FolderExists(const std::string& path);
  // 2 when any field of the folder's file.ls equals `name` byte for byte.
  int FileNameExists(const std::string& stagingFolder, const std::string& name);
  void RemoveChildItem(ProjectTree* tree, TreeItem parent, const std::string& name);

  bool AddPath(ProjectTree* tree, TreeItem parent, const std::string& sourcePath,
               const std::string& stagingFolder, const std::string& discName = "");
  bool AddFolderTree(ProjectTree* tree, TreeItem parent, const std::string& sourceFolder,
                     const std::string& targetFolder);
  bool AddFile(const std::string& sourcePath, const std::string& stagingFolder,
               const std::string& discName);
  bool AddImportedEntry(const std::string& stagingFolder, const std::string& descriptor);
  // Reports the size of every entry below a staging folder again.
  void RecountSizes(const std::string& folder);
  // Rebuilds the tree items below `parent` from the staging folder.
  void BuildTreeItems(ProjectTree* tree, TreeItem parent, const std::string& folder);

  // Project files. Saving writes the staging tree below `stagingRoot` as a
  // data (or, in MP3 mode, MP3) project; loading rebuilds it below the
  // manager's staging root and, with a tree, the tree items below its root,
  // whose text becomes the label. `error` names what failed.
  // Nothing at `projectPath` is replaced unless `existing` allows it.
  bool SaveDataProject(const std::string& stagingRoot, const std::string& projectPath,
                       const std::string& label, std::string* error = nullptr,
                       Existing existing = Existing::kKeep);
  bool LoadDataProject(ProjectTree* tree, const std::string& projectPath,
                       std::string* label = nullptr, std::string* error = nullptr);

  // Background additions: one worker at a time. `done` runs on the worker
  // when it ends, with whether every addition succeeded.
  using Done = std::function<void(bool)>;
  bool StartAddPaths(ProjectTree* tree, TreeItem parent, const std::string& stagingFolder,
                     std::vector<std::string> paths, Done done = nullptr);
  bool StartLoadProject(ProjectTree* tree, const std::string& projectPath, Done done = nullptr);
  void Stop() { stop_ = true; }
  bool Stopping() const { return stop_; }
  void Wait();
  bool Busy() const { return busy_; }

  std::string CurrentFileText() const;
  void ReportSize(uint64_t bytes);
  // Shown while tree items are created for a loaded project.
  static constexpr const char* kCreateTreeText = "Create tree item, Please waiting.....";
  void SetCurrentFileText(const std::string& text);

 private:
  bool StartWorker(std::function<bool()> work, Done done);
  void Refuse(const std::string& path, AddRefusal reason);
  bool ReplaceFolder(ProjectTree* tree, TreeItem parent, const std::string& target);
  // `name` with each control character made "_" (Renamed is told, with
  // `source`): it would reach every terminal and file manager that lists
  // the disc.
  std::string WithoutControlCharacters(const std::string& name, const std::string& source);
  // The names taken in a staging folder, and the sources listed there.
  struct TakenNames {
    std::set<std::string> files, folders, sources;
  };
  TakenNames NamesIn(const std::string& stagingFolder);
  // The disc name a source called `name` gets beside `taken`: control
  // characters replaced and, when every path is kept, a taken name
  // numbered; Renamed is told of a change. "" for a file whose source is
  // listed there already. `taken` then holds the name.
  std::string DiscNameFor(const std::string& source, const std::string& name, bool isFolder, TakenNames* taken);
  // A folder of the source as the reading of its parent found it.
  struct Subfolder {
    std::string name;
    bool link = false;  // a symbolic link: where it leads is looked up
  };
  // Reads the source folders of a walk ahead of it, on a thread of its own.
  class ReadAhead;
  // Makes the staging folder of one source folder and lists the source's
  // files there, the list written whole rather than entry by entry. The
  // source comes from `ahead` when it has it. `subfolders` gets the folders
  // the same reading found, `taken` the names now in the staging folder
  // (kept only when every path is kept).
  bool AddFolderFiles(const std::string& sourceFolder, const std::string& targetFolder, ReadAhead* ahead,
                      std::vector<Subfolder>* subfolders, TakenNames* taken);
  // Appends `units` (whole list entries) to a list file; a failure leaves the
  // list as it was.
  bool AppendListUnits(const std::string& listPath, const std::string& units);
  bool AddFolderWalk(ProjectTree* tree, TreeItem parent, const std::string& source, const std::string& real,
                     const std::string& targetFolder, const std::string& stagingReal,
                     std::set<std::string>* onPath, ReadAhead* ahead);

  std::atomic<bool> stop_{false};
  std::string currentItemPath_;
  mutable std::mutex textLock_;
  std::string currentFileText_;
  FileManagerListener* listener_ = nullptr;
  int mode_ = kModeData;
  bool suppressSizes_ = false;
  uint64_t maxFileSize_ = 0;
  uint8_t discOptions_ = 0;
  eltorito::BootOptions boot_;
  bool keepEveryPath_ = false;
  std::string stagingRoot_;

  std::thread worker_;
  std::atomic<bool> busy_{false};
};
