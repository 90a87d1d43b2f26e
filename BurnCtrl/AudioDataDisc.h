#pragma once
// The files of an audio CD that carries some (AudioDiscFiles): their volume
// laid out where it will lie on the disc, and the mixed-mode disc whose
// first track that volume is. The Enhanced CD's data session is written by
// the data burn itself, behind the audio session.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BurnCtrl/AudioDisc.h"
#include "foundation/TempFiles.h"

class TrackImageBuilder;

namespace audiodisc {

// Sectors from the start of a CD's first lead-out to the first track of its
// second session: that lead-out (90 s), the next lead-in (60 s) and the
// track's pre-gap (2 s).
constexpr int32_t kSecondSessionGap = 6750 + 4500 + 150;
// A data track that audio follows ends in 2 seconds of data-mode silence,
// and the audio track begins with a pre-gap of 2 seconds.
constexpr int32_t kDataPostgap = 150;
constexpr int32_t kAudioPregapAfterData = 150;

// The files laid out as an ISO 9660 volume that begins at disc sector
// `start`, as a data burn would lay them out there.
class FilesVolume {
 public:
  FilesVolume();
  ~FilesVolume();
  FilesVolume(const FilesVolume&) = delete;
  FilesVolume& operator=(const FilesVolume&) = delete;

  // False with `why` when the files cannot be laid out, or some of them
  // could not be read.
  bool Build(const AudioDiscFiles& files, uint32_t start, std::string* why);
  uint32_t Sectors() const;
  // Every sector of the volume into `path`. False with `why` when a source
  // file could not be read or the file not written.
  bool Save(const std::string& path, std::string* why);

 private:
  TempFile job_;
  std::unique_ptr<TrackImageBuilder> track_;
};

// The audio CD of `disc` behind a data track: the volume kept in `isoPath`
// (`isoSectors` sectors of 2048 bytes) is track 1, followed by its post-gap;
// the sound follows as PlanAudioDisc lays it out, its first track after a
// 2-second pre-gap. CD-Text counts the data track as track 1, without text.
// False with `why` as PlanAudioDisc, and for 99 audio tracks, which leave
// the data track no number.
bool PlanMixedModeDisc(const AudioDisc& disc, const std::string& isoPath, int32_t isoSectors, ImageLayout* layout,
                       std::vector<std::string>* notices, std::string* why);

}  // namespace audiodisc
