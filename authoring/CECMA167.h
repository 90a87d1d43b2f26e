#pragma once
// The UDF descriptor toolkit: descriptor tags, the CRC, file entries, file
// identifiers, timestamps, d-strings and entity identifiers. Every UDF byte
// layout Varnex writes or reads is formed or parsed here, so writers (the
// data-disc layout, the resource generator, DVD-Video) and the reader agree.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "SectorSizes.h"

namespace udf {

constexpr uint32_t kBlockSize = kDataSectorSize;

// Tag identifiers.
enum TagId : uint16_t {
  kTagPrimaryVolume = 1,
  kTagAnchor = 2,
  kTagVolumePointer = 3,
  kTagImplementationUse = 4,
  kTagPartition = 5,
  kTagLogicalVolume = 6,
  kTagUnallocatedSpace = 7,
  kTagTerminating = 8,
  kTagIntegrity = 9,
  kTagFileSet = 256,
  kTagFileIdentifier = 257,
  kTagAllocationExtent = 258,
  kTagIndirectEntry = 259,
  kTagTerminalEntry = 260,
  kTagFileEntry = 261,
  kTagExtendedFileEntry = 266,
};

// Files are cut into extents of this many bytes (a short allocation
// descriptor holds at most 1 GiB; 512 MiB keeps every piece block-aligned).
constexpr uint64_t kMaxExtentBytes = 0x20000000;
constexpr uint32_t kMaxExtentBlocks = uint32_t(kMaxExtentBytes / kBlockSize);
// Short allocation descriptors that fit in a file entry's block.
constexpr size_t kMaxShortAds = (kBlockSize - 176) / 8;

// File types of the ICB tag.
constexpr uint8_t kFileTypeDirectory = 4;
constexpr uint8_t kFileTypeFile = 5;

// File characteristics of a file identifier.
constexpr uint8_t kCharHidden = 1;
constexpr uint8_t kCharDirectory = 2;
constexpr uint8_t kCharDeleted = 4;
constexpr uint8_t kCharParent = 8;

// Allocation descriptor kinds (low three bits of the ICB flags).
constexpr uint8_t kAdShort = 0, kAdLong = 1, kAdExtended = 2, kAdEmbedded = 3;

// The maker's identifier in entity identifiers (23 bytes, the field's size).
constexpr const char* kMakerId = "*Kvor(kvor.example.net)";

// File entry fields.
namespace fe {
constexpr size_t kIcbTag = 16, kStrategy = 20, kMaxEntries = 24, kFileType = 27, kIcbFlags = 34;
constexpr size_t kUid = 36, kGid = 40, kPermissions = 44, kLinkCount = 48;
constexpr size_t kInfoLength = 56, kBlocksRecorded = 64;
constexpr size_t kAccessTime = 72, kModifyTime = 84, kAttributeTime = 96, kCheckpoint = 108;
constexpr size_t kImplId = 128, kUniqueId = 160, kEaLength = 168, kAdLength = 172, kAds = 176;
}  // namespace fe

// Anchor volume descriptor pointer fields: the main and the reserve volume
// descriptor sequence extents (byte length, first sector).
namespace avdp {
constexpr size_t kMainLength = 16, kMainLocation = 20, kReserveLength = 24, kReserveLocation = 28;
}  // namespace avdp

// Volume descriptor pointer fields: where the sequence continues.
namespace vdp {
constexpr size_t kNextLength = 20, kNextLocation = 24;
}  // namespace vdp

// Primary volume descriptor fields.
namespace pvd {
constexpr size_t kVolumeId = 24, kVolumeSetId = 72, kRecordingTime = 376;
}  // namespace pvd

// Implementation use volume descriptor fields.
namespace iuvd {
constexpr size_t kVolumeId = 116;
}  // namespace iuvd

// Partition descriptor fields.
namespace pd {
constexpr size_t kNumber = 22, kStart = 188, kLength = 192;
}  // namespace pd

// Logical volume descriptor fields. The file set descriptor's place is a
// long allocation descriptor (length, block, partition); the partition maps
// follow at kMaps.
namespace lvd {
constexpr size_t kVolumeId = 84, kBlockSize = 212, kDomainId = 216, kDomainRevision = 216 + 24;
constexpr size_t kFileSetLength = 248, kFileSetBlock = 252, kFileSetPartition = 256;
constexpr size_t kMapTableLength = 264, kMapCount = 268, kIntegrityLength = 432, kIntegrityLocation = 436;
constexpr size_t kMaps = 440;
}  // namespace lvd

// Logical volume integrity descriptor fields.
namespace lvid {
constexpr size_t kTime = 16, kNextUniqueId = 40, kFreeSpace = 80, kSizeTable = 84, kFileCount = 120,
                 kDirCount = 124;
}  // namespace lvid

// File set descriptor fields. The root folder's entry is a long allocation
// descriptor (length, block, partition).
namespace fsd {
constexpr size_t kTime = 16, kVolumeId = 112, kFileSetId = 304;
constexpr size_t kRootLength = 400, kRootBlock = 404, kRootPartition = 408;
}  // namespace fsd

// File identifier fields.
namespace fid {
constexpr size_t kVersion = 16, kCharacteristics = 18, kIdLength = 19, kIcb = 20;
constexpr size_t kImplUseLength = 36, kImplUse = 38;
}  // namespace fid

// One piece of a file's data: byte length and first logical block.
struct Extent {
  uint32_t length = 0;
  uint32_t block = 0;
};

}  // namespace udf

