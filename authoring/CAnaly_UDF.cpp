#include "authoring/CAnaly_UDF.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "ByteFields.h"
#include "authoring/CECMA167.h"
#include "SafeFile.h"

namespace {

constexpr uint32_t kBlock = udf::kBlockSize;

// Virtual allocation table entries that name no block.
constexpr uint32_t kVatUnused = 0xFFFFFFFF;
// File types of the UDF special files.
constexpr uint8_t kFileTypeVat = 248, kFileTypeMetadata = 250, kFileTypeMetadataMirror = 251;

std::string RegidText(const uint8_t* regid) {
  const char* id = reinterpret_cast<const char*>(regid + 1);
  return std::string(id, strnlen(id, 23));
}

UdfTime ParseTime(const uint8_t* p) {
  UdfTime t;
  uint16_t typeZone = bytes::LE16(p);
  int offset = typeZone & 0x0FFF;
  if (offset & 0x0800) offset -= 0x1000;
  if ((typeZone >> 12) == 1 && offset != -2047) t.offsetMinutes = offset;
  t.year = bytes::LE16(p + 2);
  t.month = p[4];
  t.day = p[5];
  t.hour = p[6];
  t.minute = p[7];
  t.second = p[8];
  return t;
}

std::string Num(uint64_t v) { return std::to_string(v); }

}  // namespace

// ---------------------------------------------------------------- sources

UdfImageSource::UdfImageSource(const std::string& path) {
  fd_ = safefile::OpenForReading(path, nullptr);  // a FIFO or device would block or lie
  struct stat st;
  if (fd_ >= 0 && fstat(fd_, &st) == 0) sectors_ = uint64_t(st.st_size) / kBlock;
}

UdfImageSource::~UdfImageSource() {
  if (fd_ >= 0) close(fd_);
}

