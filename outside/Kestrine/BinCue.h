#pragma once
// A disc as a BIN file of raw 2352-byte sectors (sector n at byte n * 2352)
// with a CUE sheet naming its tracks: how the virtual recorder exports a disc
// and how the image-file disc keeps one that holds audio or Mode 2 tracks.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "MmcDiscTarget.h"

namespace bincue {

// OUT.cue is written beside OUT.bin.
std::string BinPathFor(const std::string& cuePath);

// The mode a track is written with in the BIN and named with in the sheet:
// DVD and BD sectors become Mode 1, every Mode 2 form "MODE2/2352".
cdsector::Mode SheetMode(const DiscModel& disc, const DiscTrack& track);

// The tracks a sheet names: those that hold sectors.
std::vector<const DiscTrack*> RecordedTracks(const DiscModel& disc);

// Fills the gaps before each track ([end of the last one, start of this
// one)) with the sectors `stored` gives (a pre-gap written a session at
// once), or with empty sectors of the track's mode where nothing was
// written. False when a write to `fd` failed.
bool WriteGaps(int fd, const DiscModel& disc, const std::vector<const DiscTrack*>& tracks,
               const std::function<bool(int32_t lba, uint8_t* raw)>& stored);

// The sheet of `tracks` in the one BINARY file `binName`, with the disc's
// catalogue number, CD-Text titles, performers and songwriters, and each
// track's flags, ISRC and index points.
std::string SheetText(const DiscModel& disc, const std::vector<const DiscTrack*>& tracks, const std::string& binName);

// The same as a TOC file: each track a piece of the BIN (its pre-gap, then
// START), with its flags, ISRC, CD-Text and INDEX points, the disc's
// catalogue number and texts. One session only.
std::string TocText(const DiscModel& disc, const std::vector<const DiscTrack*>& tracks, const std::string& binName);

}  // namespace bincue
