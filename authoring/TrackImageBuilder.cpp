#include "authoring/TrackImageBuilder.h"

#include "authoring/CDataFile.h"
#include "authoring/CDataFileUDF.h"

std::unique_ptr<TrackImageBuilder> MakeDataTrackLayout(DataTrackFormat format) {
  if (format == DataTrackFormat::kUdf) return std::make_unique<CDataFileUDF>();
  return std::make_unique<CDataFile>();
}
