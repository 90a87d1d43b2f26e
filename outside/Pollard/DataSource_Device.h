#pragma once
// A disc in a drive as a source: its layout from READ DISC and TRACK
// INFORMATION (the table of contents when a drive does not answer those),
// its sectors read raw on CD and as user data on DVD and BD.

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

 private:
  bool ReadLayout();
  bool LayoutFromTrackInfo(int lastTrack);
  bool LayoutFromToc();
  bool FinishLayout();
  MODE_FORM FormAt(int32_t lba);
  bool ReadData(int32_t lba, uint8_t* buffer, int count);

  CDevCmdROM* dev_;
  bool valid_ = false;
};
