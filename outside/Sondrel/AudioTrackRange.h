#pragma once
// Where an audio track lies on a disc, from its table of contents: the first
// sector is the track's start; the last is one before the next track of the
// session, or one before the session's lead-out (the next session's first
// track when the lead-out is not known).

#include <cstdint>
#include <string>

#include "DevTypes.h"

class CDevCmdROM;

struct AudioTrackRange {
  int track = 0;         // number on the disc
  int session = 0;       // number on the disc
  int trackTotal = 0;    // tracks on the whole disc
  uint32_t start = 0;    // first sector (LBA)
  uint32_t end = 0;      // last sector (LBA)
  uint32_t Sectors() const { return end - start + 1; }
};

// The range of track `track` within a disc's sessions. False with `why` set
// when the disc has no such track, the track holds data or its addresses
// make no sense.
bool FindAudioTrack(const SessionInfo& disc, int track, AudioTrackRange& out, std::string* why);

// The disc's sessions as the drive reports them: the full TOC, or the
// formatted TOC as one session when the drive has no full TOC.
bool ReadDiscSessions(CDevCmdROM& drive, SessionInfo& out, std::string* why);

// The track of the disc whose sectors include `lba`; 0 when none does.
int TrackHolding(const SessionInfo& disc, uint32_t lba, int* trackTotal = nullptr);
