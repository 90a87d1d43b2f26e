#pragma once
// The checksum list of a disc: an "md5sum -c" list of every file of its
// file system (the last session's), each read from the disc.

#include <functional>
#include <string>
#include <vector>

#include "CDevCmdROM.h"

struct Md5List {
  bool ok = false;                  // false: no file system could be read (`error`)
  std::string text;                 // the list, one "DIGEST  PATH" line a file
  std::vector<std::string> failed;  // files that could not be read, left out
  bool complete = false;            // false: part of the folders could not be read (`error`)
  bool stopped = false;             // `stopped` said so before every file was read (not ok)
  std::string error;
};

// `stopped` is asked between reads; a list stopped part way is no list.
Md5List MakeMd5List(CDevCmdROM& drive, const std::function<bool()>& stopped = {});
