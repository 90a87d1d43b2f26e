#pragma once
// The ISO 9660 reader of the disc analysis: finds the volume descriptors of a
// data track (the Joliet hierarchy when the track has one, else the primary
// one) and walks the directory records. Discs can be damaged or hostile:
// every record is checked against its sector, every extent against the end of
// the disc, directories that repeat (loops) or grow beyond reason end the walk
// with an error, and a name never carries "/" or NUL out of the reader.

#include <cstdint>
#include <set>
#include <string>

#include "authoring/CAnaly_UDF.h"  // UdfSectorSource, UdfEntry, UdfWalkListener

class CAnaly_ISO {
 public:
  static constexpr int kDescriptorScan = 10;
  static constexpr int kMaxDepth = 64;
  static constexpr uint32_t kMaxDirectoryBytes = 16u << 20;
  static constexpr uint64_t kMaxEntries = 4'000'000;
  static constexpr size_t kMaxExtentsPerFile = 4096;

  // Looks for the volume descriptors from `trackStart` + 16. False (LastError
  // says why) when the track holds no ISO 9660 volume.
  bool Open(UdfSectorSource* source, uint32_t trackStart);
  // Walks the whole tree, a folder before its content. Every entry's
  // `sectors` lists its extents (absolute sectors, byte lengths). False when
  // a part of the tree could not be read; what could be read was reported.
  bool Walk(UdfWalkListener* listener);

  bool Joliet() const { return joliet_; }
  const std::string& VolumeLabel() const { return label_; }
  uint32_t RootExtent() const { return rootExtent_; }
  const std::string& LastError() const { return error_; }

 private:
  bool Fail(const std::string& text);
  bool WalkDirectory(uint32_t extent, uint32_t length, const std::string& path, int depth,
                     UdfWalkListener* listener);
  bool Report(UdfEntry* pending, UdfWalkListener* listener, std::vector<UdfEntry>* folders);

  UdfSectorSource* source_ = nullptr;
  uint32_t trackStart_ = 0;
  bool joliet_ = false;
  std::string label_;
  uint32_t rootExtent_ = 0, rootLength_ = 0;
  uint64_t entries_ = 0;
  std::set<uint32_t> walked_;
  std::set<uint32_t> folderExtents_;
  bool stopped_ = false;
  std::string error_;
};

// A name as a disc records it, turned into one path component: ";1" cut,
// the trailing dot of a name without extension cut, "/" and NUL replaced.
// `changed` is set when characters had to be replaced.
std::string IsoRecordName(const uint8_t* identifier, size_t length, bool joliet, bool* changed);
