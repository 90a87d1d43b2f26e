#include "authoring/DvdVolume.h"

#include <algorithm>
#include <cstring>

#include "ByteFields.h"
#include "authoring/CECMA167.h"
#include "authoring/Iso9660.h"
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

struct Entry {
  std::string name;
  uint32_t extent, size;
};

// A folder's extent: "." and "..", then its entries' records.
std::string FolderExtent(uint32_t self, uint32_t selfSize, uint32_t parent, uint32_t parentSize,
                         const std::vector<Entry>& entries, bool folders, const iso9660::RecordDate& date) {
  using iso9660::kDirectory;
  std::string extent;
  iso9660::AppendRecord(&extent, iso9660::MakeRecord({self, selfSize, date, kDirectory, iso9660::SelfIdent(), {}}));
  iso9660::AppendRecord(&extent,
                        iso9660::MakeRecord({parent, parentSize, date, kDirectory, iso9660::ParentIdent(), {}}));
  for (const Entry& e : entries)
    iso9660::AppendRecord(&extent, iso9660::MakeRecord({e.extent, e.size, date, folders ? kDirectory : uint8_t(0),
                                                        e.name, {}}));
  return extent;
}

// Writes bytes over `sectors` whole sectors from `sector`, the rest zero.
void PutSectors(std::vector<uint8_t>& image, uint32_t sector, uint32_t sectors, const std::string& bytes) {
  std::memset(At(image, sector), 0, size_t(sectors) * kSectorSize);
  std::memcpy(At(image, sector), bytes.data(), std::min<size_t>(bytes.size(), size_t(sectors) * kSectorSize));
}

// The root and its two folders; path tables list a level in name order.
uint32_t WritePathTables(std::vector<uint8_t>& image, uint32_t lSector, uint32_t mSector, uint32_t root,
                         uint32_t audioTs, uint32_t videoTs, const std::string& audioName,
                         const std::string& videoName) {
  std::string tables[2];
  for (bool big : {false, true})
    tables[big] = iso9660::PathTableRecord(iso9660::SelfIdent(), root, 1, big) +
                  iso9660::PathTableRecord(audioName, audioTs, 1, big) +
                  iso9660::PathTableRecord(videoName, videoTs, 1, big);
  PutSectors(image, lSector, 1, tables[0]);
  PutSectors(image, mSector, 1, tables[1]);
  return uint32_t(tables[0].size());
}

void WriteVolumeDescriptor(std::vector<uint8_t>& image, uint32_t sector, bool joliet, const std::string& label,
                           uint32_t totalSectors, uint32_t pathSize, uint32_t pathL, uint32_t pathM,
                           uint32_t root, time_t now) {
  uint8_t* d = At(image, sector);
  std::memset(d, 0, kSectorSize);
  iso9660::PutDescriptorHead(d, joliet ? iso9660::kSupplementaryType : iso9660::kPrimaryType);
  iso9660::FillBlanks(d + iso9660::kSystemId, 32, joliet);
  iso9660::FillBlanks(d + iso9660::kVolumeId, 32, joliet);
  const std::string volumeId = joliet ? iso9660::JolietText(label, 16) : iso9660::IsoLabel(label);
  std::memcpy(d + iso9660::kVolumeId, volumeId.data(), std::min<size_t>(32, volumeId.size()));
  if (joliet) iso9660::PutJolietEscapes(d);
  iso9660::PutVolumeFields(d, {totalSectors, pathSize, pathL, pathM,
                               iso9660::MakeRecord({root, kSectorSize, iso9660::MakeRecordDate(now),
                                                    iso9660::kDirectory, iso9660::SelfIdent(), {}})});
  iso9660::FillBlanks(d + iso9660::kVolumeSetId, 4 * 128, joliet);  // volume set to application
  iso9660::FillBlanks(d + iso9660::kCopyrightFile, 111, joliet);    // copyright, abstract, bibliography
  iso9660::PutVolumeDates(d, now);
}

// Both ISO 9660 trees: descriptors, path tables, root, AUDIO_TS and VIDEO_TS.
bool WriteIsoTrees(std::vector<uint8_t>& image, const std::string& label, const std::vector<DvdFileRecord>& records,
                   uint32_t firstFileSector, uint32_t totalSectors, time_t now, std::string* why) {
  const iso9660::RecordDate date = iso9660::MakeRecordDate(now);
  std::vector<Entry> iso, joliet;
  // The files lie in player order; a folder's records are sorted by name.
  std::vector<const DvdFileRecord*> byName;
  for (const DvdFileRecord& r : records) byName.push_back(&r);
  std::sort(byName.begin(), byName.end(),
            [](const DvdFileRecord* a, const DvdFileRecord* b) { return a->discName < b->discName; });
  for (const DvdFileRecord* r : byName) {
    iso.push_back({r->discName + ";1", firstFileSector + r->startSector, r->byteSize});
    joliet.push_back({iso9660::JolietName(r->discName, false) + iso9660::JolietVersion(),
                      firstFileSector + r->startSector, r->byteSize});
  }
  const uint32_t isoSectors = SectorsOf(FolderExtent(0, 0, 0, 0, iso, false, date).size());
  const uint32_t jolietSectors = SectorsOf(FolderExtent(0, 0, 0, 0, joliet, false, date).size());
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
    const uint32_t videoSectors = j ? jolietSectors : isoSectors, videoSize = videoSectors * kSectorSize;
    const std::string audioName = j ? iso9660::JolietName("AUDIO_TS", true) : "AUDIO_TS";
    const std::string videoName = j ? iso9660::JolietName("VIDEO_TS", true) : "VIDEO_TS";
    PutSectors(image, root, 1,
               FolderExtent(root, kSectorSize, root, kSectorSize,
                            {{audioName, audio, kSectorSize}, {videoName, video, videoSize}}, true, date));
    PutSectors(image, audio, 1, FolderExtent(audio, kSectorSize, root, kSectorSize, {}, true, date));
    PutSectors(image, video, videoSectors,
               FolderExtent(video, videoSize, root, kSectorSize, j ? joliet : iso, false, date));
    const uint32_t pathL = j ? kJolietPathL : kIsoPathL, pathM = j ? kJolietPathM : kIsoPathM;
    const uint32_t pathSize = WritePathTables(image, pathL, pathM, root, audio, video, audioName, videoName);
    WriteVolumeDescriptor(image, j ? kIsoJoliet : kIsoPrimary, j, label, totalSectors, pathSize, pathL, pathM,
                          root, now);
  }
  iso9660::PutTerminator(At(image, kIsoTerminator));
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
