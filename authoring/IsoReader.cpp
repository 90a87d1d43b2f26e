#include "authoring/IsoReader.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "ByteFields.h"
#include "authoring/Iso9660.h"
#include "authoring/Iso9660RockRidge.h"

using iso9660::kBlock;

namespace {

std::string Num(uint64_t n) { return std::to_string(n); }

UdfEntry PlainEntryOf(const iso9660::ReadRecord& r, bool joliet, const std::string& parentPath, int depth) {
  UdfEntry e;
  e.name = iso9660::RecordName(r.ident, r.identBytes, joliet, &e.nameChanged);
  e.parentPath = parentPath;
  e.depth = depth;
  e.folder = (r.flags & iso9660::kDirectory) != 0;
  e.hidden = (r.flags & iso9660::kHidden) != 0;
  e.size = e.folder ? 0 : r.size;
  e.sectors.push_back({r.extent, r.size});
  const iso9660::DateParts d = iso9660::ReadRecordDate(r.date);
  e.time.year = d.year;
  e.time.month = d.month;
  e.time.day = d.day;
  e.time.hour = d.hour;
  e.time.minute = d.minute;
  e.time.second = d.second;
  e.time.offsetMinutes = d.offsetMinutes;
  return e;
}

}  // namespace

UdfEntry IsoReader::EntryOf(const iso9660::ReadRecord& r, const std::string& parentPath, int depth,
                            bool* relocated, int64_t* childLink) {
  UdfEntry e = PlainEntryOf(r, joliet_, parentPath, depth);
  if (!rock_) return e;
  const rockridge::Decoded d = rockridge::Decode(
      r.systemUse, r.systemUseBytes, rockSkip_,
      [this](uint32_t block, uint32_t offset, uint32_t length, std::string* out) {
        uint8_t sector[kBlock];
        const uint64_t end = source_->SectorCount();
        if ((end != 0 && block >= end) || !source_->ReadSectors(block, 1, sector)) return false;
        out->assign(reinterpret_cast<const char*>(sector) + offset, length);
        return true;
      });
  if (d.hasName) {
    // One path component, whatever the disc says.
    e.name = d.name;
    for (char& c : e.name)
      if (c == '/' || c == '\0') c = iso9660::kNameStandIn;
    if (e.name.empty() || e.name == "." || e.name == "..")
      e.name = std::string(std::max<size_t>(e.name.size(), 1), iso9660::kNameStandIn);
    e.nameChanged = e.name != d.name;
  }
  if (d.hasAttributes) {
    e.posix = true;
    e.mode = d.attributes.mode;
    e.uid = d.attributes.uid;
    e.gid = d.attributes.gid;
  }
  if (d.hasTimes) {
    e.modified = d.attributes.modified;
    e.accessed = d.attributes.accessed;
    e.changed = d.attributes.changed;
  }
  if (relocated) *relocated = d.relocated;
  if (d.hasChildLink && childLink) *childLink = d.childLink;
  if (d.isLink) {
    e.link = true;
    e.linkTarget = d.linkTarget;
    e.size = 0;
  }
  return e;
}

bool IsoReader::FindRockRidge(const uint8_t* root) {
  const uint32_t extent = bytes::LE32(root + iso9660::kRecordExtent);
  uint8_t sector[kBlock];
  const uint64_t end = source_->SectorCount();
  if ((end != 0 && extent >= end) || !source_->ReadSectors(extent, 1, sector)) return false;
  iso9660::ReadRecord self;
  size_t skip = 0;
  if (!iso9660::DecodeRecord(sector, kBlock, &self) || !self.IsSelfOrParent() ||
      !rockridge::HasSharingIndicator(self.systemUse, self.systemUseBytes, &skip))
    return false;
  rockSkip_ = skip;
  return true;
}

struct IsoReader::Folder {
  std::string path;
  uint32_t extent, length;
};

bool IsoReader::Fail(const std::string& text) {
  if (error_.empty()) error_ = text;
  return false;
}

