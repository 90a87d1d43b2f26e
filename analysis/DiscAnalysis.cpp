#include "analysis/DiscAnalysis.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "MediumTable.h"
#include "analysis/CAnaly_ISO.h"

namespace {

uint32_t Lba(const TocAddress& a) {
  int32_t lba = TocAddressToLba(a);
  return lba < 0 ? 0 : uint32_t(lba);
}

// Sessions and tracks from READ TRACK INFORMATION, for drives that give no
// full table of contents of a DVD or BD.
bool FromTrackInfo(CDevCmdROM& drive, const DISC_INFO& info, DiscAnalysis* out) {
  const int last = std::max<int>(info.LastTrackLastSession, info.FirstTrack);
  for (int number = std::max<int>(1, info.FirstTrack); number <= last && number <= 99; ++number) {
    TRACK_INFO t;
    if (drive.ReadTrackInfo(t, number) != DEV_OK) {
      if (number == std::max<int>(1, info.FirstTrack)) return false;
      break;
    }
    if (t.Blank || t.TrackSize == 0) continue;  // the invisible track of an open disc
    if (out->sessions.empty() || out->sessions.back().number != t.SessionNumber) {
      AnalySession s;
      s.number = t.SessionNumber ? t.SessionNumber : int(out->sessions.size()) + 1;
      out->sessions.push_back(s);
    }
    AnalyTrack track;
    track.number = number;
    track.session = out->sessions.back().number;
    track.data = true;  // DVD and BD tracks hold data
    track.dataMode = 1;
    track.start = t.TrackStart;
    track.length = t.TrackSize;
    out->sessions.back().tracks.push_back(track);
    out->sessions.back().leadOut = t.TrackStart + t.TrackSize;
  }
  return !out->sessions.empty();
}

bool FromFullToc(CDevCmdROM& drive, const SessionInfo& toc, DiscAnalysis* out) {
  for (size_t i = 0; i < toc.Sessions.size(); ++i) {
    const TocData& s = toc.Sessions[i];
    AnalySession session;
    session.number = toc.FirstSession + int(i);
    session.leadOut = Lba(s.LeadOut);
    for (const TocData::_Data& d : s.Data) {
      if (d.TrackNo < 1 || d.TrackNo > 99) continue;
      AnalyTrack t;
      t.number = d.TrackNo;
      t.session = session.number;
      t.data = d.IsData();
      t.start = Lba(d.Addr);
      if (t.data) {
        out->discKind = s.DiscType == 0x20 ? 2 : std::max(out->discKind, 1);
        TRACK_INFO info;
        if (drive.ReadTrackInfo(info, t.number) == DEV_OK && (info.DataMode == 1 || info.DataMode == 2))
          t.dataMode = info.DataMode;
        else
          t.dataMode = s.DiscType == 0x20 ? 2 : 1;
      }
      session.tracks.push_back(t);
    }
    std::sort(session.tracks.begin(), session.tracks.end(),
              [](const AnalyTrack& a, const AnalyTrack& b) { return a.number < b.number; });
    for (size_t k = 0; k < session.tracks.size(); ++k) {
      uint32_t end = k + 1 < session.tracks.size() ? session.tracks[k + 1].start : session.leadOut;
      session.tracks[k].length = end > session.tracks[k].start ? end - session.tracks[k].start : 0;
    }
    out->sessions.push_back(session);
  }
  return !out->sessions.empty();
}

}  // namespace

bool AnalyseDisc(CDevCmdROM& drive, DiscAnalysis* out) {
  *out = DiscAnalysis();
  if (!drive.HasDrive() || drive.TestUnitReady() != DEV_OK) {
    out->error = "the drive is not ready";
    return false;
  }
  out->mediumType = drive.GetMediumType();
  DISC_INFO info;
  if (drive.ReadDiscInfo(info) != DEV_OK) {
    out->error = "the disc information cannot be read";
    return false;
  }
  if (info.DiscStatus == 0) {
    out->error = "the disc is blank";
    return false;
  }
  SessionInfo toc;
  const bool haveToc = drive.GetSessionInfo(toc) == DEV_OK;
  bool ok = false;
  if (haveToc) {
    ok = FromFullToc(drive, toc, out);
  } else if (out->mediumType != medium::kNone && !medium::IsCd(out->mediumType)) {
    out->tocFromTrackInfo = true;
    ok = FromTrackInfo(drive, info, out);
  }
  if (!ok) {
    out->sessions.clear();
    out->error = "the table of contents cannot be read";
    return false;
  }
  for (AnalySession& s : out->sessions) {
    for (AnalyTrack& t : s.tracks) {
      if (!t.data) continue;
      // The first data track of a session carries its file system.
      t.fileSystem = drive.JudgeFileSystem(t.start);
      break;
    }
  }
  bool audio = false;
  for (const AnalySession& s : out->sessions)
    for (const AnalyTrack& t : s.tracks) audio = audio || !t.data;
  if (audio) {
    auto text = std::make_shared<FS_CDTEXT_INFO>();
    if (drive.GetCDText(*text) == DEV_OK) {
      out->hasCdText = true;
      out->cdText = text;
    }
  }
  out->readable = true;
  return true;
}

