#pragma once
// The DVD-Video project: the video files that become the titles of a
// DVD-Video disc (played one after another, in the order given), its TV
// system, picture shape and label, and the two steps of a burn: authoring
// the disc (CDVDFile) and writing it disc-at-once onto a DVD in a recorder
// or into an image file. The video disc window and varnex-cli both drive
// this class; it knows nothing of either.
//
// Prepare and Burn run on the caller's worker; Cancel, Progress and Step may
// be called from any other thread meanwhile. Once prepared, the disc may be
// burnt on several drives at once, each Burn on a worker of its own with a
// data source and a burn manager of its own over the shared authored files.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "BurnCtrl/Results.h"
#include "media/CDVDFile.h"

class BurnMana_SAO;

class CDvdVideoProject {
 public:
  static constexpr size_t kMaxInputs = 260;
  // Sectors a disc keeps free beyond the DVD (lead-out room, a margin for
  // the drive's own needs).
  static constexpr uint32_t kReserveSectors = 10240;
  // Results beyond the recorder command layer's.
  static constexpr int kTooManyInputs = result::kDvdTooManyInputs;
  static constexpr int kNeedsDvd = result::kDvdNeedsDvd;
  static constexpr int kNotPrepared = result::kDvdNotPrepared;
  static constexpr int kNoInputs = result::kDvdNoInputs;

  CDvdVideoProject() = default;
  ~CDvdVideoProject();
  CDvdVideoProject(const CDvdVideoProject&) = delete;
  CDvdVideoProject& operator=(const CDvdVideoProject&) = delete;

  // Whether a file name has a video extension the video disc window takes
  // (".mp4", ".avi", ".mov", ".mkv", ".m2ts", ".mpg", ".vob", ... any case).
  static bool IsVideoFileName(const std::string& path);
  // Whether a DVD of `totalSectors` goes onto a disc with room for
  // `capacitySectors`: the disc keeps kReserveSectors free.
  static bool Fits(uint64_t totalSectors, uint64_t capacitySectors);

  enum AddOutcome { kAdded, kLimitReached, kMissing, kNotVideo };
  AddOutcome AddInput(const std::string& path);
  void RemoveInput(size_t index);
  void Clear();
  std::vector<std::string> Inputs() const;

  // 1 NTSC, 2 PAL; 1 4:3, 2 16:9 (other values keep PAL and 4:3).
  void SetTvSystem(int tvSystem) { tvSystem_ = tvSystem == CDVDFile::kNtsc ? CDVDFile::kNtsc : CDVDFile::kPal; }
  void SetAspect(int aspect) { aspect_ = aspect == CDVDFile::kAspect16x9 ? CDVDFile::kAspect16x9 : CDVDFile::kAspect4x3; }
  void SetLabel(const std::string& label) { label_ = label; }
  int TvSystem() const { return tvSystem_; }
  int Aspect() const { return aspect_; }
  const std::string& Label() const { return label_; }

  // Authors the disc: 1, or the authoring result (LastError says why, with
  // the failing tool's last lines). Nothing is left behind on failure.
  int Prepare();
  // Writes the prepared disc to a drive of the device list: a DVD that is
  // blank and has room for it (the capacity rule), through the burn
  // library; an image-file target gets the same sectors. 1 or a result.
  int Burn(int driveIndex);
  // Whether the drive holds a DVD that can take a DVD-Video disc (blank, or
  // rewritable in place): 1, or the result that says why not. `freeBytes`
  // receives its room.
  int CheckTarget(int driveIndex, uint64_t* freeBytes = nullptr);
  // Ends a running authoring tool or burn; Prepare and Burn then return
  // result::kBurnStopped.
  void Cancel();
  // Ends the burn on one drive only (result::kBurnStopped).
  void StopBurn(int driveIndex);
  // Deletes the work folder and the header, once every burn reading them
  // has ended.
  void CleanUp();

  static constexpr int kWritingText = 1186;  // [UIText] caption while the disc is written
  int Progress() const;
  std::string Step() const;
  std::string LastError() const;
  // The burn on one drive: its progress and why it failed.
  int Progress(int driveIndex) const;
  std::string LastError(int driveIndex) const;
  const CDVDFile& Dvd() const { return dvd_; }

 private:
  int Fail(int code, const std::string& why);
  int FailOn(int driveIndex, int code, const std::string& why);
  int BurnToDrive(int driveIndex);

  struct DriveBurn {
    std::atomic<int> progress{0};
    std::atomic<bool> stop{false};
    BurnMana_SAO* running = nullptr;  // under lock_
    std::string error;                // under lock_
  };
  DriveBurn& BurnOf(int driveIndex);  // with lock_ held

  mutable std::mutex lock_;
  std::vector<std::string> inputs_;
  int tvSystem_ = CDVDFile::kPal;
  int aspect_ = CDVDFile::kAspect4x3;
  std::string label_ = "DVD_VIDEO";
  CDVDFile dvd_;
  std::string lastError_;  // under lock_
  std::atomic<bool> stop_{false};
  std::atomic<int> burning_{0};  // burns reading the authored files
  std::atomic<int> burnProgress_{0};
  std::map<int, std::unique_ptr<DriveBurn>> burns_;  // under lock_
  std::condition_variable idle_;
};
