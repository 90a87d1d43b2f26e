#pragma once
// The project file (".bcd"): one project of any kind, also the burn job that
// the layouts read (label at byte 5, the tree behind the header). All numbers
// little-endian. Data and MP3 projects are written and read by CFileManager.

#include <cstdint>
#include <string>
#include <vector>

#include "OutputFile.h"
#include "authoring/ElTorito.h"

namespace project {

constexpr uint32_t kHeaderMark = 256;          // byte 0; the first track's length is at this + 192
constexpr size_t kDiscHeaderSize = 320;
constexpr size_t kSessionHeaderSize = 64;
constexpr size_t kTrackHeaderSize = 64;
constexpr size_t kLabelOffset = 5;
constexpr size_t kLabelField = 251;
constexpr size_t kLabelMax = 14;               // bytes stored
constexpr size_t kJobLabelMax = 13;            // bytes the layouts read back
constexpr size_t kMaxAudioRows = 99;
// The disc's file system options, a byte of the label field beyond the stored
// label. Files written before it existed hold 0 there: the defaults.
constexpr size_t kDiscOptionsOffset = 240;
enum DiscOption : uint8_t { kNoRockRidge = 0x01, kRockNormalised = 0x02 };
// Behind the tree, a data project may name its boot images; readers that
// stop at the tree's end never see them:
//   "BOOT", BIOS image, load sectors (16 bits), EFI image, MBR template
// each path a 16-bit length and its bytes.
constexpr char kBootTag[] = "BOOT";
std::string MakeBootBlock(const eltorito::BootOptions& boot);
// Reads the block at the file's position; false (and nothing set) when
// there is none or it is cut short.
bool ReadBootBlock(FILE* f, eltorito::BootOptions* boot);

enum Kind : uint8_t {
  kAudioCD = 1, kDataDisc = 2, kMp3Disc = 3, kVideoCD = 4, kSuperVideoCD = 5, kDvdVideo = 6
};

// The tree records of a data project.
enum RecordKind : uint8_t { kFolderRecord = 1, kFileRecord = 2 };

// The 384 bytes of the disc and session headers.
std::string MakeHeader(Kind kind, const std::string& label, uint8_t trackCount, uint8_t discOptions = 0);
std::string MakeTrackHeader(uint8_t number, uint8_t trackKind);

// The label cut to `max` bytes without splitting a character.
std::string CutLabel(const std::string& label, size_t max);

// The label a layout reads from a burn job (at most 13 bytes), after checking
// that the job's tree length can be read. False when it cannot.
bool ReadJobLabel(const std::string& jobPath, std::string* label, std::string* error);
// The disc options of a burn job (0 for a job too short to hold them).
uint8_t ReadJobOptions(const std::string& jobPath);

}  // namespace project

// A source path as a project file names it: a relative path is taken from
// the project file's folder, so that a project and its files can be moved
// together and opened from anywhere. Absolute paths, empty paths and
// entries imported from a disc ("<...") stay as they are.
std::string ResolveProjectSource(const std::string& projectPath, const std::string& source);

// The kind byte (1-6) of a project file, or 0 when it cannot be read or holds
// another value.
int ReadProjectKind(const std::string& projectPath);

// An audio project with what the disc says of itself beyond its sound: the
// CD-Text, the catalogue number, the codes and flags of the tracks and the
// pauses between them. Texts are UTF-8 as the user typed them.
struct AudioProjectTrack {
  std::string source;
  std::string title, performer, songwriter, composer;
  std::string isrc;           // 12 letters and digits, or empty
  uint16_t pauseFrames = 0;   // silence before the track, in 1/75 s
  bool preEmphasis = false;
  bool copyPermitted = false;
};
struct AudioProjectDisc {
  std::string title, performer;
  std::string mcn;  // 13 digits, or empty
  std::vector<AudioProjectTrack> tracks;
  // Files on the disc besides the sound: 0 none, 1 a data session after the
  // audio (an Enhanced CD), 2 a data track before it (a mixed-mode CD).
  uint8_t filesPlace = 0;
  std::string filesLabel;
  std::vector<std::string> files;  // files and folders, as added
};

// Counts the rows from the first up to the first whose path, trimmed, is empty
// or names no existing file, and writes that many audio tracks.
// Nothing at `projectPath` is replaced unless `existing` allows it.
bool SaveAudioProject(const std::string& projectPath, const std::vector<std::string>& rows,
                      std::string* error = nullptr, Existing existing = Existing::kKeep);
// The track sources of an audio project, in order.
bool LoadAudioProject(const std::string& projectPath, std::vector<std::string>* rows,
                      std::string* error = nullptr);

// The same with the disc's texts, codes and pauses. They follow the tracks in
// a block of their own, which readers that predate it never reach; a file
// without the block loads with empty texts and no pauses.
bool SaveAudioProject(const std::string& projectPath, const AudioProjectDisc& disc, std::string* error = nullptr,
                      Existing existing = Existing::kKeep);
bool LoadAudioProject(const std::string& projectPath, AudioProjectDisc* disc, std::string* error = nullptr);
