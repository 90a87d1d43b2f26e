#include "app/ImageTracks.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "FileSystemCheck.h"
#include "SectorSizes.h"

namespace {

constexpr uint32_t kSector = kDataSectorSize;
constexpr uint32_t kMaxFolderBytes = 16u << 20;  // a folder larger than this is damaged

class Image {
 public:
  explicit Image(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat st;
    if (fd_ >= 0 && fstat(fd_, &st) == 0) size_ = uint64_t(st.st_size);
  }
  ~Image() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  uint64_t size() const { return size_; }
  bool Read(uint64_t offset, void* buffer, size_t length) const {
    if (offset > size_ || length > size_ - offset) return false;
    return ::pread(fd_, buffer, length, off_t(offset)) == ssize_t(length);
  }

 private:
  int fd_;
  uint64_t size_ = 0;
};

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

struct Extent {
  uint32_t lba = 0;
  uint32_t length = 0;
};

bool ReadFolder(const Image& image, Extent extent, std::vector<ImageDirEntry>* out) {
  if (extent.length > kMaxFolderBytes) return false;
  std::vector<uint8_t> data(extent.length);
  if (!image.Read(uint64_t(extent.lba) * kSector, data.data(), data.size())) return false;
  size_t pos = 0;
  while (pos < data.size()) {
    uint8_t len = data[pos];
    if (len == 0) {  // the rest of this sector is padding
      pos = (pos / kSector + 1) * kSector;
      continue;
    }
    if (len < 34 || pos + len > data.size()) return false;
    const uint8_t* r = &data[pos];
    uint8_t nameLen = r[32];
    if (33 + nameLen > len) return false;
    std::string name(reinterpret_cast<const char*>(r + 33), nameLen);
    pos += len;
    if (nameLen == 1 && (name[0] == 0 || name[0] == 1)) continue;  // "." and ".."
    ImageDirEntry e;
    size_t semi = name.find(';');
    if (semi != std::string::npos) name.resize(semi);
    if (!name.empty() && name.back() == '.') name.pop_back();
    e.name = name;
    e.folder = (r[25] & 2) != 0;
    e.lba = Le32(r + 2);
    e.size = Le32(r + 10);
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d", 1900 + r[18], r[19], r[20], r[21], r[22]);
    e.date = date;
    out->push_back(e);
  }
  return true;
}

}  // namespace

bool ReadImageTracks(const std::string& imagePath, std::vector<ImageTrack>* tracks, std::string* error) {
  tracks->clear();
  Image image(imagePath);
  if (!image.ok()) {
    if (error) *error = "cannot open " + imagePath;
    return false;
  }
  if (image.size() < 17 * kSector) {
    if (error) *error = imagePath + " is too short to be a disc image";
    return false;
  }
  ImageTrack t;
  const int fs = fscheck::Judge(
      [&](uint32_t sector, uint8_t* out) { return image.Read(uint64_t(sector) * kSector, out, kSector); });
  t.iso = fs & fscheck::kIso9660;
  t.udf = fs & fscheck::kUdf;
  tracks->push_back(t);
  return true;
}

bool ListIsoFolder(const std::string& imagePath, const std::string& folder, std::vector<ImageDirEntry>* entries) {
  entries->clear();
  Image image(imagePath);
  uint8_t pvd[kSector];
  if (!image.ok() || !image.Read(16 * kSector, pvd, kSector) || pvd[0] != 1 ||
      std::memcmp(pvd + 1, "CD001", 5) != 0)
    return false;
  Extent at{Le32(pvd + 156 + 2), Le32(pvd + 156 + 10)};
  size_t pos = 0;
  while (pos < folder.size()) {
    while (pos < folder.size() && folder[pos] == '/') ++pos;
    if (pos >= folder.size()) break;
    size_t end = folder.find('/', pos);
    std::string part = folder.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? folder.size() : end;
    std::vector<ImageDirEntry> here;
    if (!ReadFolder(image, at, &here)) return false;
    bool found = false;
    for (const ImageDirEntry& e : here) {
      if (e.folder && strcasecmp(e.name.c_str(), part.c_str()) == 0) {
        at = {e.lba, uint32_t(e.size)};
        found = true;
        break;
      }
    }
    if (!found) return false;
  }
  return ReadFolder(image, at, entries);
}
