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
  int sectorSize = 2048;  // 2048, 2324 or 2336 user bytes, or 2352 raw
  bool swapBytes = false; // 16-bit audio samples stored big-endian (CUE MOTOROLA files)
  // Raw sectors only: the file ends this many bytes into the extent's last
  // sector, whose rest is silence (sound rarely ends on a sector); 0: whole.
  uint32_t tailBytes = 0;
};

// What a sheet says of a track beyond where it lies.
struct ImageTrackNotes {
  int32_t index0 = 0;  // first sector of the pre-gap; the track's start when it has none
  uint8_t flags = 0;   // control bits: 0x1 pre-emphasis, 0x2 copy permitted, 0x8 four channels
  std::string isrc;    // 12 characters, or empty
  std::vector<int32_t> indexes;  // where index 2, 3, ... begin, in order
};

struct ImageLayout {
  std::vector<std::string> files;
  std::vector<DiscTrack> tracks;  // closed, in disc order
  std::vector<ImageExtent> extents;
  int sessions = 1;
  bool cd = true;                 // false: a DVD or BD image (plain ISO only)
  std::vector<uint8_t> cdText;    // packs built from CUE texts, or those of its CDTEXTFILE
  std::vector<ImageTrackNotes> notes;  // one per track (sheets; plain images: index0 = start)
  std::string catalog;            // the disc's 13-digit catalogue number, or empty
  std::vector<std::string> notices;  // what the user should know (a file taken under another case)
  bool fromSheet = false;         // described by a CUE sheet, a TOC file or NRG chunks
  int32_t EndLba() const;
  // The notes of track `i`, made up for a track that has none.
  ImageTrackNotes NotesOf(size_t i) const;
};

// The files a sheet names, as the file system has them.
struct SheetFiles {
  // Size of a regular file, or -1 when it is missing.
  std::function<int64_t(const std::string& path)> sizeOf;
  // The names in a folder (to find a name written in another case); may be unset.
  std::function<std::vector<std::string>(const std::string& folder)> list;
  // `size` bytes at `offset` (to read a WAVE file's header); may be unset.
  std::function<bool(const std::string& path, uint64_t offset, void* out, size_t size)> read;
};
// The real file system.
SheetFiles LocalSheetFiles();

// Sizes of files named by a CUE sheet, or -1 when missing.
using FileSizeOf = std::function<int64_t(const std::string& path)>;

// Where a sheet's file `name` is: relative to `folder` unless absolute. A
// missing name is looked for without regard to case in its folder; the file
// taken is named in `notice`. False (why) when none or two files match.
bool FindSheetFile(const std::string& name, const std::string& folder, const SheetFiles& files, std::string* path,
                   std::string* notice, std::string* why);

// Where the sample data of a WAVE file lies (`start`, `size` in bytes): 16-bit
// stereo PCM at 44.1 kHz, as a CD holds it. False (why) for anything else.
bool WaveData(const std::string& path, const SheetFiles& files, int64_t fileSize, uint64_t* start, int64_t* size,
              std::string* why);

// A CUE sheet's text; FILE names are taken relative to `folder`.
bool ParseCueSheet(const std::string& text, const std::string& folder, const SheetFiles& files, ImageLayout& out,
                   std::string* why);
bool ParseCueSheet(const std::string& text, const std::string& folder, const FileSizeOf& sizeOf,
                   ImageLayout& out, std::string* why);

// A TOC file's text (the track description of the established Linux
// recording tools); FILE and DATAFILE names are taken relative to `folder`.
bool ParseTocFile(const std::string& text, const std::string& folder, const SheetFiles& files, ImageLayout& out,
                  std::string* why);

// Any image file: a CUE sheet, a TOC file, an NRG image, an ISO image or a
// raw BIN. False (why, naming the file) when it cannot be read or makes no
// disc.
bool ReadImageLayout(const std::string& path, ImageLayout& out, std::string* why);

// An NRG image: `tail` holds the last `tailSize` bytes of a file of
// `fileSize` bytes (the chunk area and the footer).
bool ParseNrg(const uint8_t* tail, size_t tailSize, uint64_t fileSize, const std::string& path,
              ImageLayout& out, std::string* why);
// Where an NRG's chunk area starts, from its footer; 0 when it has none.
uint64_t NrgChunkOffset(const uint8_t* last12, uint64_t fileSize);

// An ISO image, or a raw BIN without a CUE sheet (sync pattern at sector 0).
bool LayoutPlainImage(const std::string& path, uint64_t fileSize, bool rawSectors, cdsector::Mode rawMode,
                      ImageLayout& out, std::string* why);
