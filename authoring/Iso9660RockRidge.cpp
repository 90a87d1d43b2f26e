#include "authoring/Iso9660RockRidge.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "ByteFields.h"
#include "authoring/Iso9660.h"

namespace rockridge {
namespace {

constexpr char kErId[] = "RRIP_1991A";
constexpr char kErDescriptor[] = "THE ROCK RIDGE INTERCHANGE PROTOCOL PROVIDES SUPPORT FOR POSIX FILE SYSTEM SEMANTICS";
constexpr char kErSource[] =
    "PLEASE CONTACT DISC PUBLISHER FOR SPECIFICATION SOURCE.  SEE PUBLISHER IDENTIFIER IN PRIMARY VOLUME "
    "DESCRIPTOR FOR CONTACT INFORMATION.";

// Flags of the RR entry.
constexpr uint8_t kHasPx = 0x01, kHasSl = 0x04, kHasNm = 0x08, kHasTf = 0x80;
// Flags of NM entries and SL components.
constexpr uint8_t kContinues = 0x01, kCurrent = 0x02, kParent = 0x04, kRoot = 0x08;
// Flags of TF.
constexpr uint8_t kTfModify = 0x02, kTfAccess = 0x04, kTfAttributes = 0x08, kTfLongForm = 0x80;
constexpr size_t kMaxContinuations = 64;

std::string Head(char a, char b, size_t length) {
  std::string e(length, '\0');
  e[0] = a, e[1] = b, e[2] = char(uint8_t(length)), e[3] = 1;
  return e;
}

uint8_t* At(std::string& s, size_t i) { return reinterpret_cast<uint8_t*>(&s[i]); }

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468;
}

}  // namespace

time_t RecordTime(const uint8_t* p) {
  const iso9660::DateParts d = iso9660::ReadRecordDate(p);
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31) return 0;
  const int64_t days = DaysFromCivil(d.year, unsigned(d.month), unsigned(d.day));
  return time_t(days * 86400 + d.hour * 3600 + d.minute * 60 + d.second - int64_t(d.offsetMinutes) * 60);
}

namespace {

time_t LongDate(const uint8_t* p) {
  auto num = [&](int at, int n) {
    int v = 0;
    for (int i = 0; i < n; ++i) v = v * 10 + (p[at + i] >= '0' && p[at + i] <= '9' ? p[at + i] - '0' : 0);
    return v;
  };
  const int month = num(4, 2), day = num(6, 2);
  if (month < 1 || month > 12 || day < 1 || day > 31) return 0;
  const int64_t days = DaysFromCivil(num(0, 4), unsigned(month), unsigned(day));
  return time_t(days * 86400 + num(8, 2) * 3600 + num(10, 2) * 60 + num(12, 2) - int64_t(int8_t(p[16])) * 15 * 60);
}

}  // namespace

Attributes Normalised(const Attributes& a) {
  Attributes n = a;
  n.uid = n.gid = 0;
  const uint32_t type = a.mode & S_IFMT;
  if (type == S_IFLNK) {
    n.mode = type | 0777;
    return n;
  }
  uint32_t perms = 0444;
  if (type == S_IFDIR || (a.mode & 0111)) perms |= 0111;
  n.mode = type | perms;
  return n;
}

std::string SharingIndicator() {
  std::string e = Head('S', 'P', 7);
  e[4] = char(0xBE), e[5] = char(0xEF), e[6] = 0;
  return e;
}

std::string Extension() {
  const size_t id = sizeof kErId - 1, des = sizeof kErDescriptor - 1, src = sizeof kErSource - 1;
  std::string e = Head('E', 'R', 8 + id + des + src);
  e[4] = char(id), e[5] = char(des), e[6] = char(src), e[7] = 1;
  std::memcpy(&e[8], kErId, id);
  std::memcpy(&e[8 + id], kErDescriptor, des);
  std::memcpy(&e[8 + id + des], kErSource, src);
  return e;
}

std::string Presence(bool link) {
  std::string e = Head('R', 'R', 5);
  e[4] = char(kHasPx | kHasNm | kHasTf | (link ? kHasSl : 0));
  return e;
}

std::string ChildLink(uint32_t block) {
  std::string e = Head('C', 'L', 12);
  bytes::PutBoth32(At(e, kLinkBlockAt), block);
  return e;
}

std::string ParentLink(uint32_t block) {
  std::string e = Head('P', 'L', 12);
  bytes::PutBoth32(At(e, kLinkBlockAt), block);
  return e;
}

std::string Relocated() { return Head('R', 'E', 4); }

std::string Posix(const Attributes& a) {
  std::string e = Head('P', 'X', 36);
  bytes::PutBoth32(At(e, 4), a.mode);
  bytes::PutBoth32(At(e, 12), a.links);
  bytes::PutBoth32(At(e, 20), a.uid);
  bytes::PutBoth32(At(e, 28), a.gid);
  return e;
}

