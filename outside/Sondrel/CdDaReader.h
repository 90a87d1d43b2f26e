#pragma once
// Reads the audio sectors of a CD so that nothing read wrongly is kept: every
// block is read twice and the copies compared; a block whose copies differ is
// read sector by sector until two reads of each sector agree. A sector that
// cannot be read, or whose reads never agree, stops the reading and is named
// by its address.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "SectorSizes.h"

class CDevCmdROM;

class CdDaReader {
 public:
  enum Outcome { kOk, kUnreadable, kUnstable, kNotAudio, kStopped };

  static constexpr int kSectorBytes = kRawSectorSize;
  static constexpr int kBlockSectors = 24;
  static constexpr int kReadAttempts = 4;     // a failed command, tried again
  static constexpr int kCompareAttempts = 8;  // reads of a sector whose copies differ

  explicit CdDaReader(CDevCmdROM& drive) : drive_(drive) {}

  // Reads `count` sectors from `lba` (count <= kBlockSectors) into `out`,
  // checked as above. On a failure, BadSector() names the sector.
  Outcome ReadBlock(uint32_t lba, int count, std::vector<uint8_t>& out, const std::atomic<bool>& stop);

  uint32_t BadSector() const { return badSector_; }
  // Sense key, ASC and ASCQ of the last failed read ("3/11/05").
  std::string BadSense() const { return badSense_; }
  // Sectors that needed more than one pair of reads to agree.
  uint32_t CorrectedSectors() const { return corrected_; }

 private:
  bool Read(uint32_t lba, int count, uint8_t* out, const std::atomic<bool>& stop, Outcome& why);
  Outcome ReadSector(uint32_t lba, uint8_t* out, const std::atomic<bool>& stop);

  CDevCmdROM& drive_;
  uint32_t badSector_ = 0;
  std::string badSense_;
  uint32_t corrected_ = 0;
};
