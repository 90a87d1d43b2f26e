#pragma once
// The video disc project: the ordered video items of a Video CD, Super Video
// CD or DVD-Video, the options of the burn, the project file, and the two
// steps of a burn: preparing (converting the items into a work folder when
// asked, and laying out the disc) and writing the prepared disc. A DVD-Video
// is authored and written by CDvdVideoProject, to which both steps hand the
// items and options. The video disc window and varnex-cli both drive this
// class.
//
// Every member may be called from any thread; the items are guarded by one
// lock, progress and the stop flag are atomic.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "OutputFile.h"

#include "BurnCtrl/Results.h"

class CVCDFile;
class CDvdVideoProject;
class BurnManaBase;

struct VideoItem {
  std::string name;      // file name with extension
  std::string duration;  // "hh:mm:ss.ff" as probed
  std::string source;    // full path
  float estimateMB = 0;
};

class CVideoDiscProject {
 public:
  enum Kind : int { kVideoCd = 1, kSuperVideoCd = 2, kDvdVideo = 3 };
  // What differs between the kinds: one row each.
  struct KindInfo {
    int kind;
    const char* defaultLabel;
    int projectKind;       // the kind byte of the project file
    int converterTarget;   // CAVConvert target
    const char* mpegCodec; // what an item must hold to go on unconverted
    size_t maxItems;
  };
  static const KindInfo* Info(int kind);

  // Results of this project beyond the recorder command layer's.
  static constexpr int kEmptyProject = result::kEmptyProject;
  static constexpr int kNoWorkFolder = result::kNoWorkFolder;
  static constexpr int kNotMpegOfKind = result::kVideoNotMpeg;
  static constexpr int kNothingConverted = result::kVideoNothingConverted;
  static constexpr int kVideoLayoutFailed = result::kVideoLayoutFailed;
  static constexpr int kKindNotAvailable = result::kVideoKindMissing;

  explicit CVideoDiscProject(int kind = kVideoCd);
  ~CVideoDiscProject();
  CVideoDiscProject(const CVideoDiscProject&) = delete;
  CVideoDiscProject& operator=(const CVideoDiscProject&) = delete;

  // Stores the kind and sets its default volume label.
  void SetMode(int kind);
  int Mode() const { return kind_; }

  // ---- adding
  // Whether a file name has an extension the project takes: the MPEG and
  // video containers of the file dialog's filter, today's containers (MP4,
  // M4V, MKV, M2TS, WEBM) that the converter reads, and ".DAT" tracks of
  // existing Video CDs. Any case.
  static bool IsVideoFileName(const std::string& path);
  // Where a thumbnail is taken: second 5 of a video longer than 10 seconds, else 0.
  static int ThumbnailSeek(int32_t seconds);
  enum AddOutcome { kAdded, kSkipped, kUnreadable, kLimitReached };
  // Probes the file's play time; an unreadable one is named in `why`.
  AddOutcome AddVideoFile(const std::string& path, std::string* why = nullptr);
  std::vector<VideoItem> Items() const;
  size_t ItemCount() const;
  void RemoveItem(size_t index);
  void Clear();
  float TotalMB() const;

  // ---- options
  void SetLabel(const std::string& label);
  std::string Label() const;
  void SetReencode(bool on) { reencode_ = on; }
  void SetNtsc(bool on) { ntsc_ = on; }
  void SetWide(bool on) { wide_ = on; }
  bool Reencode() const { return reencode_; }

  // ---- project file (the video body: 256, kind, label, count at 256, paths)
  bool SaveVideoProject(const std::string& path, std::string* error, Existing existing = Existing::kKeep) const;
  // Reads a video project file without probing its items: the kind byte
  // (4 to 6), the label and the item paths (up to the kind's item limit). False with `error` naming the
  // file when it is not one or is damaged.
  static bool ReadVideoProject(const std::string& path, int* projectKind, std::string* label,
                               std::vector<std::string>* paths, std::string* error);
  // Replaces the items with the project's; items that can no longer be
  // probed are named in `skipped` and left out.
  bool LoadVideoProject(const std::string& path, std::string* error, std::vector<std::string>* skipped = nullptr);

