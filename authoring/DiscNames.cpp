#include "authoring/DiscNames.h"

#include <set>

#include "authoring/Ucs2.h"

namespace discnames {
namespace {

// Cuts UTF-8 text to at most `max` bytes without splitting a character.
std::string CutBytes(const std::string& s, size_t max) {
  if (s.size() <= max) return s;
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return s.substr(0, n);
}

std::u16string CutChars(const std::u16string& s, size_t max) {
  if (s.size() <= max) return s;
  size_t n = max;
  if (n > 0 && s[n] >= 0xDC00 && s[n] <= 0xDFFF) --n;  // keep surrogate pairs whole
  return s.substr(0, n);
}

// The ISO identifier with `suffix` worked into the last letters of its base.
std::string IsoWithSuffix(const std::string& name, bool isFolder, const std::string& suffix) {
  if (isFolder) return CutBytes(name, 8 - suffix.size()) + suffix;
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) {
    std::string base = CutBytes(name.substr(0, dot), 8 - suffix.size());
    return base + suffix + "." + CutBytes(name.substr(dot + 1), 3) + ";1";
  }
  if (name.size() <= 8 && suffix.empty()) return name;
  return CutBytes(name, 6 - suffix.size()) + suffix + ";1";
}

std::u16string JolietWithSuffix(const std::u16string& name, bool isFolder, const std::u16string& suffix,
                                bool* shortened) {
  return ShortenWithSuffix(name, isFolder, suffix, kJolietMaxChars, shortened);
}

}  // namespace

std::u16string ShortenWithSuffix(const std::u16string& name, bool isFolder, const std::u16string& suffix,
                                 size_t maxChars, bool* shortened) {
  if (name.size() + suffix.size() <= maxChars && suffix.empty()) {
    *shortened = false;
    return name;
  }
  *shortened = true;
  size_t dot = isFolder ? std::u16string::npos : name.rfind(u'.');
  std::u16string ext;
  std::u16string base = name;
  if (dot != std::u16string::npos && dot > 0 && name.size() - dot <= 16) {
    ext = name.substr(dot);
    base = name.substr(0, dot);
  }
  size_t room = maxChars > ext.size() + suffix.size() ? maxChars - ext.size() - suffix.size() : 0;
  return CutChars(base, room) + suffix + ext;
}

std::string IsoFileIdentifier(const std::string& name) { return IsoWithSuffix(name, false, ""); }
std::string IsoFolderIdentifier(const std::string& name) { return IsoWithSuffix(name, true, ""); }

void NameFolderEntries(std::vector<FolderEntryName>* entries) {
  std::set<std::string> isoUsed;
  std::set<std::u16string> jolietUsed;
  for (FolderEntryName& e : *entries) {
    e.iso = IsoWithSuffix(e.discName, e.isFolder, "");
    for (int n = 1; isoUsed.count(e.iso) && n < 1000000; ++n)
      e.iso = IsoWithSuffix(e.discName, e.isFolder, std::to_string(n));
    isoUsed.insert(e.iso);

    std::u16string wide;
    if (!Utf8ToUtf16(e.discName, &wide)) {
      e.refused = true;
      continue;
    }
    e.joliet = JolietWithSuffix(wide, e.isFolder, u"", &e.jolietShortened);
    for (int n = 1; jolietUsed.count(e.joliet) && n < 1000000; ++n) {
      std::string digits = "~" + std::to_string(n);
      e.joliet = JolietWithSuffix(wide, e.isFolder, std::u16string(digits.begin(), digits.end()),
                                  &e.jolietShortened);
    }
    jolietUsed.insert(e.joliet);
  }
}

void NameUdfEntries(std::vector<UdfEntryName>* entries, size_t maxChars) {
  std::set<std::u16string> taken;
  std::vector<bool> clash(entries->size(), false);
  for (UdfEntryName& e : *entries) e.name = ShortenWithSuffix(e.full, e.isFolder, u"", maxChars, &e.changed);
  for (int pass = 0; pass < 2; ++pass)
    for (size_t i = 0; i < entries->size(); ++i) {
      UdfEntryName& e = (*entries)[i];
      if (e.changed != (pass == 1)) continue;
      if (!taken.insert(e.name).second) clash[i] = true;
    }
  for (size_t i = 0; i < entries->size(); ++i) {
    if (!clash[i]) continue;
    UdfEntryName& e = (*entries)[i];
    for (unsigned n = 1;; ++n) {
      const std::string digits = "~" + std::to_string(n);
      bool cut = false;
      std::u16string candidate =
          ShortenWithSuffix(e.full, e.isFolder, std::u16string(digits.begin(), digits.end()), maxChars, &cut);
      if (taken.insert(candidate).second) {
        e.name = candidate;
        e.changed = true;
        break;
      }
    }
  }
}

}  // namespace discnames
