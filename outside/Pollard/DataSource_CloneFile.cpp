#include "DataSource_CloneFile.h"

#include <sys/stat.h>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstring>
#include <future>
#include <memory>
#include <vector>

#include "ByteFields.h"
#include "DataSource_Device.h"
#include "OutputFile.h"
#include "SafeFile.h"
#include "Writeback.h"

namespace bcl {

namespace {

#if defined(__x86_64__) || defined(__i386__)
// Carry-less multiplication folds 64 bytes a step, ten times the speed of
// the tables: the checksum of a copy file then costs next to nothing beside
// reading it. `state` is the running register (inverted CRC); `size` is at
// least 64 and a multiple of 16. The constants are the powers of x modulo
// the polynomial for folding by 512 and 128 bits, x^64 mod P, and the Barrett
// pair (the quotient and P itself).
#define VARNEX_CLMUL __attribute__((target("pclmul,sse4.1")))
VARNEX_CLMUL inline __m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
VARNEX_CLMUL inline __m128i Fold16(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}
VARNEX_CLMUL uint32_t FoldClmul(uint32_t state, const uint8_t* p, size_t size) {
  __m128i x1 = _mm_xor_si128(Load16(p), _mm_cvtsi32_si128(int(state)));
  __m128i x2 = Load16(p + 16), x3 = Load16(p + 32), x4 = Load16(p + 48);
  p += 64, size -= 64;
  __m128i k = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
  for (; size >= 64; p += 64, size -= 64) {
    x1 = Fold16(x1, k, Load16(p));
    x2 = Fold16(x2, k, Load16(p + 16));
    x3 = Fold16(x3, k, Load16(p + 32));
    x4 = Fold16(x4, k, Load16(p + 48));
  }
  k = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
  x1 = Fold16(Fold16(Fold16(x1, k, x2), k, x3), k, x4);
  for (; size >= 16; p += 16, size -= 16) x1 = Fold16(x1, k, Load16(p));
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, k, 0x10), _mm_srli_si128(x1, 8));
  const __m128i low32 = _mm_setr_epi32(-1, 0, 0, 0);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), _mm_set_epi64x(0, 0x163cd6124), 0x00),
                     _mm_srli_si128(x1, 4));
  k = _mm_set_epi64x(0x1F7011641, 0x1DB710641);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), k, 0x00);
  return uint32_t(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}
#undef VARNEX_CLMUL
bool HaveClmul() {
  static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return have;
}
#endif

}  // namespace