bool UdfImageSource::ReadSectors(uint32_t sector, uint32_t count, uint8_t* out) {
  if (fd_ < 0 || uint64_t(sector) + count > sectors_) return false;
  size_t want = size_t(count) * kBlock;
  size_t done = 0;
  while (done < want) {
    ssize_t n = pread(fd_, out + done, want - done, off_t(uint64_t(sector) * kBlock + done));
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool UdfMemorySource::ReadSectors(uint32_t sector, uint32_t count, uint8_t* out) {
  if (uint64_t(sector) + count > SectorCount()) return false;
  std::memcpy(out, data_ + size_t(sector) * kBlock, size_t(count) * kBlock);
  return true;
}

// ---------------------------------------------------------------- entries

std::string UdfTime::Format() const {
  char text[64];
  std::snprintf(text, sizeof text, "%d-%d-%d %d:%d:%d", year, month, day, hour, minute, second);
  return text;
}

std::string UdfTime::FormatIso8601() const {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute, second);
  std::string out = text;
  if (offsetMinutes != 0) {
    const int m = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    std::snprintf(text, sizeof text, "%c%02d:%02d", offsetMinutes < 0 ? '-' : '+', m / 60, m % 60);
    out += text;
  }
  return out;
}

bool UdfEntry::ToImportedEntry(ImportedEntry* out) const {
  *out = ImportedEntry();
  out->kind = folder ? ImportedEntry::kFolder : ImportedEntry::kFile;
  out->name = name;
  out->date = {uint8_t(time.year >= 1900 && time.year <= 2155 ? time.year - 1900 : 0),
               uint8_t(time.month), uint8_t(time.day), uint8_t(time.hour), uint8_t(time.minute),
               uint8_t(time.second), uint8_t(int8_t(time.offsetMinutes / 15))};
  out->size = size;
  out->posix = posix;
  out->mode = mode, out->uid = uid, out->gid = gid;
  out->modified = modified, out->accessed = accessed, out->changed = changed;
  out->link = link;
  out->linkTarget = linkTarget;
  if (folder || link) return true;
  if (embedded && size > 0) return false;
  if (!sectors.empty()) out->location = sectors[0].first;
  for (size_t i = 1; i < sectors.size(); ++i)
    out->extents.emplace_back(sectors[i].first, uint32_t((sectors[i].second + kBlock - 1) / kBlock));
  return true;
}

// ---------------------------------------------------------------- mounting

bool CAnaly_UDF::Fail(const std::string& text) {
  if (error_.empty()) error_ = text;
  return false;
}

bool CAnaly_UDF::ReadSector(uint32_t sector, uint8_t* out) {
  // A sound volume is read about once per block; entries that point at the
  // same blocks again and again (long chains shared by many names) end here.
  if (++reads_ > readBudget_) return Fail("the volume refers to its blocks far more often than a sound volume does");
  if (!source_->ReadSectors(sector, 1, out)) return Fail("cannot read sector " + Num(sector));
  See(sector);
  return true;
}

std::string CAnaly_UDF::UdfRevision() const {
  char text[16];
  std::snprintf(text, sizeof text, "%x.%02x", revision_ >> 8, revision_ & 0xFF);
  return text;
}

bool CAnaly_UDF::Open(UdfSectorSource* source, uint32_t sessionStart, Mode mode) {
  source_ = source;
  sessionStart_ = sessionStart;
  mode_ = mode;
  mounted_ = false;
  maps_.clear();
  error_.clear();
  label_.clear();
  partitionKind_ = kPlain;
  hasMetadata_ = false;
  revision_ = 0;
  highest_ = sessionStart;
  reads_ = 0;
  readBudget_ = ~0ull;

  uint32_t mainLoc, mainLen, reserveLoc, reserveLen;
  if (!ReadAnchor(&mainLoc, &mainLen, &reserveLoc, &reserveLen)) return false;
  std::vector<uint8_t> lvd;
  if (!ReadVolumeSequence(mainLoc, mainLen, &lvd)) {
    std::string mainError = error_;
    error_.clear();
    maps_.clear();
    if (reserveLoc == 0 || !ReadVolumeSequence(reserveLoc, reserveLen, &lvd)) {
      error_ = mainError;
      return false;
    }
  }
  if (!ReadPartitionMaps(lvd)) return false;

  // The file set descriptor, and through it the root folder.
  uint32_t fsdBlock = bytes::LE32(lvd.data() + udf::lvd::kFileSetBlock);
  uint16_t fsdPartition = bytes::LE16(lvd.data() + udf::lvd::kFileSetPartition);
  std::vector<uint8_t> fsd(kBlock);
  if (!ReadBlock(fsdPartition, fsdBlock, fsd.data())) return false;
  std::string why;
  if (bytes::LE16(fsd.data()) != udf::kTagFileSet || !CECMA167::VerifyTag(fsd.data(), kBlock, &why))
    return Fail("no file set descriptor at block " + Num(fsdBlock) + (why.empty() ? "" : ": " + why));
  rootBlock_ = bytes::LE32(fsd.data() + udf::fsd::kRootBlock);
  rootPartition_ = bytes::LE16(fsd.data() + udf::fsd::kRootPartition);
  if (label_.empty()) label_ = CECMA167::DecodeDString(fsd.data() + udf::fsd::kVolumeId, 128);
  mounted_ = true;
  return true;
}

bool CAnaly_UDF::ReadAnchor(uint32_t* mainLocation, uint32_t* mainLength, uint32_t* reserveLocation,
                            uint32_t* reserveLength) {
  std::vector<uint32_t> candidates = {sessionStart_ + 256, sessionStart_ + 512};
  // Readers of finished discs also look at the volume's end.
  uint64_t n = source_->SectorCount();
  if (n > 0) {
    candidates.push_back(uint32_t(n - 1));
    if (n > 257) candidates.push_back(uint32_t(n - 257));
  }
  std::vector<uint8_t> d(kBlock);
  std::string why = "no anchor volume descriptor pointer at sector " + Num(sessionStart_ + 256) +
                    " or " + Num(sessionStart_ + 512);
  for (uint32_t at : candidates) {
    if (!source_->ReadSectors(at, 1, d.data())) continue;
    if (bytes::LE16(d.data()) != udf::kTagAnchor || !CECMA167::VerifyTag(d.data(), kBlock)) continue;
    *mainLength = bytes::LE32(d.data() + udf::avdp::kMainLength);
    *mainLocation = bytes::LE32(d.data() + udf::avdp::kMainLocation);
    *reserveLength = bytes::LE32(d.data() + udf::avdp::kReserveLength);
    *reserveLocation = bytes::LE32(d.data() + udf::avdp::kReserveLocation);
    if (*mainLocation == 0) continue;
    See(at);
    return true;
  }
  return Fail(why);
}

bool CAnaly_UDF::ReadVolumeSequence(uint32_t location, uint32_t length, std::vector<uint8_t>* lvd) {
  std::map<uint16_t, std::pair<uint32_t, uint32_t>> partitions;
  std::vector<uint8_t> d(kBlock);
  lvd->clear();
  uint32_t sectors = std::max<uint32_t>(1, std::min<uint32_t>(length / kBlock, 64));
  int pointers = 0;
  for (uint32_t i = 0; i < sectors; ++i) {
    if (!ReadSector(location + i, d.data())) break;
    uint16_t id = bytes::LE16(d.data());
    std::string why;
    if (!CECMA167::VerifyTag(d.data(), kBlock, &why)) {
      if (id == 0 && bytes::LE16(d.data() + 2) == 0) break;  // unrecorded: the sequence ended
      return Fail("volume descriptor at sector " + Num(location + i) + ": " + why);
    }
    if (id == udf::kTagTerminating) break;
    if (id == udf::kTagPrimaryVolume && label_.empty()) {
      label_ = CECMA167::DecodeDString(d.data() + udf::pvd::kVolumeId, 32);
    } else if (id == udf::kTagPartition) {
      partitions[bytes::LE16(d.data() + udf::pd::kNumber)] = {bytes::LE32(d.data() + udf::pd::kStart),
                                                           bytes::LE32(d.data() + udf::pd::kLength)};
    } else if (id == udf::kTagLogicalVolume && lvd->empty()) {
      *lvd = d;
    } else if (id == udf::kTagVolumePointer && ++pointers <= 8) {
      // The sequence continues elsewhere.
      location = bytes::LE32(d.data() + udf::vdp::kNextLocation);
      sectors = std::max<uint32_t>(1, std::min<uint32_t>(bytes::LE32(d.data() + udf::vdp::kNextLength) / kBlock, 64));
      i = uint32_t(-1);
    }
  }
  if (lvd->empty()) return Fail("no logical volume descriptor in the volume descriptor sequence");
  if (partitions.empty()) return Fail("no partition descriptor in the volume descriptor sequence");
  std::string lvLabel = CECMA167::DecodeDString(lvd->data() + udf::lvd::kVolumeId, 128);
  if (!lvLabel.empty()) label_ = lvLabel;
  revision_ = bytes::LE16(lvd->data() + udf::lvd::kDomainRevision);
  // Keep the partitions for the maps; an ordered map of numbers is enough.
  maps_.clear();
  for (const auto& [number, where] : partitions) {
    Partition p;
    p.number = number;
    p.start = where.first;
    p.length = where.second;
    p.found = true;
    maps_.push_back(p);  // placeholders, replaced by ReadPartitionMaps
  }
  return true;
}

bool CAnaly_UDF::ReadPartitionMaps(const std::vector<uint8_t>& lvd) {
  std::vector<Partition> described = maps_;
  maps_.clear();
  uint32_t blockSize = bytes::LE32(lvd.data() + udf::lvd::kBlockSize);
  if (blockSize != kBlock) return Fail("logical block size " + Num(blockSize) + " is not supported");
  uint32_t tableLength = bytes::LE32(lvd.data() + udf::lvd::kMapTableLength);
  uint32_t count = bytes::LE32(lvd.data() + udf::lvd::kMapCount);
  if (tableLength > kBlock - udf::lvd::kMaps) return Fail("partition map table runs past its descriptor");
  auto describedPartition = [&](uint16_t number, Partition* p) {
    for (const Partition& d : described)
      if (d.number == number) {
        p->start = d.start;
        p->length = d.length;
        p->found = true;
        return true;
      }
    return false;
  };
  size_t at = udf::lvd::kMaps, end = udf::lvd::kMaps + tableLength;
  struct Sparing {
    size_t map;
    std::vector<uint32_t> tables;
    uint32_t size;
  };
  std::vector<Sparing> sparing;
  for (uint32_t i = 0; i < count && i < 64; ++i) {
    if (at + 2 > end) return Fail("partition map " + Num(i) + " runs past the map table");
    const uint8_t* m = lvd.data() + at;
    uint8_t type = m[0], length = m[1];
    if (length < 6 || at + length > end) return Fail("partition map " + Num(i) + " has a bad length");
    Partition p;
    if (type == 1) {
      p.number = bytes::LE16(m + 4);
    } else if (type == 2 && length >= 40) {
      std::string id = RegidText(m + 4);
      p.number = bytes::LE16(m + 38);
      if (id.find("Virtual") != std::string::npos) {
        p.kind = Partition::kVirtual;
        partitionKind_ = kVirtual;
      } else if (id.find("Sparable") != std::string::npos && length >= 48) {
        p.kind = Partition::kSparable;
        partitionKind_ = kSparable;
        p.packetLength = bytes::LE16(m + 40);
        uint8_t tables = std::min<uint8_t>(m[42], 4);
        Sparing s{maps_.size(), {}, bytes::LE32(m + 44)};
        for (uint8_t t = 0; t < tables && 48 + 4 * t + 4 <= length; ++t)
          s.tables.push_back(bytes::LE32(m + 48 + 4 * t));
        sparing.push_back(s);
        if (p.packetLength == 0) return Fail("sparable partition with packet length 0");
      } else if (id.find("Metadata") != std::string::npos && length >= 48) {
        p.kind = Partition::kMetadata;
        hasMetadata_ = true;
        p.metadataFile = bytes::LE32(m + 40);
        p.metadataMirror = bytes::LE32(m + 44);
      } else {
        return Fail("partition map " + Num(i) + " of kind \"" + id + "\" is not supported");
      }
    } else {
      return Fail("partition map " + Num(i) + " of type " + Num(type) + " is not supported");
    }
    if (!describedPartition(p.number, &p))
      return Fail("partition " + Num(p.number) + " has no partition descriptor");
    maps_.push_back(p);
    at += length;
  }
  if (maps_.empty()) return Fail("the logical volume has no partition map");
  for (const Sparing& s : sparing)
    if (!LoadSparingTable(&maps_[s.map], s.tables, s.size)) return false;
  // Loading may add maps (the physical side of a virtual or metadata
  // partition), so only the maps of the volume itself are visited.
  const size_t declared = maps_.size();
  for (size_t i = 0; i < declared; ++i)
    if (maps_[i].kind == Partition::kVirtual && !LoadVat(i)) return false;
  for (size_t i = 0; i < declared; ++i)
    if (maps_[i].kind == Partition::kMetadata && !LoadMetadataFile(i)) return false;
  return true;
}

bool CAnaly_UDF::LoadSparingTable(Partition* p, const std::vector<uint32_t>& tables, uint32_t tableSize) {
  uint32_t sectors = std::min<uint32_t>((tableSize + kBlock - 1) / kBlock, 64);
  if (sectors == 0) sectors = 1;
  std::vector<uint8_t> d(size_t(sectors) * kBlock);
  for (uint32_t location : tables) {
    if (!source_->ReadSectors(location, sectors, d.data())) continue;
    if (!CECMA167::VerifyTag(d.data(), d.size())) continue;
    if (RegidText(d.data() + 16).find("Sparing Table") == std::string::npos) continue;
    uint32_t entries = bytes::LE16(d.data() + 48);
    if (56 + size_t(entries) * 8 > d.size()) continue;
    for (uint32_t e = 0; e < entries; ++e) {
      uint32_t original = bytes::LE32(d.data() + 56 + 8 * e);
      uint32_t mapped = bytes::LE32(d.data() + 60 + 8 * e);
      if (original < 0xFFFFFFF0) p->sparing[original] = mapped;
    }
    return true;
  }
  return Fail("no readable sparing table for partition " + Num(p->number));
}

size_t CAnaly_UDF::PhysicalMapFor(size_t index) {
  uint16_t number = maps_[index].number;
  for (size_t i = 0; i < maps_.size(); ++i)
    if (maps_[i].kind == Partition::kPhysical && maps_[i].number == number) return i;
  // A volume may map its partition only virtually; the special files are
  // still read through the partition itself.
  Partition physical;
  physical.number = number;
  physical.start = maps_[index].start;
  physical.length = maps_[index].length;
  physical.found = true;
  maps_.push_back(physical);
  return maps_.size() - 1;
}

bool CAnaly_UDF::LoadVat(size_t index) {
  // The table is the file written last: its entry is in the last recorded
  // sector of the session (a few sectors earlier when the end was padded).
  uint64_t n = source_->SectorCount();
  if (n == 0) return Fail("the end of the session is unknown, so the virtual allocation table cannot be found");
  const size_t physical = PhysicalMapFor(index);
  std::vector<uint8_t> d(kBlock);
  for (uint64_t back = 0; back < 32 && back < n; ++back) {
    uint32_t sector = uint32_t(n - 1 - back);
    if (!source_->ReadSectors(sector, 1, d.data())) continue;
    uint16_t id = bytes::LE16(d.data());
    if ((id != udf::kTagFileEntry && id != udf::kTagExtendedFileEntry) ||
        !CECMA167::VerifyTag(d.data(), kBlock))
      continue;
    uint8_t type = d[27];
    if (type != kFileTypeVat && type != 0) continue;
    // Allocation descriptors of the table point into the physical partition.
    Node node;
    if (!ParseNode(d.data(), uint16_t(physical), &node)) return false;
    std::vector<uint8_t> table;
    if (!ReadData(node, uint64_t(kMaxVatEntries) * 4 + 4096, &table)) return false;
    size_t first = 0, end = table.size();
    if (type == kFileTypeVat) {
      if (table.size() < 2) return Fail("virtual allocation table too short");
      first = bytes::LE16(table.data());
      if (first > table.size()) return Fail("virtual allocation table header longer than the table");
    } else {
      // The older form: entries, then an identifier and the previous table.
      if (table.size() < 36 || RegidText(table.data() + table.size() - 36).find("Virtual Alloc") == std::string::npos)
        continue;
      end = table.size() - 36;
    }
    std::vector<uint32_t>& vat = maps_[index].vat;
    vat.clear();
    for (size_t at = first; at + 4 <= end; at += 4) vat.push_back(bytes::LE32(table.data() + at));
    See(sector);
    return true;
  }
  return Fail("no virtual allocation table at the end of the session");
}

bool CAnaly_UDF::LoadMetadataFile(size_t index) {
  const size_t physical = PhysicalMapFor(index);
  maps_[index].physical = uint16_t(physical);
  std::string firstError;
  for (uint32_t location : {maps_[index].metadataFile, maps_[index].metadataMirror}) {
    Node node;
    error_.clear();
    if (!ReadNode(uint16_t(physical), location, &node)) {
      if (firstError.empty()) firstError = error_;
      continue;
    }
    if (node.fileType != kFileTypeMetadata && node.fileType != kFileTypeMetadataMirror) {
      if (firstError.empty()) firstError = "no metadata file at block " + Num(location);
      continue;
    }
    if (node.embedded) {
      if (firstError.empty()) firstError = "metadata file without extents";
      continue;
    }
    std::vector<std::pair<uint32_t, uint64_t>> extents;
    for (const Ad& ad : node.ads) {
      if (ad.partition != physical) {
        extents.clear();
        if (firstError.empty()) firstError = "metadata file points outside its partition";
        break;
      }
      extents.emplace_back(ad.block, ad.kind == 0 ? ad.length : 0);
    }
    if (extents.empty()) continue;
    maps_[index].metadataExtents = std::move(extents);
    error_.clear();
    return true;
  }
  error_.clear();
  return Fail(firstError.empty() ? "no readable metadata file" : firstError);
}

// ---------------------------------------------------------------- blocks

bool CAnaly_UDF::Translate(uint16_t partition, uint32_t block, uint32_t* sector, int depth) {
  if (partition >= maps_.size()) return Fail("partition reference " + Num(partition) + " is not mapped");
  const Partition& p = maps_[partition];
  auto physical = [&](uint32_t b) {
    if (p.length != 0 && b >= p.length && p.kind != Partition::kVirtual)
      return Fail("block " + Num(b) + " lies beyond partition " + Num(p.number));
    uint64_t s = uint64_t(p.start) + b;
    if (s > 0xFFFFFFFFull) return Fail("block " + Num(b) + " lies beyond the volume");
    *sector = uint32_t(s);
    return true;
  };
  switch (p.kind) {
    case Partition::kPhysical:
      return physical(block);
    case Partition::kVirtual:
      if (block >= p.vat.size() || p.vat[block] == kVatUnused)
        return Fail("virtual block " + Num(block) + " is not in the allocation table");
      return physical(p.vat[block]);
    case Partition::kSparable: {
      uint32_t packet = block - block % p.packetLength;
      auto it = p.sparing.find(packet);
      if (it == p.sparing.end()) return physical(block);
      uint64_t s = uint64_t(it->second) + (block - packet);
      if (s > 0xFFFFFFFFull) return Fail("spared block " + Num(block) + " lies beyond the volume");
      *sector = uint32_t(s);
      return true;
    }
    case Partition::kMetadata: {
      if (depth > 0) return Fail("metadata partition refers to itself");
      uint64_t offset = uint64_t(block) * kBlock;
      for (const auto& [start, bytes] : p.metadataExtents) {
        if (offset < bytes) {
          uint64_t b = uint64_t(start) + offset / kBlock;
          if (b > 0xFFFFFFFFull) break;
          return Translate(p.physical, uint32_t(b), sector, depth + 1);
        }
        offset -= bytes;
      }
      return Fail("metadata block " + Num(block) + " lies beyond the metadata file");
    }
  }
  return false;
}

bool CAnaly_UDF::ReadBlock(uint16_t partition, uint32_t block, uint8_t* out) {
  uint32_t sector;
  return Translate(partition, block, &sector) && ReadSector(sector, out);
}

bool CAnaly_UDF::ReadNode(uint16_t partition, uint32_t block, Node* node) {
  std::vector<uint8_t> d(kBlock);
  for (int hops = 0; hops < 8; ++hops) {
    if (!ReadBlock(partition, block, d.data())) return false;
    uint16_t id = bytes::LE16(d.data());
    std::string why;
    if (!CECMA167::VerifyTag(d.data(), kBlock, &why))
      return Fail("file entry at block " + Num(block) + ": " + why);
    if (id == udf::kTagIndirectEntry) {
      block = bytes::LE32(d.data() + 24);
      partition = bytes::LE16(d.data() + 28);
      continue;
    }
    if (id != udf::kTagFileEntry && id != udf::kTagExtendedFileEntry)
      return Fail("no file entry at block " + Num(block) + " (tag " + Num(id) + ")");
    return ParseNode(d.data(), partition, node);
  }
  return Fail("indirect entries run in a circle at block " + Num(block));
}

bool CAnaly_UDF::ParseNode(const uint8_t* d, uint16_t partition, Node* node) {
  bool extended = bytes::LE16(d) == udf::kTagExtendedFileEntry;
  node->fileType = d[27];
  node->size = bytes::LE64(d + 56);
  node->time = ParseTime(d + (extended ? 92 : 84));
  uint64_t eaLength = bytes::LE32(d + (extended ? 208 : 168));
  uint64_t adLength = bytes::LE32(d + (extended ? 212 : 172));
  uint64_t base = extended ? 216 : 176;
  if (base + eaLength + adLength > kBlock) return Fail("file entry lengths run past its block");
  const uint8_t* ads = d + base + eaLength;
  uint8_t adType = bytes::LE16(d + 34) & 7;
  node->ads.clear();
  node->inlineData.clear();
  node->embedded = adType == udf::kAdEmbedded;
  if (node->embedded) {
    if (node->size > adLength) return Fail("embedded data longer than its file entry");
    node->inlineData.assign(ads, ads + node->size);
    return true;
  }
  return ParseAds(ads, size_t(adLength), adType, partition, &node->ads, 0);
}

bool CAnaly_UDF::ParseAds(const uint8_t* p, size_t length, uint8_t adType, uint16_t partition,
                          std::vector<Ad>* ads, int hops) {
  size_t size = adType == udf::kAdShort ? 8 : adType == udf::kAdLong ? 16 : adType == udf::kAdExtended ? 20 : 0;
  if (size == 0) return Fail("unknown allocation descriptor type " + Num(adType));
  for (size_t at = 0; at + size <= length; at += size) {
    const uint8_t* a = p + at;
    uint32_t raw = bytes::LE32(a);
    Ad ad;
    ad.length = raw & 0x3FFFFFFF;
    ad.kind = uint8_t(raw >> 30);
    if (ad.length == 0) break;
    if (adType == udf::kAdShort) {
      ad.block = bytes::LE32(a + 4);
      ad.partition = partition;
    } else if (adType == udf::kAdLong) {
      ad.block = bytes::LE32(a + 4);
      ad.partition = bytes::LE16(a + 8);
    } else {
      ad.block = bytes::LE32(a + 12);
      ad.partition = bytes::LE16(a + 16);
    }
    if (ad.kind == 3) {
      // The list continues in an allocation extent descriptor.
      if (hops >= 1024) return Fail("allocation extents run in a circle");
      std::vector<uint8_t> d(kBlock);
      if (!ReadBlock(ad.partition, ad.block, d.data())) return false;
      std::string why;
      if (bytes::LE16(d.data()) != udf::kTagAllocationExtent || !CECMA167::VerifyTag(d.data(), kBlock, &why))
        return Fail("no allocation extent descriptor at block " + Num(ad.block));
      uint32_t more = bytes::LE32(d.data() + 20);
      if (more > kBlock - 24) return Fail("allocation extent descriptor runs past its block");
      return ParseAds(d.data() + 24, more, adType, adType == udf::kAdShort ? partition : ad.partition, ads, hops + 1);
    }
    if (ads->size() >= kMaxAllocationDescriptors) return Fail("too many allocation descriptors");
    ads->push_back(ad);
  }
  return true;
}

bool CAnaly_UDF::ReadData(const Node& node, uint64_t limit, std::vector<uint8_t>* data) {
  if (node.size > limit) return Fail("a folder or table of " + Num(node.size) + " bytes is larger than accepted");
  if (node.embedded) {
    *data = node.inlineData;
    return true;
  }
  data->assign(size_t(node.size), 0);
  uint64_t offset = 0;
  std::vector<uint8_t> block(kBlock);
  for (const Ad& ad : node.ads) {
    if (offset >= node.size) break;
    uint64_t n = std::min<uint64_t>(ad.length, node.size - offset);
    if (ad.kind == 0) {
      for (uint64_t done = 0; done < n; done += kBlock) {
        uint64_t b = uint64_t(ad.block) + done / kBlock;
        if (b > 0xFFFFFFFFull) return Fail("extent runs past the last block");
        if (!ReadBlock(ad.partition, uint32_t(b), block.data())) return false;
        std::memcpy(data->data() + offset + done, block.data(), size_t(std::min<uint64_t>(kBlock, n - done)));
      }
    }
    offset += ad.length;
  }
  return true;
}

bool CAnaly_UDF::DataSectors(const Node& node, std::vector<std::pair<uint32_t, uint64_t>>* runs) {
  runs->clear();
  auto append = [&](uint32_t sector, uint64_t bytes) {
    if (!runs->empty() && runs->back().second % kBlock == 0 &&
        uint64_t(runs->back().first) + runs->back().second / kBlock == sector)
      runs->back().second += bytes;
    else
      runs->emplace_back(sector, bytes);
    See(uint32_t(sector + (bytes - 1) / kBlock));
  };
  const uint64_t volume = source_->SectorCount();
  uint64_t offset = 0;
  for (const Ad& ad : node.ads) {
    if (offset >= node.size) break;
    uint64_t n = std::min<uint64_t>(ad.length, node.size - offset);
    if (ad.kind != 0) return Fail("file data that was never recorded cannot be pointed at");
    uint64_t blocks = (n + kBlock - 1) / kBlock;
    if (ad.partition < maps_.size() && maps_[ad.partition].kind == Partition::kPhysical) {
      // A plain partition maps an extent in one piece.
      uint32_t first;
      if (!Translate(ad.partition, ad.block, &first)) return false;
      const Partition& p = maps_[ad.partition];
      if ((p.length != 0 && uint64_t(ad.block) + blocks > p.length) ||
          (volume != 0 && uint64_t(first) + blocks > volume))
        return Fail("file data beyond the volume");
      append(first, n);
    } else {
      // Other partitions map block by block; their blocks count against a
      // budget, so that entries claiming vast extents cannot stall the walk.
      for (uint64_t i = 0; i < blocks; ++i) {
        if (++blocksMapped_ > kMaxMappedBlocks) return Fail("file extents exceed the volume");
        uint64_t b = uint64_t(ad.block) + i;
        uint32_t sector;
        if (b > 0xFFFFFFFFull || !Translate(ad.partition, uint32_t(b), &sector))
          return Fail("file data beyond the volume");
        append(sector, std::min<uint64_t>(kBlock, n - i * kBlock));
      }
    }
    offset += ad.length;
  }
  return true;
}

// ---------------------------------------------------------------- the walk

bool CAnaly_UDF::Walk(UdfWalkListener* listener) {
  if (!mounted_) return Fail("no UDF volume is mounted");
  error_.clear();
  skipped_.clear();
  visited_.clear();
  entries_ = 0;
  blocksMapped_ = 0;
  reads_ = 0;
  readBudget_ = (source_->SectorCount() ? source_->SectorCount() : 1ull << 22) * 64 + (1 << 20);
  stopped_ = false;
  WalkFolder(rootPartition_, rootBlock_, "", 0, listener);
  return error_.empty();
}

namespace {

// A disc name that cannot be one component of a path is shown with
// underscores, and marked as changed.
void MakeNameSafe(UdfEntry& e) {
  for (char& c : e.name)
    if (c == '/' || c == '\0') {
      c = '_';
      e.nameChanged = true;
    }
  if (e.name.empty() || e.name == "." || e.name == "..") {
    e.name = e.name.empty() ? "_" : std::string(e.name.size(), '_');
    e.nameChanged = true;
  }
}

}  // namespace

// What one file identifier of a folder says about an entry.
struct CAnaly_UDF::FileId {
  size_t used = 0;  // bytes before padding; 0 at the zero padding that ends the folder
  uint8_t characteristics = 0;
  uint32_t block = 0;
  uint16_t partition = 0;
  const uint8_t* name = nullptr;
  size_t nameLength = 0;
};

bool CAnaly_UDF::ReadFileId(const std::vector<uint8_t>& stream, size_t at, const std::string& path, FileId* id) {
  const uint8_t* f = stream.data() + at;
  if (bytes::LE16(f) != udf::kTagFileIdentifier) {
    bool rest = true;
    for (size_t i = at; i < stream.size() && rest; ++i) rest = stream[i] == 0;
    if (rest) return true;
    return Fail("damaged file identifier in \"" + path + "\" at byte " + Num(at));
  }
  std::string why;
  if (!CECMA167::VerifyTag(f, stream.size() - at, &why))
    return Fail("file identifier in \"" + path + "\" at byte " + Num(at) + ": " + why);
  size_t idLength = f[19];
  size_t iuLength = bytes::LE16(f + 36);
  size_t used = 38 + iuLength + idLength;
  if (at + used > stream.size()) return Fail("file identifier in \"" + path + "\" runs past its folder");
  id->used = used;
  id->characteristics = f[18];
  id->block = bytes::LE32(f + 24);
  id->partition = bytes::LE16(f + 28);
  id->name = f + 38 + iuLength;
  id->nameLength = idLength;
  return true;
}

bool CAnaly_UDF::DescribeEntry(const FileId& id, UdfEntry& e) {
  // An entry that cannot be reported is named, so that whoever saves or
  // lists the disc can say which file is missing, not only that one is.
  auto skip = [&](const std::string& earlier) {
    skipped_.emplace_back(e.Path(), error_);
    error_ = earlier.empty() ? "\"" + e.Path() + "\": " + error_ : earlier;
    return false;
  };
  Node child;
  std::string earlier = std::exchange(error_, std::string());
  if (!ReadNode(id.partition, id.block, &child)) return skip(earlier);
  e.folder = (id.characteristics & udf::kCharDirectory) != 0 || child.fileType == udf::kFileTypeDirectory;
  e.size = e.folder ? 0 : child.size;
  e.time = child.time;
  e.embedded = child.embedded;
  if (child.embedded && !e.folder) e.inlineData = child.inlineData;
  if (mode_ == kImport && !e.folder && !child.embedded && !DataSectors(child, &e.sectors)) return skip(earlier);
  if (error_.empty()) error_ = earlier;
  return true;
}

bool CAnaly_UDF::WalkFolder(uint16_t partition, uint32_t block, const std::string& path, int depth,
                            UdfWalkListener* listener) {
  if (depth > int(kMaxDepth)) return Fail("folders are nested deeper than " + Num(kMaxDepth) + " levels");
  if (!visited_.insert({partition, block}).second)
    return Fail("the folder \"" + path + "\" leads back to a folder met before");
  Node folder;
  if (!ReadNode(partition, block, &folder)) return false;
  if (folder.fileType != udf::kFileTypeDirectory)
    return Fail("\"" + (path.empty() ? std::string("/") : path) + "\" is not a folder");
  std::vector<uint8_t> stream;
  if (!ReadData(folder, kMaxDirectoryBytes, &stream)) return false;

  bool ok = true;
  size_t at = 0;
  while (at + 38 <= stream.size() && !stopped_) {
    FileId id;
    if (!ReadFileId(stream, at, path, &id)) return false;
    if (id.used == 0) break;  // zero padding at the end
    at += (id.used + 3) & ~size_t(3);
    if (id.characteristics & (udf::kCharDeleted | udf::kCharParent)) continue;

    UdfEntry e;
    if (!CECMA167::DecodeCS0(id.name, id.nameLength, &e.name)) {
      ok = Fail("a name in \"" + path + "\" has an unknown character set");
      continue;
    }
    MakeNameSafe(e);
    e.parentPath = path;
    e.depth = depth;
    e.hidden = (id.characteristics & udf::kCharHidden) != 0;
    if (++entries_ > kMaxEntries) return Fail("more than " + Num(kMaxEntries) + " entries");
    if (!DescribeEntry(id, e)) {
      ok = false;
      continue;
    }
    if (!listener->Entry(e)) {
      stopped_ = true;
      break;
    }
    if (e.folder && !WalkFolder(id.partition, id.block, e.Path(), depth + 1, listener)) ok = false;
  }
  return ok;
}
