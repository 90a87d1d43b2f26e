#include "authoring/Iso9660.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ByteFields.h"
#include "authoring/DiscNames.h"
#include "authoring/Ucs2.h"

namespace iso9660 {
namespace {

std::tm LocalTime(time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

// The offset of the local time in 15-minute steps.
uint8_t ZoneByte(const std::tm& tm) { return uint8_t(int8_t(tm.tm_gmtoff / 900)); }

}  // namespace

RecordDate MakeRecordDate(time_t t) {
  const std::tm tm = LocalTime(t);
  return {uint8_t(std::clamp(tm.tm_year, 0, 255)), uint8_t(tm.tm_mon + 1), uint8_t(tm.tm_mday),
          uint8_t(tm.tm_hour), uint8_t(tm.tm_min), uint8_t(tm.tm_sec), ZoneByte(tm)};
}

void PutVolumeDate(uint8_t* p, time_t t) {
  const std::tm tm = LocalTime(t);
  char digits[64];
  std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d00", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::memcpy(p, digits, 16);
  p[16] = ZoneByte(tm);
}

DateParts ReadRecordDate(const uint8_t* p) {
  return {1900 + p[0], p[1], p[2], p[3], p[4], p[5], int(int8_t(p[6])) * 15};
}

size_t RecordSize(size_t identBytes, size_t systemUseBytes) {
  return 33 + identBytes + (identBytes % 2 == 0 ? 1 : 0) + systemUseBytes;
}

size_t PutRecord(uint8_t* out, const Record& r) {
  size_t identBytes = r.ident.size();
  while (identBytes > 0 && RecordSize(identBytes, r.systemUse.size()) > kMaxRecord) --identBytes;
  const size_t length = RecordSize(identBytes, r.systemUse.size());
  std::memset(out, 0, length);
  out[kRecordLength] = uint8_t(length);
  bytes::PutBoth32(out + kRecordExtent, r.extent);
  bytes::PutBoth32(out + kRecordSize, r.size);
  std::memcpy(out + kRecordDate, r.date.data(), 7);
  out[kRecordFlags] = r.flags;
  bytes::PutBoth16(out + 28, 1);  // volume sequence number
  out[kRecordIdLength] = uint8_t(identBytes);
  std::memcpy(out + kRecordId, r.ident.data(), identBytes);
  std::memcpy(out + length - r.systemUse.size(), r.systemUse.data(), r.systemUse.size());
  return length;
}

std::string MakeRecord(const Record& r) {
  std::string out(kMaxRecord, '\0');
  out.resize(PutRecord(reinterpret_cast<uint8_t*>(&out[0]), r));
  return out;
}

void AppendRecord(std::string* extent, const std::string& record) {
  const size_t used = extent->size() % kBlock;
  if (used && kBlock - used < record.size()) extent->append(kBlock - used, '\0');
  extent->append(record);
}

void PatchRecordExtent(uint8_t* record, uint32_t extent, uint32_t size) {
  bytes::PutBoth32(record + kRecordExtent, extent);
  bytes::PutBoth32(record + kRecordSize, size);
}

bool DecodeRecord(const uint8_t* p, size_t room, ReadRecord* out) {
  const size_t length = p[kRecordLength];
  if (length < 34 || length > room || 33u + p[kRecordIdLength] > length) return false;
  out->length = length;
  out->extent = bytes::LE32(p + kRecordExtent);
  out->size = bytes::LE32(p + kRecordSize);
  out->date = p + kRecordDate;
  out->flags = p[kRecordFlags];
  out->ident = p + kRecordId;
  out->identBytes = p[kRecordIdLength];
  const size_t use = RecordSize(out->identBytes);
  out->systemUse = p + std::min(use, length);
  out->systemUseBytes = use < length ? length - use : 0;
  return true;
}

std::string PathTableRecord(const std::string& ident, uint32_t extent, uint16_t parent, bool bigEndian) {
  std::string r(8 + ident.size() + (ident.size() % 2), '\0');
  auto* p = reinterpret_cast<uint8_t*>(&r[0]);
  p[0] = uint8_t(ident.size());
  if (bigEndian) {
    bytes::PutBE32(p + 2, extent);
    bytes::PutBE16(p + 6, parent);
  } else {
    bytes::PutLE32(p + 2, extent);
    bytes::PutLE16(p + 6, parent);
  }
  std::memcpy(p + 8, ident.data(), ident.size());
  return r;
}

void PutDescriptorHead(uint8_t* d, uint8_t type) {
  d[0] = type;
  std::memcpy(d + 1, "CD001", 5);
  d[6] = 1;
}

void PutTerminator(uint8_t* d) {
  std::memset(d, 0, kBlock);
  PutDescriptorHead(d, kTerminatorType);
}

void PutVolumeFields(uint8_t* d, const VolumeFields& v) {
  bytes::PutBoth32(d + kSpaceSize, v.spaceSize);
  bytes::PutBoth16(d + kSetSize, 1);
  bytes::PutBoth16(d + kSequence, 1);
  bytes::PutBoth16(d + kBlockSize, uint16_t(kBlock));
  bytes::PutBoth32(d + kPathTableSize, v.pathTableSize);
  bytes::PutLE32(d + kPathL, v.pathL);
  bytes::PutBE32(d + kPathM, v.pathM);
  std::memcpy(d + kRootRecord, v.rootRecord.data(), std::min(v.rootRecord.size(), kRootRecordSize));
}

void PutVolumeDates(uint8_t* d, time_t created) {
  PutVolumeDate(d + kCreated, created);
  PutVolumeDate(d + kModified, created);
  std::memset(d + kExpires, '0', 16);
  std::memset(d + kEffective, '0', 16);
  d[kStructureVersion] = 1;
}

void PutJolietEscapes(uint8_t* d) { std::memcpy(d + kEscapes, "%/E", 3); }

void FillBlanks(uint8_t* p, size_t n, bool joliet) {
  if (!joliet) {
    std::memset(p, ' ', n);
    return;
  }
  for (size_t i = 0; i + 1 < n; i += 2) p[i] = 0, p[i + 1] = ' ';
}

bool IsDescriptor(const uint8_t* d, uint8_t type) { return d[0] == type && std::memcmp(d + 1, "CD001", 5) == 0; }

bool HasJolietEscapes(const uint8_t* d) { return d[kEscapes] || d[kEscapes + 1] || d[kEscapes + 2]; }

bool IsDCharacter(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; }

std::string IsoLabel(const std::string& label) {
  std::string out;
  for (char c : label.substr(0, 32)) {
    const char u = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    out.push_back(IsDCharacter(u) ? u : '_');
  }
  return out;
}

std::string JolietText(const std::string& utf8, size_t maxChars) {
  std::u16string wide;
  if (!Utf8ToUtf16(utf8, &wide)) wide.assign(utf8.begin(), utf8.end());
  if (wide.size() > maxChars) {
    size_t keep = maxChars;
    if (keep > 0 && wide[keep - 1] >= 0xD800 && wide[keep - 1] <= 0xDBFF) --keep;
    wide.resize(keep);
  }
  return Utf16ToBigEndianBytes(wide);
}

std::string JolietName(const std::string& utf8, bool isFolder) {
  std::u16string wide;
  if (!Utf8ToUtf16(utf8, &wide)) wide.assign(utf8.begin(), utf8.end());
  bool shortened = false;
  return Utf16ToBigEndianBytes(
      discnames::ShortenWithSuffix(wide, isFolder, u"", discnames::kJolietMaxChars, &shortened));
}

std::string ReadText(const uint8_t* p, size_t n, bool joliet) {
  std::string text = joliet ? Utf16ToUtf8(BigEndianBytesToUtf16(p, n)) : std::string(reinterpret_cast<const char*>(p), n);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

std::string RecordName(const uint8_t* ident, size_t bytes, bool joliet, bool* changed) {
  std::string name = joliet ? Utf16ToUtf8(BigEndianBytesToUtf16(ident, bytes))
                            : std::string(reinterpret_cast<const char*>(ident), bytes);
  const size_t semi = name.rfind(';');
  if (semi != std::string::npos) name.resize(semi);
  if (!joliet && name.size() > 1 && name.back() == '.') name.pop_back();  // "NAME." of a file without extension
  *changed = false;
  for (char& c : name)
    if (c == '/' || c == '\0') {
      c = kNameStandIn;
      *changed = true;
    }
  if (name.empty() || name == "." || name == "..") {
    name = std::string(std::max<size_t>(name.size(), 1), kNameStandIn);
    *changed = true;
  }
  return name;
}

}  // namespace iso9660
