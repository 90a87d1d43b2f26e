#pragma once
// The UDF reader: mounts the volume of a session (anchor, volume descriptors,
// partition maps, file set) and walks its tree of file entries and file
// identifiers. It reads what other systems write as well as Varnex's own
// volumes: plain, virtual (VAT) and sparable partitions, the metadata
// partition of UDF 2.50 and later, file entries and extended file entries,
// short, long and extended allocation descriptors and data embedded in the
// entry. Discs can be damaged or hostile: every length and location is
// checked against its buffer and the volume, loops end the walk with an
// error, and nothing is read outside the source.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "authoring/ImportedEntry.h"

// Where the reader gets its 2048-byte sectors from: a recorder or an image.
class UdfSectorSource {
 public:
  virtual ~UdfSectorSource() = default;
  // Reads `count` sectors starting at `sector`; false when they cannot be read.
  virtual bool ReadSectors(uint32_t sector, uint32_t count, uint8_t* out) = 0;
  // Sectors the source holds (the last readable one + 1); 0 when unknown.
  virtual uint64_t SectorCount() const = 0;
};

// An image file as a sector source.
class UdfImageSource : public UdfSectorSource {
 public:
  explicit UdfImageSource(const std::string& path);
  ~UdfImageSource() override;
  UdfImageSource(const UdfImageSource&) = delete;
  UdfImageSource& operator=(const UdfImageSource&) = delete;
  bool ok() const { return fd_ >= 0; }
  bool ReadSectors(uint32_t sector, uint32_t count, uint8_t* out) override;
  uint64_t SectorCount() const override { return sectors_; }

 private:
  int fd_ = -1;
  uint64_t sectors_ = 0;
};

// An image held in memory (tests, fuzzing).
class UdfMemorySource : public UdfSectorSource {
 public:
  UdfMemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool ReadSectors(uint32_t sector, uint32_t count, uint8_t* out) override;
  uint64_t SectorCount() const override { return size_ / 2048; }

 private:
  const uint8_t* data_;
  size_t size_;
};

struct UdfTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int offsetMinutes = 0;  // from UTC; 0 when the disc gives none
  // "%d-%d-%d %d:%d:%d", as the disc analysis shows times.
  std::string Format() const;
  // ISO 8601, zero-padded: "2024-03-05T07:08:09", with "+01:00" when the
  // disc gives an offset from UTC.
  std::string FormatIso8601() const;
};

// One file or folder of the volume, as the walk meets it (a folder before
// its content).
struct UdfEntry {
  std::string name;        // UTF-8; "/" and NUL replaced, so it is one path component
  std::string parentPath;  // disc path of the folder holding it, "" for the root
  bool folder = false;
  bool hidden = false;
  uint64_t size = 0;
  UdfTime time;
  int depth = 0;           // 0 for entries of the root
  // Where the data lies on the disc: absolute sectors and byte lengths.
  // Empty for data kept inside the entry (it has no sectors of its own).
  std::vector<std::pair<uint32_t, uint64_t>> sectors;
  bool embedded = false;
  std::vector<uint8_t> inlineData;  // the data of an embedded file
  bool nameChanged = false;  // the name held "/" or NUL or was "." or ".."
  // The POSIX view of a disc that has one (Rock Ridge): permissions, owners,
  // times in seconds since 1970, and links kept as links.
  bool posix = false;
  uint32_t mode = 0, uid = 0, gid = 0;
  int64_t modified = 0, accessed = 0, changed = 0;
  bool link = false;
  std::string linkTarget;

  std::string Path() const { return parentPath.empty() ? name : parentPath + "/" + name; }
  // The descriptor that stages this entry for a later session. False when
  // its data has no sectors of its own (embedded) and cannot be pointed at.
  bool ToImportedEntry(ImportedEntry* out) const;
};

class UdfWalkListener {
 public:
  virtual ~UdfWalkListener() = default;
  // Return false to end the walk early.
  virtual bool Entry(const UdfEntry& entry) = 0;
};

class CAnaly_UDF {
 public:
  enum Mode { kListing, kImport };
  enum PartitionKind { kPlain = 0, kVirtual = 1, kSparable = 2 };

  CAnaly_UDF() = default;
  CAnaly_UDF(const CAnaly_UDF&) = delete;
  CAnaly_UDF& operator=(const CAnaly_UDF&) = delete;

  // Mounts the volume of the session starting at `sessionStart`. False
  // (LastError says why) when the source holds no readable UDF volume there.
  bool Open(UdfSectorSource* source, uint32_t sessionStart, Mode mode);
  // Walks the whole tree, folders before their content. False when a part
  // of the tree could not be read; what could be read has been reported.
  bool Walk(UdfWalkListener* listener);

