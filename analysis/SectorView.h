#pragma once
// One sector of a disc as the sector viewer shows it: read cooked (the 2048
// bytes of user data) or, on CDs, raw (all 2352 bytes: sync, header, data,
// EDC and ECC), laid out as a hexadecimal dump, and saved as "Sector.dat".

#include <cstdint>
#include <string>
#include <vector>

#include "CDevCmdROM.h"

struct SectorView {
  uint8_t buffer[2352] = {};
  int shown = 0;          // bytes read and shown: 2048 or 2352; 0 when nothing was read
  bool rawAllowed = false;  // the medium is a CD (or unknown): raw reading is offered
  int dataMode = 0;       // the data mode of the sector's track (kept, not shown)
  std::string error;      // why nothing could be read
};

// Reads sector `lba` of the disc in `drive`; `raw` asks for all 2352 bytes,
// which only CD media give. False (view.error set, view.shown 0) when the
// drive is not ready or the read fails.
bool ReadSectorView(CDevCmdROM& drive, uint32_t lba, bool raw, SectorView* view);

// The dump: a column header, a rule, then one line per 16 bytes with the
// offset, the bytes in hexadecimal and as characters.
std::vector<std::string> SectorDumpLines(const uint8_t* data, int size);

// Writes the bytes shown to `path` through the output primitive: an existing
// file is replaced only with `mayReplace`, and then only by a whole one.
// False with `why` set on failure.
bool SaveSectorFile(const std::string& path, const SectorView& view, bool mayReplace, std::string* why);
