#include "authoring/ImportedEntry.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool ParseDecimal(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    if (v > (max - uint64_t(c - '0')) / 10) return false;
    v = v * 10 + uint64_t(c - '0');
  }
  *value = v;
  return true;
}

bool ParseDate(const std::string& text, std::array<uint8_t, 7>* date) {
  if (text.size() == 14) {
    for (int i = 0; i < 7; ++i) {
      int hi = HexValue(text[2 * i]), lo = HexValue(text[2 * i + 1]);
      if (hi < 0 || lo < 0) return false;
      (*date)[i] = uint8_t(hi * 16 + lo);
    }
    return true;
  }
  if (text.size() == 7) {
    std::memcpy(date->data(), text.data(), 7);
    return true;
  }
  return false;
}

// "[s-c,s-c]" -> extents.
bool ParseExtents(const std::string& text, std::vector<std::pair<uint32_t, uint32_t>>* extents) {
  if (text.size() < 2 || text.front() != '[' || text.back() != ']') return false;
  std::string body = text.substr(1, text.size() - 2);
  size_t pos = 0;
  while (pos < body.size()) {
    size_t comma = body.find(',', pos);
    if (comma == std::string::npos) comma = body.size();
    std::string item = body.substr(pos, comma - pos);
    size_t dash = item.find('-');
    uint64_t start = 0, count = 0;
    if (dash == std::string::npos || !ParseDecimal(item.substr(0, dash), UINT32_MAX, &start) ||
        !ParseDecimal(item.substr(dash + 1), UINT32_MAX, &count))
      return false;
    extents->emplace_back(uint32_t(start), uint32_t(count));
    pos = comma + 1;
  }
  return true;
}

bool ParseSigned(const std::string& text, int64_t* value) {
  uint64_t v = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!ParseDecimal(negative ? text.substr(1) : text, uint64_t(INT64_MAX), &v)) return false;
  *value = negative ? -int64_t(v) : int64_t(v);
  return true;
}

// "{mode,uid,gid,m,a,c[,hex]}" -> the entry's POSIX view.
bool ParsePosix(const std::string& text, ImportedEntry* e) {
  if (text.size() < 2 || text.front() != '{' || text.back() != '}') return false;
  std::vector<std::string> items;
  const std::string body = text.substr(1, text.size() - 2);
  for (size_t pos = 0;;) {
    const size_t comma = body.find(',', pos);
    items.push_back(body.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  if (items.size() != 6 && items.size() != 7) return false;
  uint64_t mode = 0, uid = 0, gid = 0;
  if (!ParseDecimal(items[0], UINT32_MAX, &mode) || !ParseDecimal(items[1], UINT32_MAX, &uid) ||
      !ParseDecimal(items[2], UINT32_MAX, &gid) || !ParseSigned(items[3], &e->modified) ||
      !ParseSigned(items[4], &e->accessed) || !ParseSigned(items[5], &e->changed))
    return false;
  e->posix = true;
  e->mode = uint32_t(mode), e->uid = uint32_t(uid), e->gid = uint32_t(gid);
  if (items.size() == 7) {
    const std::string& hex = items[6];
    if (hex.size() % 2) return false;
    e->link = true;
    for (size_t i = 0; i < hex.size(); i += 2) {
      const int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
      if (hi < 0 || lo < 0) return false;
      e->linkTarget += char(hi * 16 + lo);
    }
  }
  return true;
}

}  // namespace

std::string FormatImportedEntry(const ImportedEntry& e) {
  if (e.kind == ImportedEntry::kFolder) return "<2><" + e.name + ">";
  std::string date;
  for (uint8_t b : e.date) {
    date += kHex[b >> 4];
    date += kHex[b & 15];
  }
  std::string text = "<1><" + e.name + "><" + date + "><" + std::to_string(e.size) + "><" +
                     std::to_string(e.location) + ">";
  if (!e.extents.empty()) {
    text += "[";
    for (size_t i = 0; i < e.extents.size(); ++i) {
      if (i) text += ",";
      text += std::to_string(e.extents[i].first) + "-" + std::to_string(e.extents[i].second);
    }
    text += "]";
  }
  if (e.posix) {
    text += "{" + std::to_string(e.mode) + "," + std::to_string(e.uid) + "," + std::to_string(e.gid) + "," +
            std::to_string(e.modified) + "," + std::to_string(e.accessed) + "," + std::to_string(e.changed);
    if (e.link) {
      text += ",";
      for (char c : e.linkTarget) {
        text += kHex[uint8_t(c) >> 4];
        text += kHex[uint8_t(c) & 15];
      }
    }
    text += "}";
  }
  return text;
}

bool ParseImportedEntry(const std::string& text, ImportedEntry* out) {
  ImportedEntry e;
  if (text.size() < 5 || text[0] != '<' || text[2] != '>' || text[3] != '<') return false;
  if (text[1] == '2') {
    if (text.back() != '>') return false;
    e.kind = ImportedEntry::kFolder;
    e.name = text.substr(4, text.size() - 5);
    *out = e;
    return !e.name.empty();
  }
  if (text[1] != '1') return false;
  e.kind = ImportedEntry::kFile;
  // The name may hold any character, so the fixed fields are taken from the end.
  std::string rest = text;
  size_t tail = rest.rfind('>');
  if (tail == std::string::npos) return false;
  if (tail + 1 < rest.size() && rest.back() == '}') {
    const size_t open = rest.rfind('{');
    if (open == std::string::npos || open <= tail || !ParsePosix(rest.substr(open), &e)) return false;
    rest.resize(open);
  }
  if (tail + 1 < rest.size()) {
    if (!ParseExtents(rest.substr(tail + 1), &e.extents)) return false;
    rest.resize(tail + 1);
  }
  std::string fields[3];  // location, size, date
  for (std::string& field : fields) {
    if (rest.size() < 2 || rest.back() != '>') return false;
    size_t open = rest.rfind('<', rest.size() - 2);
    if (open == std::string::npos || open < 4) return false;
    field = rest.substr(open + 1, rest.size() - open - 2);
    rest.resize(open);
  }
  uint64_t location = 0;
  if (!ParseDecimal(fields[0], UINT32_MAX, &location)) return false;
  e.location = uint32_t(location);
  if (!ParseDecimal(fields[1], UINT64_MAX, &e.size)) return false;
  if (!ParseDate(fields[2], &e.date)) return false;
  if (rest.size() < 5 || rest.back() != '>') return false;
  e.name = rest.substr(4, rest.size() - 5);
  if (e.name.empty()) return false;
  *out = e;
  return true;
}
