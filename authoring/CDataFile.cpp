#include "authoring/CDataFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "OutputFile.h"
#include "SafeFile.h"
#include "ByteFields.h"
#include "authoring/CDataFileUDF.h"
#include "authoring/CECMA167.h"
#include "authoring/DiscNames.h"
#include "authoring/FileList.h"
#include "authoring/ImportedEntry.h"
#include "authoring/Iso9660.h"
#include "authoring/Iso9660RockRidge.h"
#include "authoring/ProjectFile.h"
#include "authoring/StagingFolder.h"
#include "foundation/TempFiles.h"
#include "authoring/Ucs2.h"

namespace {

constexpr uint32_t kMinTrackLength = 600;
constexpr uint32_t kFirstExtent = 27;  // sectors 0-26: system area, descriptors, 8 zero sectors
constexpr size_t kReadAhead = 128 << 10;
constexpr uint64_t kMaxIsoFileSize = 0xFFFFFFFFull;
// The largest extent of a file kept in several: whole sectors below 4 GiB.
constexpr uint32_t kMaxExtentBytes = 0xFFFFF800u;
constexpr size_t kMaxPathTableFolders = 65535;  // parent numbers are 16 bits
// ISO 9660 allows eight levels of folders, the root the first; a folder below
// them is moved (with Rock Ridge, which tells readers where it belongs).
constexpr int kDeepestIsoLevel = 8;
// Where the moved folders stand: hidden on POSIX readers.
constexpr char kMovedIso[] = "RR_MOVED";
constexpr char kMovedName[] = ".rr_moved";
// The maker string and its web address: 33 bytes of the application identifier.
constexpr char kApplicationId[] = "Kvor Technology(www.varnexcd.com)";
static_assert(sizeof(kApplicationId) - 1 == 33);

uint32_t SectorsFor(uint64_t bytes) { return uint32_t((bytes + kSectorSize - 1) / kSectorSize); }

std::string Record(const std::string& ident, uint32_t extent, uint32_t bytes, const iso9660::RecordDate& date,
                   uint8_t flags) {
  return iso9660::MakeRecord({extent, bytes, date, flags, ident, {}});
}

void PatchRecord(std::string* extent, size_t at, uint32_t location, uint32_t length) {
  iso9660::PatchRecordExtent(reinterpret_cast<uint8_t*>(&(*extent)[at]), location, length);
}

bool WritePadded(FILE* f, const std::string& data) {
  std::string padded = data;
  padded.resize(size_t(SectorsFor(data.size())) * kSectorSize, '\0');
  return std::fwrite(padded.data(), 1, padded.size(), f) == padded.size();
}

bool PatchAt(FILE* f, uint64_t offset, const uint8_t* data, size_t n) {
  return std::fseek(f, long(offset), SEEK_SET) == 0 && std::fwrite(data, 1, n, f) == n;
}

}  // namespace

struct CDataFile::Folder {
  int parent = -1;
  // The ISO hierarchy's parent: the folder of moved folders for a folder too
  // deep for ISO 9660, else `parent`. The Joliet hierarchy keeps the source's.
  int isoParent = -1;
  bool isoOnly = false;  // the folder of moved folders has no Joliet extent
  bool moved = false;    // stands in the folder of moved folders
  rockridge::Attributes attributes;
  uint32_t isoParentAt = iso9660::kRootRecordSize;  // where ".." lies in the ISO extent
  std::string iso;      // ISO identifier
  std::string joliet;   // Joliet identifier, UTF-16 big-endian bytes
  uint32_t isoLocation = 0, isoBytes = 0;        // absolute
  uint32_t jolietLocation = 0, jolietBytes = 0;  // relative to the Joliet directory area
  std::vector<int> children;                     // in enumeration order
  std::vector<int> isoChildren;                  // the same, but moved folders in the folder of moved ones
};

struct CDataFile::Layout {
  TempFile isoExtentsFile{"tmp"}, jolietExtentsFile{"tmp"};
  FILE* isoExtents = nullptr;
  FILE* jolietExtents = nullptr;
  FILE* dataList = nullptr;
  uint32_t isoCounter = 0, jolietCounter = 0;
  std::vector<Folder> folders;
  std::string isoL, isoM, jolietL, jolietM;  // path tables
  uint32_t jolietBase = 0;
  time_t buildTime = 0;
  iso9660::RecordDate buildDate{};
  // Boot catalog, BIOS and EFI images: sectors before placement, and the data.
  uint32_t catalog = 0, bios = 0, efi = 0;
  uint64_t efiBytes = 0;
  std::string biosData;
  bool rock = true, normalised = false;
  // Files met before under another name (hard links): their data's place.
  std::map<std::pair<dev_t, ino_t>, uint32_t> dataOf;
  // Folders moved for being too deep, with their Rock Ridge names.
  std::vector<std::pair<int, std::string>> moved;

  ~Layout() {
    for (FILE* f : {isoExtents, jolietExtents})
      if (f) std::fclose(f);
  }
};

CDataFile::CDataFile() : readAhead_(kReadAhead) {}

CDataFile::~CDataFile() { Reset(); }

void CDataFile::Reset() {
  if (metadata_) std::fclose(metadata_);
  if (dataList_) std::fclose(dataList_);
  if (dataFd_ >= 0) ::close(dataFd_);
  metadata_ = dataList_ = nullptr;
  metadataUnreadable_ = false;
  dataFd_ = -1;
  for (const std::string& p : {metadataPath_, dataListPath_})
    if (!p.empty()) ::unlink(p.c_str());
  metadataPath_.clear();
  dataListPath_.clear();
  for (const std::string& p : bootFiles_) ::unlink(p.c_str());
  bootFiles_.clear();
  systemArea_.clear();
  cursor_ = 0;
  dataOpen_ = dataFailed_ = false;
  currentPath_.clear();
  currentSize_ = currentOffset_ = 0;
  readAheadLength_ = 0;
  volumeSpaceSize_ = metadataLength_ = firstDataSector_ = 0;
  notices_.clear();
  skipped_.clear();
  lastError_.clear();
}

