#pragma once
// Where the PCM of a CD goes: a WAV file (the canonical 44-byte header and
// the samples as the disc holds them) or an MP3 file (libmp3lame, 44.1 kHz
// stereo, with an ID3 tag in front and the encoder's information frame, so
// that players know the exact length).

#include <cstdint>
#include <memory>
#include <string>

#include "Id3Tag.h"

class AudioSink {
 public:
  virtual ~AudioSink() = default;
  // Starts the file on `fd` (a new, empty file); `pcmBytes` is the length of
  // the whole sound.
  virtual bool Begin(int fd, uint64_t pcmBytes) = 0;
  // 16-bit little-endian stereo samples, a whole number of frames.
  virtual bool Write(const uint8_t* pcm, size_t bytes) = 0;
  virtual bool End() = 0;
  // What failed, when a call returned false.
  virtual std::string Error() const = 0;
};

struct Mp3Settings {
  int bitrate = 192;  // kb/s, constant
};

std::unique_ptr<AudioSink> MakeWavSink();
std::unique_ptr<AudioSink> MakeMp3Sink(const Mp3Settings& settings, const AudioTags& tags);
