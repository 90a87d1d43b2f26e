#pragma once
// The first track of a Super Video CD: the layout of CVCDFile from the Super
// Video CD template (resource 2012), whose first MPEG track starts at 451 (the
// template's 187 sectors padded to the shortest track a disc may have) and
// which also lists its tracks' playing times in SVCD/TRACKS.SVD. It has no
// second copies of the play lists.

#include "VcdTracks.h"
#include "authoring/CVCDFile.h"

class CSVCDFile : public CVCDFile {
 public:
  static constexpr long kSuperVideoCdFirstTrack = kMinTrackSectors + vcdtracks::kTrackGap;
  CSVCDFile();

 protected:
  void PatchOwnTables(std::vector<uint8_t>& image) override;
};