class CECMA167 {
 public:
  // CRC-16 of ECMA-167 (polynomial 0x1021, initial value 0, no final XOR).
  static uint16_t Crc(const uint8_t* data, size_t length);

  // Sum modulo 256 of tag bytes 0-3 and 5-15.
  static uint8_t TagChecksum(const uint8_t* tag);

  // Writes the 16-byte tag at the start of `descriptor` (`length` bytes in
  // all): version 2, serial number 1, checksum and CRC over the body.
  static void MakeTag(uint16_t tagId, uint8_t* descriptor, uint32_t length, uint32_t tagLocation);

  // Recomputes checksum and CRC after a field of a tagged descriptor changed;
  // the CRC length already in the tag is kept.
  static void RefreshTag(uint8_t* descriptor);

  // Whether the descriptor's tag is sound: checksum, a CRC length that fits
  // `available`, the CRC, and (when `expectedLocation` is given) its location.
  static bool VerifyTag(const uint8_t* descriptor, size_t available, std::string* why = nullptr,
                        const uint32_t* expectedLocation = nullptr);

  // The 12-byte timestamp of local time `t`, carrying the zone offset the
  // local time really had.
  static void MakeTimestamp(uint8_t* out, time_t t);
  // The same from a seven-byte ISO 9660 recording date (year - 1900, month,
  // day, hour, minute, second, offset in 15-minute units).
  static void TimestampFromIsoDate(uint8_t* out, const uint8_t* date);
  // Back to the seven-byte form (for imported entries).
  static void TimestampToIsoDate(const uint8_t* timestamp, uint8_t* date);

  // A file entry for Varnex's own layout. Data of `size` bytes starts at
  // `firstBlock` (folders: their identifiers) and is cut into 512 MiB
  // extents. `fileTime` null means the build time. Returns the length.
  static uint32_t MakeFileEntry(uint8_t* block, bool isFile, uint64_t uniqueId, uint64_t size,
                                uint32_t firstBlock, uint32_t tagLocation, const time_t* fileTime,
                                bool marked);
  // The same with given extents and a ready timestamp (imported entries).
  static uint32_t MakeFileEntryWithExtents(uint8_t* block, bool isFile, uint64_t uniqueId,
                                           uint64_t size, const std::vector<udf::Extent>& extents,
                                           uint32_t tagLocation, const uint8_t* timestamp,
                                           bool marked);
  // The extents of `size` bytes of contiguous data starting at `firstBlock`.
  static std::vector<udf::Extent> SplitExtents(uint64_t size, uint32_t firstBlock);

  enum IdentifierKind { kFile, kFolder, kParent };
  // Writes a file identifier descriptor into `out` (room for at least
  // kMaxFileIdentifierLength bytes) and returns its length, a multiple of 4.
  // `name` is cut to what the field takes; `unicode` false stores 8-bit
  // characters (only valid when every character is below 256). With
  // `padded`, an implementation use field (the maker's identifier) makes the
  // descriptor kImplUsePadding bytes longer.
  static uint32_t MakeFileIdentifier(uint8_t* out, const std::u16string& name,
                                     uint32_t tagLocation, IdentifierKind kind, bool hidden,
                                     uint32_t icbBlock, bool unicode = true, bool padded = false);
  static constexpr uint32_t kImplUsePadding = 32;
  static constexpr uint32_t kMaxFileIdentifierLength = 38 + kImplUsePadding + 255 + 3;
  // Bytes of identifier a file identifier can hold: compression id + 254.
  static constexpr size_t kMaxNameBytes = 254;

  // UTF-8 text to 16-bit characters, at most `maxChars` of them (a
  // surrogate pair is never split). False when the text is not UTF-8.
  static bool ToWide(const std::string& text, std::u16string* out, size_t maxChars);

  // A d-string field of `fieldSize` bytes: compression id 16 and big-endian
  // characters, as many as fit, the used length in the field's last byte.
  static void PutDString(uint8_t* field, size_t fieldSize, const std::u16string& text);
  // Decodes an OSTA CS0 string (compression 8 or 16) to UTF-8. Returns false
  // for an unknown compression id.
  static bool DecodeCS0(const uint8_t* p, size_t length, std::string* utf8);
  // Decodes a d-string field (length in its last byte, bounded by the field).
  static std::string DecodeDString(const uint8_t* field, size_t fieldSize);

  // Entity identifier: flags 0, identifier, suffix bytes.
  static void PutRegid(uint8_t* out, const char* identifier, const uint8_t* suffix = nullptr,
                       size_t suffixLength = 0);
  // The OSTA CS0 character set (64 bytes).
  static void PutCharspec(uint8_t* out);
};
