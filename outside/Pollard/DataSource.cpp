#include "DataSource.h"

#include <cstdio>
#include <cstring>

#include "CdSector.h"

const std::vector<uint8_t>& DiscLayout::LeadInText(int session) const {
  static const std::vector<uint8_t> none;
  if (session == 1) return cdText;
  return session > 1 && session <= int(sessions.size()) ? sessions[size_t(session) - 1].cdText : none;
}

int DiscLayout::TrackCount() const {
  int n = 0;
  for (const SourceSession& s : sessions) n += int(s.tracks.size());
  return n;
}

const SourceTrack* DiscLayout::Track(int number) const {
  for (const SourceSession& s : sessions)
    for (const SourceTrack& t : s.tracks)
      if (t.number == number) return &t;
  return nullptr;
}

int64_t DiscLayout::SectorsToRead() const {
  int64_t n = 0;
  for (const SourceSession& s : sessions)
    for (const SourceTrack& t : s.tracks) n += int64_t(t.End()) - t.pregapStart;
  return n;
}

std::string DiscLayout::Check() const {
  if (discType < CD_TYPE_CD || discType > CD_TYPE_BD) return "unknown kind of disc";
  if (sectorSize != (discType == CD_TYPE_CD ? 2352 : 2048)) return "wrong sector size for the kind of disc";
  if (sessions.empty()) return "no session";
  int nextTrack = sessions.front().tracks.empty() ? 1 : sessions.front().tracks.front().number;
  int64_t end = discType == CD_TYPE_CD ? -150 : 0;
  for (size_t i = 0; i < sessions.size(); ++i) {
    const SourceSession& s = sessions[i];
    if (s.number != int(i) + 1) return "sessions out of order";
    if (s.tracks.empty()) return "a session without tracks";
    if (s.cdText.size() % 18) return "CD-Text cut off inside a pack";
    if (!s.cdText.empty() && i == 0) return "the first session's CD-Text is the disc's";
    if (!s.cdText.empty() && discType != CD_TYPE_CD) return "CD-Text off CD";
    for (const SourceTrack& t : s.tracks) {
      if (t.number != nextTrack++ || t.number < 1 || t.number > 99 || t.session != s.number)
        return "tracks out of order";
      if (t.length <= 0 || t.pregapStart > t.start || t.pregapStart < end) return "tracks overlap or are empty";
      if (t.start - t.pregapStart > 75 * 60 * 2) return "a pre-gap longer than two minutes";
      if (discType != CD_TYPE_CD && (!(t.control & 4) || t.pregapStart != t.start)) return "audio or pre-gaps off CD";
      if (t.form < MODE_FORM_MODE1 || t.form > MODE_FORM_MODE2_FORMLESS) return "unknown sector form";
      if (!t.isrc.empty() && !IsValidIsrc(t.isrc)) return "track " + std::to_string(t.number) + ": bad ISRC";
      if (t.indexes.size() > 98) return "more than 99 index points in a track";
      for (size_t k = 0; k < t.indexes.size(); ++k)
        if (t.indexes[k] <= (k ? t.indexes[k - 1] : t.start) || t.indexes[k] >= t.End())
          return "track " + std::to_string(t.number) + ": index points out of order";
      end = int64_t(t.start) + t.length;
      if (end > 0x7FFFFFFF / 2) return "track beyond any disc";
    }
  }
  if (!mcn.empty() && !IsValidMcn(mcn)) return "bad media catalogue number";
  if (cdText.size() % 18) return "CD-Text cut off inside a pack";
  if ((!cdText.empty() || !mcn.empty()) && discType != CD_TYPE_CD) return "CD-Text or catalogue number off CD";
  return "";
}

DataSource::~DataSource() = default;

bool DataSource::OpenSession(int session) {
  if (session < 1 || session > int(layout_.sessions.size())) return Fail("no session " + std::to_string(session));
  session_ = session;
  return true;
}

bool DataSource::OpenTrack(int track) {
  const SourceTrack* t = layout_.Track(track);
  if (!t) return Fail("no track " + std::to_string(track));
  track_ = track;
  session_ = t->session;
  position_ = t->start;
  return true;
}

