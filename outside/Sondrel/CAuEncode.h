#pragma once
// The audio encoder: one audio track (a range of sectors) of the disc in a
// drive saved as a WAV or MP3 file, chosen by the target's extension (".wav";
// anything else is MP3). The file appears under its name only when it is
// complete: it is written beside its place under a name of its own and
// renamed into place at the end. A stop, a sector that cannot be read or
// reads differently each time, or a full disk leaves the target as it was.
//
// Encode runs on a worker; GetEncodeProgress and EncodeStop may be called
// from any other thread while it runs.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "AudioSinks.h"
#include "Id3Tag.h"
#include "OutputFile.h"

class CDevCmdROM;

class CAuEncode {
 public:
  enum Error {
    kNone,
    kStopped,       // EncodeStop was called
    kBadRange,      // no drive, end before start, or a range no file can hold
    kNotAudio,      // a sector of the range is not an audio sector
    kUnreadable,    // a sector could not be read (BadSector)
    kUnstable,      // a sector read differently every time (BadSector)
    kCannotCreate,  // the file cannot be made in the target's folder
    kWriteFailed,   // writing, flushing or renaming the file failed
  };

  CAuEncode();
  ~CAuEncode();
  CAuEncode(const CAuEncode&) = delete;
  CAuEncode& operator=(const CAuEncode&) = delete;

  // Reads sectors `start` to `end` (both included) of the recorder's disc
  // into `path`. True when the complete file is in place.
  bool Encode(CDevCmdROM* recorder, uint32_t start, uint32_t end, const char* path);
  // Whether Encode may replace a file at its path (only once the track is
  // complete); by default nothing there is replaced.
  void SetExisting(Existing existing) { existing_ = existing; }
  // Per mille of the sectors read so far.
  int GetEncodeProgress() const { return progress_.load(); }
  // Asks a running Encode to stop; it removes its partial file and returns.
  // A stop asked while nothing runs applies to the next Encode.
  void EncodeStop() { stop_.store(true); }
  bool StopRequested() const { return stop_.load(); }

  // MP3 bit rate in kb/s (constant, 192 unless set; 128 to 320).
  void SetMp3Bitrate(int kbps);
  // Tags to write instead of those the disc's CD-Text gives.
  void SetTags(const AudioTags& tags);

  // About the last Encode.
  Error LastError() const;
  std::string LastErrorText() const;  // for the user: what failed and where
  uint32_t BadSector() const;         // the sector of kUnreadable, kUnstable, kNotAudio
  AudioTags UsedTags() const;         // the tags written into the last MP3

  static constexpr int kProgressScale = 1000;

 private:
  bool Fail(Error e, const std::string& text, uint32_t sector = 0);
  AudioTags TagsFromDisc(CDevCmdROM& drive, uint32_t start);

  Existing existing_ = Existing::kKeep;

  std::atomic<bool> stop_{false};
  std::atomic<int> progress_{0};
  int bitrate_ = 192;
  std::optional<AudioTags> tags_;

  mutable std::mutex lock_;  // guards what follows, read by other threads
  Error error_ = kNone;
  std::string errorText_;
  uint32_t badSector_ = 0;
  AudioTags usedTags_;
};
