#pragma once
// Reads the PCM data of one audio track from a WAV file, sector by sector,
// for the burn source. The file is opened and closed on every read, so a
// track file is never held open between sectors.

#include <cstdint>
#include <string>

#include "SectorSizes.h"

class CAudioFile {
 public:
  static constexpr uint32_t kSectorSize = kRawSectorSize;
  static constexpr uint32_t kHeaderSize = 44;  // the canonical WAV header

  CAudioFile() = default;
  virtual ~CAudioFile() = default;

  // Reading starts at the audio data (behind the 44-byte header of the
  // canonical form, behind any other chunks otherwise) and ends with it.
  void SetFile(const std::string& path);
  void Rewind() { position_ = 0; }
  // Sectors of the whole file (header included), rounded up; 0 without a
  // readable file.
  uint32_t GetSectorCount() const;
  // Sectors of the sound data alone, rounded up: the length of its track on
  // the disc, so that a track is as long as its sound. 0 without a readable
  // file.
  uint32_t GetSoundSectorCount() const;
  // Reads up to n bytes at the position into `buffer` and advances the
  // position by n. When the file cannot be opened nothing is read and the
  // position stays. Always 0.
  int ReadData(uint8_t* buffer, uint32_t n);

  const std::string& Path() const { return path_; }
  uint32_t Position() const { return position_; }

 private:
  std::string path_;
  uint32_t position_ = 0;
  uint64_t dataStart_ = kHeaderSize;  // file offset where the audio data begins
  uint64_t dataEnd_ = UINT64_MAX;  // file offset where the audio data ends
};

// Whether `path` is a WAV file the reader can burn as it stands: 16-bit
// stereo PCM at 44100 Hz, whatever other chunks it carries (the same test the
// virtual recorder's audio discs pass). `why` says what is wrong otherwise.
bool IsCdAudioWav(const std::string& path, std::string* why);