void DataSource::CloseSession() { session_ = 0; }
void DataSource::CloseTrack() { track_ = 0; }

int DataSource::GetFirstTrackNo(int session) {
  if (session < 1 || session > int(layout_.sessions.size())) return 0;
  return layout_.sessions[size_t(session) - 1].tracks.front().number;
}

int DataSource::GetLastTrackNo(int session) {
  if (session < 1 || session > int(layout_.sessions.size())) return 0;
  return layout_.sessions[size_t(session) - 1].tracks.back().number;
}

int DataSource::GetDiscType() { return layout_.discType; }
int DataSource::GetSessionNum() { return int(layout_.sessions.size()); }
int DataSource::GetTrackNum() { return layout_.TrackCount(); }
int DataSource::GetTrackMode() { return Open() ? Open()->control : 0; }
int DataSource::GetTrackModeForm() { return Open() ? Open()->form : 0; }
long DataSource::GetTrackLength() { return Open() ? Open()->length : 0; }
long DataSource::GetTrackStartAdd() { return Open() ? Open()->start : 0; }
long DataSource::GetTrackPregapAdd() const { return Open() ? Open()->pregapStart : 0; }

bool DataSource::SetStartAdd(long lba) {
  const SourceTrack* t = Open();
  if (!t) return Fail("no track is open");
  if (lba < t->pregapStart || lba > t->End()) return Fail("address " + std::to_string(lba) + " is outside the track");
  position_ = lba;
  return true;
}

bool DataSource::GetSessionInfo(SessionInfo& info) {
  info = SessionInfo();
  if (layout_.sessions.empty()) return false;
  info.FirstSession = 1;
  info.LastSession = uint8_t(layout_.sessions.size());
  for (const SourceSession& s : layout_.sessions) {
    TocData toc;
    toc.FirstTrack = uint8_t(s.tracks.front().number);
    toc.LastTrack = uint8_t(s.tracks.back().number);
    toc.TrackCount = int(s.tracks.size());
    bool xa = false;
    for (const SourceTrack& t : s.tracks) {
      TocData::_Data d;
      d.AdrCtrl = uint8_t(0x10 | (t.control & 0x0F));
      d.TrackNo = uint8_t(t.number);
      d.Addr = LbaToTocAddress(t.start);
      toc.Data.push_back(d);
      xa = xa || (!t.IsAudio() && t.form != MODE_FORM_MODE1);
    }
    toc.DiscType = xa ? 0x20 : 0x00;
    toc.LeadOut = LbaToTocAddress(s.LeadOut());
    info.Sessions.push_back(toc);
  }
  return true;
}

void DataSource::GetCurrBurnFile(char* text, int size) {
  if (!text || size <= 0) return;
  const SourceTrack* t = Open();
  if (!t) {
    text[0] = 0;
    return;
  }
  std::snprintf(text, size_t(size), "Track %02d (%s)", t->number,
                t->IsAudio() ? "audio" : t->form == MODE_FORM_MODE1 ? "data, Mode 1" : "data, Mode 2");
}

void DataSource::MakeEmptySectors(int32_t lba, uint8_t* buffer, int count) const {
  const SourceTrack* t = Open();
  const int size = layout_.sectorSize;
  std::memset(buffer, 0, size_t(count) * size_t(size));
  if (layout_.discType != CD_TYPE_CD || !t || t->IsAudio()) return;
  static const uint8_t zeros[2352] = {};
  cdsector::Mode mode = t->form == MODE_FORM_MODE1         ? cdsector::Mode::Mode1
                        : t->form == MODE_FORM_MODE2_FORM2 ? cdsector::Mode::Mode2Form2
                        : t->form == MODE_FORM_MODE2_FORM1 ? cdsector::Mode::Mode2Form1
                                                           : cdsector::Mode::Mode2Formless;
  for (int i = 0; i < count; ++i) cdsector::Encode(lba + i, mode, zeros, buffer + size_t(i) * size_t(size));
}
