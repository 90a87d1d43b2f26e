#include "cli/CliText.h"

#include <cstdint>
#include <cstdio>

namespace {

std::string Escaped(uint8_t c) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02x", c);
  return text;
}

}  // namespace

std::string ShownText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t c = uint8_t(text[i]);
    if (c < 0x20 || c == 0x7F) {
      out += Escaped(c);
    } else if (c == 0xC2 && i + 1 < text.size() && uint8_t(text[i + 1]) >= 0x80 && uint8_t(text[i + 1]) <= 0x9F) {
      out += Escaped(c) + Escaped(uint8_t(text[i + 1]));  // a C1 control written in UTF-8
      ++i;
    } else if (c >= 0x80 && c <= 0x9F && (i == 0 || uint8_t(text[i - 1]) < 0x80)) {
      out += Escaped(c);  // a lone C1 byte, which 8-bit terminals obey
    } else {
      out += char(c);
    }
  }
  return out;
}
