#include "analysis/CAnaly_ISO.h"

#include <cstring>
#include <vector>

#include "ByteFields.h"
#include "authoring/Ucs2.h"

namespace {

constexpr uint32_t kBlock = 2048;

std::string Num(uint64_t n) { return std::to_string(n); }

bool IsDescriptor(const uint8_t* s, uint8_t type) { return s[0] == type && std::memcmp(s + 1, "CD001", 5) == 0; }

std::string TrimmedText(const uint8_t* p, size_t n, bool joliet) {
  std::string text;
  if (joliet) {
    std::u16string wide;
    for (size_t i = 0; i + 1 < n; i += 2) wide.push_back(char16_t((p[i] << 8) | p[i + 1]));
    text = Utf16ToUtf8(wide);
  } else {
    text.assign(reinterpret_cast<const char*>(p), n);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

}  // namespace

std::string IsoRecordName(const uint8_t* id, size_t length, bool joliet, bool* changed) {
  std::string name;
  if (joliet) {
    std::u16string wide;
    for (size_t i = 0; i + 1 < length; i += 2) wide.push_back(char16_t((id[i] << 8) | id[i + 1]));
    name = Utf16ToUtf8(wide);
  } else {
    name.assign(reinterpret_cast<const char*>(id), length);
  }
  size_t semi = name.rfind(';');
  if (semi != std::string::npos) name.resize(semi);
  if (!joliet && name.size() > 1 && name.back() == '.') name.pop_back();  // "NAME." of a file without extension
  *changed = false;
  for (char& c : name)
    if (c == '/' || c == '\0') {
      c = '_';
      *changed = true;
    }
  return name;
}

bool CAnaly_ISO::Fail(const std::string& text) {
  if (error_.empty()) error_ = text;
  return false;
}

bool CAnaly_ISO::Open(UdfSectorSource* source, uint32_t trackStart) {
  source_ = source;
  trackStart_ = trackStart;
  joliet_ = false;
  error_.clear();
  uint8_t sector[kBlock];
  uint8_t chosen[kBlock];
  bool found = false;
  // A supplementary descriptor with Joliet escape bytes wins over the primary.
  for (int i = 0; i < kDescriptorScan && !found; ++i) {
    if (!source_->ReadSectors(trackStart + 16 + i, 1, sector)) break;
    if (IsDescriptor(sector, 2) && (sector[88] || sector[89] || sector[90])) {
      std::memcpy(chosen, sector, kBlock);
      found = joliet_ = true;
    }
    if (IsDescriptor(sector, 255)) break;  // the set terminator
  }
  for (int i = 0; i < kDescriptorScan && !found; ++i) {
    if (!source_->ReadSectors(trackStart + 16 + i, 1, sector)) break;
    if (IsDescriptor(sector, 1)) {
      std::memcpy(chosen, sector, kBlock);
      found = true;
    }
  }
  if (!found) return Fail("no ISO 9660 volume descriptor at sector " + Num(trackStart + 16));
  label_ = TrimmedText(chosen + 40, 32, joliet_);
  const uint8_t* root = chosen + 156;
  rootExtent_ = bytes::LE32(root + 2);
  rootLength_ = bytes::LE32(root + 10);
  return true;
}

bool CAnaly_ISO::Walk(UdfWalkListener* listener) {
  if (!source_) return Fail("no volume is open");
  walked_.clear();
  entries_ = 0;
  stopped_ = false;
  return WalkDirectory(rootExtent_, rootLength_, "", 0, listener);
}

bool CAnaly_ISO::WalkDirectory(uint32_t extent, uint32_t length, const std::string& path, int depth,
                               UdfWalkListener* listener) {
  const std::string where = path.empty() ? "the root folder" : "\"" + path + "\"";
  if (depth > kMaxDepth) return Fail("folders are nested too deeply at " + where);
  // Directories never share an extent: a repeated one is a loop.
  if (!walked_.insert(extent).second) return Fail(where + " loops back to sector " + Num(extent));
  if (length == 0 || length > kMaxDirectoryBytes)
    return Fail(where + " has an impossible size (" + Num(length) + " bytes at sector " + Num(extent) + ")");
  const uint32_t sectors = (length + kBlock - 1) / kBlock;
  const uint64_t end = source_->SectorCount();
  if (end != 0 && uint64_t(extent) + sectors > end)
    return Fail(where + " lies past the end of the disc (sector " + Num(extent) + ")");
  std::vector<uint8_t> dir(size_t(sectors) * kBlock);
  if (!source_->ReadSectors(extent, sectors, dir.data()))
    return Fail("cannot read " + where + " at sector " + Num(extent));

  bool ok = true;
  struct Folder {
    UdfEntry entry;
    uint32_t extent, length;
  };
  std::vector<Folder> folders;
  UdfEntry pending;
  bool havePending = false, pendingContinues = false;
  auto flush = [&]() {
    if (!havePending) return true;
    havePending = false;
    if (pendingContinues) ok = Fail("\"" + pending.Path() + "\" ends in the middle of its extents");
    if (pending.folder) {
      uint32_t e = pending.sectors.empty() ? 0 : pending.sectors[0].first;
      uint32_t l = pending.sectors.empty() ? 0 : uint32_t(pending.sectors[0].second);
      folders.push_back({pending, e, l});
    }
    if (!listener->Entry(pending)) {
      stopped_ = true;
      return false;
    }
    return true;
  };

  for (uint32_t pos = 0; pos < length && !stopped_;) {
    const uint8_t* rec = &dir[pos];
    const uint8_t recLen = rec[0];
    if (recLen == 0) {  // records never cross a sector: go to the next one
      pos = (pos / kBlock + 1) * kBlock;
      continue;
    }
    if (recLen < 34 || pos % kBlock + recLen > kBlock || 33u + rec[32] > recLen) {
      ok = Fail("a directory record of " + where + " is damaged (sector " + Num(extent + pos / kBlock) + ")");
      break;
    }
    pos += recLen;
    if (rec[32] == 1 && (rec[33] == 0 || rec[33] == 1)) continue;  // "." and ".."
    if (++entries_ > kMaxEntries) return Fail("more than " + Num(kMaxEntries) + " entries");
    bool changed = false;
    std::string name = IsoRecordName(rec + 33, rec[32], joliet_, &changed);
    const uint32_t location = bytes::LE32(rec + 2);
    const uint32_t size = bytes::LE32(rec + 10);
    const bool folder = (rec[25] & 0x02) != 0;
    // Further extents of a file kept in several pieces follow under its name.
    if (havePending && pendingContinues && !folder && name == pending.name) {
      if (pending.sectors.size() >= kMaxExtentsPerFile) {
        ok = Fail("\"" + pending.Path() + "\" has too many extents");
        pendingContinues = false;
        continue;
      }
      pending.sectors.push_back({location, size});
      pending.size += size;
      pendingContinues = (rec[25] & 0x80) != 0;
      continue;
    }
    if (!flush()) break;
    pending = UdfEntry();
    pending.name = name;
    pending.nameChanged = changed;
    if (pending.name.empty() || pending.name == "." || pending.name == "..") {
      pending.name = pending.name.empty() ? "_" : std::string(pending.name.size(), '_');
      pending.nameChanged = true;
    }
    pending.parentPath = path;
    pending.depth = depth;
    pending.folder = folder;
    pending.hidden = (rec[25] & 0x01) != 0;
    pending.size = folder ? 0 : size;
    pending.sectors.push_back({location, size});
    const uint8_t* t = rec + 18;
    pending.time.year = 1900 + t[0];
    pending.time.month = t[1];
    pending.time.day = t[2];
    pending.time.hour = t[3];
    pending.time.minute = t[4];
    pending.time.second = t[5];
    pending.time.offsetMinutes = int(int8_t(t[6])) * 15;
    havePending = true;
    pendingContinues = !folder && (rec[25] & 0x80) != 0;
  }
  if (!stopped_) flush();
  for (const Folder& f : folders) {
    if (stopped_) break;
    if (!WalkDirectory(f.extent, f.length, f.entry.Path(), depth + 1, listener)) ok = false;
  }
  return ok;
}
