#include "authoring/VcdControlTemplate.h"

#include <cstdio>
#include <cstring>

#include "ByteFields.h"

namespace vcdtpl {
namespace {

// The templates carry one fixed recording time, so that every build makes
// the same bytes; the layout stamps its own time on the tracks it adds.
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

// ISO 9660 "dec-datetime" (17 bytes) of a time.
void PutVolumeTime(uint8_t* p, std::time_t when) {
  std::tm tm{};
  gmtime_r(&when, &tm);
  char text[17];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d00", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::memcpy(p, text, 16);
  p[16] = 0;
}

void PutRecordTime(uint8_t* p, std::time_t when) {
  std::tm tm{};
  gmtime_r(&when, &tm);
  p[0] = uint8_t(tm.tm_year);
  p[1] = uint8_t(tm.tm_mon + 1);
  p[2] = uint8_t(tm.tm_mday);
  p[3] = uint8_t(tm.tm_hour);
  p[4] = uint8_t(tm.tm_min);
  p[5] = uint8_t(tm.tm_sec);
  p[6] = 0;
}

uint8_t* SectorAt(std::vector<uint8_t>& image, uint32_t sector) { return image.data() + size_t(sector) * kSector; }

void PutFolder(std::vector<uint8_t>& image, const Folder& self, const Folder& parent, const std::vector<File>& files,
               const std::vector<Folder>& subfolders) {
  uint8_t* p = SectorAt(image, self.sector);
  size_t at = 0;
  at += PutDirRecord(p + at, std::string(1, '\0'), self.sector, self.sectors * kSector, true, kXaDirectory, 0,
                     kTemplateTime);
  at += PutDirRecord(p + at, std::string(1, '\1'), parent.sector, parent.sectors * kSector, true, kXaDirectory, 0,
                     kTemplateTime);
  // Folders and files of one folder are listed in name order; callers give them so.
  for (const Folder& f : subfolders)
    at += PutDirRecord(p + at, f.name, f.sector, f.sectors * kSector, true, kXaDirectory, 0, kTemplateTime);
  for (const File& f : files)
    at += PutDirRecord(p + at, std::string(f.name) + ";1", f.sector, f.size, false, kXaForm1, 0, kTemplateTime);
}

// Both path tables: the root, then its folders in name order.
size_t PutPathTables(std::vector<uint8_t>& image, const Folder& root, const std::vector<Folder>& folders) {
  uint8_t* l = SectorAt(image, kPathL);
  uint8_t* m = SectorAt(image, kPathM);
  size_t at = 0;
  auto put = [&](const char* name, size_t len, uint32_t extent) {
    l[at] = m[at] = uint8_t(len);
    bytes::PutLE32(l + at + 2, extent);
    bytes::PutBE32(m + at + 2, extent);
    bytes::PutLE16(l + at + 6, 1);
    bytes::PutBE16(m + at + 6, 1);
    std::memcpy(l + at + 8, name, len);
    std::memcpy(m + at + 8, name, len);
    at += 8 + len + (len & 1);
  };
  put("\0", 1, root.sector);
  for (const Folder& f : folders) put(f.name, std::strlen(f.name), f.sector);
  return at;
}

void PutPrimary(std::vector<uint8_t>& image, Kind kind, uint32_t sectors, uint32_t pathTableSize, const Folder& root) {
  uint8_t* p = SectorAt(image, kPrimary);
  p[0] = 1;
  std::memcpy(p + 1, "CD001", 5);
  p[6] = 1;
  PutPadded(p + 8, 32, "CD-RTOS CD-BRIDGE");
  PutPadded(p + 40, 32, kind == Kind::VideoCd ? "VCD" : "SVCD");
  bytes::PutBoth32(p + 80, sectors);
  bytes::PutBoth16(p + 120, 1);
  bytes::PutBoth16(p + 124, 1);
  bytes::PutBoth16(p + 128, kSector);
  bytes::PutBoth32(p + 132, pathTableSize);
  bytes::PutLE32(p + 140, kPathL);
  bytes::PutBE32(p + 148, kPathM);
  // The root's record has no system use in the descriptor.
  uint8_t rec[64] = {};
  PutDirRecord(rec, std::string(1, '\0'), root.sector, root.sectors * kSector, true, kXaDirectory, 0, kTemplateTime);
  std::memcpy(p + 156, rec, 34);
  p[156] = 34;
  PutPadded(p + 190, 128, kind == Kind::VideoCd ? "VIDEOCD" : "SUPERVCD");
  PutPadded(p + 318, 128, "");
  PutPadded(p + 446, 128, "VARNEX");
  PutPadded(p + 574, 128, "CDI/CDI_VCD.APP;1");
  PutPadded(p + 702, 37, "");
  PutPadded(p + 739, 37, "");
  PutPadded(p + 776, 37, "");
  PutVolumeTime(p + 813, kTemplateTime);
  PutVolumeTime(p + 830, kTemplateTime);
  std::memcpy(p + 847, "0000000000000000", 16);
  std::memcpy(p + 864, "0000000000000000", 16);
  p[881] = 1;
  std::memcpy(p + 1024, "CD-XA001", 8);  // the CD-ROM XA mark in the application use
  uint8_t* t = SectorAt(image, kTerminator);
  t[0] = 255;
  std::memcpy(t + 1, "CD001", 5);
  t[6] = 1;
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

size_t DirRecordSize(const std::string& name) {
  size_t n = name.size();
  return 33 + n + ((n & 1) ? 0 : 1) + 14;
}

size_t PutDirRecord(uint8_t* at, const std::string& name, uint32_t extent, uint32_t size, bool directory,
                    uint16_t xaAttributes, uint8_t fileNumber, std::time_t when) {
  const size_t len = DirRecordSize(name);
  std::memset(at, 0, len);
  at[0] = uint8_t(len);
  bytes::PutBoth32(at + 2, extent);
  bytes::PutBoth32(at + 10, size);
  PutRecordTime(at + 18, when);
  at[25] = directory ? 2 : 0;
  bytes::PutBoth16(at + 28, 1);
  at[32] = uint8_t(name.size());
  std::memcpy(at + 33, name.data(), name.size());
  uint8_t* xa = at + len - 14;
  bytes::PutBE16(xa + 4, xaAttributes);
  xa[6] = 'X';
  xa[7] = 'A';
  xa[8] = fileNumber;
  return len;
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