  const std::string& LastError() const { return error_; }
  // Entries the last walk met but could not report (their file entry or
  // the place of their data is damaged): disc path and why.
  const std::vector<std::pair<std::string, std::string>>& SkippedEntries() const { return skipped_; }
  bool Mounted() const { return mounted_; }
  Mode GetMode() const { return mode_; }
  int GetPartitionKind() const { return partitionKind_; }
  bool HasMetadataPartition() const { return hasMetadata_; }
  std::string VolumeLabel() const { return label_; }
  std::string UdfRevision() const;
  // The highest sector of the session the walk met (descriptors and data).
  uint32_t HighestSector() const { return highest_; }
  // Where a new session may start: the highest sector rounded down to a
  // multiple of 16, plus 16.
  uint32_t NextSessionStart() const { return highest_ / 16 * 16 + 16; }

  // Limits against hostile discs.
  static constexpr uint32_t kMaxDepth = 1024;
  static constexpr uint64_t kMaxEntries = 10'000'000;
  static constexpr uint64_t kMaxDirectoryBytes = 256ull << 20;
  static constexpr size_t kMaxAllocationDescriptors = 1 << 20;
  static constexpr size_t kMaxVatEntries = 16 << 20;
  static constexpr uint64_t kMaxMappedBlocks = 1ull << 26;  // 128 GiB of block-by-block data

 private:
  struct Partition {
    enum Kind { kPhysical, kVirtual, kSparable, kMetadata } kind = kPhysical;
    uint16_t number = 0;
    uint32_t start = 0, length = 0;  // of the partition descriptor
    bool found = false;
    uint16_t packetLength = 0;
    std::map<uint32_t, uint32_t> sparing;  // packet's first block -> sector
    std::vector<uint32_t> vat;
    uint32_t metadataFile = 0, metadataMirror = 0;
    uint16_t physical = 0;  // the map through which metadata blocks are read
    std::vector<std::pair<uint32_t, uint64_t>> metadataExtents;  // block, bytes
  };
  struct Ad {
    uint64_t length = 0;
    uint32_t block = 0;
    uint16_t partition = 0;
    uint8_t kind = 0;  // 0 recorded, 1 allocated only, 2 free, 3 continuation
  };
  struct Node {
    uint8_t fileType = 0;
    uint64_t size = 0;
    UdfTime time;
    std::vector<Ad> ads;
    bool embedded = false;
    std::vector<uint8_t> inlineData;
  };

  bool Fail(const std::string& text);
  bool ReadSector(uint32_t sector, uint8_t* out);
  bool ReadAnchor(uint32_t* mainLocation, uint32_t* mainLength, uint32_t* reserveLocation,
                  uint32_t* reserveLength);
  bool ReadVolumeSequence(uint32_t location, uint32_t length, std::vector<uint8_t>* lvd);
  bool ReadPartitionMaps(const std::vector<uint8_t>& lvd);
  size_t PhysicalMapFor(size_t index);
  bool LoadVat(size_t index);
  bool LoadSparingTable(Partition* p, const std::vector<uint32_t>& tables, uint32_t tableSize);
  bool LoadMetadataFile(size_t index);
  bool Translate(uint16_t partition, uint32_t block, uint32_t* sector, int depth = 0);
  bool ReadBlock(uint16_t partition, uint32_t block, uint8_t* out);
  bool ReadNode(uint16_t partition, uint32_t block, Node* node);
  bool ParseNode(const uint8_t* d, uint16_t partition, Node* node);
  bool ParseAds(const uint8_t* p, size_t length, uint8_t adType, uint16_t partition,
                std::vector<Ad>* ads, int hops);
  bool ReadData(const Node& node, uint64_t limit, std::vector<uint8_t>* data);
  bool DataSectors(const Node& node, std::vector<std::pair<uint32_t, uint64_t>>* runs);
  struct FileId;
  // One file identifier at `at` of a folder's data; false when it is damaged.
  bool ReadFileId(const std::vector<uint8_t>& stream, size_t at, const std::string& path, FileId* id);
  // The entry's kind, size and sectors from its file entry; false when it is skipped.
  bool DescribeEntry(const FileId& id, UdfEntry& e);
  bool WalkFolder(uint16_t partition, uint32_t block, const std::string& path, int depth,
                  UdfWalkListener* listener);
  void See(uint32_t sector) {
    if (sector > highest_) highest_ = sector;
  }

  UdfSectorSource* source_ = nullptr;
  uint32_t sessionStart_ = 0;
  Mode mode_ = kListing;
  bool mounted_ = false;
  int partitionKind_ = kPlain;
  bool hasMetadata_ = false;
  uint16_t revision_ = 0;
  std::string label_;
  std::vector<Partition> maps_;
  uint16_t rootPartition_ = 0;
  uint32_t rootBlock_ = 0;
  uint32_t highest_ = 0;
  uint64_t entries_ = 0;
  uint64_t blocksMapped_ = 0;
  uint64_t reads_ = 0, readBudget_ = ~0ull;
  std::set<std::pair<uint16_t, uint32_t>> visited_;
  std::string error_;
  std::vector<std::pair<std::string, std::string>> skipped_;
  bool stopped_ = false;
};
