#pragma once
// How the MPEG tracks of a Video CD or Super Video CD are laid out: the one
// place that both the control-track layout and the disc writer take it from.
//
// A track of one item is its pre-gap (kTrackGap sectors of empty Form 2
// sectors after the previous track), then kFrontMargin empty sectors, the
// item's sectors, and kRearMargin empty sectors. An item is an MPEG file cut
// into 2324-byte Form 2 payloads, or a ".DAT" file that already holds raw
// 2352-byte sectors behind a 44-byte RIFF header.

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "SectorSizes.h"

namespace vcdtracks {

constexpr int kForm2Payload = kForm2Size;
constexpr int kRawSector = kRawSectorSize;
constexpr int kDatHeader = 44;
constexpr int kFrontMargin = 30;
constexpr int kRearMargin = 60;
constexpr int kMargins = kFrontMargin + kRearMargin;  // 90
constexpr int kTrackGap = 151;
constexpr int kMaxItems = 98;  // disc tracks 2 to 99

// ".DAT" in any case at the end of the name.
inline bool IsDatFile(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ext = path.substr(path.size() - 4);
  for (char& c : ext) c = char(c >= 'a' && c <= 'z' ? c - 32 : c);
  return ext == ".DAT";
}

// Sectors of the item's own data for a file of `bytes` bytes.
inline int64_t DataSectors(const std::string& path, uint64_t bytes) {
  if (IsDatFile(path)) return bytes <= uint64_t(kDatHeader) ? 0 : int64_t((bytes - kDatHeader + kRawSector - 1) / kRawSector);
  return int64_t((bytes + kForm2Payload - 1) / kForm2Payload);
}

// Sectors of the whole item on the disc (data and margins), or -1 when the
// file cannot be read as a regular file or holds no data: such an item is
// refused, never written as an empty track.
inline int64_t ItemSectors(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  int64_t data = DataSectors(path, uint64_t(st.st_size));
  return data > 0 ? data + kMargins : -1;
}

}  // namespace vcdtracks
