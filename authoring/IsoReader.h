#pragma once
// Reads the ISO 9660 volume of a session: finds its descriptors (the primary
// hierarchy when it carries Rock Ridge, else the Joliet hierarchy when the
// session has one, else the primary one) and walks the
// directory records, each name decoded once by the one name rule. Discs can
// be damaged or hostile: every record is checked against its sector, every
// directory against the end of the disc, and directories that repeat (loops)
// or grow beyond reason end the walk with an error.

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "authoring/CAnaly_UDF.h"  // UdfSectorSource, UdfEntry
#include "authoring/Iso9660.h"

class IsoReader {
 public:
  static constexpr int kDescriptorScan = 10;
  static constexpr int kMaxDepth = 64;
  static constexpr uint32_t kMaxDirectoryBytes = 16u << 20;
  static constexpr uint64_t kMaxEntries = 4'000'000;
  static constexpr size_t kMaxExtentsPerFile = 4096;

  // What the walk does after an entry.
  enum Next { kGoOn, kSkipFolder, kStop };
  using Visit = std::function<Next(const UdfEntry&)>;

  // Looks for the volume descriptors from `sessionStart` + 16. False
  // (LastError says why) when the session holds no ISO 9660 volume.
  bool Open(UdfSectorSource* source, uint32_t sessionStart);
  // Walks the whole tree: a folder's entries, then the folders among them.
  // Every entry's `sectors` lists its extents (absolute sectors, byte
  // lengths); a file kept in several extents comes once, with all of them.
  // False when a part of the tree could not be read; what could be read was
  // visited.
  bool Walk(const Visit& visit);

  bool Joliet() const { return joliet_; }
  // The walk reads the primary hierarchy's Rock Ridge entries (names,
  // permissions, owners, times, links): it was found and wins over Joliet.
  bool RockRidge() const { return rock_; }
  const std::string& VolumeLabel() const { return label_; }
  uint32_t RootExtent() const { return rootExtent_; }
  // The primary descriptor's volume size (sectors from the session start).
  uint32_t VolumeSpaceSize() const { return spaceSize_; }
  const std::string& LastError() const { return error_; }

 private:
  struct Folder;
  // An entry waiting for the records that may continue it.
  struct Pending {
    UdfEntry entry;
    bool have = false, continues = false;
  };
  bool Fail(const std::string& text);
  bool WalkDirectory(uint32_t extent, uint32_t length, const std::string& path, int depth, const Visit& visit);
  // Hands the pending entry to `visit`; false when the walk is to stop.
  bool Flush(Pending* pending, const Visit& visit, std::vector<Folder>* folders, bool* ok);
  // True when the record continues the pending file and was added to it.
  bool Continues(Pending* pending, const iso9660::ReadRecord& r, const UdfEntry& entry, bool* ok);
  // True when the root of the primary hierarchy at `root` starts with the
  // sharing indicator and Rock Ridge's own entries.
  bool FindRockRidge(const uint8_t* root);
  // The entry of a record; with Rock Ridge, whether the record is a folder
  // moved away (RE) or stands for one (CL, its sector).
  UdfEntry EntryOf(const iso9660::ReadRecord& r, const std::string& parentPath, int depth, bool* relocated,
                   int64_t* childLink);
  bool ReadDirectory(uint32_t extent, uint32_t length, const std::string& where, std::vector<uint8_t>* dir);
  bool HoldsOnlyMovedFolders(const UdfEntry& folder);

  UdfSectorSource* source_ = nullptr;
  bool joliet_ = false;
  bool rock_ = false;
  size_t rockSkip_ = 0;
  std::string label_;
  uint32_t rootExtent_ = 0, rootLength_ = 0, spaceSize_ = 0;
  uint64_t entries_ = 0;
  std::set<uint32_t> walked_;
  bool stopped_ = false;
  std::string error_;
};
