#pragma once
// The PCM data of a WAV file as a CD takes it: 44.1 kHz, 16-bit, stereo.
// The one reader of WAV headers: the virtual recorder's audio discs and the
// burn of audio tracks both accept what it accepts.

#include <cstdint>
#include <string>

struct WavInfo {
  uint64_t dataOffset = 0;
  uint64_t dataSize = 0;
};

// Chunks before the data ("LIST", "fact", ...) are read this far into a file.
constexpr size_t kWavHeadBytes = 65536;

// Walks the RIFF chunks; false with a reason for anything a CD cannot carry
// as it stands or for a damaged file. Other chunks (LIST, ...) are skipped;
// a data chunk may be empty (dataSize 0).
bool ReadWavInfo(const std::string& path, WavInfo& out, std::string* why);
// The same on a file's bytes already read (the first `size` bytes of a file of
// `fileSize` bytes).
bool ParseWavHeader(const uint8_t* data, size_t size, uint64_t fileSize, WavInfo& out, std::string* why);
