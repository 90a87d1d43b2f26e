// CUE sheets as a user may hand them over: any text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ImageLayout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  ImageLayout layout;
  std::string why;
  // Every named file exists and is 10 MB long, so that the sheet's own
  // arithmetic is what gets exercised.
  ParseCueSheet(text, "/images/", [](const std::string&) -> int64_t { return 10 * 1000 * 1000; }, layout, &why);
  return 0;
}
