#pragma once
// A data project that owns its staging folder: the recorder command layer
// keeps one per drive so that several drives can write one project at once.

#include <string>

#include "authoring/CFileManager.h"

class CDataCD {
 public:
  CDataCD();   // creates its staging root
  ~CDataCD();  // deletes it with everything in it
  CDataCD(const CDataCD&) = delete;
  CDataCD& operator=(const CDataCD&) = delete;

  bool Reset();
  // Adds a file or folder below `discFolder` ("\" for the root, "\Music\"),
  // creating the folder levels that are missing.
  bool AddPath(const std::string& sourcePath, const std::string& discFolder, bool mp3,
               const std::string& discName = "");
  // MP3 discs get their playlist first; then the project is saved.
  bool MakePlaylist(const std::string& projectFile, const std::string& label = "");
  const std::string& GetStagingRoot() const { return root_; }
  CFileManager& Manager() { return manager_; }

 private:
  std::string root_;
  CFileManager manager_;
  bool mp3_ = false;
};

// Writes "Playlist.M3U" for an MP3 disc: one line per listed file, its disc
// path below the root ("Music\song.mp3"), and lists it at the root (replacing
// an earlier playlist). The text itself is kept inside the staging root.
bool WritePlaylist(const std::string& stagingRoot, std::string* error = nullptr);
