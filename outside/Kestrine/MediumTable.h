#pragma once
// The media a drive can report, once for every layer: the MMC profile number,
// the name shown, the family (CD, DVD, BD), how the medium is written, its
// nominal capacity and its layers.
// The device library, the virtual recorder, the burn engine and the windows
// all ask here.

#include <cstdint>
#include <string>

namespace medium {

// The MMC profile numbers, plus one value of our own (4884) for a DVD-RW
// whose recording mode the drive did not tell.
enum Profile : int {
  kNone = 0,
  kCdRom = 0x08, kCdR = 0x09, kCdRw = 0x0A,
  kDvdRom = 0x10, kDvdR = 0x11, kDvdRam = 0x12,
  kDvdRwRo = 0x13,   // restricted overwrite
  kDvdRwSeq = 0x14,  // sequential
  kDvdRDl = 0x15, kDvdRDlJump = 0x16, kDvdRwDl = 0x17,
  kDvdPlusRw = 0x1A, kDvdPlusR = 0x1B,
  kDdcdRom = 0x20, kDdcdR = 0x21, kDdcdRw = 0x22,
  kDvdPlusRwDl = 0x2A, kDvdPlusRDl = 0x2B,
  kBdRom = 0x40, kBdRSrm = 0x41, kBdRRrm = 0x42, kBdRe = 0x43,
  kBdR = kBdRSrm,  // a blank BD-R reports sequential recording mode
  kHdRom = 0x50, kHdR = 0x51, kHdRam = 0x52, kHdRw = 0x53, kHdRDl = 0x58, kHdRwDl = 0x5A,
  kDvdRwUnknown = 4884,
};

enum class Family { kCd, kDvd, kBd, kOther };

struct Facts {
  int profile;
  const char* name;   // as shown: "DVD+RW"
  const char* key;    // as typed on a command line: "dvd+rw"; "" when none
  Family family;
  bool writeOnce;     // a sector once written stays (CD-R, DVD±R, BD-R)
  bool sequential;    // written track after track at the next writable address
  bool overwritable;  // written at any address once formatted
  bool blankable;     // BLANK empties it (CD-RW and DVD-RW in every mode)
  int32_t capacity;   // sectors of a blank disc as a drive reports it; 0 when not kept here
  int layers;         // recording layers: 2 for the double-layer media
};

// The facts of a profile; nullptr for a profile not in the table.
const Facts* Find(int profile);
// The profile of a command-line key ("dvd+rw"); -1 when unknown.
int FromKey(const std::string& key);

// The name shown, or nullptr when the profile has none.
const char* Name(int profile);
bool IsCd(int profile);
bool IsDvd(int profile);
bool IsBd(int profile);
bool IsWriteOnce(int profile);
bool IsSequential(int profile);
bool IsOverwritable(int profile);
bool IsBlankable(int profile);
// What a user can erase: blanked, or formatted anew when overwritable.
bool IsErasable(int profile);
// Anything but a pressed (read-only) disc or an unknown profile.
bool IsWritable(int profile);
// The nominal capacity of a blank disc in sectors; 0 when unknown.
int32_t Capacity(int profile);
// 1 or 2; 0 for a profile not in the table.
int Layers(int profile);
// Two recording layers: the layer boundary can be read and set.
bool IsDualLayer(int profile);

// What the disc in a drive can still take. A stopped or failed burn leaves
// its session open ("unfinished"): nothing can follow it until the disc is
// erased, so such a disc is no more writable than a closed one.
enum class DiscState { kBlank, kAppendable, kUnfinished, kClosed };

// The state from READ DISC INFORMATION's disc status (0 empty, 1 incomplete,
// 2 complete, 3 other) and last session state (0 empty, 1 incomplete,
// 2 damaged, 3 complete). An overwritable disc has no session state of its
// own: blank or not is judged from its contents by the caller.
DiscState StateOf(int profile, bool blank, int discStatus, int lastSessionState);
// Blank or appendable: a burn can add to it.
bool TakesData(DiscState state);
// "blank", "appendable", "unfinished", "closed".
const char* StateKey(DiscState state);

}  // namespace medium
