#include "authoring/CVCDFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ByteFields.h"
#include "DevTypes.h"
#include "SafeFile.h"
#include "VcdTracks.h"
#include "foundation/ProgramDir.h"

namespace {

using vcdtpl::kSector;

// A disc address as BCD minutes, seconds and frames.
void PutMsf(uint8_t* p, long lba) {
  const Msf m = FramesToMsf(lba + kMsfOfLbaZero);
  p[0] = ToBcd(m.M);
  p[1] = ToBcd(m.S);
  p[2] = ToBcd(m.F);
}

// Offsets of the play sequence are counted in 8-byte units; each play list
// of one item is 16 bytes.
constexpr size_t kPlayListSize = 16;
constexpr uint16_t kListUnits = kPlayListSize / 8;

enum class TvSystem { Unknown, Pal, Ntsc };

// The system the first MPEG sequence header of an item names by its frame
// rate (25 and 50 a second are PAL). A ".DAT" item holds its stream in raw
// sectors, so the header is found there too; an item without one in its
// first bytes is Unknown.
TvSystem TvSystemOf(const std::string& path) {
  std::string why;
  const int fd = safefile::OpenForReading(path, &why);
  if (fd < 0) return TvSystem::Unknown;
  std::vector<uint8_t> head(256 * 1024);
  const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
  ::close(fd);
  for (ssize_t i = 0; i + 8 <= got; ++i) {
    if (head[size_t(i)] != 0 || head[size_t(i) + 1] != 0 || head[size_t(i) + 2] != 1 || head[size_t(i) + 3] != 0xB3)
      continue;
    switch (head[size_t(i) + 7] & 0x0F) {
      case 3:
      case 6:
        return TvSystem::Pal;
      case 1:
      case 2:
      case 4:
      case 5:
      case 7:
      case 8:
        return TvSystem::Ntsc;
      default:
        return TvSystem::Unknown;
    }
  }
  return TvSystem::Unknown;
}

}  // namespace

CVCDFile::CVCDFile() : CVCDFile(vcdtpl::Kind::VideoCd, kVideoCdFirstTrack) {}

CVCDFile::CVCDFile(vcdtpl::Kind kind, long firstTrack)
    : kind_(kind), firstTrack_(firstTrack), resourceFolder_(GetProgramDir() + "Tamsin/") {}

bool CVCDFile::Fail(const std::string& why) {
  error_ = why;
  return false;
}

long CVCDFile::GetTrackStart(int k) const { return k >= 1 && k <= int(starts_.size()) ? starts_[size_t(k) - 1] : 0; }
long CVCDFile::GetTrackSectors(int k) const {
  return k >= 1 && k <= int(sectors_.size()) ? sectors_[size_t(k) - 1] : 0;
}
uint32_t CVCDFile::GetRecordedSize(int k) const {
  long s = GetTrackSectors(k);
  return s > vcdtracks::kFrontMargin ? uint32_t(s - vcdtracks::kFrontMargin) * uint32_t(kSector) : 0;
}
long CVCDFile::GetControlSectors() const { return firstTrack_ - vcdtracks::kTrackGap; }

bool CVCDFile::Prepare(const std::string& label, int count, const std::vector<std::string>& paths) {
  image_ = TempFile();
  starts_.clear();
  sectors_.clear();
  discEnd_ = 0;
  error_.clear();
  if (!MeasureItems(count, paths)) return false;
  std::vector<uint8_t> image;
  if (!LoadTemplate(&image)) return false;
  PatchVolume(image, label);
  PatchMpegFolder(image);
  PatchEntries(image);
  PatchPlayLists(image);
  PatchPalFlags(image);
  PatchOwnTables(image);
  image.resize(size_t(GetControlSectors()) * kSector, 0);
  return WriteImage(image);
}