bool IsoReader::Open(UdfSectorSource* source, uint32_t sessionStart) {
  source_ = source;
  joliet_ = rock_ = false;
  rockSkip_ = 0;
  spaceSize_ = 0;
  error_.clear();
  uint8_t sector[kBlock];
  uint8_t chosen[kBlock], primary[kBlock];
  bool found = false, havePrimary = false;
  // A supplementary descriptor with Joliet escape bytes wins over the primary.
  for (int i = 0; i < kDescriptorScan; ++i) {
    if (!source_->ReadSectors(sessionStart + 16 + i, 1, sector)) break;
    if (iso9660::IsDescriptor(sector, iso9660::kPrimaryType)) {
      if (!spaceSize_) spaceSize_ = bytes::LE32(sector + iso9660::kSpaceSize);
      if (!found) std::memcpy(chosen, sector, kBlock), found = true;
      if (!havePrimary) std::memcpy(primary, sector, kBlock), havePrimary = true;
    }
    if (iso9660::IsDescriptor(sector, iso9660::kSupplementaryType) && iso9660::HasJolietEscapes(sector) && !joliet_) {
      std::memcpy(chosen, sector, kBlock);
      found = joliet_ = true;
    }
    if (iso9660::IsDescriptor(sector, iso9660::kTerminatorType)) break;
  }
  if (!found) return Fail("no ISO 9660 volume descriptor at sector " + Num(sessionStart + 16));
  // Rock Ridge keeps what Joliet loses (permissions, links, names of any
  // length): where the primary hierarchy has it, that hierarchy is read.
  if (havePrimary && FindRockRidge(primary + iso9660::kRootRecord)) {
    std::memcpy(chosen, primary, kBlock);
    rock_ = true;
    joliet_ = false;
  }
  if (!spaceSize_) spaceSize_ = bytes::LE32(chosen + iso9660::kSpaceSize);
  label_ = iso9660::ReadText(chosen + iso9660::kVolumeId, 32, joliet_);
  const uint8_t* root = chosen + iso9660::kRootRecord;
  rootExtent_ = bytes::LE32(root + iso9660::kRecordExtent);
  rootLength_ = bytes::LE32(root + iso9660::kRecordSize);
  return true;
}

bool IsoReader::Walk(const Visit& visit) {
  if (!source_) return Fail("no volume is open");
  walked_.clear();
  entries_ = 0;
  stopped_ = false;
  return WalkDirectory(rootExtent_, rootLength_, "", 0, visit);
}

bool IsoReader::ReadDirectory(uint32_t extent, uint32_t length, const std::string& where,
                              std::vector<uint8_t>* dir) {
  // Directories never share an extent: a repeated one is a loop.
  if (!walked_.insert(extent).second)
    return Fail("folders are nested in a circle: " + where + " loops back to sector " + Num(extent));
  if (length == 0 || length > kMaxDirectoryBytes)
    return Fail(where + " has an impossible size (" + Num(length) + " bytes at sector " + Num(extent) +
                "); the directory is damaged");
  const uint32_t sectors = (length + kBlock - 1) / kBlock;
  const uint64_t end = source_->SectorCount();
  if (end != 0 && uint64_t(extent) + sectors > end)
    return Fail(where + " lies past the end of the disc (sector " + Num(extent) + ")");
  dir->assign(size_t(sectors) * kBlock, 0);
  if (!source_->ReadSectors(extent, sectors, dir->data()))
    return Fail("cannot read " + where + " at sector " + Num(extent));
  return true;
}

// Writers put folders too deep for ISO 9660 into a folder of the root and
// mark them there (RE); they are read where they belong, and the folder that
// holds nothing else is left out, as POSIX readers leave it out.
bool IsoReader::HoldsOnlyMovedFolders(const UdfEntry& folder) {
  std::string lower = folder.name;
  for (char& ch : lower) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  if (!rock_ || folder.sectors.size() != 1 || lower.find("rr_moved") == std::string::npos) return false;
  const uint32_t extent = folder.sectors[0].first;
  const uint64_t length = folder.sectors[0].second;
  const uint32_t sectors = uint32_t((length + kBlock - 1) / kBlock);
  const uint64_t end = source_->SectorCount();
  if (length == 0 || length > kMaxDirectoryBytes || (end != 0 && uint64_t(extent) + sectors > end)) return false;
  std::vector<uint8_t> dir(size_t(sectors) * kBlock);
  if (!source_->ReadSectors(extent, sectors, dir.data())) return false;  // walked as any folder, and told there
  bool any = false;
  for (uint32_t pos = 0; pos < length;) {
    if (dir[pos] == 0) {
      pos = (pos / kBlock + 1) * kBlock;
      continue;
    }
    iso9660::ReadRecord r;
    if (!iso9660::DecodeRecord(&dir[pos], kBlock - pos % kBlock, &r)) return false;
    pos += uint32_t(r.length);
    if (r.IsSelfOrParent()) continue;
    bool relocated = false;
    int64_t childLink = -1;
    EntryOf(r, folder.Path(), folder.depth + 1, &relocated, &childLink);
    if (!relocated) return false;
    any = true;
  }
  return any;
}

