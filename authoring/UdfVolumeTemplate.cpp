#include "authoring/UdfVolumeTemplate.h"

#include <cstring>
#include <ctime>

#include "ByteFields.h"
#include "authoring/CECMA167.h"

namespace {

using namespace udftpl;

const char* kDomainId = "*OSTA UDF Compliant";
const char* kDefaultLabel = "VARNEX";

// The revision suffix of domain and UDF entity identifiers.
void PutUdfRegid(uint8_t* out, const char* identifier) {
  uint8_t suffix[2];
  bytes::PutLE16(suffix, kUdfRevision);
  CECMA167::PutRegid(out, identifier, suffix, 2);
}

std::u16string Wide(const char* text) {
  std::u16string out;
  CECMA167::ToWide(text, &out, 127);
  return out;
}

// Descriptors carry no date of their own in the skeleton; the layout
// stamps the build time into them. A fixed date keeps the resource
// identical from build to build.
void PutSkeletonTime(uint8_t* out) {
  static const uint8_t kDate[7] = {126, 1, 1, 0, 0, 0, 0};
  CECMA167::TimestampFromIsoDate(out, kDate);
}

void WriteVolumeSequence(uint8_t* image, uint32_t first) {
  auto sector = [&](uint32_t offset) { return image + size_t(first + offset) * udf::kBlockSize; };

  uint8_t* pvd = sector(kPrimary);
  bytes::PutLE32(pvd + 16, 0);  // volume descriptor sequence number
  bytes::PutLE32(pvd + 20, 0);  // primary volume descriptor number
  CECMA167::PutDString(pvd + kPrimaryVolumeId, 32, Wide(kDefaultLabel));
  bytes::PutLE16(pvd + 56, 1);  // volume sequence number
  bytes::PutLE16(pvd + 58, 1);  // maximum volume sequence number
  bytes::PutLE16(pvd + 60, 2);  // interchange level
  bytes::PutLE16(pvd + 62, 2);
  bytes::PutLE32(pvd + 64, 1);  // character set list: CS0
  bytes::PutLE32(pvd + 68, 1);
  CECMA167::PutDString(pvd + kPrimaryVolumeSetId, 128, Wide("00000000VARNEX"));
  CECMA167::PutCharspec(pvd + 200);
  CECMA167::PutCharspec(pvd + 264);
  CECMA167::PutRegid(pvd + 344, udf::kMakerId);
  PutSkeletonTime(pvd + kPrimaryRecordingTime);
  CECMA167::PutRegid(pvd + 388, udf::kMakerId);
  CECMA167::MakeTag(udf::kTagPrimaryVolume, pvd, 512, first + kPrimary);

  uint8_t* iuvd = sector(kImplUse);
  bytes::PutLE32(iuvd + 16, 1);
  PutUdfRegid(iuvd + 20, "*UDF LV Info");
  CECMA167::PutCharspec(iuvd + 52);
  CECMA167::PutDString(iuvd + kImplUseVolumeId, 128, Wide(kDefaultLabel));
  CECMA167::PutRegid(iuvd + 352, udf::kMakerId);
  CECMA167::MakeTag(udf::kTagImplementationUse, iuvd, 512, first + kImplUse);

  uint8_t* pd = sector(kPartition);
  bytes::PutLE32(pd + 16, 2);
  bytes::PutLE16(pd + 20, 1);  // allocated
  bytes::PutLE16(pd + udf::pd::kNumber, 0);
  CECMA167::PutRegid(pd + 24, "+NSR02");
  bytes::PutLE32(pd + 184, 1);  // read-only access
  bytes::PutLE32(pd + kPartitionStartField, kPartitionStart);
  bytes::PutLE32(pd + kPartitionLengthField, 1);
  CECMA167::PutRegid(pd + 196, udf::kMakerId);
  CECMA167::MakeTag(udf::kTagPartition, pd, 512, first + kPartition);

  uint8_t* lvd = sector(kLogicalVolume);
  bytes::PutLE32(lvd + 16, 3);
  CECMA167::PutCharspec(lvd + 20);
  CECMA167::PutDString(lvd + kLogicalVolumeId, 128, Wide(kDefaultLabel));
  bytes::PutLE32(lvd + udf::lvd::kBlockSize, udf::kBlockSize);
  PutUdfRegid(lvd + udf::lvd::kDomainId, kDomainId);
  bytes::PutLE32(lvd + udf::lvd::kFileSetLength, udf::kBlockSize);
  bytes::PutLE32(lvd + kLogicalVolumeFileSet, 0);
  bytes::PutLE32(lvd + udf::lvd::kMapTableLength, 6);
  bytes::PutLE32(lvd + udf::lvd::kMapCount, 1);
  CECMA167::PutRegid(lvd + 272, udf::kMakerId);
  bytes::PutLE32(lvd + udf::lvd::kIntegrityLength, 2 * udf::kBlockSize);
  bytes::PutLE32(lvd + kLogicalVolumeIntegrity, kIntegrity);
  uint8_t* map = lvd + udf::lvd::kMaps;  // type 1 map: volume sequence 1, partition 0
  map[0] = 1;
  map[1] = 6;
  bytes::PutLE16(map + 2, 1);
  bytes::PutLE16(map + 4, 0);
  CECMA167::MakeTag(udf::kTagLogicalVolume, lvd, 446, first + kLogicalVolume);

  uint8_t* usd = sector(kUnallocated);
  bytes::PutLE32(usd + 16, 4);
  bytes::PutLE32(usd + 20, 0);
  CECMA167::MakeTag(udf::kTagUnallocatedSpace, usd, 24, first + kUnallocated);

  CECMA167::MakeTag(udf::kTagTerminating, sector(kTerminator), 512, first + kTerminator);
}

void WriteIntegritySequence(uint8_t* image) {
  uint8_t* lvid = image + size_t(kIntegrity) * udf::kBlockSize;
  PutSkeletonTime(lvid + kIntegrityTime);
  bytes::PutLE32(lvid + 28, 1);                    // closed
  bytes::PutLE64(lvid + kIntegrityNextUniqueId, 16);
  bytes::PutLE32(lvid + 72, 1);                    // partitions
  bytes::PutLE32(lvid + 76, 46);                   // implementation use length
  bytes::PutLE32(lvid + kIntegrityFreeSpace, 0);
  bytes::PutLE32(lvid + kIntegritySizeTable, 1);
  CECMA167::PutRegid(lvid + 88, udf::kMakerId);
  bytes::PutLE32(lvid + kIntegrityFileCount, 0);
  bytes::PutLE32(lvid + kIntegrityDirCount, 1);
  bytes::PutLE16(lvid + 128, kUdfRevision);  // minimum read revision
  bytes::PutLE16(lvid + 130, kUdfRevision);  // minimum write revision
  bytes::PutLE16(lvid + 132, kUdfRevision);  // maximum write revision
  CECMA167::MakeTag(udf::kTagIntegrity, lvid, 134, kIntegrity);
  CECMA167::MakeTag(udf::kTagTerminating, lvid + udf::kBlockSize, 512, kIntegrity + 1);
}

}  // namespace

