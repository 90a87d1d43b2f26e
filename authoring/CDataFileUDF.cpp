#include "authoring/CDataFileUDF.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>

#include "SafeFile.h"
#include "ByteFields.h"
#include "foundation/ProgramDir.h"
#include "authoring/CECMA167.h"
#include "authoring/DiscNames.h"
#include "authoring/FileList.h"
#include "authoring/ImportedEntry.h"
#include "authoring/StagingFolder.h"
#include "authoring/Ucs2.h"
#include "authoring/UdfVolumeTemplate.h"

namespace {

constexpr uint32_t kRootEntrySector = udftpl::kSectors;  // 258: block S + 1
constexpr uint64_t kFirstUniqueId = 20;

// The label stands in the burn job at byte 5, 13 bytes, NUL-terminated; the
// job is accepted when the tree-length field can be read.
bool ReadJobLabel(const std::string& jobPath, std::string* label, std::string* error) {
  int fd = open(jobPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open the burn job " + jobPath + ": " + std::strerror(errno);
    return false;
  }
  uint8_t head[18] = {};
  uint8_t treeLength[4];
  bool ok = pread(fd, head, sizeof head, 0) == ssize_t(sizeof head);
  if (ok) {
    uint64_t at = uint64_t(bytes::LE32(head)) + 192;
    ok = pread(fd, treeLength, 4, off_t(at)) == 4;
  }
  close(fd);
  if (!ok) {
    *error = "the burn job " + jobPath + " is damaged (its tree length cannot be read)";
    return false;
  }
  const char* text = reinterpret_cast<const char*>(head + 5);
  label->assign(text, strnlen(text, 13));
  // The 13-byte field may have cut a character in half.
  size_t end = label->size(), start = end;
  while (start > 0 && (uint8_t((*label)[start - 1]) & 0xC0) == 0x80) --start;
  if (start > 0) {
    uint8_t lead = uint8_t((*label)[start - 1]);
    size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (lead >= 0xC0 && end - (start - 1) < need) label->resize(start - 1);
  }
  return true;
}

std::string ErrnoText() { return std::strerror(errno); }

uint32_t SectorsFor(uint64_t bytes) { return uint32_t((bytes + kSectorSize - 1) / kSectorSize); }

// The disc names of one folder's entries, as the pre-burn review gives them.
template <typename Child>
void NameChildren(std::vector<Child>* children) {
  std::vector<discnames::UdfEntryName> names;
  names.reserve(children->size());
  for (const Child& c : *children) names.push_back({c.full, c.folder, {}, false});
  discnames::NameUdfEntries(&names, CECMA167::kMaxNameBytes / 2);
  for (size_t i = 0; i < names.size(); ++i) {
    (*children)[i].name = std::move(names[i].name);
    (*children)[i].cut = names[i].changed;
  }
}

}  // namespace

// Reads one file front to back through a large buffer, so that serving a
// sector costs a copy and not a system call. The buffer is shared by all
// files in turn; a read never asks for more than the bytes `limit` allows,
// so small files cost one small read.
class CDataFileUDF::SourceReader {
 public:
  SourceReader(const std::string& path, std::vector<uint8_t>* buffer, uint64_t limit)
      : buffer_(buffer), limit_(limit) {
    // Taken when the layout is first read: of the recorders that lay out one
    // job, only the one whose source feeds them all ever reads it.
    if (buffer->size() < kReadAhead) buffer->resize(kReadAhead);
    fd_ = safefile::OpenForReading(path, nullptr);
    if (fd_ >= 0 && limit > buffer->size()) posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  ~SourceReader() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0 && !failed_; }
  void SeekTo(uint64_t offset) {
    position_ = offset;
    begin_ = end_ = 0;
  }
  // Copies up to `size` bytes; fewer at the end of the file or on a read error.
  size_t Read(uint8_t* out, size_t size) {
    size_t done = 0;
    while (done < size && ok()) {
      if (begin_ == end_) {
        if (position_ >= limit_) break;
        if (size - done >= kDirectRead) {
          // A long run goes from the file straight into the caller's memory.
          const size_t got = ReadAt(out + done, size_t(std::min<uint64_t>(size - done, limit_ - position_)));
          if (got == 0) break;
          done += got;
          continue;
        }
        end_ = ReadAt(buffer_->data(), size_t(std::min<uint64_t>(buffer_->size(), limit_ - position_)));
        begin_ = 0;
        if (end_ == 0) break;
      }
      size_t n = std::min(size - done, end_ - begin_);
      std::memcpy(out + done, buffer_->data() + begin_, n);
      begin_ += n;
      done += n;
    }
    return done;
  }