bool IsoReader::Flush(Pending* p, const Visit& visit, std::vector<Folder>* folders, bool* ok) {
  if (!p->have) return true;
  p->have = false;
  if (p->continues)
    *ok = Fail("\"" + p->entry.Path() + "\" is kept in several extents and ends in the middle of them");
  const Next next = visit(p->entry);
  if (next == kStop) return !(stopped_ = true);
  if (p->entry.folder && next == kGoOn)
    folders->push_back({p->entry.Path(), p->entry.sectors[0].first, uint32_t(p->entry.sectors[0].second)});
  return true;
}

bool IsoReader::Continues(Pending* p, const iso9660::ReadRecord& r, const UdfEntry& entry, bool* ok) {
  // Further extents of a file kept in several pieces follow under its name.
  if (!p->have || !p->continues || entry.folder || entry.name != p->entry.name) return false;
  if (p->entry.sectors.size() >= kMaxExtentsPerFile) {
    *ok = Fail("\"" + p->entry.Path() + "\" has too many extents");
    p->continues = false;
    return true;
  }
  p->entry.sectors.push_back({r.extent, r.size});
  p->entry.size += r.size;
  p->continues = (r.flags & iso9660::kMultiExtent) != 0;
  return true;
}

bool IsoReader::WalkDirectory(uint32_t extent, uint32_t length, const std::string& path, int depth,
                              const Visit& visit) {
  const std::string where = path.empty() ? "the root folder" : "\"" + path + "\"";
  if (depth > kMaxDepth) return Fail("folders are nested too deeply at " + where);
  std::vector<uint8_t> dir;
  if (!ReadDirectory(extent, length, where, &dir)) return false;

  bool ok = true;
  std::vector<Folder> folders;
  Pending pending;
  for (uint32_t pos = 0; pos < length && !stopped_;) {
    if (dir[pos] == 0) {  // records never cross a sector: go to the next one
      pos = (pos / kBlock + 1) * kBlock;
      continue;
    }
    iso9660::ReadRecord r;
    if (!iso9660::DecodeRecord(&dir[pos], kBlock - pos % kBlock, &r)) {
      ok = Fail("a directory record of " + where + " is damaged (sector " + Num(extent + pos / kBlock) + ")");
      break;
    }
    pos += uint32_t(r.length);
    if (r.IsSelfOrParent()) continue;
    if (++entries_ > kMaxEntries) return Fail("more than " + Num(kMaxEntries) + " entries");
    bool relocated = false;
    int64_t childLink = -1;
    UdfEntry entry = EntryOf(r, path, depth, &relocated, &childLink);
    // A folder moved away to keep the depth limit is read where it belongs
    // (the CL entry), not where it was moved to (RE).
    if (relocated) continue;
    if (childLink >= 0 && !entry.folder) {
      uint8_t sector[kBlock];
      iso9660::ReadRecord self;
      const uint64_t end = source_->SectorCount();
      if ((end != 0 && uint64_t(childLink) >= end) || !source_->ReadSectors(uint32_t(childLink), 1, sector) ||
          !iso9660::DecodeRecord(sector, kBlock, &self) || !self.IsSelfOrParent()) {
        ok = Fail("the moved folder \"" + entry.Path() + "\" cannot be found at sector " + Num(uint64_t(childLink)));
        continue;
      }
      entry.folder = true;
      entry.size = 0;
      entry.sectors = {{uint32_t(childLink), self.size}};
    }
    if (path.empty() && entry.folder && HoldsOnlyMovedFolders(entry)) continue;
    if (Continues(&pending, r, entry, &ok)) continue;
    if (!Flush(&pending, visit, &folders, &ok)) break;
    // A folder has one extent only: the flag is damage, whatever lies there.
    if (entry.folder && (r.flags & iso9660::kMultiExtent))
      ok = Fail("\"" + entry.Path() + "\" is a folder marked as kept in several extents; the record is damaged");
    const bool continues = !entry.folder && (r.flags & iso9660::kMultiExtent) != 0;
    pending = {std::move(entry), true, continues};
  }
  if (!stopped_) Flush(&pending, visit, &folders, &ok);
  for (const Folder& f : folders) {
    if (stopped_) break;
    if (!WalkDirectory(f.extent, f.length, f.path, depth + 1, visit)) ok = false;
  }
  return ok;
}