std::vector<uint8_t> MakeUdfVolumeTemplate() {
  std::vector<uint8_t> image(size_t(kSectors) * udf::kBlockSize, 0);

  // Volume recognition sequence: beginning, NSR02, terminator.
  const char* vrs[] = {"BEA01", "NSR02", "TEA01"};
  for (int i = 0; i < 3; ++i) {
    uint8_t* d = image.data() + size_t(16 + i) * udf::kBlockSize;
    d[0] = 0;
    std::memcpy(d + 1, vrs[i], 5);
    d[6] = 1;
  }

  WriteVolumeSequence(image.data(), kMainSequence);
  WriteVolumeSequence(image.data(), kReserveSequence);
  WriteIntegritySequence(image.data());

  uint8_t* avdp = image.data() + size_t(kAnchor) * udf::kBlockSize;
  bytes::PutLE32(avdp + udf::avdp::kMainLength, kSequenceSectors * udf::kBlockSize);
  bytes::PutLE32(avdp + kAnchorMainLocation, kMainSequence);
  bytes::PutLE32(avdp + udf::avdp::kReserveLength, kSequenceSectors * udf::kBlockSize);
  bytes::PutLE32(avdp + kAnchorReserveLocation, kReserveSequence);
  CECMA167::MakeTag(udf::kTagAnchor, avdp, 512, kAnchor);

  uint8_t* fsd = image.data() + size_t(kFileSet) * udf::kBlockSize;
  PutSkeletonTime(fsd + kFileSetTime);
  bytes::PutLE16(fsd + 28, 3);  // interchange level
  bytes::PutLE16(fsd + 30, 3);
  bytes::PutLE32(fsd + 32, 1);
  bytes::PutLE32(fsd + 36, 1);
  CECMA167::PutCharspec(fsd + 48);
  CECMA167::PutDString(fsd + kFileSetVolumeId, 128, Wide(kDefaultLabel));
  CECMA167::PutCharspec(fsd + 240);
  CECMA167::PutDString(fsd + kFileSetId, 32, Wide(kDefaultLabel));
  bytes::PutLE32(fsd + udf::fsd::kRootLength, udf::kBlockSize);
  bytes::PutLE32(fsd + kFileSetRoot, 1);
  PutUdfRegid(fsd + 416, kDomainId);
  CECMA167::MakeTag(udf::kTagFileSet, fsd, 512, 0);
  return image;
}
