#pragma once
// Writing a whole source a session at once on one recorder: every session in
// turn, each begun, written and ended by the burn library. It is how the
// engine writes a disc that must come out exactly as its source describes
// it: a copy of a disc, an image made for CD.

#include <cstdint>
#include <functional>
#include <string>

class BurnMana_SAO;
class CDevCmdRW;
class DataSource;

struct AtOnceJob {
  bool closeLast = true;    // the last session closes the disc
  bool testWrite = false;   // the recorder goes through the writing; nothing reaches the disc
  uint16_t speed = 0xFFFF;  // kB/s; 0xFFFF: as fast as the recorder goes
  // Told of the writer while it exists (nullptr once it is over), so that a
  // stop or a progress query can reach it.
  std::function<void(BurnMana_SAO* running, int session, int sessions)> watch;
  // Asked before each session and whenever the writing moves on; a stop is
  // passed to the writer.
  std::function<bool()> stopped;
  // The percent done of the session being written and what is written,
  // told on the writing thread as they change.
  std::function<void(int percent, const std::string& item)> progress;
};

// result::kSuccess, or the result that ended the writing with `why` saying
// what the recorder or the source answered ("" for a stop). A CD source of
// several sessions (each written with its own cue sheet and lead-in, the
// disc left open between them) is refused with result::kTargetNotWritable
// before anything is written when the recorder says it cannot write a
// session at once.
int WriteAtOnce(CDevCmdRW* target, DataSource& source, const AtOnceJob& job, std::string* why);
