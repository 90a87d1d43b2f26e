// WAV headers of the tracks of a pressed audio disc.
#include <cstddef>
#include <cstdint>
#include <string>

#include "WavReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WavInfo info;
  std::string why;
  ParseWavHeader(data, size, size, info, &why);
  return 0;
}