 private:
  // One read at the current position; 0 at the end of the file or on an
  // error (which is remembered).
  size_t ReadAt(uint8_t* to, size_t want) {
    for (;;) {
      const ssize_t got = pread(fd_, to, want, off_t(position_));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        failed_ = true;
        return 0;
      }
      position_ += uint64_t(got);
      return size_t(got);
    }
  }

  static constexpr size_t kDirectRead = 64 * 1024;
  int fd_ = -1;
  bool failed_ = false;
  std::vector<uint8_t>* buffer_;
  uint64_t limit_;
  uint64_t position_ = 0;
  size_t begin_ = 0, end_ = 0;
};

CDataFileUDF::CDataFileUDF()
    : resourceFolder_(GetProgramDir() + "Tamsin/") {}

CDataFileUDF::~CDataFileUDF() {
  ResetServing();
  if (metaFd_ >= 0) close(metaFd_);
}

void CDataFileUDF::ResetServing() {
  cursor_ = 0;
  dataIndex_ = 0;
  sectorsOfFile_ = 0;
  source_.reset();
  metaReader_.reset();
}

bool CDataFileUDF::WriteAt(uint64_t offset, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    ssize_t n = pwrite(metaFd_, p, size, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      lastError_ = "cannot write the metadata image " + metadata_.path() + ": " + ErrnoText();
      return false;
    }
    p += n;
    size -= size_t(n);
    offset += uint64_t(n);
  }
  return true;
}

bool CDataFileUDF::ReadAt(uint64_t offset, void* data, size_t size) {
  if (pread(metaFd_, data, size, off_t(offset)) != ssize_t(size)) {
    lastError_ = "cannot read back the metadata image " + metadata_.path();
    return false;
  }
  return true;
}

bool CDataFileUDF::LoadTemplate(std::vector<uint8_t>* skeleton) {
  std::string path = resourceFolder_ + std::to_string(udftpl::kResourceNumber) + ".dat";
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    lastError_ = "resource missing: " + path;
    return false;
  }
  // At most the 258 sectors the layout relies on; a shorter file is refused,
  // since the descriptors it patches would be missing.
  skeleton->assign(size_t(udftpl::kSectors) * kSectorSize, 0);
  ssize_t got = read(fd, skeleton->data(), skeleton->size());
  close(fd);
  if (got != ssize_t(skeleton->size())) {
    lastError_ = "resource damaged (shorter than " + std::to_string(udftpl::kSectors) +
                 " sectors): " + path;
    return false;
  }
  return true;
}

bool CDataFileUDF::Build(const std::string& jobPath, const std::string& stagingRoot,
                         uint32_t sessionStart, uint32_t reservedBlocks, uint32_t alignBlocks,
                         uint32_t minimumBlocks) {
  ResetServing();
  if (metaFd_ >= 0) close(metaFd_);
  metaFd_ = -1;
  metaUnreadable_ = false;
  notices_.clear();
  stagingRoot_ = stagingRoot;
  while (stagingRoot_.size() > 1 && stagingRoot_.back() == '/') stagingRoot_.pop_back();
  metadata_ = TempFile();
  dataList_.clear();
  entrySectors_.clear();
  skipped_.clear();
  lastError_.clear();
  metaSectors_ = total_ = dataStart_ = 0;
  sessionStart_ = sessionStart;
  reserved_ = reservedBlocks;
  align_ = alignBlocks;
  minimum_ = minimumBlocks;
  bool ok = BuildSteps(jobPath, stagingRoot);
  if (!ok) {
    // A failed build serves nothing.
    if (metaFd_ >= 0) close(metaFd_);
    metaFd_ = -1;
    metadata_ = TempFile();
    dataList_.clear();
    metaSectors_ = total_ = dataStart_ = 0;
  }
  return ok;
}

