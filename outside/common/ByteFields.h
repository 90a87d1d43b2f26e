#pragma once
// Little-, big- and both-endian fields of the on-disc and on-wire formats.
// Every writer and reader of a byte layout goes through these helpers.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace bytes {

inline void PutLE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void PutBE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
inline void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutBE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * (3 - i)));
}
inline void PutLE64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutBE64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * (7 - i)));
}
// ISO 9660 "both-byte order": little-endian immediately followed by big-endian.
inline void PutBoth16(uint8_t* p, uint16_t v) { PutLE16(p, v); PutBE16(p + 2, v); }
inline void PutBoth32(uint8_t* p, uint32_t v) { PutLE32(p, v); PutBE32(p + 4, v); }

inline uint16_t LE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint16_t BE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t LE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint32_t BE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint64_t LE64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
inline uint64_t BE64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

// Copies at most `size` bytes of `text` into a field, the rest filled with `fill`.
inline void PutText(uint8_t* p, size_t size, const char* text, size_t len, uint8_t fill = 0) {
  size_t n = len < size ? len : size;
  std::memcpy(p, text, n);
  std::memset(p + n, fill, size - n);
}

}  // namespace bytes
