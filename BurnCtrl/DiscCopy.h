#pragma once
// Disc copy, part of the recorder command layer: a whole disc from a source
// drive to a recorder, on the fly or through a copy file (".bcl"), or from
// an existing copy file. Results are the numbered results of Results.h.

#include <functional>
#include <string>
#include <vector>

class DataSource;

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
