#include "analysis/CAnaly_ISO.h"

bool CAnaly_ISO::Open(UdfSectorSource* source, uint32_t trackStart) {
  error_.clear();
  open_ = reader_.Open(source, trackStart);
  return open_;
}

bool CAnaly_ISO::Walk(UdfWalkListener* listener) {
  if (!open_) {
    error_ = "no volume is open";
    return false;
  }
  return reader_.Walk(
      [listener](const UdfEntry& entry) { return listener->Entry(entry) ? IsoReader::kGoOn : IsoReader::kStop; });
}
