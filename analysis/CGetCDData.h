#pragma once
// Saves files and folders of a disc's file system (ISO 9660, Joliet or UDF)
// into a folder of the hard disk. The names come from the disc and are not
// trusted: each becomes one safe path component ("..", "/", control
// characters, over-long names), never replaces anything that is already
// there, and two entries never end up under one name; every changed name is
// reported. A file is written under a temporary name, compared by size and
// flushed before it takes its name, so an unreadable sector (reported with
// its address) or a stop leaves no partial file that looks complete.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "authoring/CAnaly_UDF.h"  // UdfSectorSource, UdfEntry

struct GetCDDataReport {
  uint64_t files = 0;    // saved whole
  uint64_t folders = 0;  // created
  uint64_t bytes = 0;
  std::vector<std::string> renamed;  // "disc path" -> saved as "local path" (why)
  std::vector<std::string> failed;   // what could not be saved, and why
  bool stopped = false;
  bool Complete() const { return failed.empty() && !stopped; }
};

class CGetCDData {
 public:
  static constexpr size_t kMaxNameBytes = 255;
  static constexpr uint32_t kChunkSectors = 32;
  // Complete files wait under their temporary names until one flush of the
  // file system has made all of them durable; then they take their names.
  // The flush and the naming of one batch run beside the saving of the next.
  static constexpr size_t kMaxWaitingFiles = 256;
  static constexpr uint64_t kMaxWaitingBytes = 256ull << 20;

  // `source` gives the disc's 2048-byte sectors by absolute address.
  explicit CGetCDData(UdfSectorSource* source) : source_(source) {}
  ~CGetCDData();
  CGetCDData(const CGetCDData&) = delete;
  CGetCDData& operator=(const CGetCDData&) = delete;

  // Saves the entries of `tree` (a walk's entries, folders before their
  // content) named by `selected` (disc paths; empty: everything) with
  // everything below them into `destination`, which is created when
  // missing. False when anything was not saved (the report says what).
  bool Save(const std::vector<UdfEntry>& tree, const std::vector<std::string>& selected,
            const std::string& destination);
  // The same on a worker thread; Done() turns true when it has ended.
  bool Start(std::vector<UdfEntry> tree, std::vector<std::string> selected, std::string destination);
  void Wait();
  bool Done() const { return done_; }

  // Asks a running save to stop; the file being written is given up.
  void Stop() { stop_ = true; }
  uint64_t BytesDone() const { return bytesDone_; }
  uint64_t BytesTotal() const { return bytesTotal_; }
  std::string CurrentFile() const;
  // Called on the saving thread after every piece written (tests, progress lines).
  void SetProgressHook(std::function<void(const CGetCDData&)> hook) { hook_ = std::move(hook); }
  // Called just before a complete file takes its name (on the thread that
  // names a batch of files), with that name's path below the destination
  // (tests: another program's file appearing there between the choice of
  // the name and the renaming).
  void SetNamingHook(std::function<void(const std::string& localPath)> hook) { namingHook_ = std::move(hook); }
  // Valid once the save has ended.
  const GetCDDataReport& Report() const { return report_; }

 private:
  bool Run(const std::vector<UdfEntry>& tree, const std::vector<std::string>& selected, const std::string& destination);
  struct Walk;
  // Saves one chosen entry; false when it failed (and the report says why).
  bool SaveEntry(Walk& walk, const UdfEntry& e);
  struct Waiting {
    std::shared_ptr<const int> dir;  // the folder, shared by the files waiting in it
    std::string partial, name, discPath, localPath;
    std::string renamed;  // the report of its changed name, given once it has that name
    uint64_t size;
  };
  // What the naming of one batch gave, taken into the report once it has ended.
  struct Named {
    uint64_t files = 0, bytes = 0;
    std::vector<std::string> renamed, failed;
  };
  bool SaveFile(int dirFd, const std::string& name, const UdfEntry& entry, const std::string& localPath,
                const std::string& renamed);
  // The folder `localPath` lies in, for the files that wait there.
  std::shared_ptr<const int> WaitingFolder(int dirFd, const std::string& localPath);
  // Hands the waiting files to a thread that flushes the file system and
  // gives them their names, once the batch before them is named. False when
  // a file of that earlier batch was not saved.
  bool NameWaitingFiles();
  // Waits for the batch being named and takes what it gave into the report.
  bool TakeNamed();
  Named NameBatch(const std::vector<Waiting>& batch) const;
  bool CopyData(int fd, const UdfEntry& entry, std::string* why);
  void SetCurrent(const std::string& path);
  void NoteDestinationError(int err);

  UdfSectorSource* source_;
  std::thread worker_;
  std::atomic<bool> stop_{false}, done_{false};
  std::atomic<uint64_t> bytesDone_{0}, bytesTotal_{0};
  mutable std::mutex currentLock_;
  std::string current_;
  std::function<void(const CGetCDData&)> hook_;
  std::function<void(const std::string&)> namingHook_;
  GetCDDataReport report_;
  int destinationError_ = 0;  // a write failure that every further file would meet too
  std::vector<Waiting> waiting_;
  uint64_t waitingBytes_ = 0;
  std::shared_ptr<const int> waitingFolder_;  // the folder of the last file that waits
  std::string waitingFolderPath_;
  std::thread namer_;
  Named named_;  // the namer's, until it is joined
  bool result_ = false;
};

// A name from a disc as one safe component of a local path: control
// characters and "/" become "_", "." and ".." and the empty name become
// underscores, and a name longer than a file system takes is shortened on a
// character boundary, keeping its extension. `why` (when given) gets the
// reason of a change, empty when the name stands as it was.
std::string SafeLocalName(const std::string& discName, std::string* why = nullptr);
