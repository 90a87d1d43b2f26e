#pragma once
// Scratch folders and files for tests, removed when the test ends.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/TempFiles.h"

class ScratchFolder {
 public:
  ScratchFolder() : path_(MakeTempFolder("VarnexTest")) {}
  ~ScratchFolder() { RemoveTree(path_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

  // Writes a file (creating its folders) and returns its path.
  std::string Write(const std::string& rel, const std::string& content) const {
    std::string p = path_ + "/" + rel;
    std::filesystem::create_directories(std::filesystem::path(p).parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }
  std::string Mkdir(const std::string& rel) const {
    std::string p = path_ + "/" + rel;
    std::filesystem::create_directories(p);
    return p;
  }

 private:
  std::string path_;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Points TMPDIR at a folder of its own while it lives.
class PrivateTemp {
 public:
  PrivateTemp() : old_(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "") {
    path_ = dir_.path() + "/tmp";
    std::filesystem::create_directories(path_);
    setenv("TMPDIR", path_.c_str(), 1);
  }
  ~PrivateTemp() {
    if (old_.empty())
      unsetenv("TMPDIR");
    else
      setenv("TMPDIR", old_.c_str(), 1);
  }
  const std::string& path() const { return path_; }
  std::vector<std::string> Left() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename());
    return names;
  }

 private:
  ScratchFolder dir_;
  std::string old_;
  std::string path_;
};

// The names in `folder` (no recursion), sorted, each followed by a blank:
// "" for an empty folder, so that "nothing was left behind" reads plainly.
inline std::string FolderListing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string all;
  for (const auto& n : names) all += n + " ";
  return all;
}

// Empties every file in `folder`, as a full or failing disc might leave a
// temporary file that is read back later.
inline void TruncateEveryFile(const std::string& folder) {
  for (const auto& e : std::filesystem::directory_iterator(folder))
    if (e.is_regular_file()) std::filesystem::resize_file(e.path(), 0);
}
