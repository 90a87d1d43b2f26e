#pragma once
// The device information page: what a drive can read and write, from its
// capabilities mode page (2A) and its feature list, as a fixed table of
// rows. Each row names its language text; the support column is yes, no or
// empty (headings and spacers).

#include <cstdint>
#include <string>
#include <vector>

#include "CDevCmdROM.h"

struct DevInfoRow {
  enum Support { kNone, kYes, kNo } support = kNone;
  int nameKey = 0;  // "UIText" key of the row's name; 0 for a spacer
};

// The 36 rows from a capabilities page (from its code byte on, at least 6
// bytes) and a GET CONFIGURATION answer (`config` may be empty).
std::vector<DevInfoRow> DeviceInfoRows(const uint8_t* page, size_t pageSize, const uint8_t* config, size_t configSize);

// Asks the drive. False (the list stays empty) when the drive does not give
// its capabilities page; a failed feature request counts every feature absent.
bool ReadDeviceInfo(CDevCmdROM& drive, std::vector<DevInfoRow>* rows);
