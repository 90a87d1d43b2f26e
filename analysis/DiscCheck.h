#pragma once
// The disc check: every sector of every track (data and audio) read, a
// failing block retried sector by sector, and what came of it: the
// unreadable ranges with the files they belong to, and the read speed over
// the disc, sample by sample, for a graph that is drawn while it reads.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CDevCmdROM.h"

struct CheckRange {
  uint32_t first = 0, last = 0;     // LBAs, both unreadable
  std::vector<std::string> owners;  // files (or the directory area) the range belongs to
};

struct CheckSample {
  uint32_t lba = 0;      // first sector of the sample
  uint32_t sectors = 0;
  double seconds = 0;    // the time the sample's reads took
  double factor = 0;     // the medium's read speed factor (1x CD 75 sectors/s, DVD 1385 kB/s, BD 4495 kB/s)
  double megabytesPerSecond = 0;
};

struct CheckReport {
  // kLost: the disc was taken out or the drive stopped answering part way;
  // what was read until then stands.
  enum State { kDone, kStopped, kNoDisc, kBlank, kLost } state = kNoDisc;
  std::string why;          // kNoDisc, kBlank, kLost
  uint32_t lostAt = 0;      // kLost: the first sector the drive no longer read
  int mediumType = 0;
  bool open = false;        // another session can still be added
  int tracks = 0, sessions = 0;
  uint64_t sectors = 0;     // read or tried
  uint64_t total = 0;       // to read: every sector of every track
  uint32_t spanFirst = 0, spanEnd = 0;  // the LBAs the tracks cover, [first, end)
  uint64_t unreadableSectors = 0;
  std::vector<CheckRange> unreadable;
  std::vector<CheckSample> samples;
  double seconds = 0;
  double baseRate = 0;      // bytes a second of the medium's 1x
  bool Failed() const { return unreadableSectors > 0; }
};

struct CheckOptions {
  std::function<bool()> stopped;
  // Told of every sample as it is taken (the report so far with it).
  std::function<void(const CheckReport& soFar)> sampled;
  // Seconds on a steady clock; a test gives a clock of its own.
  std::function<double()> clock;
  uint32_t block = 32;      // sectors a read asks for
  uint32_t samples = 400;   // about this many speed samples over the disc
};

CheckReport CheckDisc(CDevCmdROM& drive, const CheckOptions& options = {});

// The report as text, for the terminal and the report file.
std::string CheckReportText(const CheckReport& report);
// The read speed against the position, the unreadable ranges marked: an SVG
// document, or the bytes of a PNG image of `width` x `height`.
std::string CheckPlotSvg(const CheckReport& report);
std::string CheckPlotPng(const CheckReport& report, int width = 800, int height = 400);
