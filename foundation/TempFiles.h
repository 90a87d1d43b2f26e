#pragma once
#include <string>
#include <vector>

// The system temporary folder: $TMPDIR, else /tmp. Ends in "/".
std::string TempFolder();

// Every temporary file and folder carries its owner in its name, after the
// random number: "_p<process id>_<process start time>". A later run removes
// what a run that is gone (killed, crashed) left behind, and nothing else.

// Creates a fresh empty file "Temp<random>_p<pid>_<start>.<ext>" in the
// temporary folder (O_EXCL, retried until a name is free) and returns its
// path, or "" when none can be created.
std::string MakeTempFile(const std::string& ext = "tmp");

// Creates a fresh folder "<prefix><number>_p<pid>_<start>" in the temporary
// folder and returns its path without a trailing "/", or "" on failure.
std::string MakeTempFolder(const std::string& prefix);

// The work folders of the audio and video projects: among the candidate
// roots $TMPDIR, /var/tmp, /tmp and $XDG_CACHE_HOME, the one with the most
// free bytes (the first of equal ones). Each ends in "/".
std::vector<std::string> WorkFolderRoots();
std::string WorkFolderRoot();
// Creates a fresh folder "<prefix><number>_p<pid>_<start>" in
// WorkFolderRoot() and returns its path without a trailing "/", or "" when
// none can be created.
std::string MakeWorkFolder(const std::string& prefix);

// Removes from the temporary folder and the work folder roots the files and
// folders whose names carry an owner that no longer runs (the same process
// id with another start time is another process). Entries of a running
// owner, of another user, links, and names without an owner are never
// touched. Called when a program starts; returns how many were removed.
int RemoveAbandonedTempFiles();

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
