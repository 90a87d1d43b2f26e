#pragma once
// The ISO 9660 volume with a Joliet supplementary volume of a data track on
// CD media. Build lays the metadata out in temporary files; GetSectorData then
// serves the track one 2048-byte sector at a time, taking file data straight
// from the source files. The image is never held in memory.
//
// Track layout, sectors counted from the session start S:
//   0-15 system area (a hybrid image's master boot record in sector 0),
//   16 primary descriptor, 17 Joliet descriptor, 18 terminator (a bootable
//   disc has its boot record at 17 and the two after it one later), then
//   zero up to 26, then the ISO directory extents (children before parents,
//   root last; each followed by the continuation areas of its Rock Ridge
//   entries), the Joliet directory extents, the ISO L and M path tables, the
//   Joliet L and M path tables, and the file data in data-list order, each
//   file on a sector boundary (the boot catalog and images last).
//
// Rock Ridge (on unless the job's disc options leave it out) describes the
// source files as they are: permissions, owners, times, links stored as
// links; a file met again under another name (a hard link) takes its data
// once. Files of 4 GiB or more are kept in several extents.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "authoring/ElTorito.h"
#include "authoring/TrackImageBuilder.h"


namespace discnames {
struct FolderEntryName;
}

class CDataFile : public TrackImageBuilder {
 public:
  // A file up to the volume's own limit: beyond 4 GiB in several extents.
  static constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull * 2048;

  CDataFile();
  // Makes the next builds bootable (checked beforehand by
  // eltorito::CheckBootOptions; a session start other than 0 is refused).
  void SetBoot(const eltorito::BootOptions& boot) { boot_ = boot; }
  ~CDataFile() override;
  CDataFile(const CDataFile&) = delete;
  CDataFile& operator=(const CDataFile&) = delete;

  // Checks the staging tree without laying anything out: names that will be
  // shortened for Joliet, names that cannot be converted and files of 4 GiB
  // or more. False when something would make Build fail. With `udf` the
  // tree is checked for the UDF layout of DVD and BD media instead: names
  // longer than a UDF identifier holds, names that cannot be converted and
  // files beyond its largest size.
  static bool ReviewProject(const std::string& stagingRoot, std::vector<LayoutNotice>* notices, bool udf = false);

  // Lays out the volume of the staging tree for a session starting at S. The
  // job is the project file saved for the burn; its label names the volume.
  // The two flags take no part in the layout.
  bool Build(const std::string& jobPath, bool flagA, bool flagB, const std::string& stagingRoot,
             uint32_t sessionStart);

  bool BuildTrack(const std::string& jobPath, const std::string& stagingRoot, uint32_t sessionStart) override {
    return Build(jobPath, false, false, stagingRoot, sessionStart);
  }
  uint32_t GetTrackLength() const override;
  int GetSectorData(uint8_t* buffer, uint32_t byteCount) override;
  void GetSectors(uint8_t* out, uint32_t count) override;
  std::string GetCurrentSourceFile() const override;

  // Facts of the last build.
  uint32_t VolumeSpaceSize() const { return volumeSpaceSize_; }  // sectors from S
  uint32_t MetadataLength() const { return metadataLength_; }    // sectors from 16
  uint32_t FirstDataSector() const { return firstDataSector_; }  // absolute
  const std::vector<LayoutNotice>& Notices() const { return notices_; }
  // Files left out because they could not be opened while the layout was made.
  const std::vector<std::string>& SkippedSources() const override { return skipped_; }

 private:
  struct Folder;
  struct Layout;

  void Reset();
  bool LayOutFolder(Layout& layout, const std::string& stagingPath, const std::string& discPath,
                    int parent, int depth, bool moved = false);
  struct Child;
  bool AddListedFiles(Layout& layout, const std::string& path, std::vector<Child>* children,
                      std::vector<discnames::FolderEntryName>* names);
  bool NameSubfolders(Layout& layout, const std::string& discPath, const std::vector<Child>& children,
                      const std::vector<discnames::FolderEntryName>& names);
  bool WriteMovedFolder(Layout& layout, std::vector<Child>* rootChildren,
                        std::vector<discnames::FolderEntryName>* rootNames);
  // The folder's ISO 9660 and Joliet extents, appended to the layout's.
  bool WriteFolderRecords(Layout& layout, int self, int parent, const std::vector<Child>& children,
                          const std::vector<discnames::FolderEntryName>& names);
  bool PatchParentRecords(Layout& layout);
  bool WritePathTables(Layout& layout);
  bool RebaseExtents(Layout& layout);
  bool WriteMetadataImage(Layout& layout);
  // The boot catalog and images take their places in the data area; once
  // placed, the catalog, the patched image and the master boot record are
  // written.
  bool PlanBoot(Layout& layout);
  bool FinishBoot(Layout& layout);
  bool AddToDataList(Layout& layout, const std::string& path, uint64_t size);
  void OpenNextDataFile();
  void ServeFileData(uint8_t* buffer, uint32_t byteCount);
  void Fail(const std::string& why) { lastError_ = why; }

  // Per build.
  std::string jobPath_, stagingRoot_, label_;
  uint32_t sessionStart_ = 0;
  uint32_t volumeSpaceSize_ = 0;
  uint32_t metadataLength_ = 0;
  uint32_t firstDataSector_ = 0;
  uint32_t nextFileExtent_ = 0;
  std::vector<LayoutNotice> notices_;
  std::vector<std::string> skipped_;
  std::string metadataPath_, dataListPath_;
  eltorito::BootOptions boot_;
  std::vector<std::string> bootFiles_;  // temporary: the catalog and the patched BIOS image
  std::string systemArea_;              // sector 0 of a hybrid image

  // Serving.
  uint32_t cursor_ = 0;
  FILE* metadata_ = nullptr;
  bool metadataUnreadable_ = false;  // told once
  FILE* dataList_ = nullptr;
  int dataFd_ = -1;
  bool dataOpen_ = false;     // a data-list entry is being served
  bool dataFailed_ = false;   // its source could not be read
  mutable std::mutex pathLock_;
  std::string currentPath_;  // read by the progress display from another thread
  uint64_t currentSize_ = 0;  // as measured by Build
  uint64_t currentOffset_ = 0;
  std::vector<uint8_t> readAhead_;
  uint64_t readAheadStart_ = 0;
  size_t readAheadLength_ = 0;
};
