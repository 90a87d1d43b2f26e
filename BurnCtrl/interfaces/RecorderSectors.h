#pragma once
// A recorder's disc as a source of 2048-byte sectors, for the readers of the
// project layer (session import, UDF reader).

#include "BurnCtrl/interfaces/Recorder.h"
#include "authoring/CAnaly_UDF.h"

class RecorderSectors : public UdfSectorSource {
 public:
  explicit RecorderSectors(Recorder* recorder) : recorder_(recorder) {}
  bool ReadSectors(uint32_t sector, uint32_t count, uint8_t* out) override {
    return recorder_->ReadCD_Data(sector, out, count) == 0;
  }
  uint64_t SectorCount() const override { return 0; }

 private:
  Recorder* recorder_;
};
