#pragma once
// Scratch folders and files for tests, removed when the test ends.

#include <filesystem>
#include <fstream>
#include <string>

#include "authoring/TempFiles.h"

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
