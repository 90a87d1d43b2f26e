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
  FS_CDTEXT_INFO laterText;
  for (const DiscTrack* t : tracks) {
    const Mode mode = SheetMode(disc, *t);
    if (t->session != lastSession) {
      cue << "REM SESSION " << (t->session < 10 ? "0" : "") << t->session << "\n";
      lastSession = t->session;
      // A later session's lead-in speaks of its own tracks.
      for (const auto& [session, packs] : disc.laterCdText)
        if (session == t->session && ParseCdTextPacks(packs.data(), packs.size(), laterText)) text = &laterText;
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

namespace {

// A TOC string: quotes and backslashes escaped, bytes beyond ASCII and
// control bytes as octal, so that ISO 8859-1 texts come back as they were.
std::string TocQuoted(const char* s) {
  std::string q = "\"";
  for (const char* p = s; *p; ++p) {
    const uint8_t c = uint8_t(*p);
    if (c == '"' || c == '\\') {
      q += '\\';
      q += char(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char octal[8];
      std::snprintf(octal, sizeof octal, "\\%03o", c);
      q += octal;
    } else {
      q += char(c);
    }
  }
  return q + "\"";
}

// A CD_TEXT block; the disc's names the language of its texts.
void TocTexts(std::ostringstream& toc, const FS_CDTEXT_INFO::Track& t, bool disc) {
  toc << "CD_TEXT {\n";
  if (disc) toc << "  LANGUAGE_MAP { 0 : EN }\n";
  toc << "  LANGUAGE 0 {\n    TITLE " << TocQuoted(t.szTitle) << "\n    PERFORMER " << TocQuoted(t.szArtist) << "\n";
  if (t.szSongster[0]) toc << "    SONGWRITER " << TocQuoted(t.szSongster) << "\n";
  toc << "  }\n}\n";
}

}  // namespace

std::string TocText(const DiscModel& disc, const std::vector<const DiscTrack*>& tracks, const std::string& binName) {
  FS_CDTEXT_INFO cdText;
  const FS_CDTEXT_INFO* text = nullptr;
  if (!disc.cdText.empty() && ParseCdTextPacks(disc.cdText.data(), disc.cdText.size(), cdText)) text = &cdText;
  bool audioOnly = true, mode2 = false;
  for (const DiscTrack* t : tracks) {
    audioOnly = audioOnly && t->IsAudio();
    mode2 = mode2 || (!t->IsAudio() && SheetMode(disc, *t) != Mode::Mode1);
  }
  std::ostringstream toc;
  toc << (audioOnly ? "CD_DA" : mode2 ? "CD_ROM_XA" : "CD_ROM") << "\n";
  if (!disc.mcn.empty()) toc << "CATALOG \"" << disc.mcn << "\"\n";
  if (text) TocTexts(toc, text->Tracks[0], true);
  int32_t gapStart = 0;
  for (const DiscTrack* t : tracks) {
    const Mode mode = SheetMode(disc, *t);
    toc << "\nTRACK " << (t->IsAudio() ? "AUDIO" : mode == Mode::Mode1 ? "MODE1_RAW" : "MODE2_RAW") << "\n";
    if (t->flags & 0x02) toc << "COPY\n";
    if (t->IsAudio() && (t->flags & 0x01)) toc << "PRE_EMPHASIS\n";
    if (t->IsAudio() && (t->flags & 0x08)) toc << "FOUR_CHANNEL_AUDIO\n";
    if (!t->isrc.empty()) toc << "ISRC \"" << t->isrc << "\"\n";
    if (text && t->number < 100) TocTexts(toc, text->Tracks[t->number], false);
    // The BIN holds the disc from sector 0, in the CD's byte order: the
    // track's piece begins with its pre-gap.
    const std::string piece = "#" + std::to_string(int64_t(gapStart) * 2352);
    if (t->IsAudio()) toc << "FILE " << TocQuoted(binName.c_str()) << " SWAP " << piece << " 0 " << MsfText(t->End() - gapStart) << "\n";
    else toc << "DATAFILE " << TocQuoted(binName.c_str()) << " " << piece << " " << MsfText(t->End() - gapStart) << "\n";
    if (gapStart < t->start) toc << "START " << MsfText(t->start - gapStart) << "\n";
    // Index points count from the track's start.
    for (int32_t at : t->indexes) toc << "INDEX " << MsfText(at - t->start) << "\n";
    gapStart = t->End();
  }
  return toc.str();
}

}  // namespace bincue
