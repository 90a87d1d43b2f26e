#pragma once
// The disc-copy file (".bcl"): a whole disc kept on the hard disk, made from
// a drive by GeneFile and read back as a source. Layout (all numbers
// little-endian; described in full in CopyFile.md beside this file):
//
//   header, 64 bytes
//     0  8  magic "VXBCL" 1A 0D 0A
//     8  2  version (1)
//    10  2  header size (64)
//    12  1  disc type (1 CD, 2 DVD, 3 BD)
//    13  1  1 when the source disc was closed, 0 when it was left open
//    14  2  MMC profile of the source medium
//    16  4  sector size (2352 for CD, 2048 for DVD and BD)
//    20  2  session count
//    22  2  track count
//    24  4  size of the track table in bytes (track count x 32)
//    28  8  number of sectors stored
//    36  4  CRC-32 of all stored sectors
//    40 20  zero
//    60  4  CRC-32 of bytes 0-59 and the track table
//   track table, 32 bytes a track, in disc order
//     0  1  track number      1  1  session number
//     2  1  control nibble    3  1  sector form (MODE_FORM)
//     4  4  pre-gap start (LBA, signed)   8  4  start (index 1, LBA)
//    12  4  length in sectors (from the start)
//    16  8  byte offset in the file of the track's first pre-gap sector
//    24  8  zero
//   the sectors: per track, from its pre-gap start to its end.

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "CDevCmdROM.h"
#include "DataSource.h"

class DataSource_Device;
class OutputFile;

namespace bcl {
constexpr int kHeaderSize = 64;
constexpr int kTrackEntrySize = 32;
constexpr uint16_t kVersion = 1;
// A file that carries what a CD holds beside its sectors (CD-Text, the
// catalogue number, ISRCs, index points) in a block after them; a copy
// without them is written as version 1, which older programs read.
constexpr uint16_t kVersionExtras = 2;
extern const uint8_t kMagic[8];
// CRC-32 (the polynomial of zip and PNG), continued from `crc`.
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size);
}  // namespace bcl

// What GeneFile returns.
enum GENE_RESULT : int {
  GENE_OK = 0,
  GENE_STOPPED = 1,           // GeneFile_SetStop: the partial file is removed
  GENE_SOURCE_UNREADABLE = 2, // the source disc could not be read
  GENE_SOURCE_EMPTY = 3,      // blank, or no session
  GENE_FILE_IN_THE_WAY = 4,   // something already has the file's name
  GENE_WRITE_FAILED = 5,      // the file could not be written (a full disk)
  GENE_BAD_SECTOR_SIZE = 6,   // the sector size does not fit the disc
};

class DataSource_CloneFile : public DataSource {
 public:
  explicit DataSource_CloneFile(const char* path);
  ~DataSource_CloneFile() override;

  // True when the file is a whole, undamaged copy file: the header, its
  // table and, with `checkSectors`, the checksum of every sector. False with
  // GetLastError telling what is wrong.
  bool GetFileInfo(bool checkSectors = true);

  // Writes the whole disc in `source` into the file. The file is made under
  // a name of its own beside its place and takes its name only when it is
  // complete; it never replaces an existing file.
  int GeneFile(CDevCmdROM* source, int sectorSize);
  void GeneFile_SetStop(bool stop) { stop_ = stop; }
  // Percent of GeneFile done (0 to 100).
  int GetGeneProgress() const;
  // Whether GeneFile rebuilt raw sectors from READ (10) data (the drive
  // refused READ CD).
  bool RebuiltRawSectors() const { return rebuilt_; }

  bool GetSectorData(uint8_t* buffer, int count) override;
  DataSource* CloneSource() override;
  const std::string& Path() const { return path_; }

 private:
  bool Refuse(const std::string& why);
  // Reads a track's sectors from the disc into the copy file at *offset;
  // GENE_OK, or the failure with error_ saying why.
  // `pieces` are the two buffers the drive reads into by turns.
  int CopyTrack(DataSource_Device& disc, const SourceTrack& t, OutputFile& out,
                std::array<std::vector<uint8_t>, 2>& pieces, int sectorSize, uint64_t* offset, uint32_t* dataCrc);

  std::string path_;
  int fd_ = -1;
  bool valid_ = false;
  struct Place { int number; uint64_t offset; };
  std::vector<Place> places_;
  std::atomic<bool> stop_{false};
  bool rebuilt_ = false;
  std::atomic<int64_t> geneDone_{0}, geneTotal_{0};
};
