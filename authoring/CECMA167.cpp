#include "authoring/CECMA167.h"

#include <array>
#include <cstring>

#include "ByteFields.h"
#include "authoring/Ucs2.h"

namespace {

std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = uint16_t(i << 8);
    for (int bit = 0; bit < 8; ++bit) crc = uint16_t((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    table[i] = crc;
  }
  return table;
}

const std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

// Timestamp type 1 (local time) with a signed 12-bit offset in minutes.
void PutTimestamp(uint8_t* out, int year, int month, int day, int hour, int minute, int second,
                  int offsetMinutes) {
  std::memset(out, 0, 12);
  if (offsetMinutes < -1440 || offsetMinutes > 1440) offsetMinutes = -2047;  // "not specified"
  bytes::PutLE16(out, uint16_t((1u << 12) | (uint16_t(offsetMinutes) & 0x0FFF)));
  bytes::PutLE16(out + 2, uint16_t(year));
  out[4] = uint8_t(month);
  out[5] = uint8_t(day);
  out[6] = uint8_t(hour);
  out[7] = uint8_t(minute);
  out[8] = uint8_t(second);
}

}  // namespace

uint16_t CECMA167::Crc(const uint8_t* data, size_t length) {
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i) crc = uint16_t((crc << 8) ^ kCrcTable[(crc >> 8) ^ data[i]]);
  return crc;
}

uint8_t CECMA167::TagChecksum(const uint8_t* tag) {
  unsigned sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum += tag[i];
  return uint8_t(sum);
}

void CECMA167::MakeTag(uint16_t tagId, uint8_t* descriptor, uint32_t length, uint32_t tagLocation) {
  bytes::PutLE16(descriptor, tagId);
  bytes::PutLE16(descriptor + 2, 2);
  descriptor[5] = 0;
  bytes::PutLE16(descriptor + 6, 1);
  uint16_t crcLength = uint16_t(length > 16 ? length - 16 : 0);
  bytes::PutLE16(descriptor + 8, Crc(descriptor + 16, crcLength));
  bytes::PutLE16(descriptor + 10, crcLength);
  bytes::PutLE32(descriptor + 12, tagLocation);
  descriptor[4] = TagChecksum(descriptor);
}

void CECMA167::RefreshTag(uint8_t* descriptor) {
  uint16_t crcLength = bytes::LE16(descriptor + 10);
  bytes::PutLE16(descriptor + 8, Crc(descriptor + 16, crcLength));
  descriptor[4] = TagChecksum(descriptor);
}

bool CECMA167::VerifyTag(const uint8_t* descriptor, size_t available, std::string* why,
                         const uint32_t* expectedLocation) {
  auto fail = [&](const char* text) {
    if (why) *why = text;
    return false;
  };
  if (available < 16) return fail("descriptor cut short");
  if (TagChecksum(descriptor) != descriptor[4]) return fail("bad tag checksum");
  size_t crcLength = bytes::LE16(descriptor + 10);
  if (16 + crcLength > available) return fail("descriptor CRC length runs past its block");
  if (Crc(descriptor + 16, crcLength) != bytes::LE16(descriptor + 8)) return fail("bad descriptor CRC");
  if (expectedLocation && bytes::LE32(descriptor + 12) != *expectedLocation)
    return fail("descriptor recorded at another location");
  return true;
}

void CECMA167::MakeTimestamp(uint8_t* out, time_t t) {
  struct tm local {};
  localtime_r(&t, &local);
  PutTimestamp(out, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
               local.tm_min, local.tm_sec, int(local.tm_gmtoff / 60));
}

void CECMA167::TimestampFromIsoDate(uint8_t* out, const uint8_t* date) {
  PutTimestamp(out, 1900 + date[0], date[1], date[2], date[3], date[4], date[5],
               int(int8_t(date[6])) * 15);
}

void CECMA167::TimestampToIsoDate(const uint8_t* timestamp, uint8_t* date) {
  int year = bytes::LE16(timestamp + 2);
  date[0] = uint8_t(year >= 1900 && year <= 2155 ? year - 1900 : 0);
  std::memcpy(date + 1, timestamp + 4, 5);
  uint16_t typeZone = bytes::LE16(timestamp);
  int offset = typeZone & 0x0FFF;
  if (offset & 0x0800) offset -= 0x1000;
  date[6] = uint8_t(int8_t(((typeZone >> 12) == 1 && offset != -2047) ? offset / 15 : 0));
}

