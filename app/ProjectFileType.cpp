#include "app/ProjectFileType.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "foundation/Process.h"
#include "foundation/ProgramDir.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kMimeType = "application/x-varnex-project";

std::vector<std::string> SplitColons(const std::string& text) {
  std::vector<std::string> parts;
  std::stringstream ss(text);
  std::string p;
  while (std::getline(ss, p, ':'))
    if (!p.empty()) parts.push_back(p);
  return parts;
}

bool FileMentionsBcdGlob(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    // globs2: "weight:type:*.bcd"; package XML: <glob pattern="*.bcd"/>
    if (line.find(":*.bcd") != std::string::npos || line.find("\"*.bcd\"") != std::string::npos)
      return true;
  }
  return false;
}

bool FolderClaims(const std::string& dataFolder) {
  std::error_code ec;
  fs::path mime = fs::path(dataFolder) / "mime";
  for (const char* name : {"globs2", "globs"})
    if (FileMentionsBcdGlob(mime / name)) return true;
  fs::path packages = mime / "packages";
  if (!fs::is_directory(packages, ec)) return false;
  for (const auto& entry : fs::directory_iterator(packages, ec))
    if (entry.path().extension() == ".xml" && FileMentionsBcdGlob(entry.path())) return true;
  return false;
}

bool WriteText(const fs::path& file, const std::string& text) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  std::ofstream out(file, std::ios::trunc);
  out << text;
  return bool(out.flush());
}

}  // namespace

XdgDataFolders XdgDataFolders::FromEnvironment() {
  XdgDataFolders f;
  if (const char* home = std::getenv("XDG_DATA_HOME"); home && *home) {
    f.dataHome = home;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    f.dataHome = std::string(h) + "/.local/share";
  }
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  f.dataDirs = SplitColons(dirs && *dirs ? dirs : "/usr/local/share:/usr/share");
  return f;
}

bool ProjectFileTypeClaimed(const XdgDataFolders& folders) {
  if (!folders.dataHome.empty() && FolderClaims(folders.dataHome)) return true;
  for (const std::string& d : folders.dataDirs)
    if (FolderClaims(d)) return true;
  return false;
}

bool RegisterProjectFileType(const std::string& programPath, const XdgDataFolders& folders) {
  if (folders.dataHome.empty() || ProjectFileTypeClaimed(folders)) return false;
  fs::path home(folders.dataHome);
  std::string package =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
      "  <mime-type type=\"" + std::string(kMimeType) + "\">\n"
      "    <comment>Varnex disc project</comment>\n"
      "    <glob pattern=\"*.bcd\"/>\n"
      "  </mime-type>\n"
      "</mime-info>\n";
  std::string desktop =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Varnex\n"
      "Comment=Write data, audio and video discs\n"
      "Exec=\"" + programPath + "\" %f\n"
      "Icon=varnex\n"
      "Terminal=false\n"
      "Categories=AudioVideo;DiscBurning;\n"
      "MimeType=" + std::string(kMimeType) + ";\n";
  if (!WriteText(home / "mime/packages/varnex-project.xml", package)) return false;
  if (!WriteText(home / "applications/varnex.desktop", desktop)) return false;
  // Refresh the caches when the tools are there; without them the files still
  // take effect at the desktop's next scan. What they print is not ours to show.
  const std::pair<const char*, std::string> refreshers[] = {
      {"update-mime-database", (home / "mime").string()},
      {"update-desktop-database", (home / "applications").string()}};
  for (const auto& [tool, folder] : refreshers)
    if (!FindInPath(tool).empty()) (void)RunProcess({tool, folder});
  return true;
}

bool RegisterProjectFileType() {
  return RegisterProjectFileType(
      std::filesystem::path(GetProgramFile()).parent_path().string() + "/Varnex", XdgDataFolders::FromEnvironment());
}
