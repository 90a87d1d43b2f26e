#include "authoring/DvdVolume.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ByteFields.h"
#include "authoring/CECMA167.h"
#include "authoring/UdfVolumeTemplate.h"

namespace {

using namespace dvdvol;

const char* kDefaultLabel = "DVD_VIDEO";

uint8_t* At(std::vector<uint8_t>& image, uint32_t sector) { return image.data() + size_t(sector) * kSectorSize; }
const uint8_t* At(const std::vector<uint8_t>& image, uint32_t sector) {
  return image.data() + size_t(sector) * kSectorSize;
}

uint32_t SectorsOf(uint64_t bytes) { return uint32_t((bytes + kSectorSize - 1) / kSectorSize); }

// ---- ISO 9660 and Joliet

// The seven-byte date of a directory record, local time with its zone.
void IsoDate(uint8_t* out, time_t t) {
  struct tm local {};
  localtime_r(&t, &local);
  out[0] = uint8_t(local.tm_year);
  out[1] = uint8_t(local.tm_mon + 1);
  out[2] = uint8_t(local.tm_mday);
  out[3] = uint8_t(local.tm_hour);
  out[4] = uint8_t(local.tm_min);
  out[5] = uint8_t(local.tm_sec);
  out[6] = uint8_t(int8_t(local.tm_gmtoff / (15 * 60)));
}

// The 17-byte date of a volume descriptor.
void IsoVolumeDate(uint8_t* out, time_t t) {
  struct tm local {};
  localtime_r(&t, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d00", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  std::memcpy(out, text, 16);
  out[16] = uint8_t(int8_t(local.tm_gmtoff / (15 * 60)));
}

// A directory record; returns its length (even).
size_t DirRecord(uint8_t* out, uint32_t extent, uint32_t size, bool folder, const std::string& name,
                 const uint8_t* date) {
  const size_t length = 33 + name.size() + (name.size() % 2 == 0 ? 1 : 0);
  std::memset(out, 0, length);
  out[0] = uint8_t(length);
  bytes::PutBoth32(out + 2, extent);
  bytes::PutBoth32(out + 10, size);
  std::memcpy(out + 18, date, 7);
  out[25] = folder ? 2 : 0;
  bytes::PutBoth16(out + 28, 1);
  out[32] = uint8_t(name.size());
  std::memcpy(out + 33, name.data(), name.size());
  return length;
}

// A name as 16-bit big-endian characters (Joliet).
std::string Joliet(const std::string& name, size_t maxChars = 64) {
  std::u16string wide;
  CECMA167::ToWide(name, &wide, maxChars);
  std::string out;
  for (char16_t c : wide) {
    out.push_back(char(c >> 8));
    out.push_back(char(c & 0xFF));
  }
  return out;
}

// The volume identifier of the primary descriptor: d-characters only.
std::string IsoLabel(const std::string& label) {
  std::string out;
  for (char c : label.substr(0, 32)) {
    char u = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    out.push_back(((u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_') ? u : '_');
  }
  return out;
}

struct Entry {
  std::string name;
  uint32_t extent, size;
};

// Writes a folder's records from `sector` on; no record crosses a sector
// boundary. Returns the folder's size in whole sectors.
uint32_t FolderSectors(const std::vector<Entry>& entries) {
  uint32_t sectors = 1, used = 68;  // "." and ".." take 34 bytes each
  for (const Entry& e : entries) {
    const uint32_t length = uint32_t(33 + e.name.size() + (e.name.size() % 2 == 0 ? 1 : 0));
    if (used + length > kSectorSize) ++sectors, used = 0;
    used += length;
  }
  return sectors;
}

void WriteFolder(std::vector<uint8_t>& image, uint32_t sector, uint32_t size, uint32_t parent,
                 uint32_t parentSize, const std::vector<Entry>& entries, bool folders, const uint8_t* date) {
  uint8_t* p = At(image, sector);
  std::memset(p, 0, size);
  size_t used = DirRecord(p, sector, size, true, std::string(1, '\0'), date);
  used += DirRecord(p + used, parent, parentSize, true, std::string(1, '\1'), date);
  for (const Entry& e : entries) {
    const size_t length = 33 + e.name.size() + (e.name.size() % 2 == 0 ? 1 : 0);
    if (used % kSectorSize + length > kSectorSize) used += kSectorSize - used % kSectorSize;
    used += DirRecord(p + used, e.extent, e.size, folders, e.name, date);
  }
}

void WritePathTables(std::vector<uint8_t>& image, uint32_t lSector, uint32_t mSector, uint32_t root,
                     uint32_t audioTs, uint32_t videoTs, const std::string& audioName,
                     const std::string& videoName, uint32_t* size) {
  uint8_t* l = At(image, lSector);
  uint8_t* m = At(image, mSector);
  std::memset(l, 0, kSectorSize);
  std::memset(m, 0, kSectorSize);
  size_t at = 0;
  auto put = [&](const std::string& name, uint32_t extent) {
    l[at] = m[at] = uint8_t(name.size());
    bytes::PutLE32(l + at + 2, extent);
    bytes::PutBE32(m + at + 2, extent);
    bytes::PutLE16(l + at + 6, 1);
    bytes::PutBE16(m + at + 6, 1);
    std::memcpy(l + at + 8, name.data(), name.size());
    std::memcpy(m + at + 8, name.data(), name.size());
    at += 8 + name.size() + name.size() % 2;
  };
  put(std::string(1, '\0'), root);
  put(audioName, audioTs);  // path tables list a level in name order
  put(videoName, videoTs);
  *size = uint32_t(at);
}

void WriteVolumeDescriptor(std::vector<uint8_t>& image, uint32_t sector, bool joliet, const std::string& label,
                           uint32_t totalSectors, uint32_t pathSize, uint32_t pathL, uint32_t pathM,
                           uint32_t root, time_t now) {
  uint8_t* d = At(image, sector);
  std::memset(d, 0, kSectorSize);
  d[0] = joliet ? 2 : 1;
  std::memcpy(d + 1, "CD001", 5);
  d[6] = 1;
  const std::string volumeId = joliet ? Joliet(label, 16) : IsoLabel(label);
  bytes::PutText(d + 8, 32, "", 0, joliet ? 0 : ' ');
  if (joliet)
    for (size_t i = 0; i < 32; i += 2) d[8 + i] = 0, d[9 + i] = ' ';
  std::memset(d + 40, joliet ? 0 : ' ', 32);
  if (joliet)
    for (size_t i = 0; i < 32; i += 2) d[40 + i] = 0, d[41 + i] = ' ';
  std::memcpy(d + 40, volumeId.data(), std::min<size_t>(32, volumeId.size()));
  bytes::PutBoth32(d + 80, totalSectors);
  if (joliet) std::memcpy(d + 88, "%/E", 3);  // UCS-2 level 3
  bytes::PutBoth16(d + 120, 1);
  bytes::PutBoth16(d + 124, 1);
  bytes::PutBoth16(d + 128, uint16_t(kSectorSize));
  bytes::PutBoth32(d + 132, pathSize);
  bytes::PutLE32(d + 140, pathL);
  bytes::PutBE32(d + 148, pathM);
  uint8_t date[7];
  IsoDate(date, now);
  DirRecord(d + 156, root, kSectorSize, true, std::string(1, '\0'), date);
  for (size_t field : {size_t(190), size_t(318), size_t(446), size_t(574)}) {
    std::memset(d + field, joliet ? 0 : ' ', 128);
    if (joliet)
      for (size_t i = 0; i < 128; i += 2) d[field + i] = 0, d[field + i + 1] = ' ';
  }
  std::memset(d + 702, joliet ? 0 : ' ', 111);
  if (joliet)
    for (size_t i = 0; i + 1 < 111; i += 2) d[702 + i] = 0, d[703 + i] = ' ';
  IsoVolumeDate(d + 813, now);
  IsoVolumeDate(d + 830, now);
  std::memset(d + 847, '0', 16);
  std::memset(d + 864, '0', 16);
  d[881] = 1;
}

// Both ISO 9660 trees: descriptors, path tables, root, AUDIO_TS and VIDEO_TS.
bool WriteIsoTrees(std::vector<uint8_t>& image, const std::string& label, const std::vector<DvdFileRecord>& records,
                   uint32_t firstFileSector, uint32_t totalSectors, time_t now, std::string* why) {
  uint8_t date[7];
  IsoDate(date, now);
  std::vector<Entry> iso, joliet;
  // The files lie in player order; a folder's records are sorted by name.
  std::vector<const DvdFileRecord*> byName;
  for (const DvdFileRecord& r : records) byName.push_back(&r);
  std::sort(byName.begin(), byName.end(),
            [](const DvdFileRecord* a, const DvdFileRecord* b) { return a->discName < b->discName; });
  for (const DvdFileRecord* r : byName) {
    iso.push_back({r->discName + ";1", firstFileSector + r->startSector, r->byteSize});
    joliet.push_back({Joliet(r->discName + ";1"), firstFileSector + r->startSector, r->byteSize});
  }
  const uint32_t isoSectors = FolderSectors(iso), jolietSectors = FolderSectors(joliet);
  const uint32_t jolietVideoTs = kIsoVideoTs + isoSectors;
  if (jolietVideoTs + jolietSectors > kIsoTreesEnd) {
    if (why) *why = "the VIDEO_TS folder holds too many files for the disc header";
    return false;
  }
  std::memset(At(image, kIsoVideoTs), 0, size_t(kIsoTreesEnd - kIsoVideoTs) * kSectorSize);
  for (int joli = 0; joli < 2; ++joli) {
    const bool j = joli == 1;
    const uint32_t root = j ? kJolietRoot : kIsoRoot, audio = j ? kJolietAudioTs : kIsoAudioTs;
    const uint32_t video = j ? jolietVideoTs : kIsoVideoTs;
    const uint32_t videoSize = (j ? jolietSectors : isoSectors) * kSectorSize;
    const std::string audioName = j ? Joliet("AUDIO_TS") : "AUDIO_TS";
    const std::string videoName = j ? Joliet("VIDEO_TS") : "VIDEO_TS";
    WriteFolder(image, root, kSectorSize, root, kSectorSize,
                {{audioName, audio, kSectorSize}, {videoName, video, videoSize}}, true, date);
    WriteFolder(image, audio, kSectorSize, root, kSectorSize, {}, true, date);
    WriteFolder(image, video, videoSize, root, kSectorSize, j ? joliet : iso, false, date);
    uint32_t pathSize = 0;
    const uint32_t pathL = j ? kJolietPathL : kIsoPathL, pathM = j ? kJolietPathM : kIsoPathM;
    WritePathTables(image, pathL, pathM, root, audio, video, audioName, videoName, &pathSize);
    WriteVolumeDescriptor(image, j ? kIsoJoliet : kIsoPrimary, j, label, totalSectors, pathSize, pathL, pathM,
                          root, now);
  }
  uint8_t* end = At(image, kIsoTerminator);
  std::memset(end, 0, kSectorSize);
  end[0] = 255;
  std::memcpy(end + 1, "CD001", 5);
  end[6] = 1;
  return true;
}

// ---- UDF

std::u16string Wide(const std::string& text, size_t maxChars = 127) {
  std::u16string out;
  CECMA167::ToWide(text, &out, maxChars);
  return out;
}

uint32_t Block(uint32_t sector) { return sector - kPartitionStart; }

// The label into every descriptor that carries it, tags recomputed.
void PutUdfLabel(std::vector<uint8_t>& image, const std::string& label) {
  const std::u16string wide = Wide(label);
  for (uint32_t seq : {udftpl::kMainSequence, udftpl::kReserveSequence}) {
    uint8_t* pvd = At(image, seq + udftpl::kPrimary);
    CECMA167::PutDString(pvd + udftpl::kPrimaryVolumeId, 32, wide);
    CECMA167::RefreshTag(pvd);
    uint8_t* iuvd = At(image, seq + udftpl::kImplUse);
    CECMA167::PutDString(iuvd + udftpl::kImplUseVolumeId, 128, wide);
    CECMA167::RefreshTag(iuvd);
    uint8_t* lvd = At(image, seq + udftpl::kLogicalVolume);
    CECMA167::PutDString(lvd + udftpl::kLogicalVolumeId, 128, wide);
    CECMA167::RefreshTag(lvd);
  }
  uint8_t* fsd = At(image, kFileSet);
  CECMA167::PutDString(fsd + udftpl::kFileSetVolumeId, 128, wide);
  CECMA167::PutDString(fsd + udftpl::kFileSetId, 32, wide);
  CECMA167::RefreshTag(fsd);
}

void PutUdfTimes(std::vector<uint8_t>& image, time_t now) {
  for (uint32_t seq : {udftpl::kMainSequence, udftpl::kReserveSequence}) {
    uint8_t* pvd = At(image, seq + udftpl::kPrimary);
    CECMA167::MakeTimestamp(pvd + udftpl::kPrimaryRecordingTime, now);
    CECMA167::RefreshTag(pvd);
  }
  uint8_t* fsd = At(image, kFileSet);
  CECMA167::MakeTimestamp(fsd + udftpl::kFileSetTime, now);
  CECMA167::RefreshTag(fsd);
}

void PutUdfSizes(std::vector<uint8_t>& image, uint32_t totalSectors, uint32_t files, uint64_t nextUniqueId,
                 time_t now) {
  // The partition ends before the closing anchor.
  const uint32_t partitionLength = totalSectors - kPartitionStart - 1;
  for (uint32_t seq : {udftpl::kMainSequence, udftpl::kReserveSequence}) {
    uint8_t* pd = At(image, seq + udftpl::kPartition);
    bytes::PutLE32(pd + udftpl::kPartitionLengthField, partitionLength);
    CECMA167::RefreshTag(pd);
  }
  uint8_t* lvid = At(image, udftpl::kIntegrity);
  CECMA167::MakeTimestamp(lvid + udftpl::kIntegrityTime, now);
  bytes::PutLE64(lvid + udftpl::kIntegrityNextUniqueId, nextUniqueId);
  bytes::PutLE32(lvid + udftpl::kIntegrityFreeSpace, 0);
  bytes::PutLE32(lvid + udftpl::kIntegritySizeTable, partitionLength);
  bytes::PutLE32(lvid + udftpl::kIntegrityFileCount, files);
  bytes::PutLE32(lvid + udftpl::kIntegrityDirCount, 3);
  CECMA167::RefreshTag(lvid);
}

// The three folders: root (AUDIO_TS, VIDEO_TS), AUDIO_TS (empty) and
// VIDEO_TS (one identifier per record, its entry at kFileEntries + i).
// Returns the length of the VIDEO_TS identifiers in bytes.
bool WriteUdfFolders(std::vector<uint8_t>& image, const std::vector<DvdFileRecord>& records, time_t now,
                     std::string* why) {
  uint8_t fid[CECMA167::kMaxFileIdentifierLength];
  auto writeIds = [&](uint32_t sector, uint32_t limit, const std::vector<std::pair<std::string, uint32_t>>& ids,
                      bool folders, uint32_t* length) {
    std::memset(At(image, sector), 0, size_t(limit - sector) * kSectorSize);
    uint32_t used = CECMA167::MakeFileIdentifier(fid, u"", Block(sector), CECMA167::kParent, false,
                                                 Block(kRootEntry));
    std::memcpy(At(image, sector), fid, used);
    for (const auto& [name, entry] : ids) {
      const uint32_t at = sector + used / kSectorSize;
      const uint32_t n = CECMA167::MakeFileIdentifier(fid, Wide(name), Block(at),
                                                      folders ? CECMA167::kFolder : CECMA167::kFile, false,
                                                      Block(entry), false);
      if (size_t(used) + n > size_t(limit - sector) * kSectorSize) return false;
      std::memcpy(At(image, sector) + used, fid, n);
      used += n;
    }
    *length = used;
    return true;
  };
  uint32_t rootLength = 0, audioLength = 0, videoLength = 0;
  writeIds(kRootIds, kRootIds + 1, {{"AUDIO_TS", kAudioTsEntry}, {"VIDEO_TS", kVideoTsEntry}}, true, &rootLength);
  writeIds(kAudioTsIds, kAudioTsIds + 1, {}, true, &audioLength);
  std::vector<std::pair<std::string, uint32_t>> files;
  for (size_t i = 0; i < records.size(); ++i) files.push_back({records[i].discName, kFileEntries + uint32_t(i)});
  // The tag location of an identifier is the block it starts in; one that
  // straddles two sectors keeps the first.
  if (!writeIds(kVideoTsIds, kFileEntries, files, false, &videoLength)) {
    if (why) *why = "the VIDEO_TS folder holds too many files for the disc header";
    return false;
  }
  struct Folder {
    uint32_t entry, data, length;
    uint64_t uniqueId;
  };
  const Folder folders[] = {{kRootEntry, kRootIds, rootLength, 0},
                            {kVideoTsEntry, kVideoTsIds, videoLength, 16},
                            {kAudioTsEntry, kAudioTsIds, audioLength, 17}};
  for (const Folder& f : folders) {
    uint8_t* block = At(image, f.entry);
    CECMA167::MakeFileEntry(block, false, f.uniqueId, f.length, Block(f.data), Block(f.entry), &now, false);
    bytes::PutLE16(block + udf::fe::kLinkCount, f.entry == kRootEntry ? 3 : 1);
    CECMA167::RefreshTag(block);
  }
  // The root is reached from the file set.
  uint8_t* fsd = At(image, kFileSet);
  bytes::PutLE32(fsd + udf::fsd::kRootBlock, Block(kRootEntry));
  CECMA167::RefreshTag(fsd);
  return true;
}

// A file's entry from the template: sizes, times, its unique identifier and
// its extents; the tag covers the descriptors actually used.
void MakeDvdFileEntry(uint8_t* block, const std::vector<uint8_t>& entryTemplate, const DvdFileRecord& r,
                      uint32_t firstFileSector, uint32_t index, time_t now) {
  using namespace udf::fe;
  std::memcpy(block, entryTemplate.data(), kSectorSize);
  bytes::PutLE64(block + kInfoLength, r.byteSize);
  bytes::PutLE64(block + kBlocksRecorded, r.sectorCount);
  for (size_t at : {kAccessTime, kModifyTime, kAttributeTime}) CECMA167::MakeTimestamp(block + at, now);
  bytes::PutLE64(block + kUniqueId, 55 + index);
  const auto extents = CECMA167::SplitExtents(r.byteSize, Block(firstFileSector + r.startSector));
  std::memset(block + kAds, 0, kSectorSize - kAds);
  for (size_t i = 0; i < extents.size(); ++i) {
    bytes::PutLE32(block + kAds + 8 * i, extents[i].length);
    bytes::PutLE32(block + kAds + 8 * i + 4, extents[i].block);
  }
  const uint32_t adLength = uint32_t(extents.size() < 2 ? 16 : 8 * extents.size());
  bytes::PutLE32(block + kAdLength, adLength);
  CECMA167::MakeTag(udf::kTagFileEntry, block, uint32_t(kAds + adLength), Block(kFileEntries + index));
}

bool Refuse(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

}  // namespace

void PackDvdRecords(std::vector<DvdFileRecord>* records) {
  uint32_t next = 0;
  for (DvdFileRecord& r : *records) {
    r.startSector = next;
    r.sectorCount = SectorsOf(r.byteSize);
    next += r.sectorCount;
  }
}

std::vector<uint8_t> MakeDvdHeaderTemplate() {
  std::vector<uint8_t> image = MakeUdfVolumeTemplate();
  image.resize(size_t(kTemplateSectors) * kSectorSize, 0);
  // The UDF recognition sequence moves behind the ISO 9660 descriptors.
  std::memset(At(image, 16), 0, 3 * kSectorSize);
  const char* vrs[] = {"BEA01", "NSR02", "TEA01"};
  for (uint32_t i = 0; i < 3; ++i) {
    uint8_t* d = At(image, kVrsBegin + i);
    std::memcpy(d + 1, vrs[i], 5);
    d[6] = 1;
  }
  static const time_t kSkeletonTime = 1767225600;  // a fixed date keeps the resource the same from build to build
  WriteIsoTrees(image, kDefaultLabel, {}, kTemplateSectors + 1, kTemplateSectors + 1, kSkeletonTime, nullptr);
  WriteUdfFolders(image, {}, kSkeletonTime, nullptr);
  PutUdfLabel(image, kDefaultLabel);
  PutUdfSizes(image, kTemplateSectors + 1, 0, 55, kSkeletonTime);
  return image;
}

std::vector<uint8_t> MakeDvdFileEntryTemplate() {
  std::vector<uint8_t> block(kSectorSize, 0);
  static const time_t kSkeletonTime = 1767225600;
  CECMA167::MakeFileEntry(block.data(), true, 55, 0, 0, 0, &kSkeletonTime, false);
  return block;
}

std::vector<uint8_t> MakeDvdEndTemplate() {
  std::vector<uint8_t> block(kSectorSize, 0);
  CECMA167::MakeTag(udf::kTagTerminating, block.data(), 512, 0);
  return block;
}

bool LayOutDvdHeader(const std::vector<uint8_t>& headerTemplate, const std::vector<uint8_t>& entryTemplate,
                     const std::vector<uint8_t>& endTemplate, const std::string& label,
                     const std::vector<DvdFileRecord>& records, time_t now, std::vector<uint8_t>* header,
                     uint32_t* totalSectors, std::string* why) {
  const uint32_t anchor = udftpl::kAnchor;
  if (headerTemplate.size() != size_t(kTemplateSectors) * kSectorSize ||
      !CECMA167::VerifyTag(At(headerTemplate, anchor), kSectorSize, nullptr, &anchor) ||
      std::memcmp(At(headerTemplate, kIsoPrimary) + 1, "CD001", 5) != 0)
    return Refuse(why, "the DVD header template (resource 1002) is damaged");
  if (entryTemplate.size() != kSectorSize || bytes::LE16(entryTemplate.data()) != udf::kTagFileEntry)
    return Refuse(why, "the file entry template (resource 2004) is damaged");
  if (endTemplate.size() != kSectorSize || bytes::LE16(endTemplate.data()) != udf::kTagTerminating)
    return Refuse(why, "the end sector template (resource 2006) is damaged");
  if (records.size() > kMaxFiles) return Refuse(why, "the VIDEO_TS folder holds too many files for the disc header");

  const uint32_t headerSectors = kFileEntries + uint32_t(records.size()) + 1;
  uint64_t total = headerSectors + 1;  // the closing anchor
  uint32_t expected = 0;
  for (const DvdFileRecord& r : records) {
    if (r.startSector != expected || r.sectorCount != SectorsOf(r.byteSize))
      return Refuse(why, "the file table is not packed: " + r.discName);
    expected += r.sectorCount;
    total += r.sectorCount;
  }
  if (total > 0xFFFFFFFFull) return Refuse(why, "the disc would be larger than a volume can describe");

  std::vector<uint8_t> image(size_t(headerSectors) * kSectorSize, 0);
  std::memcpy(image.data(), headerTemplate.data(), headerTemplate.size());
  if (!WriteIsoTrees(image, label, records, headerSectors, uint32_t(total), now, why)) return false;
  if (!WriteUdfFolders(image, records, now, why)) return false;
  PutUdfLabel(image, label);
  PutUdfTimes(image, now);
  PutUdfSizes(image, uint32_t(total), uint32_t(records.size()), 55 + records.size(), now);
  for (size_t i = 0; i < records.size(); ++i)
    MakeDvdFileEntry(At(image, kFileEntries + uint32_t(i)), entryTemplate, records[i], headerSectors, uint32_t(i),
                     now);
  uint8_t* end = At(image, headerSectors - 1);
  std::memcpy(end, endTemplate.data(), kSectorSize);
  CECMA167::MakeTag(udf::kTagTerminating, end, 512, Block(headerSectors - 1));
  *header = std::move(image);
  *totalSectors = uint32_t(total);
  return true;
}

std::vector<uint8_t> DvdClosingAnchor(const std::vector<uint8_t>& header, uint32_t totalSectors) {
  std::vector<uint8_t> sector(At(header, udftpl::kAnchor), At(header, udftpl::kAnchor) + kSectorSize);
  CECMA167::MakeTag(udf::kTagAnchor, sector.data(), 512, totalSectors - 1);
  return sector;
}
