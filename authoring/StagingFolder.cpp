#include "authoring/StagingFolder.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>

#include "authoring/FileList.h"
#include "foundation/TempFiles.h"

std::vector<StagingEntry> EnumerateStagingFolder(const std::string& folder) {
  std::vector<StagingEntry> entries;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return entries;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string full = folder + "/" + name;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      entries.push_back({StagingEntry::kFolder, name});
    } else if (S_ISREG(st.st_mode) && strcasecmp(name.c_str(), filels::kFileName) == 0) {
      entries.push_back({StagingEntry::kFileList, name});
    }
  }
  closedir(dir);
  std::sort(entries.begin(), entries.end(),
            [](const StagingEntry& a, const StagingEntry& b) { return a.name < b.name; });
  return entries;
}

std::string MakeStagingRoot() { return MakeTempFolder("Folder"); }


std::string NamePart(const std::string& path) {
  std::string p = StripTrailing(path);
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string StripTrailing(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}
