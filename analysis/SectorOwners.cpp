// Which file of a disc owns a sector.

#include "analysis/SectorOwners.h"

#include <algorithm>

#include "BurnCtrl/RecorderCommands.h"
#include "CDevCmdRW.h"
#include "authoring/UdfDriveSource.h"

bool SectorOwners::Load(CDevCmdROM& drive) {
  volumes_.clear();
  extents_.clear();
  problems_.clear();
  if (!AnalyseDisc(drive, &disc_)) {
    problems_.push_back(disc_.error);
    return false;
  }
  UdfDriveSource source(&drive);
  for (const AnalySession& s : disc_.sessions)
    for (size_t i = 0; i < s.tracks.size(); ++i) {
      const AnalyTrack& t = s.tracks[i];
      if (!t.data) continue;
      Volume v;
      v.track = t.number;
      v.trackStart = t.start;
      v.trackEnd = t.start + t.length;
      // A track whose descriptors cannot be read still has a file system
      // there when a later session's reader found one; the first track of a
      // session is where they are looked for.
      if (t.fileSystem) {
        v.read = ReadDiscFiles(&source, t.start, t.fileSystem, &v.files);
        if (!v.read) problems_.push_back("track " + std::to_string(t.number) + ": " + v.files.error);
        for (const UdfEntry& e : v.files.entries)
          for (const auto& [first, bytes] : e.sectors) {
            if (bytes == 0) continue;
            const uint32_t count = uint32_t((bytes + 2047) / 2048);
            extents_.push_back({first, first + count - 1, e.folder ? "folder " + e.Path() + "/ (directory area)" : e.Path()});
          }
      } else if (i == 0) {
        problems_.push_back("track " + std::to_string(t.number) + ": no file system can be found (its directory area may be unreadable)");
      }
      volumes_.push_back(std::move(v));
    }
  std::sort(extents_.begin(), extents_.end(), [](const Extent& a, const Extent& b) { return a.first < b.first; });
  return true;
}

std::string SectorOwners::Owner(uint32_t lba) const {
  // Extents never start after a later one's start, so every one that can hold
  // `lba` lies before the first that starts beyond it.
  auto end = std::upper_bound(extents_.begin(), extents_.end(), lba,
                              [](uint32_t v, const Extent& e) { return v < e.first; });
  for (auto it = extents_.begin(); it != end; ++it)
    if (lba <= it->last) return it->owner;
  for (const Volume& v : volumes_)
    if (lba >= v.trackStart && lba < v.trackEnd) {
      uint32_t firstData = v.trackEnd;
      for (const Extent& e : extents_)
        if (e.first >= v.trackStart && e.first < v.trackEnd && e.owner.rfind("folder ", 0) != 0)
          firstData = std::min(firstData, e.first);
      if (!v.read || lba < firstData) return "the directory area of track " + std::to_string(v.track);
      return "the file system's own sectors of track " + std::to_string(v.track);
    }
  return "";
}

std::vector<std::string> SectorOwners::Owners(uint32_t first, uint32_t last) const {
  std::vector<std::string> out;
  auto add = [&](const std::string& o) {
    if (!o.empty() && std::find(out.begin(), out.end(), o) == out.end()) out.push_back(o);
  };
  add(Owner(first));
  for (const Extent& e : extents_)
    if (e.last >= first && e.first <= last) add(e.owner);
  // A range reaching past the files: the areas no file covers.
  if (last > first) add(Owner(last));
  return out;
}

std::string OwnerOnDisc(int drive, uint32_t lba) {
  std::shared_ptr<Recorder> r = ShareRecorder(drive);
  SectorOwners owners;
  return r && r->Device() && owners.Load(*r->Device()) ? owners.Owner(lba) : std::string();
}
