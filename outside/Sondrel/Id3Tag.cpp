#include "Id3Tag.h"

#include <cstring>

namespace {

bool IsUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    uint8_t c = uint8_t(s[i]);
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + size_t(extra) >= s.size()) return false;
    for (int k = 1; k <= extra; ++k)
      if ((uint8_t(s[i + size_t(k)]) & 0xC0) != 0x80) return false;
    i += size_t(extra) + 1;
  }
  return true;
}

// UTF-8 into UTF-16 little-endian code units (characters past the basic
// plane as surrogate pairs).
std::vector<uint16_t> Utf16(const std::string& s) {
  std::vector<uint16_t> out;
  for (size_t i = 0; i < s.size();) {
    uint8_t c = uint8_t(s[i]);
    uint32_t cp;
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : 3;
    cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k <= extra && i + size_t(k) < s.size(); ++k) cp = (cp << 6) | (uint8_t(s[i + size_t(k)]) & 0x3F);
    i += size_t(extra) + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(uint16_t(0xD800 | (cp >> 10)));
      out.push_back(uint16_t(0xDC00 | (cp & 0x3FF)));
    } else {
      out.push_back(uint16_t(cp));
    }
  }
  return out;
}

void PutBE32(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}

void TextFrame(std::vector<uint8_t>& tag, const char* id, const std::string& text) {
  if (text.empty()) return;
  std::vector<uint16_t> units = Utf16(text);
  std::vector<uint8_t> body = {0x01, 0xFF, 0xFE};  // UTF-16 with its byte-order mark
  for (uint16_t u : units) {
    body.push_back(uint8_t(u));
    body.push_back(uint8_t(u >> 8));
  }
  body.push_back(0);
  body.push_back(0);
  tag.insert(tag.end(), id, id + 4);
  PutBE32(tag, uint32_t(body.size()));
  tag.push_back(0);
  tag.push_back(0);
  tag.insert(tag.end(), body.begin(), body.end());
}

}  // namespace

std::string CdTextToUtf8(const char* text, size_t maxLength) {
  std::string raw(text, strnlen(text, maxLength));
  if (IsUtf8(raw)) return raw;
  std::string out;
  for (unsigned char c : raw) {
    if (c < 0x80) {
      out += char(c);
    } else {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::vector<uint8_t> BuildId3v2Tag(const AudioTags& tags) {
  if (tags.Empty()) return {};
  std::vector<uint8_t> frames;
  TextFrame(frames, "TIT2", tags.title);
  TextFrame(frames, "TPE1", tags.artist);
  TextFrame(frames, "TALB", tags.album);
  TextFrame(frames, "TPE2", tags.albumArtist);
  TextFrame(frames, "TCOM", tags.composer);
  if (tags.track > 0)
    TextFrame(frames, "TRCK",
              std::to_string(tags.track) + (tags.trackTotal > 0 ? "/" + std::to_string(tags.trackTotal) : ""));
  std::vector<uint8_t> tag = {'I', 'D', '3', 3, 0, 0};
  // The size is "synchsafe": seven bits to a byte.
  uint32_t size = uint32_t(frames.size());
  for (int s = 21; s >= 0; s -= 7) tag.push_back(uint8_t((size >> s) & 0x7F));
  tag.insert(tag.end(), frames.begin(), frames.end());
  return tag;
}