std::vector<udf::Extent> CECMA167::SplitExtents(uint64_t size, uint32_t firstBlock) {
  std::vector<udf::Extent> extents;
  uint32_t block = firstBlock;
  do {
    uint64_t piece = size < udf::kMaxExtentBytes ? size : udf::kMaxExtentBytes;
    extents.push_back({uint32_t(piece), block});
    size -= piece;
    block += udf::kMaxExtentBlocks;
  } while (size > 0);
  return extents;
}

uint32_t CECMA167::MakeFileEntry(uint8_t* block, bool isFile, uint64_t uniqueId, uint64_t size,
                                 uint32_t firstBlock, uint32_t tagLocation, const time_t* fileTime,
                                 bool marked) {
  uint8_t stamp[12];
  MakeTimestamp(stamp, fileTime ? *fileTime : time(nullptr));
  return MakeFileEntryWithExtents(block, isFile, uniqueId, size, SplitExtents(size, firstBlock),
                                  tagLocation, stamp, marked);
}

uint32_t CECMA167::MakeFileEntryWithExtents(uint8_t* block, bool isFile, uint64_t uniqueId,
                                            uint64_t size, const std::vector<udf::Extent>& extents,
                                            uint32_t tagLocation, const uint8_t* timestamp,
                                            bool marked) {
  using namespace udf::fe;
  std::memset(block, 0, udf::kBlockSize);
  bytes::PutLE16(block + kStrategy, 4);
  bytes::PutLE16(block + kMaxEntries, 1);
  block[kFileType] = isFile ? udf::kFileTypeFile : udf::kFileTypeDirectory;
  bytes::PutLE16(block + kIcbFlags, udf::kAdShort);
  bytes::PutLE32(block + kUid, 0xFFFFFFFF);
  bytes::PutLE32(block + kGid, 0xFFFFFFFF);
  bytes::PutLE32(block + kPermissions, 0x7FFF);
  bytes::PutLE16(block + kLinkCount, 1);
  bytes::PutLE64(block + kInfoLength, size);
  bytes::PutLE64(block + kBlocksRecorded, (size + udf::kBlockSize - 1) / udf::kBlockSize);
  for (size_t at : {kAccessTime, kModifyTime, kAttributeTime}) std::memcpy(block + at, timestamp, 12);
  bytes::PutLE32(block + kCheckpoint, 1);
  PutRegid(block + kImplId, udf::kMakerId);
  block[kImplId] = marked ? 1 : 0;
  bytes::PutLE64(block + kUniqueId, uniqueId);
  // One descriptor is followed by an empty one that ends the list; more
  // extents fill the descriptors exactly. Callers keep to kMaxShortAds.
  size_t count = extents.size();
  if (count > udf::kMaxShortAds) count = udf::kMaxShortAds;
  uint32_t adLength = uint32_t(count < 2 ? 16 : 8 * count);
  for (size_t i = 0; i < count; ++i) {
    bytes::PutLE32(block + kAds + 8 * i, extents[i].length);
    bytes::PutLE32(block + kAds + 8 * i + 4, extents[i].block);
  }
  bytes::PutLE32(block + kAdLength, adLength);
  uint32_t length = uint32_t(kAds + adLength);
  MakeTag(udf::kTagFileEntry, block, length, tagLocation);
  return length;
}

