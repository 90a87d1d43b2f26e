#include "authoring/CMultiCD.h"

#include <algorithm>
#include <vector>

#include "FileSystemCheck.h"
#include "authoring/CAnaly_UDF.h"
#include "authoring/ImportedEntry.h"
#include "authoring/IsoReader.h"
#include "SectorSizes.h"

namespace {

constexpr uint32_t kBlock = kDataSectorSize;

}  // namespace

bool CMultiCD::Read(uint32_t lba, uint8_t* buffer, uint32_t sectors) {
  return disc_->ReadSectors(lba, sectors, buffer);
}

bool CMultiCD::Import(uint32_t sessionStart, bool importFlag, uint32_t* nextStart) {
  (void)importFlag;
  *nextStart = 0;
  added_ = 0;
  joliet_ = false;
  error_.clear();
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
  IsoReader iso;
  if (!iso.Open(disc_, sessionStart)) return true;  // nothing to import: the new session carries only the new files
  joliet_ = iso.Joliet();
  // The old volume's end: where a session after it may start at the earliest.
  uint32_t volumeEnd = sessionStart + iso.VolumeSpaceSize();
  bool ok = iso.Walk([&](const UdfEntry& entry) {
    for (const auto& [start, bytes] : entry.sectors)
      volumeEnd = std::max(volumeEnd, start + uint32_t((bytes + kBlock - 1) / kBlock));
    // The new session points at every extent where it lies; all but the
    // last must be whole sectors, as every writer of several extents makes them.
    for (size_t i = 0; i + 1 < entry.sectors.size(); ++i)
      if (entry.sectors[i].second % kBlock != 0 || entry.sectors[i].second == 0) {
        error_ = "\"" + entry.Path() + "\" on the disc is kept in several extents of odd sizes; a new session cannot carry it";
        return IsoReader::kStop;
      }
    ImportedEntry e;
    entry.ToImportedEntry(&e);
    const std::string folder = entry.parentPath.empty() ? stagingRoot_ : stagingRoot_ + "/" + entry.parentPath;
    if (!add_(FormatImportedEntry(e), folder)) return IsoReader::kSkipFolder;
    ++added_;
    return IsoReader::kGoOn;
  });
  if (!ok) error_ = iso.LastError();
  if (!error_.empty()) return false;
  *nextStart = (volumeEnd + 15) / 16 * 16;
  return true;
}
