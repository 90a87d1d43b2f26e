// libFuzzer target for the UDF reader. A UDF volume needs sector 256 and
// more, so the input is not a whole image: it is a run of 2048-byte pages
// placed at the sectors where volumes keep their structures (see kPlaces);
// every other sector reads as zeros. make_seed.py turns images into inputs.
//
// The reader must end every input with a result: no crash, no read outside
// its buffers (AddressSanitizer), no hang (libFuzzer's -timeout).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "authoring/CAnaly_UDF.h"
#include "authoring/CECMA167.h"
#include "SectorSizes.h"

namespace {

constexpr uint32_t kSector = kDataSectorSize;

// Sector of each page before the pages that follow sector 256 one to one.
std::vector<uint32_t> FixedPlaces() {
  std::vector<uint32_t> places = {16, 17, 18};
  for (uint32_t s = 32; s < 48; ++s) places.push_back(s);
  places.push_back(64);
  places.push_back(65);
  for (uint32_t s = 96; s < 112; ++s) places.push_back(s);
  places.push_back(128);
  places.push_back(160);
  return places;
}

class PageSource : public UdfSectorSource {
 public:
  PageSource(const uint8_t* data, size_t size) : data_(data), pages_(size / kSector) {
    fixed_ = FixedPlaces();
  }
  bool ReadSectors(uint32_t sector, uint32_t count, uint8_t* out) override {
    if (uint64_t(sector) + count > SectorCount()) return false;
    for (uint32_t i = 0; i < count; ++i) {
      uint8_t* o = out + size_t(i) * kSector;
      long page = PageOf(sector + i);
      if (page < 0 || size_t(page) >= pages_)
        std::memset(o, 0, kSector);
      else
        std::memcpy(o, data_ + size_t(page) * kSector, kSector);
    }
    return true;
  }
  uint64_t SectorCount() const override {
    return pages_ > fixed_.size() ? 256 + (pages_ - fixed_.size()) : 256;
  }

 private:
  long PageOf(uint32_t sector) const {
    if (sector >= 256) return long(fixed_.size() + (sector - 256));
    for (size_t i = 0; i < fixed_.size(); ++i)
      if (fixed_[i] == sector) return long(i);
    return -1;
  }
  const uint8_t* data_;
  size_t pages_;
  std::vector<uint32_t> fixed_;
};

class Sink : public UdfWalkListener {
 public:
  bool Entry(const UdfEntry& e) override {
    ImportedEntry imported;
    e.ToImportedEntry(&imported);
    count += e.name.size() + e.sectors.size();
    return true;
  }
  size_t count = 0;
};

void Read(const uint8_t* data, size_t size) {
  PageSource source(data, size);
  for (CAnaly_UDF::Mode mode : {CAnaly_UDF::kListing, CAnaly_UDF::kImport}) {
    CAnaly_UDF reader;
    Sink sink;
    if (reader.Open(&source, 0, mode)) reader.Walk(&sink);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Read(data, size);
  // Most mutations break a checksum or CRC and stop at the first tag. A
  // second reading with every page's tag made whole again lets the damage
  // reach the partition maps, the entries and the walk.
  std::vector<uint8_t> repaired(data, data + size);
  for (size_t at = 0; at + kSector <= repaired.size(); at += kSector) {
    uint8_t* page = repaired.data() + at;
    uint16_t version = uint16_t(page[2] | (page[3] << 8));
    if (version != 2 && version != 3) continue;
    uint16_t crcLength = uint16_t(page[10] | (page[11] << 8));
    if (crcLength > kSector - 16) {
      page[10] = uint8_t((kSector - 16) & 0xFF);
      page[11] = uint8_t((kSector - 16) >> 8);
    }
    CECMA167::RefreshTag(page);
  }
  Read(repaired.data(), repaired.size());
  return 0;
}
