#include "app/RecorderService.h"

#include "DevDeque.h"

std::string MediumName(int type) {
  const char* name = medium::Name(type);
  return name ? name : "";
}

std::string DriveEntryText(const std::string& label, const std::string& name, const std::string& where) {
  std::string shown = where;
  const size_t slash = where.rfind('/');
  if (where.rfind("/dev/", 0) != 0 && slash != std::string::npos && slash + 1 < where.size())
    shown = where.substr(slash + 1);
  std::string text = label;
  if (!name.empty()) text += " " + name;
  if (!shown.empty()) text += "  (" + shown + ")";
  return text;
}

int DriveIndexOfEntry(const std::string& text) {
  // An entry begins with its drive's label: "D:" or, for a remote drive, "#26:".
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return -1;
  const std::string label = text.substr(0, colon + 1);
  if (label.size() != 2 && label[0] != '#') return -1;
  return DevDeque::IndexOfLabel(label);
}
