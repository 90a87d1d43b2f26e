#include "DevTypes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ByteFields.h"
#include "MmcCommands.h"

using bytes::BE16;
using bytes::BE32;

std::string SenseCodes(uint8_t key, uint8_t asc, uint8_t ascq) {
  static const char* hex = "0123456789ABCDEF";
  // The key is four bits; the rest of its byte belongs to other fields.
  std::string t(1, hex[key & 0x0F]);
  for (uint8_t b : {asc, ascq}) t += {'/', hex[b >> 4], hex[b & 0x0F]};
  return t;
}

bool DISC_INFO::Parse(const uint8_t* d, size_t size) {
  if (size < 12) return false;
  DataLength = BE16(d);
  if (DataLength + 2u < 12) return false;
  std::memset(Raw, 0, sizeof Raw);
  std::memcpy(Raw, d, std::min(size, sizeof Raw));
  using namespace mmc::di;
  Erasable = d[kStatus] & kErasable;
  LastSessionState = (d[kStatus] >> 2) & 3;
  DiscStatus = d[kStatus] & 3;
  FirstTrack = d[kFirstTrack];
  SessionCount = uint16_t(d[kSessionsLsb] | (d[kSessionsMsb] << 8));
  FirstTrackLastSession = uint16_t(d[kFirstTrackLastSessionLsb] | (d[kFirstTrackLastSessionMsb] << 8));
  LastTrackLastSession = uint16_t(d[kLastTrackLastSessionLsb] | (d[kLastTrackLastSessionMsb] << 8));
  BgFormatStatus = d[kFormatStatus] & 3;
  DiscType = d[kDiscType];
  if (size >= 24 && DataLength + 2u >= 24) {
    LastSessionLeadIn = BE32(d + kLastSessionLeadIn);
    LastPossibleLeadOut = BE32(d + kLastPossibleLeadOut);
  }
  return true;
}

bool TRACK_INFO::Parse(const uint8_t* d, size_t size) {
  if (size < 28) return false;
  uint32_t len = BE16(d) + 2u;
  if (len < 28) return false;
  std::memset(Raw, 0, sizeof Raw);
  std::memcpy(Raw, d, std::min(size, sizeof Raw));
  TrackNumber = d[2];
  SessionNumber = d[3];
  if (size >= 34 && len >= 34) {
    TrackNumber |= uint16_t(d[32] << 8);
    SessionNumber |= uint16_t(d[33] << 8);
  }
  Damage = d[5] & 0x20;
  Copy = d[5] & 0x10;
  TrackMode = d[5] & 0x0F;
  RT = d[6] & 0x80;
  Blank = d[6] & 0x40;
  Packet = d[6] & 0x20;
  FP = d[6] & 0x10;
  DataMode = d[6] & 0x0F;
  LRA_V = d[7] & 2;
  NWA_V = d[7] & 1;
  TrackStart = BE32(d + 8);
  NextWritable = BE32(d + 12);
  FreeBlocks = BE32(d + 16);
  FixedPacketSize = BE32(d + 20);
  TrackSize = BE32(d + 24);
  LastRecorded = (size >= 32 && len >= 32) ? BE32(d + 28) : 0;
  return true;
}

namespace {
std::string Trimmed(const char* s) {
  std::string t(s);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.pop_back();
  size_t b = t.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : t.substr(b);
}
}  // namespace

bool INQUIRYDATA::Parse(const uint8_t* d, size_t size) {
  if (size < 36) return false;
  std::memset(Raw, 0, sizeof Raw);
  std::memcpy(Raw, d, std::min(size, sizeof Raw));
  DeviceType = d[0] & 0x1F;
  Removable = d[1] & 0x80;
  auto text = [](char* out, const uint8_t* in, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = (in[i] >= 32 && in[i] < 127) ? char(in[i]) : ' ';
    out[n] = 0;
  };
  text(VendorId, d + 8, 8);
  text(ProductId, d + 16, 16);
  text(ProductRevision, d + 32, 4);
  return true;
}

std::string INQUIRYDATA::Text() const {
  std::string out;
  for (const char* f : {VendorId, ProductId, ProductRevision}) {
    std::string t = Trimmed(f);
    if (t.empty()) continue;
    if (!out.empty()) out += ' ';
    out += t;
  }
  return out;
}

bool CAPABILITIES_PAGE::Parse(const uint8_t* p, size_t size) {
  *this = {};
  if (size < 4 || (p[0] & 0x3F) != 0x2A) return false;
  // Past its own length the buffer holds whatever the caller zeroed.
  const size_t length = std::min(size, size_t(p[1]) + 2);
  ReadBits = p[2];
  WriteBits = p[3];
  if (length >= 10) MaxReadSpeed = BE16(p + 8);
  if (length >= 16) CurrentReadSpeed = BE16(p + 14);
  if (length >= 30) CurrentWriteSpeed = BE16(p + 28);
  const size_t count = length >= 32 ? BE16(p + 30) : 0;
  // A descriptor is reserved, rotation control, then the speed: the
  // rotation byte is no part of the speed.
  for (size_t i = 0; i < count && 32 + 4 * i + 4 <= length; ++i) {
    const uint16_t v = BE16(p + 32 + 4 * i + 2);
    if (v == 0) break;
    WriteSpeeds.push_back(v);
  }
  return true;
}

