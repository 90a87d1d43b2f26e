#include "BinCue.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "DevTypes.h"
#include "MediumTable.h"
#include "SafeFile.h"
#include "SectorSizes.h"

using cdsector::Mode;

namespace bincue {

namespace {

std::string Quoted(const char* s) {
  std::string q;
  for (const char* p = s; *p; ++p) q += (*p == '"') ? '\'' : *p;
  return "\"" + q + "\"";
}

}  // namespace

std::string BinPathFor(const std::string& cuePath) {
  std::string binPath = cuePath;
  size_t dot = binPath.find_last_of('.');
  size_t slash = binPath.find_last_of('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) binPath.erase(dot);
  return binPath + ".bin";
}

Mode SheetMode(const DiscModel& disc, const DiscTrack& track) {
  Mode mode = medium::IsCd(disc.profile) ? track.mode : Mode::Mode1;
  if (mode == Mode::Mode2Form2 || mode == Mode::Mode2Formless) mode = Mode::Mode2Form1;
  return mode;
}

std::vector<const DiscTrack*> RecordedTracks(const DiscModel& disc) {
  std::vector<const DiscTrack*> tracks;
  for (const DiscTrack& t : disc.tracks)
    if (t.closed || t.recorded > 0 || medium::IsOverwritable(disc.profile)) tracks.push_back(&t);
  return tracks;
}

bool WriteGaps(int fd, const DiscModel& disc, const std::vector<const DiscTrack*>& tracks,
               const std::function<bool(int32_t, uint8_t*)>& stored) {
  uint8_t raw[kRawSectorSize], user[kRawSectorSize];
  int32_t from = 0;
  for (const DiscTrack* t : tracks) {
    const Mode mode = SheetMode(disc, *t);
    for (int32_t lba = from; lba < t->start; ++lba) {
      if (!stored(lba, raw)) {
        std::memset(user, 0, sizeof user);
        cdsector::Encode(lba, mode, user, raw);
      }
      if (!safefile::PwriteAll(fd, raw, kRawSectorSize, off_t(lba) * kRawSectorSize)) return false;
    }
    from = t->End();
  }
  return true;
}

std::string SheetText(const DiscModel& disc, const std::vector<const DiscTrack*>& tracks, const std::string& binName) {
  FS_CDTEXT_INFO cdText;
  const FS_CDTEXT_INFO* text = nullptr;
  if (!disc.cdText.empty() && ParseCdTextPacks(disc.cdText.data(), disc.cdText.size(), cdText)) text = &cdText;
  std::ostringstream cue;
  if (!disc.mcn.empty()) cue << "CATALOG " << disc.mcn << "\n";
  if (text && text->Tracks[0].szTitle[0]) cue << "TITLE " << Quoted(text->Tracks[0].szTitle) << "\n";
  if (text && text->Tracks[0].szArtist[0]) cue << "PERFORMER " << Quoted(text->Tracks[0].szArtist) << "\n";
  if (text && text->Tracks[0].szSongster[0]) cue << "SONGWRITER " << Quoted(text->Tracks[0].szSongster) << "\n";
  cue << "FILE " << Quoted(binName.c_str()) << " BINARY\n";
  int32_t gapStart = 0;
  int lastSession = 1;
  for (const DiscTrack* t : tracks) {
    const Mode mode = SheetMode(disc, *t);
    if (t->session != lastSession) {
      cue << "REM SESSION " << (t->session < 10 ? "0" : "") << t->session << "\n";
      lastSession = t->session;
    }
    cue << "  TRACK " << (t->number < 10 ? "0" : "") << t->number << ' '
        << (t->IsAudio() ? "AUDIO" : (mode == Mode::Mode1 ? "MODE1/2352" : "MODE2/2352")) << "\n";
    if (text && t->number < 100) {
      const auto& tt = text->Tracks[t->number];
      if (tt.szTitle[0]) cue << "    TITLE " << Quoted(tt.szTitle) << "\n";
      if (tt.szArtist[0]) cue << "    PERFORMER " << Quoted(tt.szArtist) << "\n";
      if (tt.szSongster[0]) cue << "    SONGWRITER " << Quoted(tt.szSongster) << "\n";
    }
    if (t->IsAudio() && (t->flags & 0x0B)) {
      cue << "    FLAGS";
      if (t->flags & 0x02) cue << " DCP";
      if (t->flags & 0x08) cue << " 4CH";
      if (t->flags & 0x01) cue << " PRE";
      cue << "\n";
    }
    if (!t->isrc.empty()) cue << "    ISRC " << t->isrc << "\n";
    if (gapStart < t->start) cue << "    INDEX 00 " << MsfText(gapStart) << "\n";
    cue << "    INDEX 01 " << MsfText(t->start) << "\n";
    for (size_t k = 0; k < t->indexes.size(); ++k)
      cue << "    INDEX " << (k + 2 < 10 ? "0" : "") << k + 2 << ' ' << MsfText(t->indexes[k]) << "\n";
    gapStart = t->End();
  }
  return cue.str();
}

}  // namespace bincue
