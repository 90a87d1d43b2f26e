#pragma once
// The 258-sector skeleton of a UDF volume that the data-disc layout starts
// from (resource 2007 of the Tamsin resources). Its descriptors sit at fixed
// sectors that CDataFileUDF patches; the numbers below are those sectors.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "authoring/CECMA167.h"

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

// Field offsets the layout patches (the descriptor layouts of CECMA167.h).
constexpr size_t kAnchorMainLocation = udf::avdp::kMainLocation, kAnchorReserveLocation = udf::avdp::kReserveLocation;
constexpr size_t kPrimaryVolumeId = udf::pvd::kVolumeId, kPrimaryVolumeSetId = udf::pvd::kVolumeSetId,
                 kPrimaryRecordingTime = udf::pvd::kRecordingTime;
constexpr size_t kImplUseVolumeId = udf::iuvd::kVolumeId;
constexpr size_t kPartitionStartField = udf::pd::kStart, kPartitionLengthField = udf::pd::kLength;
constexpr size_t kLogicalVolumeId = udf::lvd::kVolumeId, kLogicalVolumeFileSet = udf::lvd::kFileSetBlock,
                 kLogicalVolumeIntegrity = udf::lvd::kIntegrityLocation;
constexpr size_t kIntegrityTime = udf::lvid::kTime, kIntegrityNextUniqueId = udf::lvid::kNextUniqueId,
                 kIntegrityFreeSpace = udf::lvid::kFreeSpace, kIntegritySizeTable = udf::lvid::kSizeTable,
                 kIntegrityFileCount = udf::lvid::kFileCount, kIntegrityDirCount = udf::lvid::kDirCount;
constexpr size_t kFileSetTime = udf::fsd::kTime, kFileSetVolumeId = udf::fsd::kVolumeId,
                 kFileSetId = udf::fsd::kFileSetId, kFileSetRoot = udf::fsd::kRootBlock;
constexpr uint16_t kUdfRevision = 0x0102;
}  // namespace udftpl

// The skeleton, kSectors × 2048 bytes, every descriptor tagged for a
// volume starting at sector 0.
std::vector<uint8_t> MakeUdfVolumeTemplate();