CAPABILITIES_PAGE::SpeedChoice CAPABILITIES_PAGE::WriteSpeedChoice(uint16_t unit) const {
  std::vector<uint16_t> v(WriteSpeeds.begin(), WriteSpeeds.begin() + std::min<size_t>(WriteSpeeds.size(), 10));
  if (std::find(v.begin(), v.end(), unit) == v.end()) v.push_back(unit);
  std::sort(v.rbegin(), v.rend());
  return {v.front(), v.back(), v.size() > 1 ? v[1] : v[0]};
}

uint8_t ToBcd(int v) { return uint8_t(((v / 10) % 10) << 4 | (v % 10)); }
int FromBcd(uint8_t b) { return (b >> 4) * 10 + (b & 15); }
bool IsBcd(uint8_t b) { return (b >> 4) <= 9 && (b & 15) <= 9; }

Msf FramesToMsf(int64_t frames) {
  frames = std::max<int64_t>(frames, 0);
  Msf m;
  m.M = int32_t(frames / (60 * kFramesPerSecond));
  m.S = int32_t(frames / kFramesPerSecond % 60);
  m.F = int32_t(frames % kFramesPerSecond);
  return m;
}

int64_t MsfToFrames(int64_t m, int64_t s, int64_t f) { return (m * 60 + s) * kFramesPerSecond + f; }

std::string MsfText(int64_t frames) {
  const Msf m = FramesToMsf(frames);
  char b[32];
  std::snprintf(b, sizeof b, "%02d:%02d:%02d", int(m.M), int(m.S), int(m.F));
  return b;
}

int32_t TocAddressToLba(const TocAddress& a) {
  if (a.M == 255 && a.S == 255 && a.F == 255) return 0xFFFFFF;
  if (a.X != 0) return ((a.M + a.X * 90) * 60 + a.S - 2) * 75 + a.F;
  if (a.M == 0 && a.S == 0 && a.F == 0) return 0;
  int32_t v = (a.M * 60 + a.S) * 75 + a.F;
  return a.M >= 90 ? v - 450150 : v - 150;
}

TocAddress LbaToTocAddress(int32_t lba) {
  TocAddress a;
  int64_t v = (lba >= -45150 && lba <= -151) ? int64_t(lba) + 450150 : int64_t(lba) + 150;
  // The largest address the extension byte can carry: 255 * 90 + 89 minutes.
  v = std::clamp<int64_t>(v, 0, int64_t(255 * 90 + 90) * 4500 - 1);
  int32_t m = int32_t(v / 4500);
  a.S = uint8_t((v / 75) % 60);
  a.F = uint8_t(v % 75);
  if (lba >= 0 && m >= 90) {
    a.X = uint8_t(m / 90);
    a.M = uint8_t(m % 90);
  } else {
    a.M = uint8_t(std::min<int32_t>(m, 255));
  }
  return a;
}

bool ParseFullToc(const uint8_t* d, size_t size, SessionInfo& out) {
  out = SessionInfo();
  if (size < 4) return false;
  size_t len = BE16(d) + 2u;
  if (len > size) len = size;
  if (len < 4 || (len - 4) % 11 != 0) return false;
  out.FirstSession = d[2];
  out.LastSession = d[3];
  if (out.FirstSession == 0 || out.LastSession < out.FirstSession || out.LastSession > 99) return false;
  out.Sessions.resize(out.LastSession - out.FirstSession + 1);
  std::vector<uint8_t> seen(out.Sessions.size(), 0);  // bit 0 A0, bit 1 A1, bit 2 A2
  for (size_t off = 4; off + 11 <= len; off += 11) {
    const uint8_t* e = d + off;
    uint8_t session = e[0];
    if (session < out.FirstSession || session > out.LastSession) return false;
    TocData& t = out.Sessions[session - out.FirstSession];
    uint8_t adr = e[1] >> 4;
    uint8_t point = e[3];
    if (adr != 1) continue;  // ADR 5 (B0, C0, ...) and others carry no track
    TocAddress p{e[7], e[8], e[9], e[10]};
    if (point == 0xA0) {
      t.FirstTrack = e[8];
      t.DiscType = e[9];
      seen[session - out.FirstSession] |= 1;
    } else if (point == 0xA1) {
      t.LastTrack = e[8];
      seen[session - out.FirstSession] |= 2;
    } else if (point == 0xA2) {
      t.LeadOut = p;
      seen[session - out.FirstSession] |= 4;
    } else if (point >= 1 && point <= 99) {
      TocData::_Data td;
      td.AdrCtrl = e[1];
      td.TrackNo = point;
      td.Addr = p;
      t.Data.push_back(td);
    }
  }
  for (size_t i = 0; i < out.Sessions.size(); ++i) {
    TocData& t = out.Sessions[i];
    if (seen[i] != 7 || t.FirstTrack < 1 || t.LastTrack < t.FirstTrack || t.LastTrack > 99) return false;
    std::sort(t.Data.begin(), t.Data.end(),
              [](const TocData::_Data& a, const TocData::_Data& b) { return a.TrackNo < b.TrackNo; });
    t.TrackCount = int(t.Data.size());
    if (t.TrackCount != t.LastTrack - t.FirstTrack + 1) return false;
  }
  return true;
}

