#include "authoring/VcdControlTemplate.h"

#include <cstring>

#include "ByteFields.h"
#include "authoring/Iso9660.h"

namespace vcdtpl {
namespace {

constexpr size_t kXaSize = 14;  // the CD-ROM XA system use of every record

// The templates carry one fixed recording time, so that every build makes
// the same instant (written, as every date, in the local time of the build
// with its offset); the layout stamps its own time on the tracks it adds.
constexpr std::time_t kTemplateTime = 1767225600;  // 2026-01-01 00:00:00 UTC

struct Folder {
  const char* name;
  uint32_t sector;
  uint32_t sectors;
};

struct File {
  const char* name;
  uint32_t sector;
  uint32_t size;
};

void PutPadded(uint8_t* p, size_t size, const std::string& text) {
  bytes::PutText(p, size, text.data(), text.size(), ' ');
}

uint8_t* SectorAt(std::vector<uint8_t>& image, uint32_t sector) { return image.data() + size_t(sector) * kSector; }

void PutFolder(std::vector<uint8_t>& image, const Folder& self, const Folder& parent, const std::vector<File>& files,
               const std::vector<Folder>& subfolders) {
  uint8_t* p = SectorAt(image, self.sector);
  size_t at = 0;
  at += PutDirRecord(p + at, iso9660::SelfIdent(), self.sector, self.sectors * kSector, true, kXaDirectory, 0,
                     kTemplateTime);
  at += PutDirRecord(p + at, iso9660::ParentIdent(), parent.sector, parent.sectors * kSector, true, kXaDirectory, 0,
                     kTemplateTime);
  // Folders and files of one folder are listed in name order; callers give them so.
  for (const Folder& f : subfolders)
    at += PutDirRecord(p + at, f.name, f.sector, f.sectors * kSector, true, kXaDirectory, 0, kTemplateTime);
  for (const File& f : files)
    at += PutDirRecord(p + at, std::string(f.name) + ";1", f.sector, f.size, false, kXaForm1, 0, kTemplateTime);
}

// Both path tables: the root, then its folders in name order.
size_t PutPathTables(std::vector<uint8_t>& image, const Folder& root, const std::vector<Folder>& folders) {
  std::string tables[2];
  for (bool big : {false, true}) {
    tables[big] = iso9660::PathTableRecord(iso9660::SelfIdent(), root.sector, 1, big);
    for (const Folder& f : folders) tables[big] += iso9660::PathTableRecord(f.name, f.sector, 1, big);
  }
  std::memcpy(SectorAt(image, kPathL), tables[0].data(), tables[0].size());
  std::memcpy(SectorAt(image, kPathM), tables[1].data(), tables[1].size());
  return tables[0].size();
}

void PutPrimary(std::vector<uint8_t>& image, Kind kind, uint32_t sectors, uint32_t pathTableSize, const Folder& root) {
  uint8_t* p = SectorAt(image, kPrimary);
  iso9660::PutDescriptorHead(p, iso9660::kPrimaryType);
  PutPadded(p + iso9660::kSystemId, 32, "CD-RTOS CD-BRIDGE");
  PutPadded(p + iso9660::kVolumeId, 32, kind == Kind::VideoCd ? "VCD" : "SVCD");
  // The root's record has no system use in the descriptor.
  iso9660::PutVolumeFields(p, {sectors, pathTableSize, kPathL, kPathM,
                               iso9660::MakeRecord({root.sector, root.sectors * uint32_t(kSector),
                                                    iso9660::MakeRecordDate(kTemplateTime), iso9660::kDirectory,
                                                    iso9660::SelfIdent(), {}})});
  PutPadded(p + iso9660::kVolumeSetId, 128, kind == Kind::VideoCd ? "VIDEOCD" : "SUPERVCD");
  PutPadded(p + iso9660::kPublisherId, 128, "");
  PutPadded(p + iso9660::kPreparerId, 128, "VARNEX");
  PutPadded(p + iso9660::kApplicationId, 128, "CDI/CDI_VCD.APP;1");
  iso9660::FillBlanks(p + iso9660::kCopyrightFile, 3 * 37, false);  // copyright, abstract, bibliography
  iso9660::PutVolumeDates(p, kTemplateTime);
  std::memcpy(p + 1024, "CD-XA001", 8);  // the CD-ROM XA mark in the application use
  iso9660::PutTerminator(SectorAt(image, kTerminator));
}

// INFO.VCD / INFO.SVD: the disc's identity; the layout fills in the play
// sequence size and the highest list id.
void PutInfo(std::vector<uint8_t>& image, Kind kind) {
  uint8_t* p = SectorAt(image, kInfo);
  std::memcpy(p, kind == Kind::VideoCd ? "VIDEO_CD" : "SUPERVCD", 8);
  p[8] = kind == Kind::VideoCd ? 2 : 1;  // version: Video CD 2.0, Super Video CD 1.0
  p[9] = 0;                              // system profile tag
  PutPadded(p + 10, 16, "");             // album
  bytes::PutBE16(p + 26, 1);             // volumes in the album
  bytes::PutBE16(p + 28, 1);             // this volume
  p[51] = 8;                             // play sequence offsets count in 8-byte units
}

void PutEntriesHeader(std::vector<uint8_t>& image, Kind kind) {
  uint8_t* p = SectorAt(image, kEntries);
  // Both standards name the entries table "ENTRYVCD"; the version tells them apart.
  std::memcpy(p, "ENTRYVCD", 8);
  p[8] = kind == Kind::VideoCd ? 2 : 1;
  p[9] = 0;
}

// A list offset table with no list: every offset unused (0xFFFF) but the
// reserved first word.
void PutEmptyLot(std::vector<uint8_t>& image, uint32_t sector) {
  uint8_t* p = SectorAt(image, sector);
  std::memset(p, 0xFF, size_t(kLotSectors) * kSector);
  p[0] = p[1] = 0;
}

}  // namespace

uint32_t ResourceNumber(Kind kind) { return kind == Kind::VideoCd ? kResourceVideoCd : kResourceSuperVideoCd; }
uint32_t TemplateSectors(Kind kind) { return kind == Kind::VideoCd ? kSectorsVideoCd : kSectorsSuperVideoCd; }
const char* MpegFolder(Kind kind) { return kind == Kind::VideoCd ? "MPEGAV" : "MPEG2"; }
const char* TrackExtension(Kind kind) { return kind == Kind::VideoCd ? ".DAT" : ".MPG"; }

size_t DirRecordSize(const std::string& name) { return iso9660::RecordSize(name.size(), kXaSize); }

size_t PutDirRecord(uint8_t* at, const std::string& name, uint32_t extent, uint32_t size, bool directory,
                    uint16_t xaAttributes, uint8_t fileNumber, std::time_t when) {
  std::string xa(kXaSize, '\0');
  auto* x = reinterpret_cast<uint8_t*>(&xa[0]);
  bytes::PutBE16(x + 4, xaAttributes);
  x[6] = 'X';
  x[7] = 'A';
  x[8] = fileNumber;
  return iso9660::PutRecord(at, {extent, size, iso9660::MakeRecordDate(when),
                                 directory ? iso9660::kDirectory : uint8_t(0), name, xa});
}

std::vector<uint8_t> MakeVcdControlTemplate(Kind kind) {
  const bool vcd = kind == Kind::VideoCd;
  const uint32_t sectors = TemplateSectors(kind);
  std::vector<uint8_t> image(size_t(sectors) * kSector, 0);

  const Folder root{"", kRootDir, 1};
  const Folder cdi{"CDI", kCdiDir, 1}, ext{"EXT", kExtDir, 1}, mpeg{MpegFolder(kind), kMpegDir, kMpegDirSectors},
      segment{"SEGMENT", kSegmentDir, 1}, control{vcd ? "VCD" : "SVCD", kControlDir, 1};
  const std::vector<Folder> folders{cdi, ext, mpeg, segment, control};

  const uint32_t pathTableSize = uint32_t(PutPathTables(image, root, folders));
  PutPrimary(image, kind, sectors, pathTableSize, root);
  PutFolder(image, root, root, {}, folders);
  PutFolder(image, cdi, root, {}, {});
  PutFolder(image, segment, root, {}, {});
  PutFolder(image, mpeg, root, {}, {});
  // The play sequence files start empty; the layout writes their sizes into
  // the fields at kPsdSizeField and kPsdCopySizeField.
  if (vcd) {
    PutFolder(image, ext, root, {{"LOT_X.VCD", kLotCopy, kLotSectors * kSector}, {"PSD_X.VCD", kPsdCopy, 0}}, {});
    PutFolder(image, control, root,
              {{"ENTRIES.VCD", kEntries, kSector},
               {"INFO.VCD", kInfo, kSector},
               {"LOT.VCD", kLot, kLotSectors * kSector},
               {"PSD.VCD", kPsd, 0}},
              {});
  } else {
    PutFolder(image, ext, root, {}, {});
    PutFolder(image, control, root,
              {{"ENTRIES.SVD", kEntries, kSector},
               {"INFO.SVD", kInfo, kSector},
               {"LOT.SVD", kLot, kLotSectors * kSector},
               {"PSD.SVD", kPsd, 0},
               {"SEARCH.DAT", kSearch, 13},
               {"TRACKS.SVD", kTracks, kSector}},
              {});
  }
  PutInfo(image, kind);
  PutEntriesHeader(image, kind);
  PutEmptyLot(image, kLot);
  if (vcd) {
    PutEmptyLot(image, kLotCopy);
  } else {
    uint8_t* s = SectorAt(image, kSearch);
    std::memcpy(s, "SEARCHSV", 8);
    s[8] = 1;     // version
    s[12] = 1;    // scan points every half second; none listed
    uint8_t* t = SectorAt(image, kTracks);
    std::memcpy(t, "TRACKSVD", 8);
    t[8] = 1;
  }
  return image;
}

}  // namespace vcdtpl
