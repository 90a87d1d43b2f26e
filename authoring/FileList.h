#pragma once
// "file.ls": the list of files of one staging folder. Entries are 520 bytes:
// the source path (260 bytes, NUL-padded) and the disc name (260 bytes).
//
// Long source paths: a path of 260 bytes or more does not fit its field. Such
// an entry stores "<L>" followed by the path's byte count in decimal in the
// source field, and the path itself, NUL-padded, in as many further 520-byte
// units as it needs, right after the entry. Every unit stays 520 bytes, and
// short paths are stored exactly as before.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace filels {
constexpr size_t kEntrySize = 520;
constexpr size_t kFieldSize = 260;
constexpr const char* kFileName = "file.ls";
constexpr const char* kLongPathMark = "<L>";
}  // namespace filels

struct FileListEntry {
  std::string sourcePath;  // a host path, or an imported-entry descriptor ("<1>...", "<2>...")
  std::string discName;

  // Its data is already on the disc (written by the multisession import).
  bool IsImported() const { return !sourcePath.empty() && sourcePath[0] == '<'; }
};

// The list file of a staging folder, matched case-insensitively; "" when none.
std::string FindFileList(const std::string& folder);

// The 520-byte units of one entry. Fails (empty result) for a disc name that
// does not fit its field.
std::string EncodeFileListEntry(const FileListEntry& entry);
// The same units appended to `units`, for lists built in memory and
// written whole. False (nothing appended) where EncodeFileListEntry fails.
bool AppendFileListUnits(std::string_view sourcePath, std::string_view discName, std::string* units);

// How many list files this process has opened for reading: the tests see
// through it that an addition does not read back what it has just written.
uint64_t FileListsOpenedForReading();

// Reads a list file entry by entry, without holding the whole list.
class FileListReader {
 public:
  explicit FileListReader(const std::string& path);
  ~FileListReader();
  FileListReader(const FileListReader&) = delete;
  FileListReader& operator=(const FileListReader&) = delete;

  bool ok() const { return file_ != nullptr; }
  // The next entry; false at the end or when the file is damaged (error() says which).
  bool Next(FileListEntry* entry);
  const std::string& error() const { return error_; }

 private:
  FILE* file_ = nullptr;
  std::string path_;
  std::string error_;
};

// All entries of a staging folder's list (an empty list when it has none).
bool ReadFileList(const std::string& folder, std::vector<FileListEntry>* entries,
                  std::string* error = nullptr);

// Appends one entry to the folder's list, creating it.
bool AppendFileListEntry(const std::string& folder, const FileListEntry& entry,
                         std::string* error = nullptr);

// Replaces the folder's list with `entries` (for renaming and deleting files).
bool WriteFileList(const std::string& folder, const std::vector<FileListEntry>& entries,
                   std::string* error = nullptr);
