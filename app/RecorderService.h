#pragma once
// What the windows need of the recorder command layer and the device list:
// the drives, the disc in a drive, writing a data project or an image,
// erasing, the tray, and the progress of a running burn. The windows only
// talk to this interface; the command layer stands behind it, and tests put
// recorders of their own in its place.
//
// Results follow the command layer: 1 success, negative failures (the
// "Error" texts of the language file); TestUnitReady answers 0 when ready,
// as device commands do. Every call may block on a drive, so the windows make
// them off the window thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <atomic>
#include <string>
#include <vector>

#include "BurnCtrl/AudioDisc.h"
#include "foundation/ResultCodes.h"
#include "MediumTable.h"  // medium types: medium::kCdR, ...
#include "authoring/ElTorito.h"

class CDevCmdROM;
struct CheckOptions;
struct CheckReport;
struct Md5List;

// The display name of a medium type, or "" when it has none (the caller then
// shows its own text for an unknown medium).
std::string MediumName(int mediumType);

struct DriveEntry {
  uint8_t index = 0;     // 3 upwards for local drives, 26+ for remote ones
  std::string text;      // "D: VENDOR PRODUCT REV  (where, shortened)"
  bool recorder = false; // can write at least one kind of medium
  std::string where;     // the drive's full path; "" when the text says all
};

// An entry's text: the label, the drive's name, and where it is, shortened to
// what tells drives apart ("sr0.vdisc" of "virtual:/a/b/sr0.vdisc"; device
// nodes stay whole).
std::string DriveEntryText(const std::string& label, const std::string& name, const std::string& where);

struct DiscInfo {
  int mediumType = 0;
  bool blank = false;
  bool writable = false;   // blank or appendable
  medium::DiscState state = medium::DiscState::kClosed;
  uint64_t freeBytes = 0;
  uint64_t usedBytes = 0;  // already on the disc (0 for a blank one)
};

// The disc's state in a word ("Blank", "Appendable", "Unfinished", "Closed").
std::string DiscStateText(medium::DiscState state);
// Why a burn cannot add to this disc as it is (left unfinished, or closed),
// with what to do; empty when the disc's state is no obstacle.
std::string DiscRefusal(const DiscInfo& disc);

// What a running burn has done so far, as the recording engine counts it.
struct BurnFigures {
  uint64_t bytesWritten = 0;
  uint64_t bytesTotal = 0;  // 0 until the layout is known
  int bufferPercent = -1;   // fill of the burn buffer; -1 when there is none
};

// One row of a copy source's track list.
struct CopyTrack {
  int session = 0;
  int track = 0;
  bool data = false;
  int form = 0;  // data tracks: 0 Mode 1, 1 to 3 Mode 2
  long start = 0, end = 0;
};

class CVideoDiscProject;

class RecorderService {
 public:
  virtual ~RecorderService() = default;

  // Every drive of the device list, in device order.
  virtual std::vector<DriveEntry> Drives() = 0;

  // Makes a drive the current one of the command layer (selection by index
  // or by its list text). The image-file device is index 0.
  virtual int Start(uint8_t drive) = 0;
  virtual int TestUnitReady(uint8_t drive) = 0;  // 0 = ready
  virtual int GetDiscInfoEx(uint8_t drive, DiscInfo* info) = 0;

  // Write speeds of the capabilities page in kB/s; false when the page cannot
  // be read. `current` is the current write speed (0 when unknown).
  virtual bool ReadWriteSpeeds(uint8_t drive, std::vector<int>* speeds, int* current) = 0;
  virtual int SetWriteSpeed(uint8_t drive, int kBps) = 0;

  // Attaches an image file to the image-file device (drive 0).
  virtual int SetImageFile(uint8_t drive, const std::string& path) = 0;

