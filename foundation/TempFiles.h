#pragma once
#include <string>
#include <vector>

// The system temporary folder: $TMPDIR, else /tmp. Ends in "/".
std::string TempFolder();

// Creates a fresh empty file "Temp<random>.<ext>" in the temporary folder
// (O_EXCL, retried until a name is free) and returns its path, or "" when
// none can be created.
std::string MakeTempFile(const std::string& ext = "tmp");

// Creates a fresh folder "<prefix><number>" in the temporary folder and
// returns its path without a trailing "/", or "" on failure.
std::string MakeTempFolder(const std::string& prefix);

// The work folders of the audio and video projects: among the candidate
// roots $TMPDIR, /var/tmp, /tmp and $XDG_CACHE_HOME, the one with the most
// free bytes (the first of equal ones). Each ends in "/".
std::vector<std::string> WorkFolderRoots();
std::string WorkFolderRoot();
// Creates a fresh folder "<prefix><number>" in WorkFolderRoot() and returns
// its path without a trailing "/", or "" when none can be created.
std::string MakeWorkFolder(const std::string& prefix);

// Removes a file or a folder with everything in it; false when something stays.
bool RemoveTree(const std::string& path);

// A temporary file that is deleted with its owner.
class TempFile {
 public:
  TempFile() = default;
  explicit TempFile(const std::string& ext) : path_(MakeTempFile(ext)) {}
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  TempFile(TempFile&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
  TempFile& operator=(TempFile&& other) noexcept;
  const std::string& path() const { return path_; }
  bool ok() const { return !path_.empty(); }

 private:
  std::string path_;
};
