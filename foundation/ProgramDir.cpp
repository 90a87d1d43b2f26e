#include "foundation/ProgramDir.h"

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

static std::string ExecutableFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("./") : exe.parent_path().string();
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
  // A portable copy keeps its files beside itself; an installed program
  // (data under share/) never writes there, not even when run by root.
  std::string dir = GetProgramDir();
  const bool installed = !std::getenv("VARNEX_PROGRAM_DIR") && dir != WithSlash(ExecutableFolder());
  if (!installed && access(dir.c_str(), W_OK) == 0) return dir;
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.config";
  } else {
    base = "/tmp";
  }
  std::string own = WithSlash(base) + "varnex/";
  std::error_code ec;
  fs::create_directories(own, ec);
  return own;
}

bool FileExists(const std::string& path) {
  std::string p = TrimBlanks(path);
  if (p.empty()) return false;
  struct stat st;
  return lstat(p.c_str(), &st) == 0;
}
