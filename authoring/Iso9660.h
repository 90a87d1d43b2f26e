#pragma once
// The ISO 9660 volume as every writer and reader of Varnex sees it: directory
// records, the two date forms, volume descriptors, path tables, the name
// rules of both hierarchies and the Joliet 16-bit text. Dates are local time
// with its offset from UTC, everywhere.

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "SectorSizes.h"

namespace iso9660 {

constexpr uint32_t kBlock = kDataSectorSize;

// Flags of a directory record.
constexpr uint8_t kHidden = 0x01, kDirectory = 0x02, kMultiExtent = 0x80;

// Byte offsets in a directory record.
constexpr size_t kRecordLength = 0, kRecordExtent = 2, kRecordSize = 10, kRecordDate = 18, kRecordFlags = 25,
                 kRecordIdLength = 32, kRecordId = 33;
constexpr size_t kRootRecordSize = 34;
constexpr size_t kMaxRecord = 255;

// Byte offsets in a volume descriptor.
constexpr size_t kSystemId = 8, kVolumeId = 40, kSpaceSize = 80, kEscapes = 88, kSetSize = 120, kSequence = 124,
                 kBlockSize = 128, kPathTableSize = 132, kPathL = 140, kPathM = 148, kRootRecord = 156,
                 kVolumeSetId = 190, kPublisherId = 318, kPreparerId = 446, kApplicationId = 574,
                 kCopyrightFile = 702, kCreated = 813, kModified = 830, kExpires = 847, kEffective = 864,
                 kStructureVersion = 881;
constexpr uint8_t kPrimaryType = 1, kSupplementaryType = 2, kTerminatorType = 255;

// ---- dates

using RecordDate = std::array<uint8_t, 7>;

// The seven bytes of a directory record: years since 1900 (kept to the
// field's 0-255), month, day, hour, minute, second, and the offset from UTC
// in quarter hours.
RecordDate MakeRecordDate(time_t t);
// The 17 bytes of a descriptor date: sixteen digits and the offset.
void PutVolumeDate(uint8_t* p, time_t t);

struct DateParts {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int offsetMinutes = 0;
};
DateParts ReadRecordDate(const uint8_t* p);

// ---- directory records

struct Record {
  uint32_t extent = 0;
  uint32_t size = 0;
  RecordDate date{};
  uint8_t flags = 0;
  std::string ident;      // bytes as written: d-characters, or UCS-2 big-endian for Joliet
  std::string systemUse;  // after the identifier's padding (CD-ROM XA, later SUSP entries)
};

// 33 bytes, the identifier, a pad byte that keeps the system use on an even
// offset, then the system use.
size_t RecordSize(size_t identBytes, size_t systemUseBytes = 0);
// Writes `r` at `out` (RecordSize bytes); an identifier too long for the
// one-byte record length is cut. Returns the length written.
size_t PutRecord(uint8_t* out, const Record& r);
std::string MakeRecord(const Record& r);
// The identifiers of "." and "..".
inline std::string SelfIdent() { return std::string(1, '\0'); }
inline std::string ParentIdent() { return std::string(1, '\1'); }
// Appends a record to a directory extent; a record never crosses a sector,
// so one that would is moved to the next sector behind zero padding.
void AppendRecord(std::string* extent, const std::string& record);
void PatchRecordExtent(uint8_t* record, uint32_t extent, uint32_t size);

// A record as read from a directory, checked against the space it lies in.
struct ReadRecord {
  uint32_t extent = 0, size = 0;
  uint8_t flags = 0;
  const uint8_t* date = nullptr;  // 7 bytes
  const uint8_t* ident = nullptr;
  size_t identBytes = 0;
  size_t length = 0;              // of the whole record
  const uint8_t* systemUse = nullptr;  // after the identifier's padding
  size_t systemUseBytes = 0;
  bool IsSelfOrParent() const { return identBytes == 1 && (ident[0] == 0 || ident[0] == 1); }
};
// Decodes the record at `p` with `room` bytes left in its sector. False when
// it is damaged: shorter than a record, beyond its sector, or too short for
// its identifier.
bool DecodeRecord(const uint8_t* p, size_t room, ReadRecord* out);

// ---- path tables

// One entry of the L (little-endian) or M (big-endian) table.
std::string PathTableRecord(const std::string& ident, uint32_t extent, uint16_t parent, bool bigEndian);

// ---- volume descriptors

// Type, "CD001" and version.
void PutDescriptorHead(uint8_t* d, uint8_t type);
void PutTerminator(uint8_t* d);
// The fields every primary and supplementary descriptor has: sizes, the
// path tables and the root's record.
struct VolumeFields {
  uint32_t spaceSize = 0;
  uint32_t pathTableSize = 0, pathL = 0, pathM = 0;
  std::string rootRecord;  // kRootRecordSize bytes
};
void PutVolumeFields(uint8_t* d, const VolumeFields& v);
// Creation and modification dates, expiry and effective dates unset, and the
// structure version.
void PutVolumeDates(uint8_t* d, time_t created);
// The escape sequence of a Joliet descriptor (UCS-2 level 3).
void PutJolietEscapes(uint8_t* d);
// A text field of blanks: ' ' bytes, or 16-bit blanks for Joliet.
void FillBlanks(uint8_t* p, size_t n, bool joliet);
bool IsDescriptor(const uint8_t* d, uint8_t type);
bool HasJolietEscapes(const uint8_t* d);

// ---- names

// A d-character: A-Z, 0-9 and "_".
bool IsDCharacter(char c);
// The volume identifier of a primary descriptor: at most 32 d-characters,
// lower case raised, anything else "_".
std::string IsoLabel(const std::string& label);
// UTF-8 text as Joliet bytes (UCS-2 big-endian), at most `maxChars`
// characters and never half a surrogate pair; text that is not UTF-8 is
// taken byte by byte.
std::string JolietText(const std::string& utf8, size_t maxChars);
// A Joliet file or folder name: cut as the data disc cuts it (the extension
// kept) when longer than the Joliet limit.
std::string JolietName(const std::string& utf8, bool isFolder);
// The version ";1" of a Joliet file name, in 16-bit characters.
inline std::string JolietVersion() { return std::string("\0;\0" "1", 4); }
// Text of a descriptor field, trailing blanks and NULs cut.
std::string ReadText(const uint8_t* p, size_t n, bool joliet);

// The stand-in for what a Linux file name cannot hold ("/" and NUL).
constexpr char kNameStandIn = '_';
// A name as a disc records it, made one path component: ";1" cut, the
// trailing dot of a name without extension cut, "/" and NUL replaced, and an
// empty name, "." and ".." turned into stand-ins. `changed` tells whether
// anything was replaced.
std::string RecordName(const uint8_t* ident, size_t bytes, bool joliet, bool* changed);

}  // namespace iso9660
