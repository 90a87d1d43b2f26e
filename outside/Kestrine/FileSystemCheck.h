#pragma once
// Which file systems a data track carries, judged from what readers look at
// first: the volume recognition area from the track's sector 16 (ISO 9660
// volume descriptors, then the UDF extended area with its NSR descriptor)
// and, without an NSR descriptor, a UDF anchor at the track's sector 256.
// Every drive, image and reader asks here, so a bridge disc is one answer.

#include <cstdint>
#include <functional>

namespace fscheck {

constexpr int kIso9660 = 1;
constexpr int kUdf = 2;
constexpr uint32_t kRecognitionStart = 16;  // first sector of the area
constexpr uint32_t kRecognitionEnd = 48;    // looked at no further
constexpr uint32_t kUdfAnchorSector = 256;

// Reads the 2048-byte sector `sector` (counted from the track's start) into
// `out`; false when it cannot be read.
using SectorReader = std::function<bool(uint32_t sector, uint8_t* out)>;

// 0 none, kIso9660, kUdf, or both (a bridge volume).
int Judge(const SectorReader& read);

}  // namespace fscheck
