#pragma once
#include <string>
#include <vector>

// Where the shared MIME database and desktop entries live.
struct XdgDataFolders {
  std::string dataHome;               // $XDG_DATA_HOME, or ~/.local/share
  std::vector<std::string> dataDirs;  // $XDG_DATA_DIRS, or /usr/local/share, /usr/share
  static XdgDataFolders FromEnvironment();
};

// Whether any MIME type of the given folders already claims "*.bcd".
bool ProjectFileTypeClaimed(const XdgDataFolders& folders);

// Registers "*.bcd" as application/x-varnex-project opened by `programPath`
// ("<program> %f"), with a MIME package and a desktop entry in the user's data
// folder. An existing association is never overwritten: when "*.bcd" is
// already claimed nothing is written. Returns true when this call registered it.
bool RegisterProjectFileType(const std::string& programPath, const XdgDataFolders& folders);
bool RegisterProjectFileType();  // the running program, the environment's folders