std::string Times(const Attributes& a) {
  // No access time: reading the sources for one copy would change it for the
  // next, and copies of one project must be the same disc. Readers take the
  // modification time for it.
  std::string e = Head('T', 'F', 5 + 2 * 7);
  e[4] = char(kTfModify | kTfAttributes);
  size_t at = 5;
  for (time_t t : {a.modified, a.changed}) {
    const iso9660::RecordDate d = iso9660::MakeRecordDate(t);
    std::memcpy(&e[at], d.data(), 7);
    at += 7;
  }
  return e;
}

std::vector<std::string> Names(const std::string& name) {
  constexpr size_t kPerEntry = kMaxEntry - 5;
  std::vector<std::string> out;
  for (size_t at = 0; at < name.size() || out.empty(); at += kPerEntry) {
    const size_t n = std::min(kPerEntry, name.size() - at);
    std::string e = Head('N', 'M', 5 + n);
    e[4] = char(at + n < name.size() ? kContinues : 0);
    std::memcpy(&e[5], name.data() + at, n);
    out.push_back(std::move(e));
    if (at + n >= name.size()) break;
  }
  return out;
}

std::vector<std::string> Link(const std::string& target) {
  // Component records: flags, length, bytes; a long component is split into
  // pieces that each say the next one continues it.
  constexpr size_t kPiece = kMaxEntry - 5 - 2;
  std::vector<std::string> records;
  size_t at = 0;
  if (!target.empty() && target[0] == '/') {
    records.push_back(std::string{char(kRoot), 0});
    at = target.find_first_not_of('/');
    if (at == std::string::npos) at = target.size();
  }
  while (at < target.size()) {
    size_t end = target.find('/', at);
    if (end == std::string::npos) end = target.size();
    const std::string part = target.substr(at, end - at);
    if (part == ".") {
      records.push_back(std::string{char(kCurrent), 0});
    } else if (part == "..") {
      records.push_back(std::string{char(kParent), 0});
    } else if (!part.empty()) {
      for (size_t p = 0; p < part.size(); p += kPiece) {
        const size_t n = std::min(kPiece, part.size() - p);
        std::string r{char(p + n < part.size() ? kContinues : 0), char(n)};
        records.push_back(r + part.substr(p, n));
      }
    }
    at = end + 1;
  }
  std::vector<std::string> out;
  std::string body;
  auto flush = [&](bool more) {
    std::string e = Head('S', 'L', 5 + body.size());
    e[4] = char(more ? kContinues : 0);
    std::memcpy(&e[5], body.data(), body.size());
    out.push_back(std::move(e));
    body.clear();
  };
  for (const std::string& r : records) {
    if (5 + body.size() + r.size() > kMaxEntry) flush(true);
    body += r;
  }
  flush(false);
  return out;
}

std::string Continuation(uint32_t block, uint32_t offset, uint32_t length) {
  std::string e = Head('C', 'E', kContinuationEntry);
  bytes::PutBoth32(At(e, 4), block);
  bytes::PutBoth32(At(e, 12), offset);
  bytes::PutBoth32(At(e, 20), length);
  return e;
}

void RebaseContinuation(uint8_t* p, uint32_t base) { bytes::PutBoth32(p, bytes::LE32(p) + base); }

Placement Place(const std::vector<std::string>& entries, size_t room, std::string* continuation) {
  constexpr size_t kBlock = iso9660::kBlock;
  Placement out;
  std::string& c = *continuation;
  size_t total = 0, i = 0;
  for (const std::string& e : entries) total += e.size();
  // Fills one piece; true when entries are left for the next (room for the
  // CE that points there is kept).
  auto fill = [&](std::string* into, size_t cap) {
    if (total <= cap) {
      for (; i < entries.size(); ++i) *into += entries[i];
      total = 0;
      return false;
    }
    for (; i < entries.size() && entries[i].size() + kContinuationEntry <= cap; ++i) {
      *into += entries[i];
      cap -= entries[i].size();
      total -= entries[i].size();
    }
    return true;
  };
  if (!fill(&out.systemUse, room)) return out;
  size_t ceAt = out.systemUse.size();
  bool ceInRecord = true;
  out.systemUse += Continuation(0, 0, 0);
  for (bool more = true; more;) {
    // A piece never crosses a sector: what does not fit the rest of this one
    // starts on the next.
    size_t start = c.size();
    size_t left = kBlock - start % kBlock;
    if (left < std::min(total, size_t(kBlock))) {
      c.append(left, '\0');
      start = c.size();
      left = kBlock;
    }
    std::string piece;
    more = fill(&piece, left);
    const std::string ce = Continuation(uint32_t(start / kBlock), uint32_t(start % kBlock),
                                        uint32_t(piece.size() + (more ? kContinuationEntry : 0)));
    if (ceInRecord) {
      out.systemUse.replace(ceAt, kContinuationEntry, ce);
      out.ceOffsets.push_back(-1 - long(ceAt + 4));
    } else {
      c.replace(ceAt, kContinuationEntry, ce);
      out.ceOffsets.push_back(long(ceAt + 4));
    }
    c += piece;
    if (more) {
      ceAt = c.size();
      ceInRecord = false;
      c.append(kContinuationEntry, '\0');
    }
  }
  return out;
}

