#include "CdSector.h"

#include <cstring>

#include "ByteFields.h"
#include "SectorSizes.h"

namespace cdsector {
namespace {

struct Tables {
  uint8_t mulAlpha[256];    // x * alpha in GF(2^8), polynomial x^8+x^4+x^3+x^2+1
  uint8_t divOnePlusAlpha[256];
  // edc[k][i]: the EDC register after byte i followed by k zero bytes, so
  // that eight bytes are taken in one step.
  uint32_t edc[8][256];
  Tables() {
    for (int i = 0; i < 256; ++i) {
      int j = (i << 1) ^ ((i & 0x80) ? 0x11D : 0);
      mulAlpha[i] = uint8_t(j);
      divOnePlusAlpha[i ^ j] = uint8_t(i);
      uint32_t e = uint32_t(i);
      for (int k = 0; k < 8; ++k) e = (e >> 1) ^ ((e & 1) ? 0xD8018001u : 0);
      edc[0][i] = e;
    }
    for (int i = 0; i < 256; ++i)
      for (int k = 1; k < 8; ++k) edc[k][i] = (edc[k - 1][i] >> 8) ^ edc[0][edc[k - 1][i] & 0xFF];
  }
};

const Tables& T() {
  static const Tables t;
  return t;
}

// Sixteen bytes side by side: the P codewords are columns, so one row of
// the sector feeds many of them at once.
typedef uint8_t Bytes16 __attribute__((vector_size(16)));
typedef int8_t Signed16 __attribute__((vector_size(16)));

inline Bytes16 Load16(const uint8_t* p) {
  Bytes16 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Each byte times alpha: shifted up, the polynomial folded in where the top
// bit fell out.
inline Bytes16 MulAlpha16(Bytes16 a) { return (a + a) ^ (reinterpret_cast<Bytes16>(reinterpret_cast<Signed16>(a) < 0) & 0x1D); }

// The P parity: 86 columns of 24 bytes from the header on, each row one
// run of 86 bytes. The lanes past the 86th read on into the next row (or
// the parity area) and are thrown away; no read leaves the sector.
void ParityP(const uint8_t* src, uint8_t* dest) {
  constexpr int kColumns = 86, kRows = 24, kVectors = (kColumns + 15) / 16;
  Bytes16 a[kVectors] = {}, b[kVectors] = {};
  for (int row = 0; row < kRows; ++row) {
    const uint8_t* in = src + row * kColumns;
    for (int j = 0; j < kVectors; ++j) {
      const Bytes16 v = Load16(in + 16 * j);
      b[j] ^= v;
      a[j] = MulAlpha16(a[j] ^ v);
    }
  }
  const Tables& t = T();
  for (int c = 0; c < kColumns; ++c) {
    const uint8_t bc = b[c / 16][c % 16];
    const uint8_t ac = t.divOnePlusAlpha[t.mulAlpha[a[c / 16][c % 16]] ^ bc];
    dest[c] = ac;
    dest[c + kColumns] = uint8_t(ac ^ bc);
  }
}

// One family of Reed-Solomon codewords (the P columns or the Q diagonals) over
// the 2236 bytes that start at the header.
void ParityBlock(const uint8_t* src, int majorCount, int minorCount, int majorMult, int minorInc,
                 uint8_t* dest) {
  const Tables& t = T();
  int size = majorCount * minorCount;
  for (int major = 0; major < majorCount; ++major) {
    int index = (major >> 1) * majorMult + (major & 1);
    uint8_t a = 0, b = 0;
    for (int minor = 0; minor < minorCount; ++minor) {
      uint8_t v = src[index];
      index += minorInc;
      if (index >= size) index -= size;
      a ^= v;
      b ^= v;
      a = t.mulAlpha[a];
    }
    a = t.divOnePlusAlpha[t.mulAlpha[a] ^ b];
    dest[major] = a;
    dest[major + majorCount] = uint8_t(a ^ b);
  }
}

void PutHeader(int32_t lba, uint8_t mode, uint8_t* raw) {
  static const uint8_t sync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  std::memcpy(raw, sync, 12);
  int32_t v = lba + 150;
  if (v < 0) v += 450000;  // addresses before 00:00:00 wrap to the top of the scale
  const Msf m = FramesToMsf(v);
  raw[12] = ToBcd(m.M);
  raw[13] = ToBcd(m.S);
  raw[14] = ToBcd(m.F);
  raw[15] = mode;
}

}  // namespace

int UserSize(Mode m) {
  switch (m) {
    case Mode::Audio: return kRawSectorSize;
    case Mode::Mode1: return kDataSectorSize;
    case Mode::Mode2Form1: return kDataSectorSize;
    case Mode::Mode2Form2: return kForm2Size;
    case Mode::Mode2Formless: return kMode2Size;
  }
  return kDataSectorSize;
}

int UserOffset(Mode m) {
  switch (m) {
    case Mode::Audio: return 0;
    case Mode::Mode1: return 16;
    case Mode::Mode2Formless: return 16;
    default: return 24;
  }
}

uint32_t Edc(const uint8_t* data, size_t size) {
  const auto& e = T().edc;
  uint32_t edc = 0;
  for (; size >= 8; data += 8, size -= 8) {
    const uint32_t lo = edc ^ bytes::LE32(data), hi = bytes::LE32(data + 4);
    edc = e[7][lo & 0xFF] ^ e[6][(lo >> 8) & 0xFF] ^ e[5][(lo >> 16) & 0xFF] ^ e[4][lo >> 24] ^ e[3][hi & 0xFF] ^
          e[2][(hi >> 8) & 0xFF] ^ e[1][(hi >> 16) & 0xFF] ^ e[0][hi >> 24];
  }
  for (; size > 0; ++data, --size) edc = (edc >> 8) ^ e[0][(edc ^ *data) & 0xFF];
  return edc;
}

void FillEcc(uint8_t* raw, bool zeroHeader) {
  uint8_t saved[4];
  std::memcpy(saved, raw + 12, 4);
  if (zeroHeader) std::memset(raw + 12, 0, 4);
  ParityP(raw + 12, raw + 2076);
  ParityBlock(raw + 12, 52, 43, 86, 88, raw + 2248);
  std::memcpy(raw + 12, saved, 4);
}

void Encode(int32_t lba, Mode mode, const uint8_t* user, uint8_t* raw, const uint8_t* subheader) {
  if (mode == Mode::Audio) {
    std::memcpy(raw, user, kRawSize);
    return;
  }
  std::memset(raw, 0, kRawSize);
  if (mode == Mode::Mode1) {
    PutHeader(lba, 1, raw);
    std::memcpy(raw + 16, user, kDataSectorSize);
    bytes::PutLE32(raw + 2064, Edc(raw, 2064));
    FillEcc(raw, false);
    return;
  }
  PutHeader(lba, 2, raw);
  if (mode == Mode::Mode2Formless) {
    std::memcpy(raw + 16, user, kMode2Size);
    return;
  }
  uint8_t sh[4] = {0, 0, uint8_t(mode == Mode::Mode2Form2 ? 0x20 : 0x08), 0};
  if (subheader) std::memcpy(sh, subheader, 4);
  if (mode == Mode::Mode2Form2) sh[2] |= 0x20; else sh[2] &= uint8_t(~0x20);
  std::memcpy(raw + 16, sh, 4);
  std::memcpy(raw + 20, sh, 4);
  if (mode == Mode::Mode2Form1) {
    std::memcpy(raw + 24, user, kDataSectorSize);
    bytes::PutLE32(raw + 2072, Edc(raw + 16, 2056));
    FillEcc(raw, true);
  } else {
    std::memcpy(raw + 24, user, kForm2Size);
    bytes::PutLE32(raw + 2348, Edc(raw + 16, 2332));
  }
}

void EncodeMode2Mixed(int32_t lba, const uint8_t* data, uint8_t* raw) {
  bool form2 = data[2] & 0x20;
  Encode(lba, form2 ? Mode::Mode2Form2 : Mode::Mode2Form1, data + 8, raw, data);
}

Mode ModeOf(const uint8_t* raw) {
  static const uint8_t sync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  if (std::memcmp(raw, sync, 12) != 0) return Mode::Audio;
  if (raw[15] == 1) return Mode::Mode1;
  if (raw[15] == 2) {
    // A form is only claimed when both sub-header copies agree.
    if (std::memcmp(raw + 16, raw + 20, 4) != 0) return Mode::Mode2Formless;
    return (raw[18] & 0x20) ? Mode::Mode2Form2 : Mode::Mode2Form1;
  }
  return Mode::Audio;
}

}  // namespace cdsector
