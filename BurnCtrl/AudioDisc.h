#pragma once
// An audio CD as the engine writes it: the CD WAV of every track with what
// the disc says of it (CD-Text, ISRC, flags, the pause before it) and of
// itself (CD-Text, the catalogue number). Laid out here once into the disc
// image that the session-at-once writer takes, so that an audio CD and a
// CUE image reach the recorder by one road.

#include <cstdint>
#include <string>
#include <vector>

struct ImageLayout;

struct AudioDiscTrack {
  std::string wav;  // 44.1 kHz, 16-bit, stereo
  std::string title, performer, songwriter, composer;  // UTF-8
  std::string isrc;         // as typed: letters, digits and hyphens; empty for none
  int pauseFrames = 0;      // silence before the track, 1/75 s; the first track always has 2 s
  bool preEmphasis = false;
  bool copyPermitted = false;
};

// Files on an audio CD besides its sound: a data session behind the audio
// (an Enhanced CD: a CD player plays the first session and sees nothing
// else, a computer also reads the files) or a data track in front of it (a
// mixed-mode CD: track 1 holds the files, the sound follows).
struct AudioDiscFiles {
  enum Place { kNone, kSessionAfter, kTrackFirst };
  Place place = kNone;
  std::string stagingRoot;   // the files, as a data project's staging folder
  std::string label = "DataCD";
  uint8_t discOptions = 0;   // as a data project keeps them (Rock Ridge and the like)
};

struct AudioDisc {
  std::string title, performer;  // UTF-8
  std::string mcn;               // 13 digits, or empty
  std::vector<AudioDiscTrack> tracks;
  // Each track written on its own with a 2-second gap, for drives that
  // cannot write a session at once; the texts and codes are left out.
  bool trackAtOnce = false;
  AudioDiscFiles files;
};

namespace audiodisc {

constexpr int kFramesPerSecond = 75;
constexpr int kFirstPregap = 150;      // the 2 seconds before every disc's first track
constexpr int kMaxPauseFrames = 750;   // 10 seconds
constexpr int kMinTrackFrames = 300;   // a CD track is never shorter than 4 seconds
constexpr int kMaxCdTextPacks = 256;   // sequence numbers of one block, size packs included

// "CC-XXX-YY-NNNNN" or without hyphens, any case, as the 12 characters the
// disc keeps ("" when the code is not one: five letters or digits, seven
// digits).
std::string NormalIsrc(const std::string& typed);
bool ValidMcn(const std::string& mcn);

// A UTF-8 text as the ISO 8859-1 bytes CD-Text keeps. Characters beyond it
// become "?" and set `lossy`; control characters become blanks. Bytes that
// are no UTF-8 are taken as ISO 8859-1 already.
std::string CdTextBytes(const std::string& utf8, bool* lossy);

// The CD-Text packs of a disc's texts (empty when it has none) and how many
// there are; `notices` names texts that lost characters.
std::vector<uint8_t> CdTextPacks(const AudioDisc& disc, std::vector<std::string>* notices);

// Lays the disc out: every WAV read for where its sound lies, the first
// track after its 2-second pre-gap and the others after their pauses, a
// track shorter than 4 seconds filled out with silence (told in `notices`),
// the texts as CD-Text packs, the codes and flags beside the tracks. False
// with `why` for a disc that cannot be written so: a WAV that is missing or
// no CD WAV, a code or pause out of range, more than 99 tracks, more text
// than the packs can hold.
bool PlanAudioDisc(const AudioDisc& disc, ImageLayout* layout, std::vector<std::string>* notices, std::string* why);

}  // namespace audiodisc
