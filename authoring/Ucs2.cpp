#include "authoring/Ucs2.h"

bool Utf8ToUtf16(const std::string& utf8, std::u16string* out) {
  out->clear();
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  size_t n = utf8.size();
  for (size_t i = 0; i < n;) {
    uint32_t c = s[i];
    int extra;
    if (c < 0x80) {
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      c &= 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      c &= 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      c &= 0x07;
    } else {
      return false;
    }
    if (extra > 0 && i + size_t(extra) >= n) return false;
    for (int k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      out->push_back(char16_t(0xD800 + (c >> 10)));
      out->push_back(char16_t(0xDC00 + (c & 0x3FF)));
    } else {
      out->push_back(char16_t(c));
    }
    i += 1 + extra;
  }
  return true;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone surrogate from a damaged disc
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Utf16ToBigEndianBytes(const std::u16string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    out += char(c >> 8);
    out += char(c & 0xFF);
  }
  return out;
}

std::u16string BigEndianBytesToUtf16(const uint8_t* p, size_t byteCount) {
  std::u16string out;
  for (size_t i = 0; i + 1 < byteCount; i += 2) out.push_back(char16_t((p[i] << 8) | p[i + 1]));
  return out;
}
