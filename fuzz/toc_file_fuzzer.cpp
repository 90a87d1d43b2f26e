// TOC files as a user may hand them over: any text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "ImageLayout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  // Every named file exists and is 10 MB long; a .wav one starts with a
  // WAVE header, so that the file's own arithmetic is what gets exercised.
  static const uint8_t kWave[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                    16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0,
                                    4, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0x98, 0};
  SheetFiles files;
  files.sizeOf = [](const std::string&) -> int64_t { return 10 * 1000 * 1000; };
  files.read = [](const std::string&, uint64_t offset, void* out, size_t n) {
    if (offset > sizeof kWave || n > sizeof kWave - offset) return false;
    std::memcpy(out, kWave + offset, n);
    return true;
  };
  ImageLayout layout;
  std::string why;
  ParseTocFile(text, "/images/", files, layout, &why);
  return 0;
}
