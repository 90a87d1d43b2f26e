#pragma once
// Disc copy, part of the recorder command layer: a whole disc from a source
// drive to a recorder, on the fly or through a copy file (".bcl"), or from
// an existing copy file. Results are the numbered results of Results.h.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class BurnMana_SAO;
class CDevCmdROM;
class CDevCmdRW;
class DataSource;
class DataSource_CloneFile;

// One disc copy and everything it keeps: several copies may run at once,
// each on its own object and drives. Stop, progress and the texts may be
// asked from any thread while Run works.
class DiscCopyJob {
 public:
  // `sourceIndex` -1: the copy file at `path` is the source. Otherwise the
  // disc in that drive; with an empty `path` it is copied on the fly (unless
  // source and target are one drive: then through a copy file of our own),
  // else through a copy file made at `path` first.
  int Run(int sourceIndex, int targetIndex, const std::string& path);
  // Only makes the copy file of the disc in a drive (it never replaces a
  // file); with an empty `path` a copy file of our own in the copy-file
  // roots (CopyFilePath names it).
  int SaveCopyFile(int sourceIndex, const std::string& path);
  // Percent of the running step: making the copy file, or writing a session.
  int Progress() const;
  std::string Item() const;  // "" when nothing runs
  void Stop();
  std::string CopyFilePath() const;  // the copy file this job made ("" when none)
  std::string Error() const;         // why it failed, in words
  std::string Notice() const;        // how the source was read, when the user should know

  // Where copy files go when the caller names none (see SetCopyFileRoots).
  void SetCopyFileRoots(const std::vector<std::string>& roots);
  // See SetBlankDiscRequest.
  void SetBlankDiscRequest(std::function<bool(int index)> request);

 private:
  void Reset();
  void Publish(DataSource_CloneFile* making, BurnMana_SAO* running, const std::string& item);
  int Failed(int code, const std::string& why);
  void NoteRebuilt(CDevCmdROM* source);
  std::vector<std::string> Roots() const;
  int CheckTarget(int index, bool eraseAllowed);
  int CheckSize(int index, DataSource& source);
  int MakeCopyFile(CDevCmdRW* source, const std::string& path, std::string* made);
  int Write(int targetIndex, DataSource& source, bool close);
  int CopyFromDrive(int sourceIndex, int targetIndex, const std::string& path);
  int CopyFromFile(int targetIndex, const std::string& path);

  mutable std::mutex lock_;
  std::atomic<bool> stop_{false};
  // Published under the lock for exactly as long as each exists.
  DataSource_CloneFile* making_ = nullptr;
  BurnMana_SAO* running_ = nullptr;
  std::string item_, copyFile_, error_, notice_;
  std::vector<std::string> roots_;
  std::function<bool(int)> blankDiscRequest_;
};

// The copy of the windows and of varnex-cli: one job of the process, reached
// by these functions.

// `sourceIndex` -1: the copy file at `path` is the source. Otherwise the
// disc in that drive; with an empty `path` it is copied on the fly (unless
// source and target are one drive: then through a copy file of our own),
// else through a copy file made at `path` first.
int DiscCopy(int sourceIndex, int targetIndex, const std::string& path);
// Only makes the copy file of the disc in a drive (it never replaces a file).
int SaveCopyFile(int sourceIndex, const std::string& path);
// Percent of the running step: making the copy file, or writing a session.
int GetCopyProgress();
// What the copy is doing, for the progress window ("" when nothing runs).
std::string GetCopyItem();
// Asks the running copy to stop; returns 0.
int StopCopy();
// The copy file made by the last copy that made one ("" when none).
std::string CopyFilePath();
// Why the last copy failed, in words ("" when it did not or the result says it all).
std::string LastCopyError();
// What the user should know of how the last copy was read ("" when nothing),
// such as sectors rebuilt because the source drive refused READ CD.
std::string LastCopyNotice();

// Where copy files go when the caller names none: the first of these
// folders with the most free space (PLATFORM: $TMPDIR, /var/tmp, /tmp,
// $XDG_CACHE_HOME). Tests and settings pass others in.
void SetCopyFileRoots(const std::vector<std::string>& roots);
// Called when the copy needs the blank disc in a drive whose disc was just
// copied and ejected: returns true once the disc is in (false gives up).
// Without one, the drive is polled once a second for up to two minutes.
void SetBlankDiscRequest(std::function<bool(int index)> request);

// One row of the source's track list.
struct CopyTrackRow {
  int session = 0;
  int track = 0;
  bool data = false;
  int form = 0;  // MODE_FORM of a data track
  long start = 0;
  long end = 0;
};
// The rows of a source: every track of every session, with its end address
// from the next track or the session's lead-out.
std::vector<CopyTrackRow> CopyTrackList(DataSource& source);
