#pragma once
// The file-system header of a DVD-Video disc: a UDF 1.02 volume bridged with
// ISO 9660 (and a Joliet tree), holding an empty AUDIO_TS folder and a
// VIDEO_TS folder whose files follow the header back to back, in the order
// players read them. Both file systems point every file at the same sectors
// with the same length.
//
// The header starts from resource 1002 (the skeleton this writer makes with
// no files), each file entry from resource 2004, and the header ends with
// a sector made from resource 2006. The resource generator and the layout
// share this code, so the resources always match the patch points below.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "SectorSizes.h"

namespace dvdvol {
constexpr uint32_t kSectorSize = kDataSectorSize;
constexpr uint32_t kHeaderResource = 1002, kFileEntryResource = 2004, kEndResource = 2006;

// ISO 9660 side.
constexpr uint32_t kIsoPrimary = 16, kIsoJoliet = 17, kIsoTerminator = 18;
constexpr uint32_t kVrsBegin = 19;  // BEA01, NSR02, TEA01
constexpr uint32_t kIsoPathL = 22, kIsoPathM = 23, kJolietPathL = 24, kJolietPathM = 25;
constexpr uint32_t kIsoRoot = 26, kIsoAudioTs = 27, kJolietRoot = 28, kJolietAudioTs = 29;
constexpr uint32_t kIsoVideoTs = 166;  // then the Joliet VIDEO_TS right after it
constexpr uint32_t kIsoTreesEnd = 256;

// UDF side (sequences at 32 and 48, integrity at 64, anchor at 256 as in
// every UDF volume Varnex writes). Blocks count from the partition start.
constexpr uint32_t kPartitionStart = 257;
constexpr uint32_t kFileSet = 257;
constexpr uint32_t kAudioTsIds = 258;
constexpr uint32_t kRootEntry = 259, kRootIds = 260;
constexpr uint32_t kVideoTsEntry = 261, kAudioTsEntry = 262;
constexpr uint32_t kVideoTsIds = 263;
constexpr uint32_t kFileEntries = 500;  // one sector per file, then the end sector
constexpr uint32_t kTemplateSectors = kFileEntries;

constexpr size_t kMaxFiles = 2 + 99 * 11;  // VIDEO_TS.IFO/BUP, 99 title sets of IFO, 9 VOBs, BUP
}  // namespace dvdvol

// One file of the VIDEO_TS folder, in disc order.
struct DvdFileRecord {
  std::string sourcePath;  // the file in the work folder
  std::string discName;    // "VTS_01_1.VOB"
  uint32_t startSector = 0;  // from the first file
  uint32_t sectorCount = 0;
  uint32_t byteSize = 0;
};

// Fills start and sector count of every record from its byte size: each
// file starts in the sector after the previous one ends.
void PackDvdRecords(std::vector<DvdFileRecord>* records);

// The three resources.
std::vector<uint8_t> MakeDvdHeaderTemplate();
std::vector<uint8_t> MakeDvdFileEntryTemplate();
std::vector<uint8_t> MakeDvdEndTemplate();

// Makes the whole header for packed `records` from the three resources:
// kFileEntries + records + 1 sectors. `totalSectors` receives the size of
// the disc: the header, the files, and one closing sector (DvdClosingAnchor)
// that a UDF reader looks for at the volume's end. False with `why` when a resource is not
// what this writer made, or the records do not fit the header.
bool LayOutDvdHeader(const std::vector<uint8_t>& headerTemplate, const std::vector<uint8_t>& entryTemplate,
                     const std::vector<uint8_t>& endTemplate, const std::string& label,
                     const std::vector<DvdFileRecord>& records, time_t now, std::vector<uint8_t>* header,
                     uint32_t* totalSectors, std::string* why);

// The last sector of the disc: the second anchor of the UDF volume, a copy
// of the one in sector 256 of `header` that names its own place.
std::vector<uint8_t> DvdClosingAnchor(const std::vector<uint8_t>& header, uint32_t totalSectors);
