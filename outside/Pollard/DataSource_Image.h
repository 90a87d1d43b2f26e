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

  ImageLayout image_;
  int32_t shift_ = 0;  // subtracted from the image's addresses
  std::vector<int> fds_;
  size_t lastExtent_ = 0;  // where the last sector was found
};