namespace {

// The names the UDF layout will give, from the same naming it uses.
void ReviewUdfNames(const std::string& discPath, const std::vector<discnames::FolderEntryName>& names,
                    const std::vector<std::string>& sources, std::vector<LayoutNotice>* notices, bool* ok) {
  std::vector<discnames::UdfEntryName> udf;
  std::vector<size_t> from;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string path = discPath + "/" + names[i].discName;
    std::u16string wide;
    if (!Utf8ToUtf16(names[i].discName, &wide)) {
      notices->push_back({LayoutNotice::kNameRefused, path, ""});
      *ok = false;
    } else {
      udf.push_back({wide, names[i].isFolder, {}, false});
      from.push_back(i);
    }
    struct stat st;
    if (!sources[i].empty() && stat(sources[i].c_str(), &st) == 0 && uint64_t(st.st_size) > CDataFileUDF::kMaxFileSize) {
      notices->push_back({LayoutNotice::kTooLarge, path, sources[i]});
      *ok = false;
    }
  }
  discnames::NameUdfEntries(&udf, CECMA167::kMaxNameBytes / 2);
  for (size_t k = 0; k < udf.size(); ++k)
    if (udf[k].changed)
      notices->push_back({LayoutNotice::kUdfNameChanged, discPath + "/" + names[from[k]].discName, Utf16ToUtf8(udf[k].name)});
}

}  // namespace

bool CDataFile::ReviewProject(const std::string& stagingRoot, std::vector<LayoutNotice>* notices, bool udf) {
  bool ok = true;
  std::vector<std::pair<std::string, std::string>> pending{{StripTrailing(stagingRoot), ""}};
  while (!pending.empty()) {
    auto [folder, discPath] = pending.back();
    pending.pop_back();
    std::vector<discnames::FolderEntryName> names;
    std::vector<std::string> sources;
    for (const StagingEntry& entry : EnumerateStagingFolder(folder)) {
      if (entry.kind == StagingEntry::kFolder) {
        names.push_back({entry.name, true});
        sources.emplace_back();
        pending.emplace_back(folder + "/" + entry.name, discPath + "/" + entry.name);
        continue;
      }
      FileListReader reader(folder + "/" + entry.name);
      FileListEntry e;
      while (reader.Next(&e)) {
        // An imported folder stands in the staging tree as a real folder;
        // the UDF layout names it there, not here.
        ImportedEntry imported;
        if (udf && e.IsImported() && ParseImportedEntry(e.sourcePath, &imported) &&
            imported.kind != ImportedEntry::kFile)
          continue;
        names.push_back({e.discName, false});
        sources.push_back(e.IsImported() ? std::string() : e.sourcePath);
      }
    }
    if (udf) {
      ReviewUdfNames(discPath, names, sources, notices, &ok);
      continue;
    }
    discnames::NameFolderEntries(&names);
    for (size_t i = 0; i < names.size(); ++i) {
      std::string path = discPath + "/" + names[i].discName;
      struct stat st;
      if (names[i].refused) {
        notices->push_back({LayoutNotice::kNameRefused, path, ""});
        ok = false;
      } else if (names[i].jolietShortened) {
        notices->push_back({LayoutNotice::kJolietShortened, path, Utf16ToUtf8(names[i].joliet)});
      }
      if (!sources[i].empty() && stat(sources[i].c_str(), &st) == 0 &&
          uint64_t(st.st_size) > kMaxIsoFileSize)
        notices->push_back({LayoutNotice::kSplitInExtents, path, sources[i]});
    }
  }
  return ok;
}

