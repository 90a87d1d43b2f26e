// NRG images: the chunk area and the footer at the end of the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ImageLayout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ImageLayout layout;
  std::string why;
  ParseNrg(data, size, size, "fuzz.nrg", layout, &why);
  // The same bytes as the tail of a much larger file.
  ParseNrg(data, size, uint64_t(size) + 700u * 1024 * 1024, "fuzz.nrg", layout, &why);
  return 0;
}
