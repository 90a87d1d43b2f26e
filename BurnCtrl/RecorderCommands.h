#pragma once
// The recorder command layer: the flat set of operations through which the
// windows and varnex-cli reach the recorders. Every operation returns a
// numbered result (BurnCtrl/Results.h): 1 success, 0 nothing done, negative
// a failure. The layer keeps the list of running burns, so that progress
// displays find a burn by its drive, and a project copy per drive, so that
// several drives can write one project at once.

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BurnCtrl/AudioDisc.h"
#include "BurnCtrl/BurnMana.h"
#include "BurnCtrl/interfaces/Recorder.h"

class BurnMana_SAO;
class DataSource;
struct VerifyOutcome;

// ---- the device list: every drive the program can use, by drive index.
// Index 0 is the image-file target; remote drives are 26 and above.
void AddRecorder(std::shared_ptr<Recorder> recorder);
void RemoveRecorder(int index);
Recorder* FindRecorder(int index);
// The recorder kept alive for as long as the caller holds it (nullptr when none).
std::shared_ptr<Recorder> ShareRecorder(int index);
// Marks a drive as used by a job that runs outside the burn list (a disc
// copy, a video disc) until it is released; false when another job, of this
// program or another of ours, already uses it. Burns and erases on the
// claiming thread run inside the claim.
bool ClaimRecorder(int index);
void ReleaseRecorder(int index);
// The first index from `from` that no recorder has, among the local drives
// (below 26) or, from 26 on, the remote ones; -1 when all are taken.
int FirstFreeRecorderIndex(int from);
// "D:" for index 3, "[" for index 0: what the drive labels begin with.
std::string DriveLabel(int index);

// ---- questions; every operation names its drive
// Erases a rewritable disc (quickly: the table of contents, or the start of
// an overwritable disc where readers look for a file system).
int BlankDisc(int index);
// `writable`: a burn can add to the disc as it is (blank or appendable; not
// pressed, closed or left unfinished). `state` says which.
int GetDiscInfo(int index, bool* blank, bool* writable, int* medium, medium::DiscState* state = nullptr);
// With `usedBytes`, also the bytes a disc that is not blank already holds: the
// next writable address of a sequential disc, the start of the next session
// of an overwritable one, the end of the last track of a closed one.
int GetDiscInfoEx(int index, bool* blank, bool* writable, int* medium, uint64_t* freeBytes,
                  uint64_t* usedBytes = nullptr, medium::DiscState* state = nullptr);
int GetCdSpeeds(int index, uint16_t* curRead, uint16_t* curWrite, uint16_t* maxRead, uint16_t* maxWrite,
                uint16_t* lowWrite, uint16_t* secondWrite);
int GetCdSpeeds(int index, uint16_t* curRead, uint16_t* curWrite, uint16_t* maxRead, uint16_t* maxWrite);
int EjectDisc(int index);

// ---- burning
// Stops the job running on one drive, or on every drive.
int AbortWrite(int index);
int AbortWrite();
// An image made for CD is written a session at once, each of its sessions
// in turn, unless `trackAtOnce` asks for track by track (with a gap before
// every track and without CD-Text and codes).
int WriteImageToCD(int index, const std::string& imagePath, bool testWrite, bool trackAtOnce = false);
// `projectFolder` is a staging root; its files are copied into the drive's
// own project copy first. `mp3` is 1 for MP3 discs.
int WriteCd(int index, const std::string& projectFolder, const std::string& label, int mp3, bool testWrite,
            bool multiSession, bool eject, uint8_t discOptions = 0, const eltorito::BootOptions& boot = {});
