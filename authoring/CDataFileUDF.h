#pragma once
// The UDF data track of DVD and BD media. Build lays out the file system of
// a staging folder: the volume skeleton (resource 2007) is copied to the front
// of a temporary metadata image, the directory hierarchy is appended behind
// it, and the skeleton's locations, label and lengths are patched. File data
// is never copied: GetSectorData and GetSectors serve the metadata image
// first, then read the source files one after the other, runs of whole
// sectors straight into the caller's buffer.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "authoring/CDataFile.h"
#include "foundation/TempFiles.h"
#include "authoring/TrackImageBuilder.h"

class CDataFileUDF : public TrackImageBuilder {
 public:
  // The largest file one file entry can describe (its 512 MiB extents must
  // fit in the entry's block).
  static constexpr uint64_t kMaxFileSize = uint64_t(234) * 0x20000000;

  CDataFileUDF();
  ~CDataFileUDF() override;
  CDataFileUDF(const CDataFileUDF&) = delete;
  CDataFileUDF& operator=(const CDataFileUDF&) = delete;

  // Lays out the track of the staging folder for a session starting at
  // sector `sessionStart`. Data discs pass zero for the last three values:
  //   reservedBlocks  blocks kept free between the metadata and the file data;
  //   alignBlocks     the file data starts on a multiple of this many sectors;
  //   minimumBlocks   the track holds at least this many sectors (zeros
  //                   behind the volume).
  // The label is read from the burn job. False (LastError says why) when the
  // job, the resource or a temporary file fails, or a name cannot be written.
  bool Build(const std::string& jobPath, const std::string& stagingRoot, uint32_t sessionStart,
             uint32_t reservedBlocks = 0, uint32_t alignBlocks = 0, uint32_t minimumBlocks = 0);

  bool BuildTrack(const std::string& jobPath, const std::string& stagingRoot, uint32_t sessionStart) override {
    return Build(jobPath, stagingRoot, sessionStart);
  }
  uint32_t GetTrackLength() const override;
  int GetSectorData(uint8_t* buffer, uint32_t byteCount) override;
  void GetSectors(uint8_t* out, uint32_t count) override;
  std::string GetCurrentSourceFile() const override;

  // Sectors of the volume proper (metadata and data, before padding).
  uint32_t VolumeSectors() const { return total_; }
  uint32_t MetadataSectors() const { return metaSectors_; }
  // Source files left out because they could not be opened during Build.
  const std::vector<std::string>& SkippedSources() const override { return skipped_; }
  // Names that were shortened or numbered by the last Build.
  const std::vector<LayoutNotice>& Notices() const override { return notices_; }

  // Where the volume skeleton is looked for (the resource folder beside the
  // program); tests may point elsewhere.
  void SetResourceFolder(const std::string& folder) { resourceFolder_ = folder; }

 private:
  struct DataFile {
    std::string path;
    uint64_t size;     // bytes recorded in its file entry
    uint32_t sectors;  // sectors reserved for it (one for an empty file)
  };
  class SourceReader;

  bool BuildSteps(const std::string& jobPath, const std::string& stagingRoot);
  bool LoadTemplate(std::vector<uint8_t>* skeleton);
  // Places a folder's identifiers and the entries of its content; its own
  // entry goes to `feSector` once its content is placed.
  bool LayOutFolder(const std::string& path, uint32_t feSector, uint32_t parentFeSector);
  struct Child;
  bool CollectChildren(const std::string& path, std::vector<Child>* children);
  // The folder's identifier stream (the parent, then one per child) and the
  // sectors it and the children's entries take.
  bool WriteIdentifiers(const std::vector<Child>& children, uint32_t parentFeSector, uint32_t* fidStart,
                        uint32_t* slotStart, uint64_t* streamBytes);
  bool WriteFileEntries(const std::vector<Child>& children, uint32_t slotStart);
  bool WriteAt(uint64_t offset, const void* data, size_t size);
  bool ReadAt(uint64_t offset, void* data, size_t size);
  bool Relocate();
  void PatchTemplate(std::vector<uint8_t>* skeleton, const std::u16string& label);
  uint32_t BlockOf(uint32_t sector) const { return sessionStart_ + sector - 257; }
  void ResetServing();
  // Serve up to `count` sectors of the metadata image or of the current
  // file's whole sectors straight into `out`; 0 when the next sector is none
  // of those.
  uint32_t ServeMetadataRun(uint8_t* out, uint32_t count);
  uint32_t ServeDataRun(uint8_t* out, uint32_t count);

  std::string resourceFolder_;
  uint32_t sessionStart_ = 0;
  uint32_t reserved_ = 0, align_ = 0, minimum_ = 0;

  TempFile metadata_;
  int metaFd_ = -1;
  uint32_t metaSectors_ = 0;   // sectors of the metadata image
  uint32_t nextSector_ = 0;    // next free sector while laying out
  uint32_t dataStart_ = 0;     // first sector of file data
  uint32_t dataBlocks_ = 0;    // running data counter (sectors)
  uint32_t total_ = 0;         // T: sectors of the volume
  uint32_t fileCount_ = 0, folderCount_ = 0;
  uint64_t nextUniqueId_ = 0;
  time_t buildTime_ = 0;
  std::vector<uint32_t> entrySectors_;  // sectors of every file entry but the root's
  std::vector<DataFile> dataList_;
  std::vector<std::string> skipped_;
  std::vector<LayoutNotice> notices_;
  std::string stagingRoot_;
  uint8_t closingAnchor_[512] = {};

  // Serving.
  uint32_t cursor_ = 0;
  size_t dataIndex_ = 0;
  uint32_t sectorsOfFile_ = 0;
  static constexpr size_t kReadAhead = 1 << 20;
  std::unique_ptr<SourceReader> source_;
  std::unique_ptr<SourceReader> metaReader_;
  bool metaUnreadable_ = false;  // told once
  std::vector<uint8_t> metaBuffer_, dataBuffer_;
};
