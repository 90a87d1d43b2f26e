#include "foundation/ProfileIni.h"

#include "OutputFile.h"

#include <strings.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace ini {
namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::vector<std::string> ReadLines(const std::string& path, bool* found) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  *found = bool(in);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  // A UTF-8 byte order mark at the start is not part of the first section name.
  if (!lines.empty() && lines[0].rfind("\xEF\xBB\xBF", 0) == 0) lines[0].erase(0, 3);
  return lines;
}

// "[name]" -> name; anything else -> false.
bool SectionName(const std::string& line, std::string* name) {
  std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  size_t close = t.find(']');
  if (close == std::string::npos) return false;
  *name = Trim(t.substr(1, close - 1));
  return true;
}

bool KeyValue(const std::string& line, std::string* key, std::string* value) {
  size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  *key = Trim(line.substr(0, eq));
  *value = Trim(line.substr(eq + 1));
  return !key->empty() && (*key)[0] != ';';
}

}  // namespace

std::string KeyOf(int id) { return std::to_string(id); }

std::string GetString(const std::string& path, const std::string& section, const std::string& key,
                      const std::string& fallback) {
  bool found = false;
  std::vector<std::string> lines = ReadLines(path, &found);
  std::string result = fallback;
  bool inSection = false;
  for (const std::string& line : lines) {
    std::string name, k, v;
    if (SectionName(line, &name)) {
      inSection = SameText(name, section);
      continue;
    }
    if (inSection && KeyValue(line, &k, &v) && SameText(k, key)) {
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
      result = v;
      break;
    }
  }
  if (result.size() > kValueBuffer - 1) result.resize(kValueBuffer - 1);
  return result;
}

int GetInt(const std::string& path, const std::string& section, const std::string& key,
           int fallback) {
  std::string v = GetString(path, section, key, "\x01");
  if (v == "\x01") return fallback;
  return std::atoi(v.c_str());
}

bool WriteString(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& value) {
  bool found = false;
  std::vector<std::string> lines = ReadLines(path, &found);
  const std::string entry = key + "=" + value;

  int sectionLine = -1;
  int lastInSection = -1;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string name, k, v;
    if (SectionName(lines[i], &name)) {
      if (inSection) break;  // the first matching section is the one written
      inSection = SameText(name, section);
      if (inSection) sectionLine = lastInSection = int(i);
      continue;
    }
    if (!inSection) continue;
    if (KeyValue(lines[i], &k, &v) && SameText(k, key)) {
      lines[i] = entry;
      sectionLine = -2;  // replaced in place
      break;
    }
    if (!Trim(lines[i]).empty()) lastInSection = int(i);
  }
  if (sectionLine >= 0) {
    lines.insert(lines.begin() + lastInSection + 1, entry);
  } else if (sectionLine == -1) {
    lines.push_back("[" + section + "]");
    lines.push_back(entry);
  }

  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  // The settings file is the program's own: it is replaced, but only whole,
  // and never through a link.
  return WriteWholeFile(path, text, Existing::kReplace, nullptr);
}

}  // namespace ini
