#include "FileSystemCheck.h"

#include <algorithm>
#include <cstring>

#include "ByteFields.h"

namespace fscheck {
namespace {

// Tag identifier 2 (an anchor volume descriptor pointer) with a tag checksum
// that adds up, so that file data starting with 02 00 is not taken for one.
bool IsAnchor(const uint8_t* s) {
  if (bytes::LE16(s) != 2) return false;
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = uint8_t(sum + s[i]);
  return sum == s[4];
}

}  // namespace

int Judge(const SectorReader& read) {
  bool iso = false, udf = false;
  uint8_t sector[2048];
  for (uint32_t i = kRecognitionStart; i < kRecognitionEnd; ++i) {
    if (!read(i, sector)) break;
    const char* id = reinterpret_cast<const char*>(sector + 1);
    if (std::memcmp(id, "CD001", 5) == 0) {
      if (sector[0] == 1) iso = true;
    } else if (std::memcmp(id, "NSR02", 5) == 0 || std::memcmp(id, "NSR03", 5) == 0) {
      udf = true;
    } else if (std::memcmp(id, "BEA01", 5) != 0 && std::memcmp(id, "TEA01", 5) != 0 &&
               std::all_of(sector, sector + sizeof sector, [](uint8_t b) { return b == 0; })) {
      break;  // the end of the recognition area
    }
  }
  if (!udf && read(kUdfAnchorSector, sector) && IsAnchor(sector)) udf = true;
  return (iso ? kIso9660 : 0) | (udf ? kUdf : 0);
}

}  // namespace fscheck
