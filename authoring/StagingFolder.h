#pragma once
// The staging folder: one real folder per disc folder, each with its
// file.ls. These helpers are shared by everything that walks it.

#include <string>
#include <vector>

struct StagingEntry {
  enum Kind { kFolder, kFileList };
  Kind kind;
  std::string name;  // the folder's disc name, or the list file's own name
};

// Subfolders and the list file of a staging folder, sorted by name (byte
// order), so that directories, path tables and the data list of a layout
// come out in step and the same on every run. Other files are left out.
std::vector<StagingEntry> EnumerateStagingFolder(const std::string& folder);

// A new staging root "Folder<number>" in the temporary folder; "" on failure.
std::string MakeStagingRoot();

// A path without trailing "/" (the root "/" stays).
std::string StripTrailing(const std::string& path);

// The last path component ("a/b/c.txt" -> "c.txt"; a trailing "/" is ignored).
std::string NamePart(const std::string& path);
