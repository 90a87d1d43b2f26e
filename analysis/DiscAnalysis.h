#pragma once
// What the disc analysis shows of a disc: its sessions and tracks (from the
// full table of contents, or on DVD and BD media without one from the track
// information), the file system of each session's first data track with its
// folder tree, and the CD-Text of audio tracks. The windows and varnex-cli
// show this model; they read nothing of the disc themselves.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CDevCmdROM.h"
#include "authoring/CAnaly_UDF.h"

struct AnalyTrack {
  int number = 0;
  int session = 0;
  bool data = false;
  int dataMode = 0;         // 1 Mode 1, 2 Mode 2 (data tracks); 0 audio or unknown
  uint32_t start = 0;       // first sector
  uint32_t length = 0;      // sectors up to the next track or the lead-out
  int fileSystem = 0;       // first data track of a session: 0 none, 1 ISO 9660, 2 UDF, 3 both
};

struct AnalySession {
  int number = 0;
  std::vector<AnalyTrack> tracks;
  uint32_t leadOut = 0;  // first sector of the session's lead-out
};

struct DiscAnalysis {
  bool readable = false;  // false: blank, no disc or no table of contents
  int mediumType = 0;
  int discKind = 0;       // 0 no data track, 1 CD-ROM, 2 CD-ROM XA
  bool tocFromTrackInfo = false;
  std::vector<AnalySession> sessions;
  bool hasCdText = false;
  std::shared_ptr<FS_CDTEXT_INFO> cdText;  // set when hasCdText
  std::string error;      // why the disc could not be read
};

// Reads the disc in `drive`. False (error set) for no disc, a blank disc or a
// table of contents that cannot be read.
bool AnalyseDisc(CDevCmdROM& drive, DiscAnalysis* out);

// Tree texts: "Session 1", "DATA TRACK 1 (ISO)", "AUDIO TRACK 2", "(Lead Out) 12345".
std::string SessionText(const AnalySession& session);
std::string TrackText(const AnalyTrack& track);
std::string LeadOutText(const DiscAnalysis& disc);
const char* FileSystemSuffix(int fileSystem);  // "(ISO)", "(UDF)", "(UDF&ISO)" or ""

// The six CD-Text rows of an audio track (label, text), in the order shown.
std::vector<std::pair<std::string, std::string>> CdTextRows(const FS_CDTEXT_INFO& text, int track);

// The files of a data track, folders before their content.
struct DiscFiles {
  int fileSystem = 0;  // what was read: 1 ISO 9660, 2 UDF
  bool joliet = false;
  bool rockRidge = false;  // names, permissions and links from Rock Ridge
  std::string label;
  std::vector<UdfEntry> entries;
  bool complete = false;  // false: `error` says which part could not be read
  std::string error;
  // Entries the volume names but whose file entry or data cannot be found:
  // disc path and why (UDF).
  std::vector<std::pair<std::string, std::string>> skipped;
};

// Lists the file system of the data track at `trackStart`: `fileSystem` as
// JudgeFileSystem reports it; 2 or more is read as UDF.
bool ReadDiscFiles(UdfSectorSource* source, uint32_t trackStart, int fileSystem, DiscFiles* out);

// The entries of one folder ("" for the root), sorted as the list shows them:
// folders first, then by name, case-insensitive.
std::vector<const UdfEntry*> FolderContent(const DiscFiles& files, const std::string& folder);
// The first sector of an entry's data (0 when it has none).
uint32_t StartSector(const UdfEntry& entry);