  // Writes the data project of a staging folder as one session. With
  // `multisession` the disc stays open for more. `discOptions`: the
  // project's project::DiscOption bits (0: Rock Ridge as the source has it).
  virtual int WriteCd(uint8_t drive, const std::string& stagingRoot, const std::string& label,
                      bool multisession, bool mp3, uint8_t discOptions = 0) = 0;
  virtual int WriteImageToCD(uint8_t drive, const std::string& imagePath, bool testWrite) = 0;
  // Writes CD WAV files (44.1 kHz, 16-bit, stereo) as the tracks of one
  // audio CD, in order, and closes the disc.
  virtual int WriteAudioCd(uint8_t drive, const std::vector<std::string>& wavTracks, bool testWrite) = 0;
  // An audio CD with its CD-Text, codes and pauses, session-at-once (see
  // BurnCtrl/AudioDisc.h); `notices` gets what the user should be told. A
  // service that can only write WAVs track by track writes the sound alone,
  // and refuses a disc that carries files rather than leave them out.
  virtual int WriteAudioDisc(uint8_t drive, const AudioDisc& disc, bool testWrite,
                             std::vector<std::string>* notices) {
    if (disc.files.place != AudioDiscFiles::kNone) {
      if (notices) notices->push_back("this recorder writes the sound alone: an audio CD with files cannot be made");
      return result::kNothingDone;
    }
    std::vector<std::string> wavs;
    for (const AudioDiscTrack& t : disc.tracks) wavs.push_back(t.wav);
    return WriteAudioCd(drive, wavs, testWrite);
  }
  virtual int GetDriveProgress(uint8_t drive) = 0;      // 0 to 100
  virtual std::string GetDriveItem(uint8_t drive) = 0;  // the file being written
  // False while no burn runs on the drive.
  virtual bool GetBurnFigures(uint8_t drive, BurnFigures* figures) = 0;
  virtual void AbortWrite(uint8_t drive) = 0;
  // Why the last burn or erase of the drive failed: the drive, the command
  // and its sense data where the drive gave them; "" when nothing is known.
  virtual std::string LastError(uint8_t drive) { (void)drive; return {}; }
  virtual void ResetBurn(uint8_t drive) = 0;
  virtual void DeleteTempFiles() = 0;
  // Called (on any thread) whenever a drive executes a command: the
  // activity light of the main window. Services without drives ignore it.
  virtual void SetActivityCallback(std::function<void(int drive)> callback) { (void)callback; }

  virtual int BlankDisc(uint8_t drive) = 0;
  virtual int Eject(uint8_t drive, bool open) = 0;
  // Reading every burnt disc back and comparing it with what was sent; off
  // unless asked. While a drive reads back, VerifyPercent is 0-100 (-1
  // otherwise); VerifyResult is the last verdict of the drive in words, ""
  // when nothing was verified.
  virtual void SetVerifyAfterBurn(bool on) { (void)on; }
  // The boot images the next data burns (WriteCd) make the disc boot from.
  virtual void SetBootOptions(const eltorito::BootOptions& boot) { (void)boot; }
  virtual int VerifyPercent(uint8_t drive) { (void)drive; return -1; }
  virtual std::string VerifyResult(uint8_t drive) { (void)drive; return {}; }
  // The drive says its tray is open (not merely that no disc is in).
  virtual bool TrayOpen(uint8_t drive) { (void)drive; return false; }
  virtual int Lock(uint8_t drive, bool lock) = 0;

  // The drive itself, for the analysis pages, which read what the command
  // layer does not ask for (sectors, the table of contents, the feature
  // list). Null when the drive is not a device of the device library.
  virtual CDevCmdROM* ReadingDevice(uint8_t drive) { (void)drive; return nullptr; }
  // The disc check (every sector read, the read speed sampled) and the
  // checksum list of every file of the disc in `drive`, a device of
  // ReadingDevice or the image device of the analysis pages. Both read for
  // as long as the disc takes.
  virtual CheckReport CheckDisc(CDevCmdROM& drive, const CheckOptions& options);
  virtual Md5List ChecksumList(CDevCmdROM& drive, const std::function<bool()>& stopped);

  // Disc copy: `source` -1 copies the copy file at `path`; otherwise the
  // disc in that drive, on the fly when `path` is empty. Services without
  // drives of their own refuse (-8).
  virtual int DiscCopy(int source, uint8_t target, const std::string& path) {
    (void)source, (void)target, (void)path;
    return -8;
  }
  virtual int GetCopyProgress() { return 0; }
  virtual std::string GetCopyItem() { return {}; }
  virtual void StopCopy() {}
  virtual std::string LastCopyError() { return {}; }
  // The copy file the last copy made ("" when it made none).
  virtual std::string CopyFilePath() { return {}; }
  // The tracks of the disc in a drive (`file` empty) or of a copy file: 1
  // with the rows; -15 not ready, -50 blank, -162 not a valid copy file
  // (`why` says what is wrong with it).
  virtual int CopyTracks(int drive, const std::string& file, std::vector<CopyTrack>* rows, std::string* why) {
    (void)drive, (void)file, (void)rows, (void)why;
    return -8;
  }
  // Writes a prepared video disc session-at-once (CVideoDiscProject::
  // BurnVideoDisc on a recorder of the command layer). Services without
  // drives of their own refuse (-8).
  virtual int WriteVideoDisc(uint8_t drive, CVideoDiscProject& project, const std::atomic<bool>* stop) {
    (void)drive, (void)project, (void)stop;
    return -8;
  }
};

// Drive letter of a list entry ("D: ..." -> 3), or -1 for the image entry
// and anything else that does not start with a letter and a colon.
int DriveIndexOfEntry(const std::string& entryText);
