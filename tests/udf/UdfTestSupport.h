#pragma once
// Building UDF images from host folders in tests, and running the outside
// readers on them.

#include <dirent.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ByteFields.h"
#include "authoring/CDataFileUDF.h"
#include "authoring/CECMA167.h"
#include "authoring/FileList.h"
#include "support/RunCommand.h"

namespace udftest {

// A shell command's standard output and error together.
inline std::string Shell(const std::string& command, int* status = nullptr) {
  CommandResult r = RunCommand(command);
  if (status) *status = r.status;
  return r.output;
}

inline std::string Quote(const std::string& s) { return Quoted(s); }

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

// Serves the whole track into an image file, `leadIn` zero sectors first
// (the earlier sessions of a disc). Zero sectors are skipped, so the file
// stays sparse.
inline bool WriteImage(CDataFileUDF& builder, const std::string& path, uint32_t leadIn = 0) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::vector<uint8_t> sector(2048);
  const std::vector<uint8_t> zero(2048);
  uint32_t length = builder.GetTrackLength();
  bool ok = std::fseek(f, long(leadIn) * 2048, SEEK_SET) == 0;
  for (uint32_t i = 0; ok && i < length; ++i) {
    std::fill(sector.begin(), sector.end(), 0);
    builder.GetSectorData(sector.data(), 2048);
    if (sector == zero)
      ok = std::fseek(f, 2048, SEEK_CUR) == 0;
    else
      ok = std::fwrite(sector.data(), 1, 2048, f) == 2048;
  }
  ok = std::fflush(f) == 0 && ok;
  ok = ftruncate(fileno(f), off_t(uint64_t(leadIn + length) * 2048)) == 0 && ok;
  return std::fclose(f) == 0 && ok;
}

// Differences between two host trees (names, kinds, content); "" when equal.
inline std::string CompareTrees(const std::string& a, const std::string& b) {
  std::string diff;
  auto list = [](const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
      while (dirent* e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  std::vector<std::string> na = list(a), nb = list(b);
  if (na != nb) return "the entries of " + a + " and " + b + " differ\n";
  for (const std::string& n : na) {
    struct stat sa, sb;
    std::string pa = a + "/" + n, pb = b + "/" + n;
    if (stat(pa.c_str(), &sa) != 0 || stat(pb.c_str(), &sb) != 0) {
      diff += "cannot stat " + n + "\n";
    } else if (S_ISDIR(sa.st_mode) != S_ISDIR(sb.st_mode)) {
      diff += pb + " is of another kind\n";
    } else if (S_ISDIR(sa.st_mode)) {
      diff += CompareTrees(pa, pb);
    } else if (Shell("cmp -s " + Quote(pa) + " " + Quote(pb) + " && echo same") != "same\n") {
      diff += pb + " differs from its source\n";
    }
  }
  return diff;
}

}  // namespace udftest

namespace udftest {

// The descriptor tag checksum as ECMA-167 defines it (the sum of tag bytes
// 0-3 and 5-15, modulo 256), computed apart from the code under test.
inline uint8_t IndependentTagChecksum(const uint8_t* tag) {
  unsigned sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum += tag[i];
  return uint8_t(sum & 0xFF);
}

// Verifies the tag of every descriptor that starts a sector of the track in
// `image` (the track beginning at `sessionStart`): checksum, CRC and
// location. Returns what failed; `checked` counts the descriptors seen.
inline std::string VerifySectorTags(const std::string& image, uint32_t sessionStart, int* checked) {
  std::string failures;
  *checked = 0;
  FILE* f = std::fopen(image.c_str(), "rb");
  if (!f) return "cannot open " + image;
  std::vector<uint8_t> sector(2048);
  std::fseek(f, long(sessionStart) * 2048, SEEK_SET);
  for (uint32_t s = 0; std::fread(sector.data(), 1, 2048, f) == 2048; ++s) {
    uint16_t id = bytes::LE16(sector.data());
    uint16_t version = bytes::LE16(sector.data() + 2);
    bool volumePart = id >= 1 && id <= 9;
    bool filePart = id >= 256 && id <= 266;
    if (version != 2 || !(volumePart || filePart)) continue;
    if (IndependentTagChecksum(sector.data()) != sector[4]) continue;  // file data that looks alike
    uint32_t expected = volumePart ? sessionStart + s : sessionStart + s - 257;
    std::string why;
    if (!CECMA167::VerifyTag(sector.data(), 2048, &why, &expected))
      failures += "sector " + std::to_string(s) + " (tag " + std::to_string(id) + "): " + why + "\n";
    ++*checked;
  }
  std::fclose(f);
  return failures;
}

}  // namespace udftest
