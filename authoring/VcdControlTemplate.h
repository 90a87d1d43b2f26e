#pragma once
// The control tracks that Video CDs (resource 2000 of the Tamsin resources)
// and Super Video CDs (resource 2012) start from: an ISO 9660 volume with the
// CDI, EXT, SEGMENT, MPEG and VCD/SVCD folders and the disc's control files
// at the fixed sectors below. The layout (CVCDFile, CSVCDFile) patches them
// for the actual MPEG tracks.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "SectorSizes.h"

namespace vcdtpl {

enum class Kind { VideoCd, SuperVideoCd };

constexpr uint32_t kResourceVideoCd = 2000;
constexpr uint32_t kResourceSuperVideoCd = 2012;

constexpr size_t kSector = kDataSectorSize;

// Sectors of the control track.
constexpr uint32_t kPrimary = 16, kTerminator = 17, kPathL = 18, kPathM = 19;
constexpr uint32_t kExtDir = 20, kRootDir = 21, kCdiDir = 22, kControlDir = 23, kSegmentDir = 24;
constexpr uint32_t kMpegDir = 100, kMpegDirSectors = 3;  // room for 98 tracks
constexpr uint32_t kInfo = 150, kEntries = 151, kLot = 152, kLotSectors = 32, kPsd = 184;
constexpr uint32_t kSearch = 185, kTracks = 186;        // Super Video CD only
constexpr uint32_t kLotCopy = 913, kPsdCopy = 945;      // Video CD only (EXT/LOT_X.VCD, EXT/PSD_X.VCD)
// Sectors of each template (the builder pads the control track beyond them).
constexpr uint32_t kSectorsVideoCd = 946, kSectorsSuperVideoCd = 187;

// Byte offsets in the control track that the layout patches.
constexpr size_t kVolumeId = kPrimary * kSector + 40;          // 32 bytes
constexpr size_t kVolumeSpaceSize = kPrimary * kSector + 80;   // both-endian 32
constexpr size_t kPsdCopySizeField = kExtDir * kSector + 164;  // 41124: EXT/PSD_X.VCD's data length
constexpr size_t kPsdSizeField = kControlDir * kSector + 280;  // 47384: PSD.VCD / PSD.SVD's data length
constexpr size_t kMpegRecords = kMpegDir * kSector + 96;       // 0x32060: after "." and ".."
constexpr size_t kMpegRecordSize = 60;
constexpr size_t kEntryCount = kEntries * kSector + 10;        // big-endian 16 (low byte at 11)
constexpr size_t kEntryTable = kEntries * kSector + 12;        // 4 bytes an entry
constexpr size_t kInfoPalFlags = kInfo * kSector + 30;         // 13 bytes, bit k-1 (low bit first): item k is PAL
constexpr size_t kInfoPsdSize = kInfo * kSector + 44;          // big-endian 32
constexpr size_t kInfoLotEntries = kInfo * kSector + 52;       // big-endian 16: highest list id
constexpr size_t kTracksCount = kTracks * kSector + 10;        // TRACKS.SVD: track count, then times
constexpr size_t kTracksTimes = kTracks * kSector + 11;

// The system-use field (CD-ROM XA) of a directory record.
constexpr uint16_t kXaDirectory = 0x8D55, kXaForm1 = 0x0D55, kXaForm2 = 0x1555;

uint32_t ResourceNumber(Kind kind);
uint32_t TemplateSectors(Kind kind);
// The MPEG folder's name ("MPEGAV" or "MPEG2") and the tracks' extension.
const char* MpegFolder(Kind kind);
const char* TrackExtension(Kind kind);

// Writes one ISO 9660 directory record with its 14 bytes of CD-ROM XA
// system use at `at`; returns its length (33 + name, padded to even, + 14).
// A name of one byte 0 or 1 is "." or "..".
size_t PutDirRecord(uint8_t* at, const std::string& name, uint32_t extent, uint32_t size, bool directory,
                    uint16_t xaAttributes, uint8_t fileNumber, std::time_t when);
size_t DirRecordSize(const std::string& name);

// The whole template, TemplateSectors(kind) × 2048 bytes.
std::vector<uint8_t> MakeVcdControlTemplate(Kind kind);

}  // namespace vcdtpl
