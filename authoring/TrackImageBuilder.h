#pragma once
// What a data-track layout offers the burn source and the image command: the
// layout of a staging folder, the track's length and its sectors in order from
// sector 0, one at a time or in runs. CDataFile (ISO 9660 with Joliet) and
// CDataFileUDF (UDF) both implement it; their users know nothing else of them.

#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "SectorSizes.h"

constexpr uint32_t kSectorSize = kDataSectorSize;

// Told when a source file cannot be read while its sectors are served: the
// sectors stay zero and serving goes on. (Stands for the burn window's
// notification 600.)
class TrackSourceListener {
 public:
  virtual ~TrackSourceListener() = default;
  virtual void SourceUnreadable(const std::string& path) = 0;
};

// A track's sectors, served in order from sector 0.
class TrackSectorSource {
 public:
  virtual ~TrackSectorSource() = default;

  virtual uint32_t GetTrackLength() const = 0;
  // Fills `buffer` (zero-filled by the caller, `byteCount` bytes, normally
  // 2048) with the next sector. Returns 0; -1 when the layout's own
  // temporary data could not be read back (the listener is told).
  virtual int GetSectorData(uint8_t* buffer, uint32_t byteCount) = 0;
  // The next `count` whole sectors into `out` (no need to clear it first):
  // the same bytes as `count` calls of GetSectorData. Layouts may serve runs
  // of file data straight into `out`.
  virtual void GetSectors(uint8_t* out, uint32_t count) {
    std::memset(out, 0, size_t(count) * kSectorSize);
    for (uint32_t i = 0; i < count; ++i) GetSectorData(out + size_t(i) * kSectorSize, kSectorSize);
  }
  virtual std::string GetCurrentSourceFile() const = 0;

  // Why the last Build failed, naming the file or folder concerned.
  const std::string& LastError() const { return lastError_; }
  void SetSourceListener(TrackSourceListener* listener) { listener_ = listener; }

 protected:
  std::string lastError_;
  TrackSourceListener* listener_ = nullptr;
};

// What became of a name, or why a file cannot go on the disc; found before
// the build by ReviewProject and again by Build.
struct LayoutNotice {
  // kSplitInExtents: a file of 4 GiB or more, kept in several extents that
  // readers without multi-extent support see cut short.
  enum Kind { kJolietShortened, kNameRefused, kTooLarge, kUdfNameChanged, kSplitInExtents };
  Kind kind;
  std::string discPath;  // "/folder/name" on the disc
  std::string detail;    // the new Joliet or UDF name, or the source path
};

// A data-track layout: lays a staging folder out, then serves its sectors.
class TrackImageBuilder : public TrackSectorSource {
 public:
  // Lays out the track of a staging folder for a session that starts at
  // sector `sessionStart`; the label comes from the burn job. False
  // (LastError) when it cannot be laid out.
  virtual bool BuildTrack(const std::string& jobPath, const std::string& stagingRoot, uint32_t sessionStart) = 0;
  // Source files left out because they could not be opened while laying out.
  virtual const std::vector<std::string>& SkippedSources() const = 0;
  // Names the last BuildTrack changed to fit the file system (none by default).
  virtual const std::vector<LayoutNotice>& Notices() const {
    static const std::vector<LayoutNotice> none;
    return none;
  }
  // Copies of one job carry one recording time and one volume serial, so
  // that every disc of the job is the same sector for sector. 0 (the
  // default): the time of the layout and a serial of its own.
  void SetBuildStamp(time_t when, uint32_t serial) {
    stampTime_ = when;
    stampSerial_ = serial;
  }

 protected:
  time_t BuildTime() const { return stampTime_ ? stampTime_ : std::time(nullptr); }
  time_t stampTime_ = 0;
  uint32_t stampSerial_ = 0;
};

enum class DataTrackFormat { kIso9660, kUdf };

// A data-track layout of the given file system, ready for BuildTrack.
std::unique_ptr<TrackImageBuilder> MakeDataTrackLayout(DataTrackFormat format);
