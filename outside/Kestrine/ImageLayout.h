#pragma once
// Where the sectors of a disc image lie: ISO (2048-byte sectors), raw BIN
// (2352) with or without a CUE sheet, and NRG. Everything an image says is
// checked before use: a damaged image gives a reason, never a wild read.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "MmcDiscTarget.h"

struct ImageExtent {
  int32_t lba = 0;        // first disc sector
  int32_t count = 0;
  int file = -1;          // index into ImageLayout::files; -1: sectors not in any file (zeros)
  uint64_t offset = 0;    // byte offset of the first sector in the file
  int sectorSize = 2048;  // 2048 or 2336 user bytes, or 2352 raw
};

struct ImageLayout {
  std::vector<std::string> files;
  std::vector<DiscTrack> tracks;  // closed, in disc order
  std::vector<ImageExtent> extents;
  int sessions = 1;
  bool cd = true;                 // false: a DVD or BD image (plain ISO only)
  std::vector<uint8_t> cdText;    // packs built from CUE texts
  int32_t EndLba() const;
};

// Sizes of files named by a CUE sheet, or -1 when missing.
using FileSizeOf = std::function<int64_t(const std::string& path)>;

// A CUE sheet's text; FILE names are taken relative to `folder`.
bool ParseCueSheet(const std::string& text, const std::string& folder, const FileSizeOf& sizeOf,
                   ImageLayout& out, std::string* why);

// An NRG image: `tail` holds the last `tailSize` bytes of a file of
// `fileSize` bytes (the chunk area and the footer).
bool ParseNrg(const uint8_t* tail, size_t tailSize, uint64_t fileSize, const std::string& path,
              ImageLayout& out, std::string* why);
// Where an NRG's chunk area starts, from its footer; 0 when it has none.
uint64_t NrgChunkOffset(const uint8_t* last12, uint64_t fileSize);

// An ISO image, or a raw BIN without a CUE sheet (sync pattern at sector 0).
bool LayoutPlainImage(const std::string& path, uint64_t fileSize, bool rawSectors, cdsector::Mode rawMode,
                      ImageLayout& out, std::string* why);
