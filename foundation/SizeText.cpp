#include "foundation/SizeText.h"

#include <cstdio>

std::string FormatSize(uint64_t bytes) {
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = double(bytes) / 1024.0;
  int unit = 0;
  while (value >= 1024.0 && unit < 3) {
    value /= 1024.0;
    ++unit;
  }
  // Three significant digits: "512 KB", "12.3 MB", "4.38 GB".
  const char* format = value >= 100 ? "%.0f %s" : value >= 10 ? "%.1f %s" : "%.2f %s";
  char text[32];
  std::snprintf(text, sizeof text, format, value, kUnits[unit]);
  return text;
}
