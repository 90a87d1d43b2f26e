#pragma once
// The 258-sector skeleton of a UDF volume that the data-disc layout starts
// from (resource 2007 of the Tamsin resources). Its descriptors sit at fixed
// sectors that CDataFileUDF patches; the numbers below are those sectors.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace udftpl {
constexpr uint32_t kSectors = 258;
constexpr uint32_t kResourceNumber = 2007;

constexpr uint32_t kMainSequence = 32;     // PVD, IUVD, PD, LVD, USD, TD
constexpr uint32_t kReserveSequence = 48;  // the same again
constexpr uint32_t kSequenceSectors = 16;  // extent length of each sequence
constexpr uint32_t kPrimary = 0, kImplUse = 1, kPartition = 2, kLogicalVolume = 3,
                   kUnallocated = 4, kTerminator = 5;  // offsets inside a sequence
constexpr uint32_t kIntegrity = 64;        // LVID, then a terminating descriptor
constexpr uint32_t kAnchor = 256;
constexpr uint32_t kFileSet = 257;         // logical block 0 of the partition
constexpr uint32_t kPartitionStart = 257;

// Field offsets the layout patches.
constexpr size_t kAnchorMainLocation = 20, kAnchorReserveLocation = 28;
constexpr size_t kPrimaryVolumeId = 24, kPrimaryVolumeSetId = 72, kPrimaryRecordingTime = 376;
constexpr size_t kImplUseVolumeId = 116;
constexpr size_t kPartitionStartField = 188, kPartitionLengthField = 192;
constexpr size_t kLogicalVolumeId = 84, kLogicalVolumeFileSet = 252, kLogicalVolumeIntegrity = 436;
constexpr size_t kIntegrityTime = 16, kIntegrityNextUniqueId = 40, kIntegrityFreeSpace = 80,
                 kIntegritySizeTable = 84, kIntegrityFileCount = 120, kIntegrityDirCount = 124;
constexpr size_t kFileSetTime = 16, kFileSetVolumeId = 112, kFileSetId = 304, kFileSetRoot = 404;
constexpr uint16_t kUdfRevision = 0x0102;
}  // namespace udftpl

// The skeleton, kSectors × 2048 bytes, every descriptor tagged for a
// volume starting at sector 0.
std::vector<uint8_t> MakeUdfVolumeTemplate();