bool CVCDFile::MeasureItems(int count, const std::vector<std::string>& paths) {
  if (count < 1 || count > vcdtracks::kMaxItems || size_t(count) > paths.size())
    return Fail("a video disc takes 1 to " + std::to_string(vcdtracks::kMaxItems) + " MPEG items, not " +
                std::to_string(count));
  paths_.assign(paths.begin(), paths.begin() + count);
  long start = firstTrack_;
  for (int k = 0; k < count; ++k) {
    const int64_t sectors = vcdtracks::ItemSectors(paths[size_t(k)]);
    // An item that cannot be read would become an empty track that no
    // player plays: the whole disc is refused instead.
    if (sectors < 0) return Fail("cannot read the MPEG file " + paths[size_t(k)] + " (missing, not a file, or empty)");
    starts_.push_back(start);
    sectors_.push_back(long(sectors));
    discEnd_ = start + long(sectors);
    start = discEnd_ + vcdtracks::kTrackGap;
    if (start > 0x7FFFFFFF / int(kSector)) return Fail("the MPEG items are far too large for a disc");
  }
  return true;
}

bool CVCDFile::LoadTemplate(std::vector<uint8_t>* image) {
  const std::string path = resourceFolder_ + std::to_string(vcdtpl::ResourceNumber(kind_)) + ".dat";
  std::string why;
  int fd = safefile::OpenForReading(path, &why);
  if (fd < 0) return Fail("resource missing: " + path);
  const size_t size = size_t(vcdtpl::TemplateSectors(kind_)) * kSector;
  image->assign(size, 0);
  ssize_t got = ::pread(fd, image->data(), size, 0);
  ::close(fd);
  if (got != ssize_t(size)) return Fail("resource damaged (shorter than its " + std::to_string(size / kSector) +
                                        " sectors): " + path);
  if (std::memcmp(image->data() + vcdtpl::kPrimary * kSector + 1, "CD001", 5) != 0)
    return Fail("resource damaged (no volume descriptor): " + path);
  const long shortest = std::max(long(vcdtpl::TemplateSectors(kind_)), kMinTrackSectors);
  if (GetControlSectors() < shortest)
    return Fail("the first MPEG track cannot start before sector " + std::to_string(shortest + vcdtracks::kTrackGap));
  return true;
}

void CVCDFile::PatchVolume(std::vector<uint8_t>& image, const std::string& label) const {
  // The whole field is the label, blank-padded: nothing of the template's
  // own name may show behind a shorter label.
  bytes::PutText(image.data() + vcdtpl::kVolumeId, 32, label.data(), label.size(), ' ');
  bytes::PutBoth32(image.data() + vcdtpl::kVolumeSpaceSize, uint32_t(discEnd_));
}

void CVCDFile::PatchMpegFolder(std::vector<uint8_t>& image) const {
  const std::time_t when = buildTime_ ? buildTime_ : std::time(nullptr);
  size_t at = vcdtpl::kMpegRecords;
  const size_t end = size_t(vcdtpl::kMpegDir + vcdtpl::kMpegDirSectors) * kSector;
  for (size_t k = 1; k <= starts_.size(); ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "AVSEQ%02zu%s;1", k, vcdtpl::TrackExtension(kind_));
    // A record never crosses a sector: the next one starts on the next sector.
    if (at % kSector + vcdtpl::kMpegRecordSize > kSector) at = (at / kSector + 1) * kSector;
    if (at + vcdtpl::kMpegRecordSize > end) break;  // cannot happen below kMaxItems
    vcdtpl::PutDirRecord(image.data() + at, name, uint32_t(starts_[k - 1]), GetRecordedSize(int(k)), false,
                         vcdtpl::kXaForm2, 1, when);
    at += vcdtpl::kMpegRecordSize;
  }
}

void CVCDFile::PatchEntries(std::vector<uint8_t>& image) const {
  bytes::PutBE16(image.data() + vcdtpl::kEntryCount, uint16_t(starts_.size()));
  uint8_t* e = image.data() + vcdtpl::kEntryTable;
  for (size_t k = 0; k < starts_.size(); ++k, e += 4) {
    e[0] = ToBcd(int(k) + 2);  // MPEG item k+1 is disc track k+2
    PutMsf(e + 1, starts_[k] + vcdtracks::kFrontMargin);  // where its MPEG data begins
  }
}

