#include "app/RecorderService.h"

#include "DevDeque.h"

std::string MediumName(int type) {
  const char* name = medium::Name(type);
  return name ? name : "";
}

int DriveIndexOfEntry(const std::string& text) {
  // An entry begins with its drive's label: "D:" or, for a remote drive, "#26:".
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return -1;
  const std::string label = text.substr(0, colon + 1);
  if (label.size() != 2 && label[0] != '#') return -1;
  return DevDeque::IndexOfLabel(label);
}
