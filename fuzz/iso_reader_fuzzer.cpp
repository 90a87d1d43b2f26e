// libFuzzer target for the ISO 9660 / Joliet reader of the disc analysis.
// The input is an image from its sector 16 on (the system area before it
// is never read); a last partial page reads as zeros. run-iso.sh makes seeds
// from images of our own writer, genisoimage and xorriso.
//
// The reader must end every input with a result: no crash, no read outside
// its buffers (AddressSanitizer), no hang on loops or huge directories
// (libFuzzer's -timeout), and no name that is not one safe path component.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "analysis/CAnaly_ISO.h"
#include "analysis/CGetCDData.h"
#include "SectorSizes.h"

namespace {

constexpr uint32_t kSector = kDataSectorSize;
constexpr uint32_t kFirst = 16;

class TailSource : public UdfSectorSource {
 public:
  TailSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool ReadSectors(uint32_t sector, uint32_t count, uint8_t* out) override {
    if (uint64_t(sector) + count > SectorCount()) return false;
    for (uint32_t i = 0; i < count; ++i) {
      uint8_t* page = out + size_t(i) * kSector;
      std::memset(page, 0, kSector);
      uint64_t s = uint64_t(sector) + i;
      if (s < kFirst) continue;
      uint64_t at = (s - kFirst) * kSector;
      if (at < size_) std::memcpy(page, data_ + at, std::min<uint64_t>(kSector, size_ - at));
    }
    return true;
  }
  uint64_t SectorCount() const override { return kFirst + (size_ + kSector - 1) / kSector; }

 private:
  const uint8_t* data_;
  size_t size_;
};

class Check : public UdfWalkListener {
 public:
  bool Entry(const UdfEntry& e) override {
    if (e.name.empty() || e.name.find('/') != std::string::npos || e.name.find('\0') != std::string::npos ||
        e.name == "." || e.name == "..")
      std::abort();
    std::string safe = SafeLocalName(e.name);
    if (safe.empty() || safe.size() > CGetCDData::kMaxNameBytes || safe == "." || safe == ".." ||
        safe.find('/') != std::string::npos)
      std::abort();
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TailSource source(data, size);
  CAnaly_ISO iso;
  if (!iso.Open(&source, 0)) return 0;
  Check check;
  iso.Walk(&check);
  return 0;
}
