#pragma once
// Building UDF images from host folders in tests, and running the outside
// readers on them.

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ByteFields.h"
#include "authoring/CDataFileUDF.h"
#include "authoring/FileList.h"

namespace udftest {

// A burn job as the builders read it: 256 at byte 0, the kind byte, the
// label at byte 5 and an empty tree (length 0 at byte 448).
inline void WriteJob(const std::string& path, const std::string& label) {
  std::string job(452, '\0');
  bytes::PutLE32(reinterpret_cast<uint8_t*>(job.data()), 256);
  job[4] = 2;
  std::memcpy(job.data() + 5, label.data(), std::min<size_t>(label.size(), 13));
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(job.data(), 1, job.size(), f);
  std::fclose(f);
}

// Mirrors a host folder into a staging folder: one staging folder per
// folder, the files listed in file.ls by name order.
inline void StageHostFolder(const std::string& host, const std::string& staging) {
  mkdir(staging.c_str(), 0755);
  DIR* dir = opendir(host.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string full = host + "/" + name;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode))
      StageHostFolder(full, staging + "/" + name);
    else if (S_ISREG(st.st_mode))
      AppendFileListEntry(staging, {full, name});
  }
}

// Serves the whole track into an image file; false when the builder has no track.
inline bool WriteImage(CDataFileUDF& builder, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::vector<uint8_t> sector(2048);
  uint32_t length = builder.GetTrackLength();
  for (uint32_t i = 0; i < length; ++i) {
    std::fill(sector.begin(), sector.end(), 0);
    builder.GetSectorData(sector.data(), 2048);
    std::fwrite(sector.data(), 1, 2048, f);
  }
  return std::fclose(f) == 0;
}

// Runs a shell command; its standard output and error together.
inline std::string Run(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = pclose(p);
  if (status) *status = rc;
  return out;
}

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace udftest
