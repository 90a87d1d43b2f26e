#pragma once
// The first track of a Video CD: an ISO 9660 control track laid out from the
// Video CD template (resource 2000) for a list of MPEG items, each of which
// becomes one Mode 2 Form 2 track after it. The control image is a temporary
// file of 2048-byte sectors from sector 0 of the disc; it is deleted with
// the object. CSVCDFile does the same for Super Video CDs.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "authoring/VcdControlTemplate.h"
#include "foundation/TempFiles.h"

class CVCDFile {
 public:
  static constexpr long kVideoCdFirstTrack = 1251;
  // No track of a disc may be shorter than four seconds, the control track
  // included: recorders refuse such a layout and readers stumble over it.
  static constexpr long kMinTrackSectors = 300;

  CVCDFile();
  virtual ~CVCDFile() = default;
  CVCDFile(const CVCDFile&) = delete;
  CVCDFile& operator=(const CVCDFile&) = delete;

  // Computes the layout of `count` items (the first `count` of `paths`),
  // writes the control image and pads it to the control track's length.
  // False, with LastError naming the cause (and the file), when an item
  // cannot be read or holds nothing, the template is missing or damaged, or
  // the image cannot be written.
  bool Prepare(const std::string& label, int count, const std::vector<std::string>& paths);

  const std::string& GetControlImage() const { return image_.path(); }
  // Start sector (index 1) of MPEG track k (from 1); 0 for no such track.
  long GetTrackStart(int k) const;
  // Sectors of item k with its margins (what its track is long).
  long GetTrackSectors(int k) const;
  // The byte size the MPEG folder records for item k.
  uint32_t GetRecordedSize(int k) const;
  long GetDiscEnd() const { return discEnd_; }
  int GetTrackCount() const { return int(sectors_.size()); }
  // Sectors of the control track: the first MPEG track's start less its gap.
  long GetControlSectors() const;
  const std::string& LastError() const { return error_; }

  // Where the templates are read from (the Tamsin folder beside the
  // program by default) and where the first MPEG track starts.
  void SetResourceFolder(const std::string& folder) { resourceFolder_ = folder; }
  void SetFirstTrackStart(long sector) { firstTrack_ = sector; }
  // The recording time stamped on the MPEG folder's records (now by default).
  void SetBuildTime(std::time_t when) { buildTime_ = when; }
  // The items' playing times in seconds, where the caller knows them (a
  // Super Video CD lists them; without them they are reckoned from sizes).
  void SetItemSeconds(const std::vector<double>& seconds) { seconds_ = seconds; }
  // The television system chosen for the disc (NTSC by default). A player
  // switches its output by the PAL flags of the disc's information file; an
  // item whose MPEG stream names its own system is flagged by that instead,
  // since an item burnt as it is may differ from the choice.
  void SetPal(bool pal) { pal_ = pal; }

 protected:
  CVCDFile(vcdtpl::Kind kind, long firstTrack);
  // The structures only one kind of disc has; called after the shared ones.
  virtual void PatchOwnTables(std::vector<uint8_t>& image);
  vcdtpl::Kind Kind() const { return kind_; }
  // Seconds of item k (from 1) as the caller gave them; negative when unknown.
  double ItemSeconds(int k) const { return k >= 1 && k <= int(seconds_.size()) ? seconds_[size_t(k) - 1] : -1; }

 private:
  bool MeasureItems(int count, const std::vector<std::string>& paths);
  bool LoadTemplate(std::vector<uint8_t>* image);
  void PatchVolume(std::vector<uint8_t>& image, const std::string& label) const;
  void PatchMpegFolder(std::vector<uint8_t>& image) const;
  void PatchEntries(std::vector<uint8_t>& image) const;
  void PatchPlayLists(std::vector<uint8_t>& image) const;
  void PatchPalFlags(std::vector<uint8_t>& image) const;
  bool WriteImage(const std::vector<uint8_t>& image);
  bool Fail(const std::string& why);

  vcdtpl::Kind kind_;
  long firstTrack_;
  std::string resourceFolder_;
  std::time_t buildTime_ = 0;
  TempFile image_;
  std::vector<double> seconds_;
  std::vector<std::string> paths_;
  bool pal_ = false;
  std::vector<long> starts_;
  std::vector<long> sectors_;
  long discEnd_ = 0;
  std::string error_;
};