int WriteAudioCd(int index, bool testWrite, const std::vector<std::string>& wavTracks);
// An audio CD with its texts, codes and pauses, a session at once (the
// tracks gapless unless paused); with `disc.trackAtOnce` as WriteAudioCd
// does. A disc that cannot be laid out so is refused before the recorder is
// asked anything (LastJobError says why); `notices` gets what the user
// should know of a disc written anyway (a short track filled out, a text
// with characters CD-Text cannot hold).
int WriteAudioDisc(int index, const AudioDisc& disc, bool testWrite, std::vector<std::string>* notices = nullptr);

// A whole source written a session at once: how the engine writes a disc
// that must come out exactly as its source describes it (a copy, an image
// made for CD, a video CD, a DVD-Video). The caller has judged that the disc
// suits the source; the drive is held for the job, waited for, its room
// checked, and its progress and stop reach the job through the drive
// (GetDriveProgress, AbortWrite).
struct AtOnceOptions {
  bool testWrite = false;
  bool closeLast = true;    // the last session closes the disc
  uint16_t speed = 0xFFFF;  // kB/s; 0xFFFF: as fast as the recorder goes
  int64_t needed = 0;       // sectors the source takes (its last lead-out); 0: not checked here
  std::string what;         // the source as the user knows it, for the refusals
  std::function<bool()> stopped;  // asked besides the drive's own stop
  std::function<void(int percent, const std::string& item)> progress;
  // Told of each session's writer while it exists (nullptr once it is over).
  std::function<void(BurnMana_SAO* running, int session, int sessions)> watch;
  // "Verify the written data": once the disc is written it is read back and
  // compared with what was sent (BurnCtrl/Verify.h); a disc that differs
  // fails the job with result::kVerifyFailed, one that cannot be read back
  // leaves it a success that `verified` learns was not verified.
  bool verify = false;
  std::function<void(const VerifyOutcome& outcome)> verified;
};
// result::kSuccess or the failure; LastJobError(index) says why.
int BurnSessionAtOnce(int index, DataSource& source, const AtOnceOptions& options);
// What a drive's job is doing, whichever writer runs it: the percent of the
// current track or session and what is being written; for a burn of the burn
// list also the bytes written and to write of the current track and the fill
// of its buffer. Once the job is over the figures of its last burn stay until
// the drive's burns are reset.
struct DriveStatus {
  bool running = false;   // a job holds the drive
  int percent = 0;        // 0 to 100
  std::string item;       // the file or session being written
  bool hasFigures = false;  // a burn of the burn list is known (running or kept)
  uint64_t written = 0, total = 0;
  int bufferFill = -1;    // 0 to 100, -1 when the writer has no buffer
};
DriveStatus GetDriveStatus(int index);
// "D:" → 3: the drive of a label DriveLabel gave (-1 when none).
int DriveOfLabel(const std::string& label);
int ResetBurns();
int ResetBurn(int index);
void DeleteTempFiles();
void AddTempFile(const std::string& path);
int AddDriveProjectPath(int index, const std::string& sourcePath, const std::string& discFolder, int mp3,
                        const std::string& discName);
// The staging root of a drive's project copy ("" when it has none).
std::string DriveProjectRoot(int index);

// Several recorders at once: burns started while this is on take the cache
// path of the burn manager.
void SetMultiRecorderMode(bool on);

// Burns started while a stamp is set lay their data tracks out with this
// recording time and volume serial, so that the copies of one job on several
// recorders are the same disc; 0 (the default) stamps each layout anew.
void SetLayoutStamp(time_t when, uint32_t serial);

// Write-to-file mode: burns started while a path is set write their tracks to
// that file instead of the disc; "" (the default) writes to the recorders.
void SetWriteToFile(const std::string& path);

// Every operation passes a fixed text here; nothing listens in production.
using TraceHook = void (*)(const char* text);
void SetTraceHook(TraceHook hook);

// What a burn left behind, for checks and messages: the sources that could
// not be read during the last job on that drive.
std::vector<std::string> LastUnreadableSources(int index);
// Why the last job on that drive failed, in words for the user ("" when it
// did not fail or the result says it all).
std::string LastJobError(int index);
