#include "foundation/ProgramDir.h"

#include "foundation/TempFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

std::string TrimBlanks(const std::string& text) {
  size_t b = text.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = text.find_last_not_of(" \t\r\n");
  return text.substr(b, e - b + 1);
}

std::string DataFolderFor(const std::string& exeFolder) {
  const std::string beside = WithSlash(exeFolder);
  struct stat st;
  if (stat((beside + "Lang/lang.ini").c_str(), &st) == 0) return beside;
  const std::string shared = beside + "../share/varnex/";
  if (stat((shared + "Lang/lang.ini").c_str(), &st) == 0) {
    std::error_code ec;
    const fs::path clean = fs::weakly_canonical(shared, ec);
    return ec ? shared : WithSlash(clean.string());
  }
  return beside;  // no data anywhere: the messages name the program's folder
}

std::string GetProgramFile() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

std::string GetProgramDir() {
  if (const char* over = std::getenv("VARNEX_PROGRAM_DIR"); over && *over) return WithSlash(over);
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "./";
  return DataFolderFor(exe.parent_path().string());
}

std::string GetWritableDir() {
  // A portable copy (marked by a file "portable" in its program folder)
  // keeps its files beside itself; every other run, a build tree's included,
  // writes to the user's configuration folder.
  const std::string dir = GetProgramDir();
  struct stat st;
  if (stat((dir + "portable").c_str(), &st) == 0 && access(dir.c_str(), W_OK) == 0) return dir;
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.config";
  } else {
    base = "/tmp/varnex-" + std::to_string(getuid());
  }
  std::string own = WithSlash(base) + "varnex/";
  std::error_code ec;
  fs::create_directories(own, ec);
  return own;
}

std::string DefaultCopyFile() {
  const std::string root = WorkFolderRoot();
  return (root.empty() ? TempFolder() : root) + "Temp.bcl";
}

bool FileExists(const std::string& path) {
  std::string p = TrimBlanks(path);
  if (p.empty()) return false;
  struct stat st;
  return lstat(p.c_str(), &st) == 0;
}