bool CDataFileUDF::BuildSteps(const std::string& jobPath, const std::string& stagingRoot) {
  // The job's label, the skeleton and the metadata image.
  std::string label;
  if (!ReadJobLabel(jobPath, &label, &lastError_)) return false;
  std::u16string wideLabel;
  if (!CECMA167::ToWide(label, &wideLabel, 15)) {
    lastError_ = "the volume label \"" + label + "\" is not valid UTF-8";
    return false;
  }
  std::vector<uint8_t> skeleton;
  if (!LoadTemplate(&skeleton)) return false;
  metadata_ = TempFile("tmp");
  if (!metadata_.ok()) {
    lastError_ = "cannot create a temporary file in " + TempFolder();
    return false;
  }
  metaFd_ = open(metadata_.path().c_str(), O_RDWR | O_CLOEXEC);
  if (metaFd_ < 0) {
    lastError_ = "cannot open the metadata image " + metadata_.path() + ": " + ErrnoText();
    return false;
  }
  buildTime_ = BuildTime();

  // The directory pass: the hierarchy goes behind the skeleton.
  struct stat st;
  if (stat(stagingRoot.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    lastError_ = "the staging folder " + stagingRoot + " does not exist";
    return false;
  }
  nextSector_ = kRootEntrySector + 1;
  dataBlocks_ = 0;
  fileCount_ = 0;
  folderCount_ = 1;
  if (!LayOutFolder(stagingRoot, kRootEntrySector, kRootEntrySector)) return false;
  metaSectors_ = nextSector_;

  dataStart_ = metaSectors_ + reserved_;
  if (align_ > 1) dataStart_ = (dataStart_ + align_ - 1) / align_ * align_;
  // A minimum size pads the track, not the partition: readers take the
  // volume to end where its partition does.
  uint64_t total = uint64_t(dataStart_) + dataBlocks_;
  if (uint64_t(sessionStart_) + total >= 0xFFFFFFF0ull) {
    lastError_ = "the project is too large for one UDF volume";
    return false;
  }
  total_ = uint32_t(total);

  // File data moves behind the metadata; every entry gets its id.
  if (!Relocate()) return false;

  // The skeleton's locations, lengths and label.
  PatchTemplate(&skeleton, wideLabel);
  if (!WriteAt(0, skeleton.data(), skeleton.size())) return false;
  // The image must reach its last sector even where it ends in padding.
  if (ftruncate(metaFd_, off_t(uint64_t(metaSectors_) * kSectorSize)) != 0) {
    lastError_ = "cannot size the metadata image " + metadata_.path() + ": " + ErrnoText();
    return false;
  }
  return true;
}

struct CDataFileUDF::Child {
  bool folder = false;
  bool imported = false;
  bool hidden = false;
  bool cut = false;  // the name on the disc is not the project's (shortened or numbered)
  std::u16string full;  // the project's name
  std::u16string name;  // the name on the disc
  std::string discName;
  std::string sourcePath;  // folder: staging path
  uint64_t size = 0;
  time_t mtime = 0;
  ImportedEntry entry;
};

bool CDataFileUDF::LayOutFolder(const std::string& path, uint32_t feSector, uint32_t parentFeSector) {
  std::vector<Child> children;
  if (!CollectChildren(path, &children)) return false;
  NameChildren(&children);
  const std::string discFolder = path.size() > stagingRoot_.size() ? path.substr(stagingRoot_.size()) : "";
  for (const Child& c : children)
    if (c.cut)
      notices_.push_back({LayoutNotice::kUdfNameChanged, discFolder + "/" + c.discName, Utf16ToUtf8(c.name)});
  uint32_t fidStart = 0, slotStart = 0;
  uint64_t streamBytes = 0;
  if (!WriteIdentifiers(children, parentFeSector, &fidStart, &slotStart, &streamBytes)) return false;
  // File entries of the files now; those of subfolders once their content
  // has been placed behind.
  if (!WriteFileEntries(children, slotStart)) return false;
  for (size_t i = 0; i < children.size(); ++i) {
    if (!children[i].folder) continue;
    ++folderCount_;
    uint32_t slot = slotStart + uint32_t(i);
    entrySectors_.push_back(slot);
    if (!LayOutFolder(children[i].sourcePath, slot, feSector)) return false;
  }
  uint8_t entry[kSectorSize];
  CECMA167::MakeFileEntry(entry, false, 0, streamBytes, BlockOf(fidStart), BlockOf(feSector),
                          &buildTime_, false);
  return WriteAt(uint64_t(feSector) * kSectorSize, entry, kSectorSize);
}

// The folder's subfolders and listed files, in staging order.
bool CDataFileUDF::CollectChildren(const std::string& path, std::vector<Child>* children) {
  for (const StagingEntry& e : EnumerateStagingFolder(path)) {
    if (e.kind == StagingEntry::kFolder) {
      Child c;
      c.folder = true;
      c.sourcePath = path + "/" + e.name;
      if (!Utf8ToUtf16(e.name, &c.full)) {
        lastError_ = "the folder name of " + c.sourcePath + " is not valid UTF-8";
        return false;
      }
      c.discName = e.name;
      children->push_back(std::move(c));
      continue;
    }
    FileListReader list(path + "/" + e.name);
    if (!list.ok()) {
      lastError_ = "cannot read the file list " + path + "/" + e.name;
      return false;
    }
    FileListEntry fe;
    while (list.Next(&fe)) {
      Child c;
      if (fe.IsImported()) {
        if (!ParseImportedEntry(fe.sourcePath, &c.entry)) {
          lastError_ = "damaged imported entry \"" + fe.discName + "\" in " + path;
          return false;
        }
        // Imported folders stand in the staging tree as real folders.
        if (c.entry.kind != ImportedEntry::kFile) continue;
        bool below = c.entry.size > 0 && c.entry.location < udftpl::kPartitionStart;
        for (const auto& [start, count] : c.entry.extents) below = below || start < udftpl::kPartitionStart;
        if (below) {
          // Data below the partition cannot be named by a UDF entry.
          skipped_.push_back(fe.discName);
          continue;
        }
        c.imported = true;
        c.size = c.entry.size;
      } else {
        struct stat st;
        int fd = safefile::OpenForReading(fe.sourcePath, nullptr, &st);
        if (fd < 0) {
          skipped_.push_back(fe.sourcePath);
          continue;
        }
        close(fd);
        c.size = uint64_t(st.st_size);
        if (c.size > kMaxFileSize) {
          lastError_ = "the file " + fe.sourcePath + " is too large for one UDF file entry";
          return false;
        }
        c.mtime = st.st_mtime;
        c.sourcePath = fe.sourcePath;
      }
      if (!Utf8ToUtf16(fe.discName, &c.full)) {
        lastError_ = "the disc name of " + fe.sourcePath + " is not valid UTF-8";
        return false;
      }
      c.discName = fe.discName;
      children->push_back(std::move(c));
    }
    if (!list.error().empty()) {
      lastError_ = list.error();
      return false;
    }
  }

  return true;
}

bool CDataFileUDF::WriteIdentifiers(const std::vector<Child>& children, uint32_t parentFeSector,
                                    uint32_t* fidStartOut, uint32_t* slotStartOut, uint64_t* streamBytesOut) {
  // Identifier stream: the parent entry, then one per child. Its length is
  // known before anything is placed, so each child's entry slot is known too.
  // On write-once media no descriptor tag may cross a block boundary: when an
  // identifier would leave less than a tag's room in its block, it is made
  // longer (an implementation use field), so that the next one starts whole
  // in the next block.
  uint8_t fid[CECMA167::kMaxFileIdentifierLength];
  std::vector<bool> padded(children.size() + 1, false);
  uint64_t streamBytes = 0;
  for (size_t i = 0; i <= children.size(); ++i) {
    const std::u16string& name = i == 0 ? std::u16string() : children[i - 1].name;
    CECMA167::IdentifierKind kind = i == 0 ? CECMA167::kParent : CECMA167::kFile;
    uint64_t end = streamBytes + CECMA167::MakeFileIdentifier(fid, name, 0, kind, false, 0);
    uint64_t left = (kSectorSize - end % kSectorSize) % kSectorSize;
    if (i < children.size() && left > 0 && left < 16) {
      padded[i] = true;
      end += CECMA167::kImplUsePadding;
    }
    streamBytes = end;
  }
  const uint32_t fidStart = nextSector_;
  *fidStartOut = fidStart;
  uint64_t fidSectors64 = (streamBytes + kSectorSize - 1) / kSectorSize;
  uint64_t slotStart64 = uint64_t(fidStart) + fidSectors64;
  if (slotStart64 + children.size() >= 0xFFFF0000ull) {
    lastError_ = "the project has too many entries for one UDF volume";
    return false;
  }
  const uint32_t slotStart = uint32_t(slotStart64);
  *slotStartOut = slotStart;
  *streamBytesOut = streamBytes;
  nextSector_ = slotStart + uint32_t(children.size());

  // Room behind the last sector: an identifier is formed in a field of its
  // largest size before its own length is known.
  const size_t streamSize = size_t(fidSectors64) * kSectorSize;
  std::vector<uint8_t> stream(streamSize + CECMA167::kMaxFileIdentifierLength, 0);
  size_t at = 0;
  auto put = [&](size_t i, const std::u16string& name, CECMA167::IdentifierKind kind, bool hidden,
                 uint32_t icbSector) {
    uint32_t tagBlock = BlockOf(fidStart + uint32_t(at / kSectorSize));
    at += CECMA167::MakeFileIdentifier(stream.data() + at, name, tagBlock, kind, hidden,
                                       BlockOf(icbSector), true, padded[i]);
  };
  put(0, u"", CECMA167::kParent, false, parentFeSector);
  for (size_t i = 0; i < children.size(); ++i)
    put(i + 1, children[i].name, children[i].folder ? CECMA167::kFolder : CECMA167::kFile,
        children[i].hidden, slotStart + uint32_t(i));
  if (!WriteAt(uint64_t(fidStart) * kSectorSize, stream.data(), streamSize)) return false;
  return true;
}

bool CDataFileUDF::WriteFileEntries(const std::vector<Child>& children, uint32_t slotStart) {
  std::vector<uint8_t> slots(children.size() * kSectorSize, 0);
  for (size_t i = 0; i < children.size(); ++i) {
    const Child& c = children[i];
    if (c.folder) continue;
    uint8_t* block = slots.data() + i * kSectorSize;
    uint32_t slot = slotStart + uint32_t(i);
    if (c.imported) {
      // Extent positions stay disc sectors here; the relocation pass turns
      // them into blocks of the partition and clears the mark.
      // Every extent but the last is whole sectors, so the first one holds
      // what the further extents leave of the file's sectors.
      std::vector<udf::Extent> extents;
      uint64_t further = 0;
      for (const auto& [start, count] : c.entry.extents) further += count;
      uint64_t sectors = (c.entry.size + kSectorSize - 1) / kSectorSize;
      uint64_t remaining = c.entry.size;
      auto add = [&](uint32_t start, uint64_t count) {
        uint64_t bytes = std::min<uint64_t>(remaining, count * kSectorSize);
        remaining -= bytes;
        if (bytes > 0)
          for (const udf::Extent& x : CECMA167::SplitExtents(bytes, start)) extents.push_back(x);
      };
      add(c.entry.location, sectors > further ? sectors - further : 0);
      for (const auto& [start, count] : c.entry.extents) add(start, count);
      if (extents.empty()) extents.push_back({0, udftpl::kPartitionStart});
      if (extents.size() > udf::kMaxShortAds) {
        lastError_ = "the imported file \"" + Utf16ToUtf8(c.name) + "\" has too many extents for one file entry";
        return false;
      }
      uint8_t stamp[12];
      CECMA167::TimestampFromIsoDate(stamp, c.entry.date.data());
      CECMA167::MakeFileEntryWithExtents(block, true, 0, c.size, extents, BlockOf(slot), stamp, true);
    } else {
      CECMA167::MakeFileEntry(block, true, 0, c.size, dataBlocks_, BlockOf(slot), &c.mtime, false);
      uint32_t sectors = c.size == 0 ? 1 : SectorsFor(c.size);
      if (uint64_t(dataBlocks_) + sectors >= 0xFFFF0000ull) {
        lastError_ = "the project is too large for one UDF volume";
        return false;
      }
      dataBlocks_ += sectors;
      dataList_.push_back({c.sourcePath, c.size, sectors});
    }
    ++fileCount_;
    entrySectors_.push_back(slot);
  }
  if (!slots.empty() && !WriteAt(uint64_t(slotStart) * kSectorSize, slots.data(), slots.size()))
    return false;
  return true;
}

bool CDataFileUDF::Relocate() {
  std::sort(entrySectors_.begin(), entrySectors_.end());
  const uint32_t dataBase = sessionStart_ + dataStart_ - udftpl::kPartitionStart;
  nextUniqueId_ = kFirstUniqueId;
  // A folder's entries lie side by side, so they are read and written back
  // in runs rather than one by one.
  constexpr size_t kRun = 256;
  std::vector<uint8_t> run(kRun * kSectorSize);
  for (size_t first = 0; first < entrySectors_.size();) {
    size_t count = 1;
    while (first + count < entrySectors_.size() && count < kRun &&
           entrySectors_[first + count] == entrySectors_[first] + count)
      ++count;
    const uint64_t offset = uint64_t(entrySectors_[first]) * kSectorSize;
    if (!ReadAt(offset, run.data(), count * kSectorSize)) return false;
    for (size_t k = 0; k < count; ++k) {
      uint8_t* block = run.data() + k * kSectorSize;
      uint32_t sector = entrySectors_[first + k];
      if (bytes::LE16(block) != udf::kTagFileEntry || bytes::LE32(block + 12) != BlockOf(sector)) {
        lastError_ = "internal layout error: no file entry at sector " + std::to_string(sector);
        return false;
      }
      if (block[udf::fe::kFileType] == udf::kFileTypeFile) {
        bool imported = block[udf::fe::kImplId] == 1;
        block[udf::fe::kImplId] = 0;
        uint32_t adLength = bytes::LE32(block + udf::fe::kAdLength);
        for (uint32_t i = 0; i * 8 < adLength; ++i) {
          uint8_t* ad = block + udf::fe::kAds + 8 * i;
          if (i > 0 && bytes::LE32(ad) == 0) break;  // the empty descriptor that ends the list
          uint32_t position = bytes::LE32(ad + 4);
          bytes::PutLE32(ad + 4, imported ? position - udftpl::kPartitionStart : position + dataBase);
        }
      }
      bytes::PutLE64(block + udf::fe::kUniqueId, nextUniqueId_++);
      CECMA167::RefreshTag(block);
    }
    if (!WriteAt(offset, run.data(), count * kSectorSize)) return false;
    first += count;
  }
  return true;
}

void CDataFileUDF::PatchTemplate(std::vector<uint8_t>* skeleton, const std::u16string& label) {
  using namespace udftpl;
  auto sector = [&](uint32_t n) { return skeleton->data() + size_t(n) * kSectorSize; };
  const uint32_t S = sessionStart_;
  // The partition runs from its start to the volume's last sector.
  const uint32_t partitionLength = S + total_ - kPartitionStart;
  // The volume set identifier begins with 16 hexadecimal digits that tell
  // one disc from another: the build time and a random part.
  char serial[17];
  std::snprintf(serial, sizeof serial, "%08X%08X", uint32_t(buildTime_),
                stampSerial_ ? stampSerial_ : uint32_t(std::random_device{}()));
  std::u16string volumeSet;
  CECMA167::ToWide(std::string(serial) + "VARNEX", &volumeSet, 63);

  uint8_t* anchor = sector(kAnchor);
  bytes::PutLE32(anchor + kAnchorMainLocation, S + kMainSequence);
  bytes::PutLE32(anchor + kAnchorReserveLocation, S + kReserveSequence);

  uint8_t* fsd = sector(kFileSet);
  bytes::PutLE32(fsd + 12, S);
  bytes::PutLE32(fsd + kFileSetRoot, S + 1);
  CECMA167::MakeTimestamp(fsd + kFileSetTime, buildTime_);
  CECMA167::PutDString(fsd + kFileSetVolumeId, 128, label);
  CECMA167::PutDString(fsd + kFileSetId, 32, label);

  for (uint32_t seq : {kMainSequence, kReserveSequence}) {
    uint8_t* pvd = sector(seq + kPrimary);
    CECMA167::PutDString(pvd + kPrimaryVolumeId, 32, label);
    CECMA167::PutDString(pvd + kPrimaryVolumeSetId, 128, volumeSet);
    CECMA167::MakeTimestamp(pvd + kPrimaryRecordingTime, buildTime_);
    CECMA167::PutDString(sector(seq + kImplUse) + kImplUseVolumeId, 128, label);
    bytes::PutLE32(sector(seq + kPartition) + kPartitionLengthField, partitionLength);
    uint8_t* lvd = sector(seq + kLogicalVolume);
    bytes::PutLE32(lvd + kLogicalVolumeFileSet, S);
    bytes::PutLE32(lvd + kLogicalVolumeIntegrity, S + kIntegrity);
    CECMA167::PutDString(lvd + kLogicalVolumeId, 128, label);
  }

  // The integrity descriptor tells readers the partition's size, the counts
  // of files and folders and where unique ids continue.
  uint8_t* lvid = sector(kIntegrity);
  CECMA167::MakeTimestamp(lvid + kIntegrityTime, buildTime_);
  bytes::PutLE64(lvid + kIntegrityNextUniqueId, nextUniqueId_);
  bytes::PutLE32(lvid + kIntegrityFreeSpace, 0);
  bytes::PutLE32(lvid + kIntegritySizeTable, partitionLength);
  bytes::PutLE32(lvid + kIntegrityFileCount, fileCount_);
  bytes::PutLE32(lvid + kIntegrityDirCount, folderCount_);

  auto retag = [&](uint32_t n) {
    uint8_t* d = sector(n);
    if (S != 0) bytes::PutLE32(d + 12, S + n);
    CECMA167::RefreshTag(d);
  };
  for (uint32_t i = 0; i < 6; ++i) {
    retag(kMainSequence + i);
    retag(kReserveSequence + i);
  }
  retag(kIntegrity);
  retag(kIntegrity + 1);
  retag(kAnchor);
  CECMA167::RefreshTag(fsd);
  std::memcpy(closingAnchor_, anchor, sizeof closingAnchor_);
}

uint32_t CDataFileUDF::GetTrackLength() const {
  // One sector past the volume holds a closing anchor. Rounding to 32
  // (a multiple of 16 as well) matches the burn source's own rounding, so the
  // other closing anchor stays in the track's very last sector.
  uint32_t length = std::max<uint32_t>({total_ + 1, 600, minimum_});
  return (length + 31) / 32 * 32;
}

std::string CDataFileUDF::GetCurrentSourceFile() const {
  if (cursor_ <= dataStart_ || dataIndex_ >= dataList_.size()) return "";
  return dataList_[dataIndex_].path;
}

int CDataFileUDF::GetSectorData(uint8_t* buffer, uint32_t byteCount) {
  const uint32_t k = cursor_++;
  const uint32_t n = std::min(byteCount, kSectorSize);
  if (k < metaSectors_) {
    if (!metaReader_) {
      metaReader_ = std::make_unique<SourceReader>(metadata_.path(), &metaBuffer_,
                                                   uint64_t(metaSectors_) * kSectorSize);
      metaReader_->SeekTo(uint64_t(k) * kSectorSize);
    }
    uint8_t sector[kSectorSize];
    size_t got = metaReader_->Read(sector, kSectorSize);
    std::memcpy(buffer, sector, std::min<size_t>(got, n));
    if (k + 1 == metaSectors_) metaReader_.reset();
    // The volume's own descriptors are gone: the disc would be unreadable.
    if (got < kSectorSize) {
      if (!metaUnreadable_ && listener_) listener_->SourceUnreadable(metadata_.path());
      metaUnreadable_ = true;
      return -1;
    }
    return 0;
  }
  if (k < dataStart_ || k >= total_) {
    // The volume closes with an anchor right behind it and another in the
    // track's last sector: readers look for one or the other.
    if (total_ > 0 && (k == total_ || k + 1 == GetTrackLength())) {
      std::memcpy(buffer, closingAnchor_, std::min<uint32_t>(n, sizeof closingAnchor_));
      bytes::PutLE32(buffer + 12, sessionStart_ + k);
      CECMA167::RefreshTag(buffer);
    }
    return 0;
  }

  // File data: each file fills exactly the sectors its entry was given,
  // whatever became of the file since Build, so later files never shift.
  while (dataIndex_ < dataList_.size() && sectorsOfFile_ >= dataList_[dataIndex_].sectors) {
    ++dataIndex_;
    sectorsOfFile_ = 0;
    source_.reset();
  }
  if (dataIndex_ >= dataList_.size()) return 0;
  const DataFile& file = dataList_[dataIndex_];
  if (sectorsOfFile_ == 0 && file.size > 0) {
    source_ = std::make_unique<SourceReader>(file.path, &dataBuffer_, file.size);
    if (!source_->ok() && listener_) listener_->SourceUnreadable(file.path);
  }
  uint64_t offset = uint64_t(sectorsOfFile_) * kSectorSize;
  ++sectorsOfFile_;
  if (source_ && source_->ok() && offset < file.size) {
    size_t want = size_t(std::min<uint64_t>(file.size - offset, n));
    size_t got = source_->Read(buffer, want);
    if (got < want && !source_->ok() && listener_) {
      listener_->SourceUnreadable(file.path);
      source_.reset();
    }
    if (got < want) std::memset(buffer + got, 0, want - got);
  }
  if (sectorsOfFile_ >= file.sectors) source_.reset();
  return 0;
}

void CDataFileUDF::GetSectors(uint8_t* out, uint32_t count) {
  for (uint32_t i = 0; i < count;) {
    uint8_t* at = out + size_t(i) * kSectorSize;
    uint32_t n = 0;
    if (cursor_ < metaSectors_)
      n = ServeMetadataRun(at, std::min(count - i, metaSectors_ - cursor_));
    else if (cursor_ >= dataStart_ && cursor_ < total_)
      n = ServeDataRun(at, std::min(count - i, total_ - cursor_));
    if (n == 0) {  // anchors, gaps, a file's last part-sector: one at a time
      std::memset(at, 0, kSectorSize);
      GetSectorData(at, kSectorSize);
      n = 1;
    }
    i += n;
  }
}

uint32_t CDataFileUDF::ServeMetadataRun(uint8_t* out, uint32_t count) {
  if (!metaReader_) {
    metaReader_ = std::make_unique<SourceReader>(metadata_.path(), &metaBuffer_, uint64_t(metaSectors_) * kSectorSize);
    metaReader_->SeekTo(uint64_t(cursor_) * kSectorSize);
  }
  const size_t want = size_t(count) * kSectorSize;
  size_t got = metaReader_->Read(out, want);
  std::memset(out + got, 0, want - got);
  cursor_ += count;
  if (cursor_ >= metaSectors_) metaReader_.reset();
  return count;
}

uint32_t CDataFileUDF::ServeDataRun(uint8_t* out, uint32_t count) {
  while (dataIndex_ < dataList_.size() && sectorsOfFile_ >= dataList_[dataIndex_].sectors) {
    ++dataIndex_;
    sectorsOfFile_ = 0;
    source_.reset();
  }
  if (dataIndex_ >= dataList_.size()) return 0;
  const DataFile& file = dataList_[dataIndex_];
  const uint64_t offset = uint64_t(sectorsOfFile_) * kSectorSize;
  // Only sectors the file fills wholly; its last part-sector, and the
  // sectors an empty file is given, go the single-sector way.
  const uint64_t whole = file.size > offset ? (file.size - offset) / kSectorSize : 0;
  const uint32_t n = uint32_t(std::min<uint64_t>({whole, count, file.sectors - sectorsOfFile_}));
  if (n == 0) return 0;
  if (sectorsOfFile_ == 0) {
    source_ = std::make_unique<SourceReader>(file.path, &dataBuffer_, file.size);
    if (!source_->ok() && listener_) listener_->SourceUnreadable(file.path);
  }
  const size_t want = size_t(n) * kSectorSize;
  size_t got = 0;
  if (source_ && source_->ok()) {
    got = source_->Read(out, want);
    if (got < want && !source_->ok()) {
      if (listener_) listener_->SourceUnreadable(file.path);
      source_.reset();
    }
  }
  std::memset(out + got, 0, want - got);  // what the file no longer holds stays zero
  cursor_ += n;
  sectorsOfFile_ += n;
  if (sectorsOfFile_ >= file.sectors) source_.reset();
  return n;
}
