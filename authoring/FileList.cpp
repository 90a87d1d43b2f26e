#include "authoring/FileList.h"

#include <dirent.h>
#include <strings.h>

#include <atomic>
#include <cstring>
#include <cstdlib>
#include "OutputFile.h"
#include "SafeFile.h"

namespace {

std::string Field(const char* p) { return std::string(p, strnlen(p, filels::kFieldSize)); }

std::string ListPathForWriting(const std::string& folder) {
  std::string found = FindFileList(folder);
  return found.empty() ? folder + "/" + filels::kFileName : found;
}

}  // namespace

std::string FindFileList(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return {};
  std::string found;
  while (dirent* e = readdir(dir)) {
    if (strcasecmp(e->d_name, filels::kFileName) == 0) {
      found = folder + "/" + e->d_name;
      break;
    }
  }
  closedir(dir);
  return found;
}

bool AppendFileListUnits(std::string_view sourcePath, std::string_view discName, std::string* units) {
  if (discName.size() >= filels::kFieldSize) return false;
  const size_t at = units->size();
  const bool longPath = sourcePath.size() >= filels::kFieldSize;
  const size_t blocks = longPath ? (sourcePath.size() + filels::kEntrySize - 1) / filels::kEntrySize : 0;
  units->resize(at + (1 + blocks) * filels::kEntrySize, '\0');
  char* entry = &(*units)[at];
  std::memcpy(entry + filels::kFieldSize, discName.data(), discName.size());
  if (!longPath) {
    std::memcpy(entry, sourcePath.data(), sourcePath.size());
    return true;
  }
  const std::string mark = filels::kLongPathMark + std::to_string(sourcePath.size());
  std::memcpy(entry, mark.data(), mark.size());
  std::memcpy(entry + filels::kEntrySize, sourcePath.data(), sourcePath.size());
  return true;
}

std::string EncodeFileListEntry(const FileListEntry& entry) {
  std::string units;
  AppendFileListUnits(entry.sourcePath, entry.discName, &units);
  return units;
}

namespace {
std::atomic<uint64_t> listsOpenedForReading{0};
}  // namespace

uint64_t FileListsOpenedForReading() { return listsOpenedForReading.load(); }

FileListReader::FileListReader(const std::string& path) : path_(path) {
  ++listsOpenedForReading;
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) error_ = "cannot open " + path;
}

FileListReader::~FileListReader() {
  if (file_) std::fclose(file_);
}

bool FileListReader::Next(FileListEntry* entry) {
  if (!file_ || !error_.empty()) return false;
  char unit[filels::kEntrySize];
  size_t got = std::fread(unit, 1, sizeof unit, file_);
  if (got == 0) return false;
  if (got != sizeof unit) {
    error_ = path_ + " is damaged: its last entry is cut short";
    return false;
  }
  entry->sourcePath = Field(unit);
  entry->discName = Field(unit + filels::kFieldSize);
  const size_t markLen = std::strlen(filels::kLongPathMark);
  if (entry->sourcePath.compare(0, markLen, filels::kLongPathMark) == 0) {
    char* end = nullptr;
    unsigned long long len = std::strtoull(entry->sourcePath.c_str() + markLen, &end, 10);
    if (*end != '\0' || len < filels::kFieldSize || len > (1u << 20)) {
      error_ = path_ + " is damaged: a long source path has a bad length";
      return false;
    }
    size_t blocks = (len + filels::kEntrySize - 1) / filels::kEntrySize;
    std::string tail(blocks * filels::kEntrySize, '\0');
    if (std::fread(&tail[0], 1, tail.size(), file_) != tail.size()) {
      error_ = path_ + " is damaged: a long source path is cut short";
      return false;
    }
    tail.resize(len);
    entry->sourcePath = tail;
  }
  return true;
}

bool ReadFileList(const std::string& folder, std::vector<FileListEntry>* entries,
                  std::string* error) {
  entries->clear();
  std::string path = FindFileList(folder);
  if (path.empty()) return true;
  FileListReader reader(path);
  FileListEntry e;
  while (reader.Next(&e)) entries->push_back(e);
  if (!reader.error().empty()) {
    if (error) *error = reader.error();
    return false;
  }
  return true;
}

bool AppendFileListEntry(const std::string& folder, const FileListEntry& entry,
                         std::string* error) {
  std::string units = EncodeFileListEntry(entry);
  if (units.empty()) {
    if (error) *error = "the disc name \"" + entry.discName + "\" is too long";
    return false;
  }
  std::string path = ListPathForWriting(folder);
  FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) {
    if (error) *error = "cannot open " + path + " for appending";
    return false;
  }
  bool ok = std::fwrite(units.data(), 1, units.size(), f) == units.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok && error) *error = "cannot write " + path;
  return ok;
}

bool WriteFileList(const std::string& folder, const std::vector<FileListEntry>& entries,
                   std::string* error) {
  std::string path = ListPathForWriting(folder);
  std::string all;
  for (const FileListEntry& e : entries) {
    std::string units = EncodeFileListEntry(e);
    if (units.empty()) {
      if (error) *error = "cannot rewrite " + path;
      return false;
    }
    all += units;
  }
  std::string why;
  if (!WriteWholeFile(path, all, Existing::kReplace, &why)) {
    if (error) *error = "cannot rewrite " + why;
    return false;
  }
  return true;
}