void CVCDFile::PatchPlayLists(std::vector<uint8_t>& image) const {
  const uint16_t n = uint16_t(starts_.size());
  std::vector<uint8_t> psd(size_t(n) * kPlayListSize + 8, 0);
  for (uint16_t k = 1; k <= n; ++k) {
    uint8_t* p = psd.data() + size_t(k - 1) * kPlayListSize;
    p[0] = 0x10;  // play list
    p[1] = 1;     // one item
    bytes::PutBE16(p + 2, k);
    // List k sits at offset (k-1) units × 2: the previous list one step
    // back, the next one step on (after the last: the end list).
    bytes::PutBE16(p + 4, k == 1 ? 0xFFFF : uint16_t((k - 2) * kListUnits));
    bytes::PutBE16(p + 6, uint16_t(k * kListUnits));
    bytes::PutBE16(p + 8, uint16_t(n * kListUnits));
    bytes::PutBE16(p + 10, 0);  // playing time: the whole item
    p[12] = 5;                  // wait time
    p[13] = 0;                  // auto wait
    bytes::PutBE16(p + 14, uint16_t(k + 1));
  }
  psd[size_t(n) * kPlayListSize] = 0x1F;  // end list
  const uint32_t psdSize = uint32_t(psd.size());

  std::vector<uint8_t> lot(size_t(vcdtpl::kLotSectors) * kSector, 0xFF);
  lot[0] = lot[1] = 0;
  // Entry k is where list k starts; the end list has no id and no entry
  // (an entry for it would name a list beyond the highest id).
  for (uint16_t k = 1; k <= n; ++k) bytes::PutBE16(lot.data() + 2 * size_t(k), uint16_t((k - 1) * kListUnits));

  const bool copies = kind_ == vcdtpl::Kind::VideoCd;
  for (uint32_t sector : {vcdtpl::kPsd, copies ? vcdtpl::kPsdCopy : 0u})
    if (sector) std::memcpy(image.data() + size_t(sector) * kSector, psd.data(), psd.size());
  for (uint32_t sector : {vcdtpl::kLot, copies ? vcdtpl::kLotCopy : 0u})
    if (sector) std::memcpy(image.data() + size_t(sector) * kSector, lot.data(), lot.size());
  bytes::PutBoth32(image.data() + vcdtpl::kPsdSizeField, psdSize);
  if (copies) bytes::PutBoth32(image.data() + vcdtpl::kPsdCopySizeField, psdSize);
  bytes::PutBE32(image.data() + vcdtpl::kInfoPsdSize, psdSize);
  bytes::PutBE16(image.data() + vcdtpl::kInfoLotEntries, n);
}

void CVCDFile::PatchPalFlags(std::vector<uint8_t>& image) const {
  uint8_t* flags = image.data() + vcdtpl::kInfoPalFlags;
  std::memset(flags, 0, 13);
  for (size_t k = 0; k < paths_.size(); ++k) {
    const TvSystem own = TvSystemOf(paths_[k]);
    if (own == TvSystem::Pal || (own == TvSystem::Unknown && pal_)) flags[k / 8] |= uint8_t(1u << (k % 8));
  }
}

void CVCDFile::PatchOwnTables(std::vector<uint8_t>&) {}

bool CVCDFile::WriteImage(const std::vector<uint8_t>& image) {
  TempFile file("tmp");
  if (!file.ok()) return Fail("cannot create a temporary file in " + TempFolder());
  int fd = ::open(file.path().c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  bool ok = fd >= 0 && safefile::WriteAll(fd, image.data(), image.size()) && ::fsync(fd) == 0;
  ok = (fd >= 0 && ::close(fd) == 0) && ok;
  if (!ok) return Fail("cannot write the control track " + file.path() + ": " + safefile::ErrorText(errno));
  image_ = std::move(file);
  return true;
}
