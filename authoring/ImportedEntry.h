#pragma once
// The descriptor of an entry imported from the disc's last session. It stands
// in the source-path field of the entry's file.ls record:
//
//   file:   "<1><" name "><" date "><" size "><" location ">" ["[" start "-" count "," ... "]"] [posix]
//   posix:  "{" mode "," uid "," gid "," modified "," accessed "," changed ["," link target in hex] "}"
//   folder: "<2><" name ">"
//
// The date is the seven recording-date bytes of the old directory record
// (year - 1900, month, day, hour, minute, second, zone), written as 14
// hexadecimal digits so that no byte value can end the text early. A date of
// exactly seven raw bytes is also accepted when read.

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct ImportedEntry {
  enum Kind : int { kFile = 1, kFolder = 2 };
  int kind = kFile;
  std::string name;                 // disc name without the ";1" version
  std::array<uint8_t, 7> date{};    // as in the old directory record
  uint64_t size = 0;
  uint32_t location = 0;            // first extent (logical block)
  std::vector<std::pair<uint32_t, uint32_t>> extents;  // further extents: start, block count
  // What a Rock Ridge disc said of the file, to be written again.
  bool posix = false;
  uint32_t mode = 0, uid = 0, gid = 0;
  int64_t modified = 0, accessed = 0, changed = 0;
  bool link = false;
  std::string linkTarget;
};

std::string FormatImportedEntry(const ImportedEntry& entry);

// False when the text is not a well-formed descriptor.
bool ParseImportedEntry(const std::string& text, ImportedEntry* entry);
