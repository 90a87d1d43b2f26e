#pragma once
// A drive (or the image-file device) as the sector source of the UDF reader:
// READ(10) for the sectors, READ CAPACITY for where the recorded area ends
// (the virtual allocation table is found there).

#include "CDevCmdROM.h"
#include "authoring/CAnaly_UDF.h"

class UdfDriveSource : public UdfSectorSource {
 public:
  explicit UdfDriveSource(CDevCmdROM* drive);
  // TEST UNIT READY; the reader is opened only on a ready unit.
  bool Ready();
  bool ReadSectors(uint32_t sector, uint32_t count, uint8_t* out) override;
  uint64_t SectorCount() const override { return sectors_; }

 private:
  CDevCmdROM* drive_;
  uint64_t sectors_ = 0;
};
