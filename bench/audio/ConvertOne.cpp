// Converts one sound file to a CD WAV through CAVConvert, as an audio CD burn
// does for each row; bench/audio.sh times it against ffmpeg run by hand.
#include <cstdio>

#include "media/CAVConvert.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: varnex_convert_bench SOURCE TARGET.wav\n");
    return 2;
  }
  CAVConvert converter;
  if (converter.Convert(argv[1], argv[2], CAVConvert::kSoundToWav, 0, 1)) return 0;
  std::fprintf(stderr, "%s\n", converter.LastError().c_str());
  return 1;
}