bool HasSharingIndicator(const uint8_t* su, size_t bytes, size_t* skip) {
  if (bytes < 7 || su[0] != 'S' || su[1] != 'P' || su[2] < 7 || su[4] != 0xBE || su[5] != 0xEF) return false;
  *skip = su[6];
  return true;
}

Decoded Decode(const uint8_t* systemUse, size_t bytes, size_t skip, const ReadArea& read) {
  Decoded d;
  std::string area(reinterpret_cast<const char*>(systemUse), bytes);
  size_t pos = std::min(skip, area.size());
  size_t followed = 0;
  bool nameDone = false, linkDone = false, componentOpen = false, accessSeen = false;
  while (true) {
    uint32_t ceBlock = 0, ceOffset = 0, ceLength = 0;
    bool haveCe = false;
    while (pos + 4 <= area.size()) {
      const auto* e = reinterpret_cast<const uint8_t*>(&area[pos]);
      const size_t len = e[2];
      if (e[0] == 0) break;  // padding
      if (len < 4 || pos + len > area.size()) {
        d.damage = "a system use entry runs past its area";
        return d;
      }
      const char a = char(e[0]), b = char(e[1]);
      if (a == 'S' && b == 'T') break;
      if (a == 'C' && b == 'E' && len >= 28) {
        ceBlock = bytes::LE32(e + 4), ceOffset = bytes::LE32(e + 12), ceLength = bytes::LE32(e + 20);
        haveCe = true;
      } else if (a == 'P' && b == 'X' && len >= 36) {
        d.any = d.hasAttributes = true;
        d.attributes.mode = bytes::LE32(e + 4);
        d.attributes.links = bytes::LE32(e + 12);
        d.attributes.uid = bytes::LE32(e + 20);
        d.attributes.gid = bytes::LE32(e + 28);
      } else if (a == 'T' && b == 'F' && len >= 5) {
        d.any = d.hasTimes = true;
        const uint8_t flags = e[4];
        const size_t step = (flags & kTfLongForm) ? 17 : 7;
        size_t at = 5;
        for (uint8_t bit = 0x01; bit && bit != kTfLongForm; bit <<= 1) {
          if (!(flags & bit)) continue;
          if (at + step > len) break;
          const time_t t = step == 17 ? LongDate(e + at) : RecordTime(e + at);
          if (bit == kTfModify) d.attributes.modified = t;
          if (bit == kTfAccess) d.attributes.accessed = t, accessSeen = true;
          if (bit == kTfAttributes) d.attributes.changed = t;
          at += step;
        }
      } else if (a == 'N' && b == 'M' && len >= 5 && !nameDone) {
        d.any = d.hasName = true;
        if (!(e[4] & (kCurrent | kParent))) d.name.append(reinterpret_cast<const char*>(e + 5), len - 5);
        nameDone = !(e[4] & kContinues);
      } else if (a == 'S' && b == 'L' && len >= 5 && !linkDone) {
        d.any = d.isLink = true;
        for (size_t c = 5; c + 2 <= len;) {
          const uint8_t cf = e[c], cl = e[c + 1];
          if (c + 2 + cl > len) break;
          if (!componentOpen && !d.linkTarget.empty() && d.linkTarget.back() != '/') d.linkTarget += '/';
          if (cf & kRoot) d.linkTarget = "/";
          else if (cf & kCurrent) d.linkTarget += ".";
          else if (cf & kParent) d.linkTarget += "..";
          else d.linkTarget.append(reinterpret_cast<const char*>(e + c + 2), cl);
          componentOpen = (cf & kContinues) != 0;
          c += 2 + cl;
        }
        linkDone = !(e[4] & kContinues);
      } else if (a == 'R' && b == 'E') {
        d.any = d.relocated = true;
      } else if (a == 'C' && b == 'L' && len >= 12) {
        d.any = d.hasChildLink = true;
        d.childLink = bytes::LE32(e + 4);
      }
      pos += len;
    }
    if (!haveCe || !read) break;
    if (++followed > kMaxContinuations || ceLength > iso9660::kBlock || ceOffset + ceLength > iso9660::kBlock) {
      d.damage = "a continuation area is damaged or its chain does not end";
      break;
    }
    if (!read(ceBlock, ceOffset, ceLength, &area)) {
      d.damage = "a continuation area cannot be read";
      break;
    }
    pos = 0;
  }
  if (d.hasTimes && !accessSeen) d.attributes.accessed = d.attributes.modified;
  return d;
}

}  // namespace rockridge