bool CDataFile::Build(const std::string& jobPath, bool flagA, bool flagB, const std::string& stagingRoot,
                      uint32_t sessionStart) {
  (void)flagA, (void)flagB;
  Reset();
  jobPath_ = jobPath;
  stagingRoot_ = StripTrailing(stagingRoot);
  sessionStart_ = sessionStart;
  nextFileExtent_ = sessionStart;
  if (!project::ReadJobLabel(jobPath, &label_, &lastError_)) return false;
  struct stat st;
  if (stat(stagingRoot_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    Fail("the project folder " + stagingRoot_ + " does not exist");
    return false;
  }

  Layout layout;
  const uint8_t options = project::ReadJobOptions(jobPath);
  layout.rock = !(options & project::kNoRockRidge);
  layout.normalised = (options & project::kRockNormalised) != 0;
  layout.buildTime = BuildTime();
  layout.buildDate = iso9660::MakeRecordDate(layout.buildTime);
  metadataPath_ = MakeTempFile();
  dataListPath_ = MakeTempFile();
  if (!layout.isoExtentsFile.ok() || !layout.jolietExtentsFile.ok() || metadataPath_.empty() ||
      dataListPath_.empty()) {
    Fail("cannot create temporary files in " + TempFolder());
    return false;
  }
  layout.isoExtents = std::fopen(layout.isoExtentsFile.path().c_str(), "w+b");
  layout.jolietExtents = std::fopen(layout.jolietExtentsFile.path().c_str(), "w+b");
  layout.dataList = std::fopen(dataListPath_.c_str(), "wb");
  if (!layout.isoExtents || !layout.jolietExtents || !layout.dataList) {
    if (layout.dataList) std::fclose(layout.dataList);
    Fail("cannot open temporary files in " + TempFolder());
    return false;
  }

  // Directory pass.
  layout.isoCounter = sessionStart + kFirstExtent;
  layout.jolietCounter = 0;
  bool laidOut = LayOutFolder(layout, stagingRoot_, "", -1, 0) && PlanBoot(layout);
  bool listWritten = std::fclose(layout.dataList) == 0;
  layout.dataList = nullptr;
  if (!laidOut) return false;
  if (!listWritten) {
    Fail("cannot write the data list in " + TempFolder());
    return false;
  }
  if (layout.folders.size() > kMaxPathTableFolders) {
    Fail("the project has more than 65535 folders, more than an ISO 9660 volume can list");
    return false;
  }

  // Placement.
  uint32_t di = layout.isoCounter - (sessionStart + kFirstExtent);
  uint32_t dj = layout.jolietCounter;
  layout.jolietBase = sessionStart + kFirstExtent + di;
  if (!WritePathTables(layout)) return false;
  uint64_t first = uint64_t(sessionStart) + kFirstExtent + di + dj + SectorsFor(layout.isoL.size()) +
                   SectorsFor(layout.isoM.size()) + SectorsFor(layout.jolietL.size()) +
                   SectorsFor(layout.jolietM.size());
  uint64_t dataSectors = nextFileExtent_ - sessionStart;
  if (first + dataSectors > 0xFFFFFFFFull) {
    Fail("the project is too large for one volume");
    return false;
  }
  firstDataSector_ = uint32_t(first);
  volumeSpaceSize_ = uint32_t(first - sessionStart + dataSectors);

  if (!PatchParentRecords(layout) || !RebaseExtents(layout) || !FinishBoot(layout) || !WriteMetadataImage(layout))
    return false;

  metadata_ = std::fopen(metadataPath_.c_str(), "rb");
  dataList_ = std::fopen(dataListPath_.c_str(), "rb");
  if (!metadata_ || !dataList_) {
    Fail("cannot reopen the temporary files in " + TempFolder());
    return false;
  }
  cursor_ = 0;
  return true;
}

struct CDataFile::Child {
  bool isFolder = false;
  bool moved = false;    // a folder too deep for ISO 9660: a CL placeholder there
  bool isoOnly = false;  // the folder of moved folders
  int folder = -1;
  uint32_t location = 0;
  uint64_t size = 0;
  // A file of an earlier session kept in several extents where they lie:
  // the extents after the first, each a start and whole sectors.
  std::vector<std::pair<uint32_t, uint32_t>> furtherExtents;
  iso9660::RecordDate date{};
  uint8_t flags = 0;
  rockridge::Attributes attributes;
  bool isLink = false;
  std::string linkTarget;
};

namespace {

rockridge::Attributes AttributesOf(const struct stat& st) {
  rockridge::Attributes a;
  a.mode = st.st_mode;
  a.links = uint32_t(st.st_nlink);
  a.uid = st.st_uid;
  a.gid = st.st_gid;
  a.modified = st.st_mtime;
  a.accessed = st.st_atime;
  a.changed = st.st_ctime;
  return a;
}

// A staging folder is the project's own, not the user's: the folder gets the
// builder's owner, the usual folder permissions and the build time.
rockridge::Attributes ProjectFolderAttributes(time_t buildTime) {
  rockridge::Attributes own;
  own.mode = S_IFDIR | 0755;
  own.uid = ::getuid();
  own.gid = ::getgid();
  own.modified = own.accessed = own.changed = buildTime;
  return own;
}

// The target of a link, read whole however long it is; false when it cannot be read.
bool ReadLinkTarget(const std::string& path, std::string* target) {
  std::string buffer(256, '\0');
  while (true) {
    const ssize_t n = ::readlink(path.c_str(), &buffer[0], buffer.size());
    if (n < 0) return false;
    if (size_t(n) < buffer.size()) {
      target->assign(buffer.data(), size_t(n));
      return true;
    }
    if (buffer.size() > (1u << 20)) return false;
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

bool CDataFile::LayOutFolder(Layout& layout, const std::string& stagingPath, const std::string& discPath,
                             int parent, int depth, bool moved) {
  const int self = int(layout.folders.size());
  layout.folders.push_back(Folder{});
  layout.folders[self].parent = layout.folders[self].isoParent = parent;
  layout.folders[self].moved = moved;
  layout.folders[self].attributes = ProjectFolderAttributes(layout.buildTime);

  std::vector<Child> children;
  std::vector<discnames::FolderEntryName> names;
  for (const StagingEntry& entry : EnumerateStagingFolder(stagingPath)) {
    std::string path = stagingPath + "/" + entry.name;
    if (entry.kind == StagingEntry::kFolder) {
      int child = int(layout.folders.size());
      // `depth` counts from the root (0), so the child's ISO level is depth + 2.
      const bool move = layout.rock && depth + 2 > kDeepestIsoLevel;
      const int childDepth = move ? 2 : depth + 1;  // moved folders stand on level 3
      if (!LayOutFolder(layout, path, discPath + "/" + entry.name, self, childDepth, move)) return false;
      layout.folders[self].children.push_back(child);
      if (move)
        layout.moved.push_back({child, entry.name});
      else
        layout.folders[self].isoChildren.push_back(child);
      Child c;
      c.isFolder = true;
      c.moved = move;
      c.folder = child;
      c.flags = 2;  // a folder; the hidden bit is never set (Linux readers would drop the entry)
      c.date = layout.buildDate;
      children.push_back(c);
      names.push_back({entry.name, true});
      continue;
    }
    if (!AddListedFiles(layout, path, &children, &names)) return false;
  }
  discnames::NameFolderEntries(&names);
  if (!NameSubfolders(layout, discPath, children, names)) return false;
  if (parent < 0 && !layout.moved.empty() && !WriteMovedFolder(layout, &children, &names)) return false;
  return WriteFolderRecords(layout, self, parent, children, names);
}

// The folder of moved folders, written after all of them and before the
// root; it joins the root's entries in the ISO hierarchy only.
bool CDataFile::WriteMovedFolder(Layout& layout, std::vector<Child>* rootChildren,
                                 std::vector<discnames::FolderEntryName>* rootNames) {
  const int self = int(layout.folders.size());
  layout.folders.push_back(Folder{});
  Folder& folder = layout.folders[self];
  folder.parent = folder.isoParent = 0;
  folder.isoOnly = true;
  folder.attributes = ProjectFolderAttributes(layout.buildTime);

  std::vector<Child> children;
  std::vector<discnames::FolderEntryName> names;
  for (const auto& [index, name] : layout.moved) {
    layout.folders[index].isoParent = self;
    layout.folders[self].isoChildren.push_back(index);
    Child c;
    c.isFolder = true;
    c.folder = index;
    c.flags = 2;
    c.date = layout.buildDate;
    children.push_back(c);
    names.push_back({name, true});
  }
  discnames::NameFolderEntries(&names);  // unique ISO identifiers among the moved
  // Readers that show the folder list the moved ones under names of their own.
  std::set<std::string> used;
  for (discnames::FolderEntryName& n : names) {
    const std::string plain = n.discName;
    for (int k = 1; !used.insert(n.discName).second; ++k) n.discName = plain + "~" + std::to_string(k);
  }

  // A name no entry of the root has, in both of its forms.
  std::string iso = kMovedIso, name = kMovedName;
  auto taken = [&](const std::string& i, const std::string& n) {
    return std::any_of(rootNames->begin(), rootNames->end(),
                       [&](const discnames::FolderEntryName& e) { return e.iso == i || e.discName == n; });
  };
  for (int k = 1; taken(iso, name); ++k) {
    iso = kMovedIso + std::to_string(k);
    name = kMovedName + std::to_string(k);
  }
  layout.folders[self].iso = iso;
  if (!WriteFolderRecords(layout, self, 0, children, names)) return false;
  layout.folders[0].isoChildren.push_back(self);
  Child c;
  c.isFolder = c.isoOnly = true;
  c.folder = self;
  c.flags = 2;
  c.date = layout.buildDate;
  rootChildren->push_back(c);
  discnames::FolderEntryName entry{name, true};
  entry.iso = iso;
  rootNames->push_back(entry);
  return true;
}

// The files a file list names: their records-to-be, and their data in the
// data list (files of earlier sessions keep their place on the disc).
bool CDataFile::AddListedFiles(Layout& layout, const std::string& path, std::vector<Child>* children,
                               std::vector<discnames::FolderEntryName>* names) {
  FileListReader reader(path);
  if (!reader.ok()) {
    Fail("cannot read the file list " + path);
    return false;
  }
  FileListEntry e;
  while (reader.Next(&e)) {
    Child c;
    if (e.IsImported()) {
      ImportedEntry imported;
      if (!ParseImportedEntry(e.sourcePath, &imported) || imported.kind != ImportedEntry::kFile) {
        skipped_.push_back(e.sourcePath);
        continue;
      }
      c.location = imported.location;
      c.size = imported.size;
      c.furtherExtents = imported.extents;
      c.date = imported.date;
      c.attributes.mode = S_IFREG | 0644;
      c.attributes.modified = c.attributes.accessed = c.attributes.changed = rockridge::RecordTime(imported.date.data());
      if (imported.posix) {  // as the earlier session had it
        c.attributes.mode = imported.mode;
        c.attributes.uid = imported.uid;
        c.attributes.gid = imported.gid;
        c.attributes.modified = time_t(imported.modified);
        c.attributes.accessed = time_t(imported.accessed);
        c.attributes.changed = time_t(imported.changed);
        c.isLink = imported.link;
        c.linkTarget = imported.linkTarget;
      }
    } else if (struct stat ls; layout.rock && ::lstat(e.sourcePath.c_str(), &ls) == 0 && S_ISLNK(ls.st_mode)) {
      // Stored as the link it is: its target is never opened.
      if (!ReadLinkTarget(e.sourcePath, &c.linkTarget)) {
        skipped_.push_back(e.sourcePath);
        continue;
      }
      c.isLink = true;
      c.attributes = AttributesOf(ls);
      c.date = iso9660::MakeRecordDate(ls.st_mtime);
    } else {
      struct stat st;
      int fd = safefile::OpenForReading(e.sourcePath, nullptr, &st);
      if (fd >= 0) ::close(fd);
      if (fd < 0) {
        skipped_.push_back(e.sourcePath);  // left out of the volume; the pass goes on
        continue;
      }
      c.size = uint64_t(st.st_size);
      c.attributes = AttributesOf(st);
      c.date = iso9660::MakeRecordDate(st.st_mtime);
      // A file met before under another name takes its data once.
      const auto seen = layout.dataOf.find({st.st_dev, st.st_ino});
      if (seen != layout.dataOf.end()) {
        c.location = seen->second;
        children->push_back(c);
        names->push_back({e.discName, false});
        continue;
      }
      if (st.st_nlink > 1) layout.dataOf[{st.st_dev, st.st_ino}] = nextFileExtent_;
      c.location = nextFileExtent_;
      uint64_t sectors = std::max<uint64_t>(1, SectorsFor(c.size));
      if (uint64_t(nextFileExtent_) + sectors > 0xFFFFFFFFull) {
        Fail("the project is too large for one volume");
        return false;
      }
      nextFileExtent_ += uint32_t(sectors);
      if (!AddToDataList(layout, e.sourcePath, c.size)) return false;
    }
    children->push_back(c);
    names->push_back({e.discName, false});
  }
  if (!reader.error().empty()) {
    Fail(reader.error());
    return false;
  }
  return true;
}

// Refused names fail the layout; shortened Joliet names become notices; the
// subfolders learn their identifiers.
bool CDataFile::NameSubfolders(Layout& layout, const std::string& discPath, const std::vector<Child>& children,
                               const std::vector<discnames::FolderEntryName>& names) {
  for (size_t i = 0; i < names.size(); ++i) {
    std::string path = discPath + "/" + names[i].discName;
    if (names[i].refused) {
      Fail("the name \"" + path + "\" is not valid UTF-8 and cannot be written as a Joliet name");
      return false;
    }
    if (names[i].jolietShortened)
      notices_.push_back({LayoutNotice::kJolietShortened, path, Utf16ToUtf8(names[i].joliet)});
    if (children[i].isFolder) {
      Folder& f = layout.folders[children[i].folder];
      f.iso = names[i].iso;
      f.joliet = Utf16ToBigEndianBytes(names[i].joliet);
    }
  }
  return true;
}

namespace {

// The extents of a file's records: one, or for 4 GiB and more as many as it
// takes, each but the last with the multi-extent flag.
template <class C, class Put>
void ForEachExtent(const C& c, Put put) {
  if (!c.furtherExtents.empty()) {
    // As an earlier session left them: every extent but the last whole
    // sectors, as writers of several extents make them.
    uint64_t further = 0;
    for (const auto& extent : c.furtherExtents) further += extent.second;
    const uint64_t sectors = SectorsFor(c.size);
    const uint64_t firstSectors = sectors > further ? sectors - further : 0;
    uint64_t left = c.size;
    auto put1 = [&](uint32_t location, uint64_t count, bool last) {
      const uint64_t bytes = last ? left : std::min<uint64_t>(left, count * kSectorSize);
      left -= bytes;
      put(location, uint32_t(bytes), last ? uint8_t(0) : iso9660::kMultiExtent);
    };
    put1(c.location, firstSectors, false);
    for (size_t i = 0; i < c.furtherExtents.size(); ++i)
      put1(c.furtherExtents[i].first, c.furtherExtents[i].second, i + 1 == c.furtherExtents.size());
    return;
  }
  uint64_t left = c.size;
  uint32_t location = c.location;
  do {
    const uint32_t bytes = uint32_t(std::min<uint64_t>(left, kMaxExtentBytes));
    left -= bytes;
    put(location, bytes, left ? iso9660::kMultiExtent : uint8_t(0));
    location += bytes / kSectorSize;
  } while (left);
}

// The Rock Ridge entries of one ISO record.
std::vector<std::string> RockEntries(const rockridge::Attributes& raw, bool normalised, const std::string* name,
                                     const std::string* linkTarget) {
  const rockridge::Attributes a = normalised ? rockridge::Normalised(raw) : raw;
  std::vector<std::string> entries{rockridge::Presence(linkTarget != nullptr)};
  if (name)
    for (std::string& e : rockridge::Names(*name)) entries.push_back(std::move(e));
  entries.push_back(rockridge::Posix(a));
  entries.push_back(rockridge::Times(a));
  if (linkTarget)
    for (std::string& e : rockridge::Link(*linkTarget)) entries.push_back(std::move(e));
  return entries;
}

}  // namespace

bool CDataFile::WriteFolderRecords(Layout& layout, int self, int parent, const std::vector<Child>& children,
                                   const std::vector<discnames::FolderEntryName>& names) {
  // Records of both hierarchies, each sorted by its own identifiers.
  std::vector<size_t> isoOrder(children.size()), jolietOrder(children.size());
  for (size_t i = 0; i < children.size(); ++i) isoOrder[i] = jolietOrder[i] = i;
  std::stable_sort(isoOrder.begin(), isoOrder.end(),
                   [&](size_t a, size_t b) { return names[a].iso < names[b].iso; });
  std::stable_sort(jolietOrder.begin(), jolietOrder.end(),
                   [&](size_t a, size_t b) { return names[a].joliet < names[b].joliet; });

  Folder& me = layout.folders[self];
  me.attributes.links = 2;
  for (const Child& c : children) me.attributes.links += c.isFolder ? 1 : 0;

  // ISO records with their Rock Ridge entries; what does not fit a record
  // goes to the continuation area behind the folder's extent. Where each CE
  // entry's block field lies, to add the area's place once it is known.
  std::string isoExtent, jolietExtent, continuation;
  std::vector<size_t> inExtent, inContinuation;
  auto appendIso = [&](const std::string& ident, uint32_t location, uint32_t bytes, const iso9660::RecordDate& date,
                       uint8_t flags, const std::vector<std::string>& entries) {
    if (!layout.rock) {
      iso9660::AppendRecord(&isoExtent, Record(ident, location, bytes, date, flags));
      return;
    }
    const size_t room = iso9660::kMaxRecord - iso9660::RecordSize(ident.size());
    const rockridge::Placement placed = rockridge::Place(entries, room, &continuation);
    const std::string record = iso9660::MakeRecord({location, bytes, date, flags, ident, placed.systemUse});
    iso9660::AppendRecord(&isoExtent, record);
    const size_t useAt = isoExtent.size() - placed.systemUse.size();
    for (long at : placed.ceOffsets) {
      if (at < 0)
        inExtent.push_back(useAt + size_t(-1 - at));
      else
        inContinuation.push_back(size_t(at));
    }
  };

  const Folder& up = layout.folders[parent < 0 ? self : parent];
  const bool rockMoved = layout.rock && me.moved;
  std::vector<std::string> selfEntries = RockEntries(me.attributes, layout.normalised, nullptr, nullptr);
  if (parent < 0) {  // the root's "." says the volume carries Rock Ridge
    selfEntries.insert(selfEntries.begin(), rockridge::SharingIndicator());
    selfEntries.push_back(rockridge::Extension());
  }
  appendIso(iso9660::SelfIdent(), 0, 0, layout.buildDate, iso9660::kDirectory, selfEntries);
  me.isoParentAt = isoExtent.size();
  std::vector<std::string> parentEntries = RockEntries(up.attributes, layout.normalised, nullptr, nullptr);
  // A moved folder's ".." names the folder it belongs in first, where the
  // block is patched in once that folder has its place.
  if (rockMoved) parentEntries.insert(parentEntries.begin(), rockridge::ParentLink(0));
  appendIso(iso9660::ParentIdent(), 0, 0, layout.buildDate, iso9660::kDirectory, parentEntries);
  iso9660::AppendRecord(&jolietExtent, Record(iso9660::SelfIdent(), 0, 0, layout.buildDate, iso9660::kDirectory));
  iso9660::AppendRecord(&jolietExtent, Record(iso9660::ParentIdent(), 0, 0, layout.buildDate, iso9660::kDirectory));
  for (size_t i : isoOrder) {
    const Child& c = children[i];
    std::vector<std::string> entries =
        layout.rock ? RockEntries(c.isFolder ? layout.folders[c.folder].attributes : c.attributes,
                                  layout.normalised, &names[i].discName, c.isLink ? &c.linkTarget : nullptr)
                    : std::vector<std::string>{};
    if (c.moved) {  // an empty file whose CL leads to the folder where it stands
      entries.push_back(rockridge::ChildLink(layout.folders[c.folder].isoLocation));
      appendIso(names[i].iso, 0, 0, c.date, 0, entries);
    } else if (c.isFolder) {
      const Folder& f = layout.folders[c.folder];
      if (me.isoOnly) entries.push_back(rockridge::Relocated());
      appendIso(names[i].iso, f.isoLocation, SectorsFor(f.isoBytes) * kSectorSize, c.date, c.flags, entries);
    } else {
      // A file of 4 GiB or more: one record per extent, all but the last
      // saying another follows; each carries the whole POSIX view, as
      // readers take the name from the last.
      ForEachExtent(c, [&](uint32_t location, uint32_t bytes, uint8_t more) {
        appendIso(names[i].iso, location, bytes, c.date, uint8_t(c.flags | more), entries);
      });
    }
  }
  for (size_t i : jolietOrder) {
    const Child& c = children[i];
    if (c.isoOnly || me.isoOnly) continue;
    std::string ident = Utf16ToBigEndianBytes(names[i].joliet);
    if (c.isFolder) {
      const Folder& f = layout.folders[c.folder];
      iso9660::AppendRecord(&jolietExtent, Record(ident, f.jolietLocation,
                                                  SectorsFor(f.jolietBytes) * kSectorSize, c.date, c.flags));
    } else {
      ident += iso9660::JolietVersion();
      ForEachExtent(c, [&](uint32_t location, uint32_t bytes, uint8_t more) {
        iso9660::AppendRecord(&jolietExtent, Record(ident, location, bytes, c.date, uint8_t(c.flags | more)));
      });
    }
  }

  me.isoLocation = layout.isoCounter;
  me.isoBytes = uint32_t(isoExtent.size());
  if (me.isoOnly) jolietExtent.clear();
  me.jolietLocation = layout.jolietCounter;
  me.jolietBytes = uint32_t(jolietExtent.size());
  PatchRecord(&isoExtent, 0, me.isoLocation, me.isoBytes);
  if (!me.isoOnly) PatchRecord(&jolietExtent, 0, me.jolietLocation, me.jolietBytes);
  if (parent < 0) {  // the root is its own parent
    PatchRecord(&isoExtent, me.isoParentAt, me.isoLocation, me.isoBytes);
    PatchRecord(&jolietExtent, iso9660::kRootRecordSize, me.jolietLocation, me.jolietBytes);
  }
  const uint32_t continuationBlock = me.isoLocation + SectorsFor(isoExtent.size());
  for (size_t at : inExtent) rockridge::RebaseContinuation(reinterpret_cast<uint8_t*>(&isoExtent[at]), continuationBlock);
  for (size_t at : inContinuation)
    rockridge::RebaseContinuation(reinterpret_cast<uint8_t*>(&continuation[at]), continuationBlock);
  layout.isoCounter += SectorsFor(isoExtent.size()) + SectorsFor(continuation.size());
  layout.jolietCounter += SectorsFor(jolietExtent.size());
  if (!WritePadded(layout.isoExtents, isoExtent) || !WritePadded(layout.isoExtents, continuation) ||
      !WritePadded(layout.jolietExtents, jolietExtent)) {
    Fail("cannot write the directory extents in " + TempFolder());
    return false;
  }
  return true;
}

bool CDataFile::PatchParentRecords(Layout& layout) {
  const uint32_t isoStart = sessionStart_ + kFirstExtent;
  for (const Folder& f : layout.folders) {
    if (f.parent < 0) continue;
    const Folder& isoUp = layout.folders[f.isoParent];
    const uint64_t parentRecord = uint64_t(f.isoLocation - isoStart) * kSectorSize + f.isoParentAt;
    uint8_t fields[16];
    bytes::PutBoth32(fields, isoUp.isoLocation);
    bytes::PutBoth32(fields + 8, isoUp.isoBytes);
    if (!PatchAt(layout.isoExtents, parentRecord + 2, fields, 16))
      return Fail("cannot patch the directory extents in " + TempFolder()), false;
    const Folder& p = layout.folders[f.parent];
    if (f.moved && layout.rock) {  // PL, the first entry of the ".." record
      bytes::PutBoth32(fields, p.isoLocation);
      if (!PatchAt(layout.isoExtents, parentRecord + iso9660::RecordSize(1) + rockridge::kLinkBlockAt, fields, 8))
        return Fail("cannot patch the directory extents in " + TempFolder()), false;
    }
    if (f.isoOnly) continue;
    bytes::PutBoth32(fields, p.jolietLocation);
    bytes::PutBoth32(fields + 8, p.jolietBytes);
    if (!PatchAt(layout.jolietExtents, uint64_t(f.jolietLocation) * kSectorSize + 34 + 2, fields, 16))
      return Fail("cannot patch the directory extents in " + TempFolder()), false;
  }
  return true;
}

bool CDataFile::RebaseExtents(Layout& layout) {
  const uint32_t isoStart = sessionStart_ + kFirstExtent;
  const uint32_t fileShift = firstDataSector_ - sessionStart_;
  std::string extent;
  for (int pass = 0; pass < 2; ++pass) {
    const bool joliet = pass == 1;
    FILE* file = joliet ? layout.jolietExtents : layout.isoExtents;
    for (const Folder& f : layout.folders) {
      if (joliet && f.isoOnly) continue;
      uint64_t offset = joliet ? uint64_t(f.jolietLocation) * kSectorSize
                               : uint64_t(f.isoLocation - isoStart) * kSectorSize;
      uint32_t length = joliet ? f.jolietBytes : f.isoBytes;
      extent.assign(length, '\0');
      if (std::fseek(file, long(offset), SEEK_SET) != 0 ||
          std::fread(&extent[0], 1, length, file) != length) {
        Fail("cannot read back the directory extents in " + TempFolder());
        return false;
      }
      auto* p = reinterpret_cast<uint8_t*>(&extent[0]);
      for (size_t pos = 0; pos < length;) {
        uint8_t size = p[pos];
        if (size == 0) {  // the rest of this sector is padding
          pos = (pos / kSectorSize + 1) * kSectorSize;
          continue;
        }
        uint8_t* rec = p + pos;
        uint8_t* where = rec + iso9660::kRecordExtent;
        const uint32_t location = bytes::LE32(where);
        if (rec[iso9660::kRecordFlags] & iso9660::kDirectory) {
          if (joliet) bytes::PutBoth32(where, location + layout.jolietBase);
        } else if (location >= sessionStart_) {
          bytes::PutBoth32(where, location + fileShift);  // entries of earlier sessions stay
        }
        pos += size;
      }
      if (!PatchAt(file, offset, p, length)) {
        Fail("cannot rewrite the directory extents in " + TempFolder());
        return false;
      }
    }
  }
  return true;
}

bool CDataFile::AddToDataList(Layout& layout, const std::string& path, uint64_t size) {
  uint8_t head[12];
  bytes::PutLE64(head, size);
  bytes::PutLE32(head + 8, uint32_t(path.size()));
  if (std::fwrite(head, 1, 12, layout.dataList) != 12 ||
      std::fwrite(path.data(), 1, path.size(), layout.dataList) != path.size()) {
    Fail("cannot write the data list in " + TempFolder());
    return false;
  }
  return true;
}

namespace {

// The boot catalog and the patched boot image go to our own temporary files
// (made by MakeTempFile), written whole through the output primitive.
bool WriteTempFile(const std::string& path, const std::string& data) {
  std::string why;
  return WriteWholeFile(path, data, Existing::kReplace, &why);
}

}  // namespace

bool CDataFile::PlanBoot(Layout& layout) {
  if (!boot_.Any()) return true;
  std::string why;
  if (!eltorito::CheckBootOptions(boot_, false, sessionStart_ != 0, &why)) {
    Fail(why);
    return false;
  }
  // Each boot file is a data-list entry of its own, served like any file.
  auto place = [&](const std::string& path, uint64_t size, uint32_t* sector) {
    *sector = nextFileExtent_;
    nextFileExtent_ += std::max<uint32_t>(1, SectorsFor(size));
    return AddToDataList(layout, path, size);
  };
  const std::string catalogPath = MakeTempFile();
  if (catalogPath.empty()) return Fail("cannot create a temporary file in " + TempFolder()), false;
  bootFiles_.push_back(catalogPath);
  if (!place(catalogPath, kSectorSize, &layout.catalog)) return false;
  if (!boot_.biosImage.empty()) {
    // The image is patched (the boot information table), so a copy is served.
    const int fd = safefile::OpenForReading(boot_.biosImage, &why);
    if (fd < 0) return Fail("the boot image cannot be read: " + why), false;
    char chunk[65536];
    ssize_t got;
    while ((got = ::read(fd, chunk, sizeof chunk)) > 0 && layout.biosData.size() <= eltorito::kMaxImageBytes)
      layout.biosData.append(chunk, size_t(got));
    ::close(fd);
    if (got < 0 || layout.biosData.size() > eltorito::kMaxImageBytes || layout.biosData.size() < 64)
      return Fail("the boot image " + boot_.biosImage + " cannot be read whole or changed its size"), false;
    const std::string biosPath = MakeTempFile();
    if (biosPath.empty()) return Fail("cannot create a temporary file in " + TempFolder()), false;
    bootFiles_.push_back(biosPath);
    if (!place(biosPath, layout.biosData.size(), &layout.bios)) return false;
  }
  if (!boot_.efiImage.empty()) {
    struct stat st;
    if (::stat(boot_.efiImage.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      return Fail("the EFI image " + boot_.efiImage + " cannot be read"), false;
    layout.efiBytes = uint64_t(st.st_size);
    if (!place(boot_.efiImage, layout.efiBytes, &layout.efi)) return false;
  }
  return true;
}

bool CDataFile::FinishBoot(Layout& layout) {
  if (!boot_.Any()) return true;
  // Final sectors are never 0: the data area lies behind the descriptors.
  const uint32_t shift = firstDataSector_ - sessionStart_;
  layout.catalog += shift;
  if (!boot_.biosImage.empty()) layout.bios += shift;
  if (!boot_.efiImage.empty()) layout.efi += shift;
  const std::string catalog =
      eltorito::BootCatalog({layout.bios, boot_.loadSectors, layout.efi, layout.efiBytes});
  eltorito::PatchBootInfoTable(&layout.biosData, sessionStart_ + 16, layout.bios);
  if (!WriteTempFile(bootFiles_[0], catalog) || (layout.bios && !WriteTempFile(bootFiles_[1], layout.biosData))) {
    Fail("cannot write the boot catalog in " + TempFolder());
    return false;
  }
  if (!boot_.mbrTemplate.empty()) {
    std::string code(eltorito::kMbrCodeBytes, '\0');
    const int fd = safefile::OpenForReading(boot_.mbrTemplate, nullptr);
    const ssize_t got = fd >= 0 ? ::read(fd, &code[0], code.size()) : -1;
    if (fd >= 0) ::close(fd);
    if (got != ssize_t(code.size())) {
      Fail("the MBR template " + boot_.mbrTemplate + " cannot be read");
      return false;
    }
    systemArea_ = eltorito::HybridMbr(code, GetTrackLength(), layout.bios);
  }
  return true;
}

bool CDataFile::WritePathTables(Layout& layout) {
  // Each hierarchy level by level, numbered as it is listed.
  auto list = [&](bool joliet, std::string* little, std::string* big) {
    std::vector<int> level{0};  // the root is folder 0
    std::vector<uint16_t> number(layout.folders.size(), 0);
    uint16_t next = 1;
    number[0] = next++;
    const Folder& root = layout.folders[0];
    const uint32_t rootLocation = joliet ? root.jolietLocation + layout.jolietBase : root.isoLocation;
    *little = iso9660::PathTableRecord(std::string(1, '\0'), rootLocation, 1, false);
    *big = iso9660::PathTableRecord(std::string(1, '\0'), rootLocation, 1, true);
    while (!level.empty()) {
      std::vector<int> below;
      for (int parent : level) {
        const Folder& p = layout.folders[parent];
        for (int child : joliet ? p.children : p.isoChildren) {
          const Folder& f = layout.folders[child];
          const std::string& ident = joliet ? f.joliet : f.iso;
          const uint32_t location = joliet ? f.jolietLocation + layout.jolietBase : f.isoLocation;
          *little += iso9660::PathTableRecord(ident, location, number[parent], false);
          *big += iso9660::PathTableRecord(ident, location, number[parent], true);
          number[child] = next++;
          below.push_back(child);
        }
      }
      level.swap(below);
    }
  };
  list(false, &layout.isoL, &layout.isoM);
  list(true, &layout.jolietL, &layout.jolietM);
  return true;
}

bool CDataFile::WriteMetadataImage(Layout& layout) {
  const Folder& root = layout.folders[0];
  const uint32_t isoL = firstDataSector_ - SectorsFor(layout.isoL.size()) - SectorsFor(layout.isoM.size()) -
                        SectorsFor(layout.jolietL.size()) - SectorsFor(layout.jolietM.size());
  const uint32_t isoM = isoL + SectorsFor(layout.isoL.size());
  const uint32_t jolietL = isoM + SectorsFor(layout.isoM.size());
  const uint32_t jolietM = jolietL + SectorsFor(layout.jolietL.size());
  // Readers check extents against the volume size, so it counts every
  // sector up to the end of this session, earlier sessions included.
  const uint32_t volumeEnd = sessionStart_ + volumeSpaceSize_;

  auto volume = [&](uint8_t* d, uint8_t type, uint32_t pathTableSize, uint32_t pathL, uint32_t pathM,
                    uint32_t rootLocation, uint32_t rootBytes) {
    iso9660::PutDescriptorHead(d, type);
    iso9660::PutVolumeFields(d, {volumeEnd, pathTableSize, pathL, pathM,
                                 Record(iso9660::SelfIdent(), rootLocation, SectorsFor(rootBytes) * kSectorSize,
                                        layout.buildDate, iso9660::kDirectory)});
  };

  std::string head(11 * kSectorSize, '\0');  // sectors 16-26
  uint8_t* pvd = reinterpret_cast<uint8_t*>(&head[0]);
  volume(pvd, iso9660::kPrimaryType, uint32_t(layout.isoL.size()), isoL, isoM, root.isoLocation, root.isoBytes);
  iso9660::FillBlanks(pvd + iso9660::kSystemId, 32, false);
  bytes::PutText(pvd + iso9660::kVolumeId, 32, label_.data(), label_.size());
  iso9660::FillBlanks(pvd + iso9660::kVolumeSetId, 384, false);  // volume set, publisher, preparer
  std::memcpy(pvd + iso9660::kApplicationId, kApplicationId, 33);
  iso9660::FillBlanks(pvd + iso9660::kCopyrightFile, 111, false);  // copyright, abstract, bibliography
  iso9660::PutVolumeDates(pvd, layout.buildTime);

  // The Joliet descriptor leaves the dates and texts beyond the label empty.
  uint8_t* svd = pvd + kSectorSize;
  if (boot_.Any()) {  // the boot record stands at sector 17
    const std::string record = eltorito::BootRecord(layout.catalog);
    std::memcpy(svd, record.data(), kSectorSize);
    svd += kSectorSize;
  }
  volume(svd, iso9660::kSupplementaryType, uint32_t(layout.jolietL.size()), jolietL, jolietM,
         root.jolietLocation + layout.jolietBase, root.jolietBytes);
  iso9660::FillBlanks(svd + iso9660::kSystemId, 32, true);
  const std::string jolietLabel = iso9660::JolietText(label_, 16);
  std::memcpy(svd + iso9660::kVolumeId, jolietLabel.data(), jolietLabel.size());
  iso9660::PutJolietEscapes(svd);
  iso9660::PutTerminator(svd + kSectorSize);

  FILE* out = std::fopen(metadataPath_.c_str(), "wb");
  if (!out) {
    Fail("cannot create the metadata image in " + TempFolder());
    return false;
  }
  bool ok = std::fwrite(head.data(), 1, head.size(), out) == head.size();
  std::vector<char> chunk(1 << 16);
  for (FILE* extents : {layout.isoExtents, layout.jolietExtents}) {
    std::fflush(extents);
    std::rewind(extents);
    size_t got;
    while (ok && (got = std::fread(chunk.data(), 1, chunk.size(), extents)) > 0)
      ok = std::fwrite(chunk.data(), 1, got, out) == got;
  }
  for (const std::string* table : {&layout.isoL, &layout.isoM, &layout.jolietL, &layout.jolietM})
    ok = ok && WritePadded(out, *table);
  long length = ok ? std::ftell(out) : -1;
  ok = (std::fclose(out) == 0) && ok && length > 0;
  if (!ok) {
    Fail("cannot write the metadata image in " + TempFolder());
    return false;
  }
  metadataLength_ = uint32_t(length / kSectorSize);
  return true;
}

uint32_t CDataFile::GetTrackLength() const {
  // Whole 16-sector blocks, and never shorter than the 600 sectors a CD
  // track needs (600 itself for small volumes).
  return std::max((volumeSpaceSize_ + 15) / 16 * 16, kMinTrackLength);
}

std::string CDataFile::GetCurrentSourceFile() const {
  std::lock_guard<std::mutex> lock(pathLock_);
  return currentPath_;
}

int CDataFile::GetSectorData(uint8_t* buffer, uint32_t byteCount) {
  const uint32_t k = ++cursor_;
  if (k <= 16) {
    if (k == 1 && !systemArea_.empty()) {
      std::memset(buffer, 0, byteCount);
      std::memcpy(buffer, systemArea_.data(), std::min<size_t>(byteCount, systemArea_.size()));
    }
    return 0;
  }
  if (k <= 16 + metadataLength_) {
    size_t got = 0;
    if (metadata_ && std::fseek(metadata_, long(k - 17) * kSectorSize, SEEK_SET) == 0)
      got = std::fread(buffer, 1, byteCount, metadata_);
    // The volume's own descriptors are gone: the disc would be unreadable.
    if (got != byteCount) {
      if (!metadataUnreadable_ && listener_) listener_->SourceUnreadable(metadataPath_);
      metadataUnreadable_ = true;
      return -1;
    }
    return 0;
  }
  if (k > volumeSpaceSize_) return 0;
  ServeFileData(buffer, byteCount);
  return 0;
}

void CDataFile::GetSectors(uint8_t* out, uint32_t count) {
  for (uint32_t i = 0; i < count;) {
    uint8_t* at = out + size_t(i) * kSectorSize;
    const uint32_t k = cursor_ + 1;
    if (k > 16 + metadataLength_ && k <= volumeSpaceSize_) {
      if (!dataOpen_) OpenNextDataFile();
      // Sectors wholly covered by the current file go straight from the file.
      uint64_t whole = dataOpen_ && !dataFailed_ && currentOffset_ < currentSize_
                           ? (currentSize_ - currentOffset_) / kSectorSize : 0;
      uint32_t n = uint32_t(std::min<uint64_t>({whole, count - i, volumeSpaceSize_ - cursor_}));
      if (n > 0) {
        size_t want = size_t(n) * kSectorSize, got = 0;
        while (got < want) {
          ssize_t r = pread(dataFd_, at + got, want - got, off_t(currentOffset_ + got));
          if (r <= 0) {
            if (r < 0) {
              dataFailed_ = true;
              if (listener_) listener_->SourceUnreadable(currentPath_);
            }
            break;  // what the file no longer holds stays zero
          }
          got += size_t(r);
        }
        std::memset(at + got, 0, want - got);
        cursor_ += n;
        currentOffset_ += want;
        readAheadLength_ = 0;
        if (currentOffset_ >= currentSize_) {
          ::close(dataFd_);
          dataFd_ = -1;
          dataOpen_ = false;
        }
        i += n;
        continue;
      }
    }
    std::memset(at, 0, kSectorSize);
    GetSectorData(at, kSectorSize);
    ++i;
  }
}

void CDataFile::OpenNextDataFile() {
  uint8_t head[12];
  dataOpen_ = false;
  if (!dataList_ || std::fread(head, 1, 12, dataList_) != 12) return;
  uint32_t pathLength = bytes::LE32(head + 8);
  std::string path(pathLength, '\0');
  if (pathLength && std::fread(&path[0], 1, pathLength, dataList_) != pathLength) return;
  {
    std::lock_guard<std::mutex> lock(pathLock_);
    currentPath_ = path;
  }
  currentSize_ = bytes::LE64(head);
  currentOffset_ = 0;
  readAheadLength_ = 0;
  dataOpen_ = true;
  dataFailed_ = false;
  dataFd_ = safefile::OpenForReading(path, nullptr);
  if (dataFd_ < 0) {
    dataFailed_ = true;
    if (listener_) listener_->SourceUnreadable(path);
    return;
  }
  if (currentSize_ > kReadAhead) posix_fadvise(dataFd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

void CDataFile::ServeFileData(uint8_t* buffer, uint32_t byteCount) {
  if (!dataOpen_) OpenNextDataFile();
  if (!dataOpen_) return;
  if (!dataFailed_ && currentOffset_ < currentSize_) {
    bool inBuffer = currentOffset_ >= readAheadStart_ && currentOffset_ < readAheadStart_ + readAheadLength_;
    if (!inBuffer) {
      size_t want = size_t(std::min<uint64_t>(readAhead_.size(), currentSize_ - currentOffset_));
      ssize_t got = pread(dataFd_, readAhead_.data(), want, off_t(currentOffset_));
      readAheadStart_ = currentOffset_;
      readAheadLength_ = got > 0 ? size_t(got) : 0;
      if (got < 0) {
        dataFailed_ = true;
        if (listener_) listener_->SourceUnreadable(currentPath_);
      }
    }
    // What the file no longer holds (it shrank since the layout) stays zero.
    uint64_t at = currentOffset_ - readAheadStart_;
    if (at < readAheadLength_) {
      size_t n = size_t(std::min<uint64_t>({byteCount, readAheadLength_ - at, currentSize_ - currentOffset_}));
      std::memcpy(buffer, readAhead_.data() + at, n);
    }
  }
  currentOffset_ += byteCount;
  if (currentOffset_ >= currentSize_) {  // an empty file is served once, as one zero sector
    if (dataFd_ >= 0) ::close(dataFd_);
    dataFd_ = -1;
    dataOpen_ = false;
  }
}
