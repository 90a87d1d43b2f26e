#include "authoring/CSVCDFile.h"

#include <algorithm>

#include "ByteFields.h"
#include "DevTypes.h"
#include "VcdTracks.h"

CSVCDFile::CSVCDFile() : CVCDFile(vcdtpl::Kind::SuperVideoCd, kSuperVideoCdFirstTrack) {}

void CSVCDFile::PatchOwnTables(std::vector<uint8_t>& image) {
  // TRACKS.SVD: the track count and each track's playing time (BCD minutes,
  // seconds, frames): as the caller gave it, else reckoned from the track's
  // sectors at 75 a second. A player shows it; nothing seeks by it.
  const int n = GetTrackCount();
  image[vcdtpl::kTracksCount] = uint8_t(n);
  for (int k = 1; k <= n; ++k) {
    const double seconds = ItemSeconds(k);
    const long sectors =
        seconds >= 0 ? long(seconds * kFramesPerSecond + 0.5) : GetTrackSectors(k) - vcdtracks::kMargins;
    uint8_t* t = image.data() + vcdtpl::kTracksTimes + size_t(k - 1) * 3;
    const Msf m = FramesToMsf(sectors);
    t[0] = ToBcd(std::min(m.M, 99));
    t[1] = ToBcd(m.S);
    t[2] = ToBcd(m.F);
  }
}
