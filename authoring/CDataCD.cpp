#include "authoring/CDataCD.h"

#include <cstdio>
#include <filesystem>

#include "authoring/FileList.h"
#include "authoring/StagingFolder.h"
#include "foundation/TempFiles.h"

namespace {

constexpr const char* kPlaylistName = "Playlist.M3U";

void CollectLines(const std::string& folder, const std::string& discPath, std::string* text) {
  for (const StagingEntry& entry : EnumerateStagingFolder(folder)) {
    std::string path = folder + "/" + entry.name;
    if (entry.kind == StagingEntry::kFolder) {
      CollectLines(path, discPath + entry.name + "\\", text);
      continue;
    }
    FileListReader reader(path);
    FileListEntry e;
    while (reader.Next(&e)) *text += discPath + e.discName + "\r\n";
  }
}

}  // namespace

bool WritePlaylist(const std::string& stagingRoot, std::string* error) {
  std::string root = StripTrailing(stagingRoot);
  std::vector<FileListEntry> entries;
  if (!ReadFileList(root, &entries, error)) return false;
  std::vector<FileListEntry> kept;
  for (const FileListEntry& e : entries)
    if (e.discName != kPlaylistName) kept.push_back(e);
  if (kept.size() != entries.size() && !WriteFileList(root, kept, error)) return false;

  std::string text;
  CollectLines(root, "", &text);
  std::string playlist = root + "/" + kPlaylistName;  // a plain file: the layouts leave it out
  FILE* f = std::fopen(playlist.c_str(), "wb");
  bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (f) ok = (std::fclose(f) == 0) && ok;
  if (!ok) {
    if (error) *error = "cannot write the playlist " + playlist;
    return false;
  }
  return AppendFileListEntry(root, {playlist, kPlaylistName}, error);
}

CDataCD::CDataCD() : root_(MakeStagingRoot()) { manager_.SetStagingRoot(root_); }

CDataCD::~CDataCD() {
  manager_.Stop();
  manager_.Wait();
  RemoveTree(root_);
}

bool CDataCD::Reset() {
  RemoveTree(root_);
  root_ = MakeStagingRoot();
  manager_.SetStagingRoot(root_);
  return !root_.empty();
}

bool CDataCD::AddPath(const std::string& sourcePath, const std::string& discFolder, bool mp3,
                      const std::string& discName) {
  if (root_.empty()) return false;
  mp3_ = mp3;
  std::string folder = discFolder;
  if (folder.empty() || folder.front() != '\\') folder = "\\" + folder;
  if (folder.back() != '\\') folder += "\\";
  std::string source = sourcePath;
  if (source.size() > 1 && (source.back() == '\\' || source.back() == '/')) source.pop_back();

  std::string staging = root_;
  size_t pos = 1;
  while (pos < folder.size()) {
    size_t next = folder.find('\\', pos);
    std::string name = folder.substr(pos, next - pos);
    pos = next + 1;
    if (name.empty()) continue;
    if (name == "." || name == ".." || name.find('/') != std::string::npos) return false;
    staging += "/" + name;
  }
  std::error_code ec;
  std::filesystem::create_directories(staging, ec);
  manager_.SetMode(mp3 ? CFileManager::kModeMp3 : CFileManager::kModeData);
  return manager_.AddPath(nullptr, nullptr, source, staging, discName);
}

bool CDataCD::MakePlaylist(const std::string& projectFile, const std::string& label) {
  if (mp3_ && !WritePlaylist(root_)) return false;
  return manager_.SaveDataProject(root_, projectFile, label, nullptr, Existing::kReplace);
}
