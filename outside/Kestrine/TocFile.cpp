#include "ImageLayout.h"

bool ParseTocFile(const std::string&, const std::string&, const SheetFiles&, ImageLayout& out, std::string* why) {
  out = ImageLayout();
  if (why) *why = "TOC files are not read";
  return false;
}
