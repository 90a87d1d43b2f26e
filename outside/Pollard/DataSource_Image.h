#pragma once
// A disc image made for CD (a CUE sheet with its files, a TOC file, an NRG
// image) as a source of raw CD sectors, so that it is written a session at
// once exactly as it describes the disc: each track in its own mode with its
// flags, pre-gaps where the image puts them, the sectors the image keeps
// cooked (2048, 2324 or 2336 bytes) given their sync, header, EDC and ECC,
// with the image's CD-Text, catalogue number, ISRCs and index points.
//
// On the disc the first track starts at sector 0: an image whose first track
// starts later (its pre-gap kept in the file) is moved so, its pre-gap
// sectors going into the first track's pre-gap before sector 0.

#include <string>
#include <vector>

#include "DataSource.h"
#include "ImageLayout.h"

class DataSource_Image : public DataSource {
 public:
  explicit DataSource_Image(ImageLayout image);
  ~DataSource_Image() override;
  DataSource_Image(const DataSource_Image&) = delete;
  DataSource_Image& operator=(const DataSource_Image&) = delete;

  // Opens every file the image names and checks that the image can be
  // written to its end: each file there and as long as its tracks take,
  // every track a CD can hold. False with GetLastError saying why.
  bool Load();

  bool GetSectorData(uint8_t* buffer, int count) override;
  DataSource* CloneSource() override;
  void GetCurrBurnFile(char* text, int size) override;

 private:
  bool RawSector(int32_t lba, uint8_t* raw);
  void SplitCdText();

  ImageLayout image_;
  // Subtracted from the image's addresses, per session: a later session
  // lies behind the lead-out and lead-in that end and open sessions on disc.
  std::vector<int32_t> shifts_;
  // By track number: the first image sector a track takes from the image;
  // sectors of its pre-gap before it are made empty.
  std::vector<int32_t> firstImageSector_;
  int32_t ImageAddress(const SourceTrack& t, int32_t lba) const { return lba + shifts_[size_t(t.session) - 1]; }
  std::vector<int> fds_;
  size_t lastExtent_ = 0;  // where the last sector was found
};