const char* FileSystemSuffix(int fileSystem) {
  switch (fileSystem) {
    case 1: return "(ISO)";
    case 2: return "(UDF)";
    case 3: return "(UDF&ISO)";
    default: return "";
  }
}

std::string SessionText(const AnalySession& session) { return "Session " + std::to_string(session.number); }

std::string TrackText(const AnalyTrack& track) {
  std::string text = (track.data ? "DATA TRACK " : "AUDIO TRACK ") + std::to_string(track.number);
  if (track.fileSystem) text += std::string(" ") + FileSystemSuffix(track.fileSystem);
  return text;
}

std::string LeadOutText(const DiscAnalysis& disc) {
  uint32_t leadOut = disc.sessions.empty() ? 0 : disc.sessions.back().leadOut;
  return "(Lead Out) " + std::to_string(leadOut);
}

std::vector<std::pair<std::string, std::string>> CdTextRows(const FS_CDTEXT_INFO& text, int track) {
  std::vector<std::pair<std::string, std::string>> rows;
  if (track < 0 || track > 99) return rows;
  const FS_CDTEXT_INFO::Track& t = text.Tracks[track];
  auto field = [](const char* p, size_t n) { return std::string(p, strnlen(p, n)); };
  rows.push_back({"TITLE", field(t.szTitle, sizeof t.szTitle)});
  rows.push_back({"ARTIST", field(t.szArtist, sizeof t.szArtist)});
  // The names of the CD-Text packs the fields come from, as the rows above.
  rows.push_back({"MESSAGE", field(t.szSpecialTitle, sizeof t.szSpecialTitle)});
  rows.push_back({"COMPOSER", field(t.szComposer, sizeof t.szComposer)});
  rows.push_back({"SONGWRITER", field(t.szSongster, sizeof t.szSongster)});
  rows.push_back({"ISRC", field(t.szISRC, sizeof t.szISRC)});
  return rows;
}

namespace {

class Collect : public UdfWalkListener {
 public:
  explicit Collect(std::vector<UdfEntry>* out) : out_(out) {}
  bool Entry(const UdfEntry& e) override {
    out_->push_back(e);
    return true;
  }

 private:
  std::vector<UdfEntry>* out_;
};

}  // namespace

bool ReadDiscFiles(UdfSectorSource* source, uint32_t trackStart, int fileSystem, DiscFiles* out) {
  *out = DiscFiles();
  Collect collect(&out->entries);
  if (fileSystem >= 2) {
    out->fileSystem = 2;
    CAnaly_UDF udf;
    // Import mode lists where each file's data lies, which saving needs.
    if (!udf.Open(source, trackStart, CAnaly_UDF::kImport)) {
      out->error = udf.LastError();
      return false;
    }
    out->label = udf.VolumeLabel();
    out->complete = udf.Walk(&collect);
    if (!out->complete) out->error = udf.LastError();
    out->skipped = udf.SkippedEntries();
    return out->complete;
  }
  out->fileSystem = 1;
  CAnaly_ISO iso;
  if (!iso.Open(source, trackStart)) {
    out->error = iso.LastError();
    return false;
  }
  out->joliet = iso.Joliet();
  out->rockRidge = iso.RockRidge();
  out->label = iso.VolumeLabel();
  out->complete = iso.Walk(&collect);
  if (!out->complete) out->error = iso.LastError();
  return out->complete;
}

std::vector<const UdfEntry*> FolderContent(const DiscFiles& files, const std::string& folder) {
  std::vector<const UdfEntry*> rows;
  for (const UdfEntry& e : files.entries)
    if (e.parentPath == folder) rows.push_back(&e);
  std::stable_sort(rows.begin(), rows.end(), [](const UdfEntry* a, const UdfEntry* b) {
    if (a->folder != b->folder) return a->folder;
    return strcasecmp(a->name.c_str(), b->name.c_str()) < 0;
  });
  return rows;
}

uint32_t StartSector(const UdfEntry& entry) { return entry.sectors.empty() ? 0 : entry.sectors.front().first; }
