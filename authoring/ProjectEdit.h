#pragma once
// Moving and copying entries of a data project between its disc folders:
// folders are folders of the staging tree, files are entries of the folders'
// lists. A name that is taken in the target folder is never skipped and
// never overwritten: the entry gets the next free name ("a (2).txt") and the
// change is reported, so that the window can tell the user.

#include <string>
#include <vector>

struct ProjectEditResult {
  struct Renamed {
    std::string from;  // the entry's name in its old folder
    std::string to;    // its name in the target folder
  };
  std::vector<Renamed> renamed;
  std::vector<std::string> done;  // the names now in the target folder, in order
  std::string error;              // why the edit stopped; "" when it did not
};

// The disc name `name` would get in staging folder `folder`: itself when it is
// free there (names compare case-insensitively, as on the disc), else the
// first free "stem (n).ext" (a folder's name has no extension).
std::string FreeDiscName(const std::string& folder, const std::string& name, bool isFolder);

// Moves the entries `names` (folders by their name, files by their disc name)
// of staging folder `from` into staging folder `to`. A folder is never moved
// into itself or below itself. Stops at the first failure, with everything
// before it moved.
bool MoveProjectEntries(const std::string& from, const std::vector<std::string>& names, const std::string& to,
                        ProjectEditResult* result);

// The same, copying: the copies point at the same source files.
bool CopyProjectEntries(const std::string& from, const std::vector<std::string>& names, const std::string& to,
                        ProjectEditResult* result);
