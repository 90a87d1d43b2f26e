#pragma once
// The first track of a Super Video CD: the layout of CVCDFile from the Super
// Video CD template (resource 2012), whose first MPEG track starts at 364 and
// which also lists its tracks' playing times in SVCD/TRACKS.SVD. It has no
// second copies of the play lists.

#include "authoring/CVCDFile.h"

class CSVCDFile : public CVCDFile {
 public:
  static constexpr long kSuperVideoCdFirstTrack = 364;
  CSVCDFile();

 protected:
  void PatchOwnTables(std::vector<uint8_t>& image) override;
};