uint32_t CECMA167::MakeFileIdentifier(uint8_t* out, const std::u16string& name, uint32_t tagLocation,
                                      IdentifierKind kind, bool hidden, uint32_t icbBlock,
                                      bool unicode, bool padded) {
  using namespace udf::fid;
  std::memset(out, 0, kMaxFileIdentifierLength);
  bytes::PutLE16(out + kVersion, 1);
  uint8_t characteristics = kind == kFile ? 0 : kind == kFolder ? udf::kCharDirectory
                                                                : udf::kCharDirectory | udf::kCharParent;
  if (hidden) characteristics |= udf::kCharHidden;
  out[kCharacteristics] = characteristics;
  const size_t implUse = padded ? kImplUsePadding : 0;
  if (padded) PutRegid(out + kImplUse, udf::kMakerId);
  size_t idLength = 0;
  if (kind != kParent) {
    uint8_t* p = out + kImplUse + implUse;
    if (unicode) {
      size_t chars = name.size();
      if (chars > kMaxNameBytes / 2) chars = kMaxNameBytes / 2;
      if (chars > 0 && chars < name.size() && name[chars - 1] >= 0xD800 && name[chars - 1] <= 0xDBFF)
        --chars;  // keep a surrogate pair whole
      p[0] = 16;
      for (size_t i = 0; i < chars; ++i) bytes::PutBE16(p + 1 + 2 * i, name[i]);
      idLength = 1 + 2 * chars;
    } else {
      size_t chars = name.size() < kMaxNameBytes ? name.size() : kMaxNameBytes;
      p[0] = 8;
      for (size_t i = 0; i < chars; ++i) p[1 + i] = uint8_t(name[i]);
      idLength = 1 + chars;
    }
  }
  out[kIdLength] = uint8_t(idLength);
  bytes::PutLE32(out + kIcb, udf::kBlockSize);
  bytes::PutLE32(out + kIcb + 4, icbBlock);
  bytes::PutLE16(out + kIcb + 8, 0);
  bytes::PutLE16(out + kImplUseLength, uint16_t(implUse));
  uint32_t length = uint32_t((kImplUse + implUse + idLength + 3) & ~size_t(3));
  MakeTag(udf::kTagFileIdentifier, out, length, tagLocation);
  return length;
}

bool CECMA167::ToWide(const std::string& text, std::u16string* out, size_t maxChars) {
  if (!Utf8ToUtf16(text, out)) return false;
  if (out->size() > maxChars) {
    size_t keep = maxChars;
    if (keep > 0 && (*out)[keep - 1] >= 0xD800 && (*out)[keep - 1] <= 0xDBFF) --keep;
    out->resize(keep);
  }
  return true;
}

void CECMA167::PutDString(uint8_t* field, size_t fieldSize, const std::u16string& text) {
  std::memset(field, 0, fieldSize);
  if (text.empty() || fieldSize < 4) return;
  size_t chars = (fieldSize - 2) / 2;  // compression id, characters, length byte
  if (chars > text.size()) chars = text.size();
  if (chars > 0 && chars < text.size() && text[chars - 1] >= 0xD800 && text[chars - 1] <= 0xDBFF) --chars;
  field[0] = 16;
  for (size_t i = 0; i < chars; ++i) bytes::PutBE16(field + 1 + 2 * i, text[i]);
  field[fieldSize - 1] = uint8_t(1 + 2 * chars);
}

bool CECMA167::DecodeCS0(const uint8_t* p, size_t length, std::string* utf8) {
  utf8->clear();
  if (length == 0) return true;
  std::u16string wide;
  if (p[0] == 8 || p[0] == 254) {
    for (size_t i = 1; i < length; ++i) wide.push_back(char16_t(p[i]));
  } else if (p[0] == 16 || p[0] == 255) {
    for (size_t i = 1; i + 1 < length; i += 2) wide.push_back(char16_t(bytes::BE16(p + i)));
  } else {
    return false;
  }
  *utf8 = Utf16ToUtf8(wide);
  return true;
}

std::string CECMA167::DecodeDString(const uint8_t* field, size_t fieldSize) {
  if (fieldSize < 2) return "";
  size_t used = field[fieldSize - 1];
  if (used > fieldSize - 1) used = fieldSize - 1;
  std::string text;
  if (!DecodeCS0(field, used, &text)) return "";
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

void CECMA167::PutRegid(uint8_t* out, const char* identifier, const uint8_t* suffix,
                        size_t suffixLength) {
  std::memset(out, 0, 32);
  bytes::PutText(out + 1, 23, identifier, std::strlen(identifier));
  if (suffix) std::memcpy(out + 24, suffix, suffixLength < 8 ? suffixLength : 8);
}

void CECMA167::PutCharspec(uint8_t* out) {
  std::memset(out, 0, 64);
  out[0] = 0;  // CS0
  const char* osta = "OSTA Compressed Unicode";
  std::memcpy(out + 1, osta, std::strlen(osta));
}
