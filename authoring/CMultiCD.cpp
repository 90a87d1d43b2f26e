#include "authoring/CMultiCD.h"

#include <cstring>
#include <vector>

#include "ByteFields.h"
#include "FileSystemCheck.h"
#include "authoring/CAnaly_UDF.h"
#include "authoring/ImportedEntry.h"
#include "authoring/Ucs2.h"

namespace {

constexpr uint32_t kBlock = 2048;
// A directory larger than this is not a directory of ours or anyone's.
constexpr uint32_t kMaxDirectoryBytes = 16u << 20;

std::string NameFromRecord(const uint8_t* rec, bool joliet) {
  const uint8_t len = rec[32];
  const uint8_t* id = rec + 33;
  std::string name;
  if (joliet) {
    std::u16string wide;
    for (uint8_t i = 0; i + 1 < len; i += 2) wide.push_back(char16_t((id[i] << 8) | id[i + 1]));
    name = Utf16ToUtf8(wide);
  } else {
    name.assign(reinterpret_cast<const char*>(id), len);
  }
  size_t semi = name.rfind(';');
  if (semi != std::string::npos) name.resize(semi);
  if (!joliet && !name.empty() && name.back() == '.') name.pop_back();  // "NAME." of a file without extension
  return name;
}

}  // namespace

bool CMultiCD::Read(uint32_t lba, uint8_t* buffer, uint32_t sectors) {
  return disc_->ReadSectors(lba, sectors, buffer);
}

bool CMultiCD::Import(uint32_t sessionStart, bool importFlag, uint32_t* nextStart) {
  (void)importFlag;
  *nextStart = 0;
  added_ = 0;
  joliet_ = false;
  walked_.clear();
  const int fs = fscheck::Judge([&](uint32_t sector, uint8_t* out) { return Read(sessionStart + sector, out, 1); });
  if (fs & fscheck::kUdf) return ImportUdf(sessionStart, nextStart);
  return ImportIso(sessionStart, nextStart);
}

bool CMultiCD::ImportUdf(uint32_t sessionStart, uint32_t* nextStart) {
  CAnaly_UDF udf;
  if (!udf.Open(disc_, sessionStart, CAnaly_UDF::kImport)) return true;  // nothing to import
  struct Stager : UdfWalkListener {
    CMultiCD* self;
    std::string root;
    std::vector<std::string> embedded;
    bool Entry(const UdfEntry& entry) override {
      ImportedEntry e;
      if (!entry.ToImportedEntry(&e)) {
        // Data kept inside its entry has no sectors a new session could
        // point at: appending would lose the file from the disc's view.
        embedded.push_back(entry.Path());
        return true;
      }
      std::string folder = entry.parentPath.empty() ? root : root + "/" + entry.parentPath;
      if (self->add_(FormatImportedEntry(e), folder)) ++self->added_;
      return true;
    }
  } stager;
  stager.self = this;
  stager.root = stagingRoot_;
  if (!udf.Walk(&stager)) {
    error_ = udf.LastError();
    return false;
  }
  if (!stager.embedded.empty()) {
    error_ = "the disc keeps \"" + stager.embedded.front() + "\" inside its file entry; a new session cannot carry it";
    return false;
  }
  *nextStart = udf.NextSessionStart();
  return true;
}

bool CMultiCD::ImportIso(uint32_t sessionStart, uint32_t* nextStart) {
  uint8_t sector[kBlock];
  uint8_t chosen[kBlock];
  bool found = false;
  // A supplementary descriptor with Joliet escape bytes wins over the primary.
  for (int i = 0; i < kDescriptorScan && !found; ++i) {
    if (!Read(sessionStart + 16 + i, sector, 1)) break;
    if (sector[0] == 2 && std::memcmp(sector + 1, "CD001", 5) == 0 && (sector[88] || sector[89] || sector[90])) {
      std::memcpy(chosen, sector, kBlock);
      found = joliet_ = true;
    }
  }
  for (int i = 0; i < kDescriptorScan && !found; ++i) {
    if (!Read(sessionStart + 16 + i, sector, 1)) break;
    if (sector[0] == 1 && std::memcmp(sector + 1, "CD001", 5) == 0) {
      std::memcpy(chosen, sector, kBlock);
      found = true;
    }
  }
  if (!found) return true;  // nothing to import: the new session carries only the new files
  // The old volume's end: where a session after it may start at the earliest.
  Read(sessionStart + 16, sector, 1);
  uint32_t volumeSize = (sector[0] == 1) ? bytes::LE32(sector + 80) : bytes::LE32(chosen + 80);
  volumeEnd_ = sessionStart + volumeSize;
  const uint8_t* root = chosen + 156;
  if (!WalkDirectory(bytes::LE32(root + 2), bytes::LE32(root + 10), stagingRoot_, 0)) return false;
  *nextStart = (volumeEnd_ + 15) / 16 * 16;
  return true;
}

bool CMultiCD::WalkDirectory(uint32_t extent, uint32_t length, const std::string& stagingFolder, int depth) {
  if (depth > kMaxDepth) {
    error_ = "the disc's folders are nested too deeply at " + stagingFolder;
    return false;
  }
  // Directories never share an extent: a repeated one is a loop.
  if (!walked_.insert(extent).second) {
    error_ = "the disc's folders are nested too deeply or loop at sector " + std::to_string(extent);
    return false;
  }
  if (length == 0 || length > kMaxDirectoryBytes) {
    error_ = "a directory of the disc is damaged (sector " + std::to_string(extent) + ")";
    return false;
  }
  const uint32_t sectors = (length + kBlock - 1) / kBlock;
  std::vector<uint8_t> dir(size_t(sectors) * kBlock);
  if (!Read(extent, dir.data(), sectors)) {
    error_ = "cannot read the disc's directory at sector " + std::to_string(extent);
    return false;
  }
  for (uint32_t pos = 0; pos < length;) {
    const uint8_t* rec = &dir[pos];
    const uint8_t recLen = rec[0];
    if (recLen == 0) {  // records never cross a sector: go to the next one
      pos = (pos / kBlock + 1) * kBlock;
      continue;
    }
    if (recLen < 34 || pos + recLen > dir.size() || 33u + rec[32] > recLen) {
      error_ = "a directory record of the disc is damaged (sector " + std::to_string(extent + pos / kBlock) + ")";
      return false;
    }
    pos += recLen;
    if (rec[32] == 1 && (rec[33] == 0 || rec[33] == 1)) continue;  // "." and ".."
    const bool folder = (rec[25] & 0x02) != 0;
    if (rec[25] & 0x80) {
      // A file kept in several extents: staging only its first would cut it
      // short in the new session.
      error_ = "\"" + NameFromRecord(rec, joliet_) + "\" on the disc is kept in several extents; a new session cannot carry it";
      return false;
    }
    ImportedEntry e;
    e.kind = folder ? ImportedEntry::kFolder : ImportedEntry::kFile;
    e.name = NameFromRecord(rec, joliet_);
    if (e.name.empty() || e.name.find('/') != std::string::npos || e.name == "." || e.name == "..") continue;
    std::memcpy(e.date.data(), rec + 18, 7);
    e.size = bytes::LE32(rec + 10);
    e.location = bytes::LE32(rec + 2);
    const uint32_t end = e.location + uint32_t((e.size + kBlock - 1) / kBlock);
    if (end > volumeEnd_) volumeEnd_ = end;
    if (!add_(FormatImportedEntry(e), stagingFolder)) continue;
    ++added_;
    if (folder && !WalkDirectory(e.location, uint32_t(e.size), stagingFolder + "/" + e.name, depth + 1))
      return false;
  }
  return true;
}