const uint8_t kMagic[8] = {'V', 'X', 'B', 'C', 'L', 0x1A, 0x0D, 0x0A};

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) {
  // Sixteen bytes a step through sixteen tables: a copy file is checked
  // whole twice in a copy (made, then read back), and a byte at a time
  // would cost more than the disk does.
  static const std::array<std::array<uint32_t, 256>, 16> table = [] {
    std::array<std::array<uint32_t, 256>, 16> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
      for (size_t k = 1; k < 16; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
  }();
  // Little-endian words, whatever the machine's byte order.
  auto word = [](const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  };
  crc = ~crc;
#if defined(__x86_64__) || defined(__i386__)
  if (size >= 64 && HaveClmul()) {
    const size_t folded = size & ~size_t(15);
    crc = FoldClmul(crc, data, folded);
    data += folded, size -= folded;
  }
#endif
  for (; size >= 16; data += 16, size -= 16) {
    const uint32_t a = crc ^ word(data), b = word(data + 4), c = word(data + 8), d = word(data + 12);
    crc = table[15][a & 0xFF] ^ table[14][(a >> 8) & 0xFF] ^ table[13][(a >> 16) & 0xFF] ^ table[12][a >> 24] ^
          table[11][b & 0xFF] ^ table[10][(b >> 8) & 0xFF] ^ table[9][(b >> 16) & 0xFF] ^ table[8][b >> 24] ^
          table[7][c & 0xFF] ^ table[6][(c >> 8) & 0xFF] ^ table[5][(c >> 16) & 0xFF] ^ table[4][c >> 24] ^
          table[3][d & 0xFF] ^ table[2][(d >> 8) & 0xFF] ^ table[1][(d >> 16) & 0xFF] ^ table[0][d >> 24];
  }
  for (; size > 0; ++data, --size) crc = table[0][(crc ^ *data) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

}  // namespace bcl

namespace {

bool PreadAll(int fd, uint8_t* out, size_t size, uint64_t at) {
  while (size > 0) {
    ssize_t n = ::pread(fd, out, size, off_t(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    at += uint64_t(n);
    size -= size_t(n);
  }
  return true;
}

// Sectors read and written at a time: the drive is still asked for them in
// pieces it takes in one command.
constexpr int kPiece = 26 * 16;

// The block of extras: records of a type byte, a track byte (0: the disc),
// a 16-bit length and that many bytes.
enum : uint8_t { kCdText = 1, kCatalog = 2, kIsrc = 3, kIndexes = 4 };

void PutRecord(std::vector<uint8_t>& out, uint8_t type, int track, const uint8_t* data, size_t size) {
  out.push_back(type);
  out.push_back(uint8_t(track));
  out.push_back(uint8_t(size)), out.push_back(uint8_t(size >> 8));
  out.insert(out.end(), data, data + size);
}

std::vector<uint8_t> Extras(const DiscLayout& layout) {
  std::vector<uint8_t> out;
  if (!layout.cdText.empty()) PutRecord(out, kCdText, 0, layout.cdText.data(), layout.cdText.size());
  if (!layout.mcn.empty())
    PutRecord(out, kCatalog, 0, reinterpret_cast<const uint8_t*>(layout.mcn.data()), layout.mcn.size());
  for (const SourceSession& s : layout.sessions)
    for (const SourceTrack& t : s.tracks) {
      if (!t.isrc.empty()) PutRecord(out, kIsrc, t.number, reinterpret_cast<const uint8_t*>(t.isrc.data()), t.isrc.size());
      if (!t.indexes.empty()) {
        std::vector<uint8_t> v(t.indexes.size() * 4);
        for (size_t k = 0; k < t.indexes.size(); ++k) bytes::PutLE32(&v[4 * k], uint32_t(t.indexes[k]));
        PutRecord(out, kIndexes, t.number, v.data(), v.size());
      }
    }
  return out;
}

// The extras into `layout`; false when a record runs past the block or
// names no track. Records of types this program does not know are passed by.
bool TakeExtras(const std::vector<uint8_t>& block, DiscLayout& layout) {
  for (size_t at = 0; at < block.size();) {
    if (at + 4 > block.size()) return false;
    const uint8_t type = block[at], track = block[at + 1];
    const size_t size = bytes::LE16(&block[at + 2]);
    if (at + 4 + size > block.size()) return false;
    const uint8_t* d = &block[at + 4];
    SourceTrack* t = nullptr;
    for (SourceSession& s : layout.sessions)
      for (SourceTrack& x : s.tracks)
        if (x.number == track) t = &x;
    if (type == kCdText) layout.cdText.assign(d, d + size);
    else if (type == kCatalog) layout.mcn.assign(reinterpret_cast<const char*>(d), size);
    else if ((type == kIsrc || type == kIndexes) && !t) return false;
    else if (type == kIsrc) t->isrc.assign(reinterpret_cast<const char*>(d), size);
    else if (type == kIndexes) {
      if (size % 4) return false;
      for (size_t k = 0; k < size; k += 4) t->indexes.push_back(int32_t(bytes::LE32(d + k)));
    }
    at += 4 + size;
  }
  return true;
}

}  // namespace

DataSource_CloneFile::DataSource_CloneFile(const char* path) : path_(path ? path : "") {}

DataSource_CloneFile::~DataSource_CloneFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool DataSource_CloneFile::Refuse(const std::string& why) {
  valid_ = false;
  layout_ = DiscLayout();
  places_.clear();
  return Fail(path_ + ": " + why);
}

bool DataSource_CloneFile::GetFileInfo(bool checkSectors) {
  if (fd_ >= 0) ::close(fd_);
  std::string why;
  fd_ = safefile::OpenForReading(path_, &why);
  if (fd_ < 0) return Refuse(why.substr(std::min(why.size(), path_.size() + 2)));
  struct stat st;
  if (::fstat(fd_, &st) != 0) return Refuse(safefile::ErrorText(errno));
  uint8_t h[bcl::kHeaderSize];
  if (uint64_t(st.st_size) < sizeof h || !PreadAll(fd_, h, sizeof h, 0))
    return Refuse("not a disc copy file (too short for its header)");
  if (std::memcmp(h, bcl::kMagic, sizeof bcl::kMagic) != 0) return Refuse("not a disc copy file");
  const uint16_t version = bytes::LE16(h + 8);
  if (version != bcl::kVersion && version != bcl::kVersionExtras)
    return Refuse("a disc copy file of version " + std::to_string(bytes::LE16(h + 8)) + ", which this program cannot read");
  const uint16_t trackCount = bytes::LE16(h + 22);
  const uint32_t tableSize = bytes::LE32(h + 24);
  if (bytes::LE16(h + 10) != bcl::kHeaderSize || trackCount < 1 || trackCount > 99 ||
      tableSize != uint32_t(trackCount) * bcl::kTrackEntrySize)
    return Refuse("the copy file's header is damaged");
  std::vector<uint8_t> table(tableSize);
  if (uint64_t(st.st_size) < sizeof h + tableSize || !PreadAll(fd_, table.data(), tableSize, sizeof h))
    return Refuse("the copy file is cut off inside its track table");
  uint32_t crc = bcl::Crc32(0, h, 60);
  crc = bcl::Crc32(crc, table.data(), table.size());
  if (crc != bytes::LE32(h + 60)) return Refuse("the copy file's header or track table is damaged (checksum)");

  DiscLayout layout;
  layout.discType = h[12];
  layout.complete = h[13] != 0;
  layout.profile = bytes::LE16(h + 14);
  layout.sectorSize = int(bytes::LE32(h + 16));
  std::vector<Place> places;
  uint64_t expectOffset = sizeof h + tableSize;
  for (uint16_t i = 0; i < trackCount; ++i) {
    const uint8_t* e = table.data() + size_t(i) * bcl::kTrackEntrySize;
    SourceTrack t;
    t.number = e[0];
    t.session = e[1];
    t.control = e[2] & 0x0F;
    t.form = MODE_FORM(e[3]);
    t.pregapStart = int32_t(bytes::LE32(e + 4));
    t.start = int32_t(bytes::LE32(e + 8));
    t.length = int32_t(bytes::LE32(e + 12));
    if (bytes::LE64(e + 16) != expectOffset) return Refuse("the copy file's track table is damaged");
    if (layout.sessions.empty() || layout.sessions.back().number != t.session) {
      SourceSession s;
      s.number = t.session;
      layout.sessions.push_back(s);
    }
    layout.sessions.back().tracks.push_back(t);
    places.push_back({t.number, expectOffset});
    if (t.End() > t.pregapStart) expectOffset += uint64_t(t.End() - t.pregapStart) * uint64_t(std::max(0, layout.sectorSize));
  }
  std::string bad = layout.Check();
  if (!bad.empty()) return Refuse("the copy file's track table is damaged (" + bad + ")");
  if (layout.sessions.size() != bytes::LE16(h + 20) || uint64_t(layout.SectorsToRead()) != bytes::LE64(h + 28))
    return Refuse("the copy file's header is damaged");
  const uint64_t sectorsEnd = expectOffset;
  const uint32_t extrasSize = version == bcl::kVersionExtras ? bytes::LE32(h + 40) : 0;
  expectOffset += extrasSize;
  if (uint64_t(st.st_size) < expectOffset)
    return Refuse("the copy file is cut off: it holds " + std::to_string(st.st_size) + " of " +
                  std::to_string(expectOffset) + " bytes");
  if (uint64_t(st.st_size) > expectOffset) return Refuse("the copy file has bytes past its end; it is damaged");
  if (extrasSize > 0) {
    std::vector<uint8_t> block(extrasSize);
    if (!PreadAll(fd_, block.data(), block.size(), sectorsEnd))
      return Refuse("the copy file cannot be read: " + safefile::ErrorText(errno));
    if (bcl::Crc32(0, block.data(), block.size()) != bytes::LE32(h + 44) || !TakeExtras(block, layout))
      return Refuse("the copy file's CD-Text, codes or index points are damaged");
    bad = layout.Check();
    if (!bad.empty()) return Refuse("the copy file's CD-Text, codes or index points are damaged (" + bad + ")");
  }
  if (checkSectors) {
    std::vector<uint8_t> piece(size_t(256) * size_t(layout.sectorSize));
    uint32_t dataCrc = 0;
    for (uint64_t at = sizeof h + tableSize; at < sectorsEnd;) {
      size_t n = size_t(std::min<uint64_t>(piece.size(), sectorsEnd - at));
      if (!PreadAll(fd_, piece.data(), n, at)) return Refuse("the copy file cannot be read: " + safefile::ErrorText(errno));
      dataCrc = bcl::Crc32(dataCrc, piece.data(), n);
      at += n;
    }
    if (dataCrc != bytes::LE32(h + 36)) return Refuse("the copy file's sectors are damaged (checksum)");
  }
  layout_ = layout;
  places_ = places;
  valid_ = true;
  error_.clear();
  return true;
}

int DataSource_CloneFile::GetGeneProgress() const {
  int64_t total = geneTotal_, done = geneDone_;
  return total > 0 ? int(std::clamp<int64_t>(done * 100 / total, 0, 100)) : 0;
}

namespace {

// Why the disc in `disc` cannot be copied with sectors of `sectorSize` bytes
// (GENE_OK when it can).
int SourceProblem(DataSource_Device& disc, int sectorSize, std::string* why) {
  if (!disc.IsValid()) {
    *why = disc.GetLastError();
    return GENE_SOURCE_UNREADABLE;
  }
  const DiscLayout& layout = disc.Layout();
  if (layout.sessions.empty()) {
    *why = "the source disc is blank";
    return GENE_SOURCE_EMPTY;
  }
  if (sectorSize != layout.sectorSize) {
    *why = "a copy of this disc needs sectors of " + std::to_string(layout.sectorSize) + " bytes";
    return GENE_BAD_SECTOR_SIZE;
  }
  return GENE_OK;
}

// One entry of the track table, for a track whose sectors begin at `offset`.
void PutTrackEntry(uint8_t* e, const SourceTrack& t, uint64_t offset) {
  e[0] = uint8_t(t.number);
  e[1] = uint8_t(t.session);
  e[2] = t.control;
  e[3] = uint8_t(t.form);
  bytes::PutLE32(e + 4, uint32_t(t.pregapStart));
  bytes::PutLE32(e + 8, uint32_t(t.start));
  bytes::PutLE32(e + 12, uint32_t(t.length));
  bytes::PutLE64(e + 16, offset);
}

// The header in front of the track table `head` already holds, with the
// checksums of both and of the sectors.
void PutHeader(std::vector<uint8_t>& head, const DiscLayout& layout, int sectorSize, int trackCount,
               uint32_t dataCrc, const std::vector<uint8_t>& extras) {
  uint8_t* h = head.data();
  std::memcpy(h, bcl::kMagic, sizeof bcl::kMagic);
  bytes::PutLE16(h + 8, extras.empty() ? bcl::kVersion : bcl::kVersionExtras);
  if (!extras.empty()) {
    bytes::PutLE32(h + 40, uint32_t(extras.size()));
    bytes::PutLE32(h + 44, bcl::Crc32(0, extras.data(), extras.size()));
  }
  bytes::PutLE16(h + 10, bcl::kHeaderSize);
  h[12] = uint8_t(layout.discType);
  h[13] = layout.complete ? 1 : 0;
  bytes::PutLE16(h + 14, uint16_t(layout.profile));
  bytes::PutLE32(h + 16, uint32_t(sectorSize));
  bytes::PutLE16(h + 20, uint16_t(layout.sessions.size()));
  bytes::PutLE16(h + 22, uint16_t(trackCount));
  bytes::PutLE32(h + 24, uint32_t(trackCount * bcl::kTrackEntrySize));
  bytes::PutLE64(h + 28, uint64_t(layout.SectorsToRead()));
  bytes::PutLE32(h + 36, dataCrc);
  uint32_t crc = bcl::Crc32(0, h, 60);
  crc = bcl::Crc32(crc, h + bcl::kHeaderSize, head.size() - bcl::kHeaderSize);
  bytes::PutLE32(h + 60, crc);
}

}  // namespace

int DataSource_CloneFile::CopyTrack(DataSource_Device& disc, const SourceTrack& t, OutputFile& out,
                                    std::array<std::vector<uint8_t>, 2>& pieces, int sectorSize, uint64_t* offset,
                                    uint32_t* dataCrc) {
  if (!disc.OpenTrack(t.number) || !disc.SetStartAdd(t.pregapStart)) {
    error_ = disc.GetLastError();
    return GENE_SOURCE_UNREADABLE;
  }
  // The drive reads the next piece while this one goes to the file, so that
  // neither the drive nor the disk waits on the other. The reading is always
  // waited for before this returns (the future's end), and the pieces
  // outlive it.
  auto length = [&](int32_t at) { return std::min<int32_t>(kPiece, t.End() - at); };
  auto read = [&disc, &length](std::vector<uint8_t>& into, int32_t at) {
    return std::async(std::launch::async, [&disc, &into, n = length(at)] { return disc.GetSectorData(into.data(), n); });
  };
  std::future<bool> reading;
  if (t.pregapStart < t.End()) reading = read(pieces[0], t.pregapStart);
  for (int32_t at = t.pregapStart, k = 0; at < t.End(); k ^= 1) {
    const int n = length(at);
    if (!reading.get()) {
      error_ = disc.GetLastError();
      return GENE_SOURCE_UNREADABLE;
    }
    if (stop_) {
      error_ = "stopped";
      return GENE_STOPPED;
    }
    if (at + n < t.End()) reading = read(pieces[size_t(k ^ 1)], at + n);
    const std::vector<uint8_t>& piece = pieces[size_t(k)];
    const size_t bytes = size_t(n) * size_t(sectorSize);
    if (!out.WriteAt(piece.data(), bytes, off_t(*offset))) {
      error_ = "cannot write " + out.Error();
      return GENE_WRITE_FAILED;
    }
    safefile::StartWriteback(out.fd(), off_t(*offset), bytes);
    *dataCrc = bcl::Crc32(*dataCrc, piece.data(), bytes);
    *offset += bytes;
    at += n;
    geneDone_ += n;
  }
  return GENE_OK;
}

int DataSource_CloneFile::GeneFile(CDevCmdROM* source, int sectorSize) {
  geneDone_ = 0;
  geneTotal_ = 0;
  DataSource_Device disc(source);
  if (int problem = SourceProblem(disc, sectorSize, &error_); problem != GENE_OK) return problem;
  const DiscLayout& layout = disc.Layout();
  // A copy file never replaces anything at its place.
  if (std::string inTheWay = OutputInTheWay(path_, Existing::kKeep); !inTheWay.empty()) {
    error_ = path_ + " " + inTheWay;
    return GENE_FILE_IN_THE_WAY;
  }
  OutputFile out;
  if (!out.Open(path_, Existing::kKeep)) {
    error_ = "cannot create " + out.Error();
    return GENE_WRITE_FAILED;
  }
  geneTotal_ = layout.SectorsToRead();
  const int trackCount = layout.TrackCount();
  std::vector<uint8_t> head(bcl::kHeaderSize + size_t(trackCount) * bcl::kTrackEntrySize, 0);
  uint64_t offset = head.size();
  uint32_t dataCrc = 0;
  std::array<std::vector<uint8_t>, 2> pieces;
  for (auto& p : pieces) p.resize(size_t(kPiece) * size_t(sectorSize));
  auto fail = [&](int code, const std::string& why) {
    error_ = why;
    out.Discard();
    return code;
  };
  if (!out.WriteAt(head.data(), head.size(), 0)) return fail(GENE_WRITE_FAILED, "cannot write " + out.Error());
  int index = 0;
  for (const SourceSession& s : layout.sessions) {
    for (const SourceTrack& t : s.tracks) {
      PutTrackEntry(head.data() + bcl::kHeaderSize + size_t(index++) * bcl::kTrackEntrySize, t, offset);
      if (int code = CopyTrack(disc, t, out, pieces, sectorSize, &offset, &dataCrc); code != GENE_OK) {
        out.Discard();
        return code;
      }
    }
  }
  const std::vector<uint8_t> extras = Extras(layout);
  if (!extras.empty() && !out.WriteAt(extras.data(), extras.size(), off_t(offset)))
    return fail(GENE_WRITE_FAILED, "cannot write " + out.Error());
  PutHeader(head, layout, sectorSize, trackCount, dataCrc, extras);
  if (!out.WriteAt(head.data(), head.size(), 0)) return fail(GENE_WRITE_FAILED, "cannot write " + out.Error());
  if (stop_) return fail(GENE_STOPPED, "stopped");
  if (!out.Commit()) {
    error_ = out.Error();
    return errno == EEXIST ? GENE_FILE_IN_THE_WAY : GENE_WRITE_FAILED;
  }
  rebuilt_ = disc.RebuiltRawSectors();
  return GENE_OK;
}

bool DataSource_CloneFile::GetSectorData(uint8_t* buffer, int count) {
  const SourceTrack* t = Open();
  if (!valid_ || !t) return Fail("no track is open");
  if (count < 0 || position_ + count > t->End()) return Fail("reading past the end of the track");
  uint64_t base = 0;
  for (const Place& p : places_)
    if (p.number == t->number) base = p.offset;
  uint64_t at = base + uint64_t(position_ - t->pregapStart) * uint64_t(layout_.sectorSize);
  errno = 0;
  if (!PreadAll(fd_, buffer, size_t(count) * size_t(layout_.sectorSize), at))
    return Fail(path_ + ": the copy file cannot be read (" + (errno ? safefile::ErrorText(errno) : "it ends early") + ")");
  position_ += count;
  return true;
}

DataSource* DataSource_CloneFile::CloneSource() {
  auto copy = std::make_unique<DataSource_CloneFile>(path_.c_str());
  if (!copy->GetFileInfo(false)) {
    error_ = copy->GetLastError();
    return nullptr;
  }
  return copy.release();
}
