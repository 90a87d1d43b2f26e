#pragma once
// Which file of a disc owns a sector: the file tables of every data track's
// file system, read from the disc, for naming the files that a bad sector
// or an unreadable range belongs to.

#include <cstdint>
#include <string>
#include <vector>

#include "CDevCmdROM.h"
#include "analysis/DiscAnalysis.h"

class SectorOwners {
 public:
  // Reads the table of contents and the file systems of the disc's data
  // tracks. False when nothing could be read; `Problems` says what was not.
  bool Load(CDevCmdROM& drive);

  // The disc path of the file owning `lba`; for a folder's own sectors and
  // for the sectors of a file system that no file covers (its descriptors
  // and directories) a name that says so; "" when no file system holds it.
  std::string Owner(uint32_t lba) const;
  // Every owner of the sectors [first, last], in disc order, each once.
  std::vector<std::string> Owners(uint32_t first, uint32_t last) const;

  struct Volume {
    uint32_t trackStart = 0, trackEnd = 0;  // [start, end)
    int track = 0;
    DiscFiles files;
    bool read = false;  // false: its directory area could not be read
  };
  const std::vector<Volume>& Volumes() const { return volumes_; }
  const DiscAnalysis& Disc() const { return disc_; }
  const std::vector<std::string>& Problems() const { return problems_; }

 private:
  struct Extent {
    uint32_t first = 0, last = 0;
    std::string owner;
  };
  DiscAnalysis disc_;
  std::vector<Volume> volumes_;
  std::vector<Extent> extents_;  // sorted by first sector
  std::vector<std::string> problems_;
};

// The file owning a sector of the disc in the engine's drive `drive` ("" when
// unknown): the disc's file tables read afresh, for a verdict after a burn.
std::string OwnerOnDisc(int drive, uint32_t lba);