bool ParseFormattedToc(const uint8_t* d, size_t size, TocData& out) {
  out = TocData();
  if (size < 4) return false;
  size_t len = BE16(d) + 2u;
  if (len > size) len = size;
  if (len < 4 || (len - 4) % 8 != 0) return false;
  out.FirstTrack = d[2];
  out.LastTrack = d[3];
  bool leadOut = false;
  for (size_t off = 4; off + 8 <= len; off += 8) {
    const uint8_t* e = d + off;
    uint8_t track = e[2];
    TocAddress a = LbaToTocAddress(int32_t(BE32(e + 4)));
    if (track == 0xAA) {
      out.LeadOut = a;
      leadOut = true;
    } else if (track >= 1 && track <= 99) {
      TocData::_Data td;
      td.AdrCtrl = e[1];
      td.TrackNo = track;
      td.Addr = a;
      out.Data.push_back(td);
    } else {
      return false;
    }
  }
  out.TrackCount = int(out.Data.size());
  return leadOut && out.TrackCount > 0;
}

bool HasFeature(const uint8_t* c, size_t size, uint16_t feature) {
  if (size < 8) return false;
  uint64_t len = uint64_t(BE32(c)) + 4;
  if (len > size) len = size;
  for (uint64_t off = 8; off + 4 <= len;) {
    if (BE16(c + off) == feature) return true;
    off += 4 + c[off + 3];
  }
  return false;
}

uint16_t CurrentProfile(const uint8_t* c, size_t size) { return size >= 8 ? BE16(c + 6) : 0; }

uint16_t CdTextCrc(const uint8_t* p) {
  uint16_t crc = 0;
  for (int i = 0; i < 16; ++i) {
    crc ^= uint16_t(p[i] << 8);
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
  }
  return uint16_t(~crc);
}

void CdTextPacksToSubchannel(const uint8_t* packs, uint8_t* out) {
  // Three bytes make four symbols; a pack's 18 bytes are six such groups.
  for (int g = 0; g < 24; ++g) {
    const uint8_t* in = packs + 3 * g;
    uint32_t v = uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2];
    for (int k = 0; k < 4; ++k) out[4 * g + k] = uint8_t((v >> (18 - 6 * k)) & 0x3F);
  }
}

void SubchannelToCdTextPacks(const uint8_t* in, uint8_t* packs) {
  for (int g = 0; g < 24; ++g) {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v = v << 6 | (in[4 * g + k] & 0x3F);
    packs[3 * g] = uint8_t(v >> 16), packs[3 * g + 1] = uint8_t(v >> 8), packs[3 * g + 2] = uint8_t(v);
  }
}