  // ---- burning
  using KeepGoingQuestion = std::function<bool(const std::string& failures)>;
  using ItemProgress = std::function<void(int item, int items, const std::string& name)>;
  // Converts (when re-encoding) and lays out the disc. 1, or a negative
  // result with LastError naming what failed; the work folder is removed on
  // every way out but success. `stop` ends a conversion at once (-920).
  int PrepareVideoDisc(const KeepGoingQuestion& ask, const std::atomic<bool>* stop = nullptr,
                       const ItemProgress& progress = nullptr);
  // Writes the prepared disc on a recorder of the command layer: 1, or a
  // negative result. `stop` asks the running burn to end (-920). Several
  // recorders may write the same prepared disc at once, each from a data
  // source and a burn manager of its own over the shared prepared files.
  int BurnVideoDisc(int drive, const std::atomic<bool>* stop = nullptr);
  // Percent of the running step (a DVD's authoring too).
  int GetBurnProgress() const;
  // The item being written: its source path, or "UIText" 13 when none; for
  // a DVD-Video the tool step running or the writing of the disc.
  std::string GetWritingItemCaption() const;
  // The same for the burn on one drive, and why that drive's last burn failed.
  int GetBurnProgress(int drive) const;
  std::string GetWritingItemCaption(int drive) const;
  std::string LastError(int drive) const;
  // Asks the burn on one drive, or on every drive, to end (-920).
  void StopBurn(int drive);
  void StopAllBurns();
  // Whether the disc in a drive takes a Video CD: a blank CD-R or CD-RW. 1,
  // or the result that says why not (LastError(drive) names the drive).
  int CheckTarget(int drive);
  // Removes the work folder and the laid-out disc, once every burn that
  // reads them has ended. Always 1.
  int CleanUpVideoDisc();
  // The items as they go onto the disc after PrepareVideoDisc.
  std::vector<std::string> PreparedItems() const;
  std::string ControlImage() const;
  std::string LastError() const;

  // The sectors a prepared disc needs up to its lead-out, and whether that
  // fits a blank disc of `capacity` sectors (10240 are kept free).
  static bool FitsCapacity(int64_t leadOut, uint32_t capacity);

 private:
  bool CheckItemForDisc(const std::string& path, std::string* why) const;
  int PrepareDvd(const std::vector<VideoItem>& items, const std::atomic<bool>* stop);
  int BurnDvd(int drive, const std::atomic<bool>* stop);
  int BurnVideoCd(int drive, const std::atomic<bool>* stop);
  int CheckRoom(int drive, int64_t leadOut);
  std::shared_ptr<CDvdVideoProject> Dvd() const;
  int Failed(int code, const std::string& why);
  int FailedOn(int drive, int code, const std::string& why);

  // One drive's burn of the prepared disc.
  struct DriveBurn {
    std::atomic<int> progress{0};
    std::atomic<bool> stop{false};
    std::string caption, error;  // under lock_
  };
  DriveBurn& BurnOf(int drive);  // with lock_ held
  mutable std::mutex lock_;
  int kind_ = kVideoCd;
  std::vector<VideoItem> items_;
  std::string label_;
  std::atomic<bool> reencode_{true}, ntsc_{false}, wide_{false};
  std::string workFolder_;            // ends in "/" while it exists
  std::vector<std::string> prepared_; // items in disc order
  std::unique_ptr<CVCDFile> layout_;
  std::shared_ptr<CDvdVideoProject> dvd_;  // while a DVD-Video is authored and written
  std::atomic<int> progress_{0};
  std::string caption_;
  std::string error_;
  std::map<int, std::unique_ptr<DriveBurn>> burns_;  // under lock_
  int reading_ = 0;  // burns reading the prepared files, under lock_
  std::condition_variable idle_;
};
