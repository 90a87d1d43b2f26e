#pragma once
// A disc in a drive as a source: its layout from READ DISC and TRACK
// INFORMATION (the table of contents when a drive does not answer those),
// its sectors read raw on CD and as user data on DVD and BD. A CD's
// CD-Text (READ TOC format 5), catalogue number and ISRCs (READ SUB-CHANNEL)
// and index points (the Q sub-channel) come with the layout; a drive that
// keeps any of them to itself gives a copy without them.

#include <atomic>
#include <map>
#include <memory>

#include "CDevCmdROM.h"
#include "DataSource.h"

class DataSource_Device : public DataSource {
 public:
  // The drive stays the caller's; it must outlive the source.
  explicit DataSource_Device(CDevCmdROM* device);

  // Whether the layout could be read (GetLastError says why not). A blank
  // disc reads as a valid source without sessions.
  bool IsValid() const { return valid_; }

  bool GetSectorData(uint8_t* buffer, int count) override;
  DataSource* CloneSource() override;

  // True once the drive refused READ CD and Mode 1 sectors were read with
  // READ (10) and rebuilt (sync, header, EDC and ECC), as a recorder lays
  // them down; shared with the source's clones.
  bool RebuiltRawSectors() const { return *readCdRefused_; }

 private:
  bool ReadLayout();
  bool LayoutFromTrackInfo(int lastTrack);
  bool LayoutFromToc();
  bool FinishLayout();
  void ReadCdExtras();
  // The index number the Q sub-channel gives `lba` (-1 when it cannot be read).
  int IndexAt(int32_t lba);
  MODE_FORM FormAt(int32_t lba);
  bool ReadData(const SourceTrack& track, int32_t lba, uint8_t* buffer, int count);
  bool ReadRebuilt(const SourceTrack& track, int32_t lba, uint8_t* buffer, int count);

  CDevCmdROM* dev_;
  bool valid_ = false;
  std::map<int, uint8_t> dataModes_;  // track number -> Data Mode of its track information
  std::shared_ptr<std::atomic<bool>> readCdRefused_ = std::make_shared<std::atomic<bool>>(false);
};