bool IsValidMcn(const std::string& mcn) {
  return mcn.size() == 13 && std::all_of(mcn.begin(), mcn.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsValidIsrc(const std::string& isrc) {
  if (isrc.size() != 12) return false;
  for (size_t i = 0; i < 12; ++i) {
    const char c = isrc[i];
    const bool digit = c >= '0' && c <= '9', upper = c >= 'A' && c <= 'Z';
    if (i < 5 ? !(digit || upper) : !digit) return false;
  }
  return true;
}

bool ParseCdTextPacks(const uint8_t* packs, size_t size, FS_CDTEXT_INFO& out) {
  out = FS_CDTEXT_INFO();
  // Texts run on from pack to pack: collect each type's bytes of block 0 in
  // order, then cut them at the terminating zeros, one string per track.
  std::vector<uint8_t> stream[16];
  uint8_t firstTrack[16] = {};
  bool any = false;
  // The block's first track, from its size information: the texts of a
  // later session's lead-in go from the disc's (track 0) to that track.
  int blockFirst = 1;
  for (size_t off = 0; off + 18 <= size; off += 18) {
    const uint8_t* p = packs + off;
    if (CdTextCrc(p) != BE16(p + 16)) continue;
    uint8_t type = p[0];
    if (type < 0x80 || type > 0x8F) continue;
    if ((p[3] >> 4) & 7) continue;  // only block 0 (the first language)
    if (type == 0x8F && p[1] == 0 && p[5] >= 1 && p[5] <= 99) blockFirst = p[5];
    auto& s = stream[type - 0x80];
    if (s.empty()) firstTrack[type - 0x80] = p[1] & 0x7F;
    s.insert(s.end(), p + 4, p + 16);
    any = true;
  }
  if (!any) return false;
  for (int type = 0; type < 16; ++type) {
    auto& s = stream[type];
    if (s.empty()) continue;
    int track = firstTrack[type];
    size_t pos = 0;
    while (pos < s.size() && track <= 99) {
      size_t end = pos;
      while (end < s.size() && s[end] != 0) ++end;
      std::string text(s.begin() + long(pos), s.begin() + long(end));
      pos = end + 1;
      FS_CDTEXT_INFO::Track& t = out.Tracks[track];
      char* field = nullptr;
      size_t cap = 160;
      switch (type) {
        case 0x0: field = t.szTitle; break;
        case 0x1: field = t.szArtist; break;
        case 0x2: field = t.szSongster; break;
        case 0x3: field = t.szComposer; break;
        case 0x5: field = t.szSpecialTitle; break;
        case 0xE: field = t.szISRC; cap = 17; break;
        default: break;
      }
      if (field) {
        if (text == "\t" && track > 0) {  // a tab repeats the previous track's text
          const char* prev = field - (reinterpret_cast<char*>(&out.Tracks[track]) -
                                      reinterpret_cast<char*>(&out.Tracks[track - 1]));
          std::memcpy(field, prev, cap);
        } else {
          size_t n = std::min(text.size(), cap - 1);
          std::memcpy(field, text.data(), n);
          field[n] = 0;
        }
      }
      track = track == 0 ? blockFirst : track + 1;
    }
  }
  return true;
}

std::vector<uint8_t> BuildCdTextPacks(const std::vector<std::vector<std::string>>& texts, int firstTrack) {
  std::vector<uint8_t> out;
  uint8_t seq = 0;
  int lastTrack = 0;
  // Slot k of a type's texts is the disc (0) or the session's k-th track.
  const auto numberOf = [firstTrack](size_t slot) { return slot == 0 ? 0 : firstTrack + int(slot) - 1; };
  int packsPerType[16] = {};
  for (size_t type = 0; type < texts.size() && type < 15; ++type) {
    const auto& byTrack = texts[type];
    bool any = false;
    for (const auto& s : byTrack) any = any || !s.empty();
    if (!any) continue;
    lastTrack = std::max(lastTrack, numberOf(byTrack.size() - 1));
    // The text of every track, zero-terminated, laid end to end.
    std::vector<uint8_t> stream;
    std::vector<int> trackAt;  // track number of each byte
    for (size_t track = 0; track < byTrack.size(); ++track) {
      for (char ch : byTrack[track]) stream.push_back(uint8_t(ch)), trackAt.push_back(numberOf(track));
      stream.push_back(0), trackAt.push_back(numberOf(track));
    }
    for (size_t pos = 0; pos < stream.size(); pos += 12) {
      uint8_t p[18] = {};
      p[0] = uint8_t(0x80 + type);
      p[1] = uint8_t(trackAt[pos]);
      p[2] = seq++;
      // Characters of this track already given in earlier packs (at most 15).
      size_t first = pos;
      while (first > 0 && trackAt[first - 1] == trackAt[pos]) --first;
      p[3] = uint8_t(std::min<size_t>(pos - first, 15));
      for (size_t i = 0; i < 12; ++i) p[4 + i] = pos + i < stream.size() ? stream[pos + i] : 0;
      bytes::PutBE16(p + 16, CdTextCrc(p));
      out.insert(out.end(), p, p + 18);
      ++packsPerType[type];
    }
  }
  if (out.empty()) return out;
  // Size information: three packs of type 0x8F.
  uint8_t info[36] = {};
  info[0] = 0x00;  // ISO 8859-1
  info[1] = uint8_t(firstTrack);
  info[2] = uint8_t(std::max(lastTrack, firstTrack));
  for (int t = 0; t < 16; ++t) info[4 + t] = uint8_t(packsPerType[t]);
  info[4 + 15] = 3;
  info[20] = uint8_t(seq + 2);  // last sequence number of block 0
  info[28] = 0x09;              // language code: English
  for (int i = 0; i < 3; ++i) {
    uint8_t p[18] = {0x8F, uint8_t(i), seq++, 0};
    std::memcpy(p + 4, info + 12 * i, 12);
    bytes::PutBE16(p + 16, CdTextCrc(p));
    out.insert(out.end(), p, p + 18);
  }
  return out;
}
