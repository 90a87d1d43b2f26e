#include "DataSource_Device.h"

#include <algorithm>

#include "CdSector.h"
#include "SectorSizes.h"

namespace {

// Reads are made in pieces a drive takes in one command.
constexpr int kReadPiece = 26;

// "Invalid command operation code": the drive does not know READ CD.
bool RefusedAsUnknown(const CDevCmdROM& d) {
  SenseData s = d.GetLastSense();
  return s.SenseKey == 5 && s.ASC == 0x20 && s.ASCQ == 0;
}

}  // namespace

DataSource_Device::DataSource_Device(CDevCmdROM* device) : dev_(device) { valid_ = ReadLayout(); }

DataSource* DataSource_Device::CloneSource() {
  auto* copy = new DataSource_Device(dev_);
  copy->readCdRefused_ = readCdRefused_;
  if (!copy->IsValid()) {
    error_ = copy->GetLastError();
    delete copy;
    return nullptr;
  }
  return copy;
}

bool DataSource_Device::ReadLayout() {
  if (!dev_ || !dev_->HasDrive()) return Fail("no drive");
  if (dev_->TestUnitReady() != DEV_OK) return Fail("the drive is not ready (" + SenseText(dev_->GetLastSense()) + ")");
  layout_.discType = dev_->GetDiscType();
  layout_.profile = dev_->GetMediumType();
  if (layout_.discType < CD_TYPE_CD || layout_.discType > CD_TYPE_BD) return Fail("the disc is of an unknown kind");
  layout_.sectorSize = layout_.discType == CD_TYPE_CD ? kRawSectorSize : kDataSectorSize;
  DISC_INFO di;
  if (dev_->ReadDiscInfo(di) != DEV_OK) return LayoutFromToc();
  layout_.complete = di.DiscStatus != 1;  // only an appendable disc is left open
  if (di.DiscStatus == 0) return true;    // blank: nothing to copy
  return LayoutFromTrackInfo(di.LastTrackLastSession);
}

bool DataSource_Device::LayoutFromTrackInfo(int lastTrack) {
  for (int n = 1; n <= lastTrack; ++n) {
    TRACK_INFO ti;
    if (dev_->ReadTrackInfo(ti, n) != DEV_OK) {
      if (n == 1) {
        layout_.sessions.clear();
        return LayoutFromToc();
      }
      return Fail("track " + std::to_string(n) + " cannot be read (" + SenseText(dev_->GetLastSense()) + ")");
    }
    if (ti.Blank || ti.TrackSize == 0) break;  // the invisible track of an open disc
    if (ti.SessionNumber < 1 || ti.SessionNumber > 99) return Fail("a track names an impossible session");
    if (layout_.sessions.empty() || layout_.sessions.back().number != ti.SessionNumber) {
      SourceSession s;
      s.number = ti.SessionNumber;
      layout_.sessions.push_back(s);
    }
    SourceSession& s = layout_.sessions.back();
    SourceTrack t;
    t.number = ti.TrackNumber ? ti.TrackNumber : n;
    dataModes_[t.number] = ti.DataMode;
    t.session = ti.SessionNumber;
    t.control = ti.TrackMode & 0x0F;
    t.start = int32_t(ti.TrackStart);
    t.length = int32_t(ti.TrackSize);
    t.pregapStart = t.start;
    if (layout_.discType == CD_TYPE_CD) {
      if (s.tracks.empty()) t.pregapStart = t.start - 150;
      else if (s.tracks.back().End() < t.start) t.pregapStart = s.tracks.back().End();
    }
    s.tracks.push_back(t);
  }
  return FinishLayout();
}

int DataSource_Device::IndexAt(int32_t lba) {
  uint8_t q[16];
  if (dev_->ReadSubQ(q, uint32_t(lba)) != DEV_OK || (q[0] & 0x0F) != 1 || !IsBcd(q[2])) return -1;
  return FromBcd(q[2]);
}

void DataSource_Device::ReadCdExtras() {
  if (layout_.discType != CD_TYPE_CD || layout_.sessions.empty()) return;
  if (dev_->ReadCdTextPacks(layout_.cdText) != DEV_OK) layout_.cdText.clear();
  if (dev_->ReadMediaCatalog(layout_.mcn) != DEV_OK) layout_.mcn.clear();
  for (SourceSession& s : layout_.sessions)
    for (SourceTrack& t : s.tracks) {
      if (!t.IsAudio()) continue;
      if (dev_->ReadTrackIsrc(t.number, t.isrc) != DEV_OK) t.isrc.clear();
      // Index numbers only grow within a track: where each begins is found
      // by halving, from the highest one its last sector shows.
      const int last = IndexAt(t.End() - 1);
      for (int k = 2; k <= std::min(last, 99); ++k) {
        int32_t lo = t.indexes.empty() ? t.start + 1 : t.indexes.back() + 1, hi = t.End() - 1;
        bool readable = true;
        while (lo < hi && readable) {
          const int32_t mid = lo + (hi - lo) / 2;
          const int at = IndexAt(mid);
          readable = at >= 0;
          if (at >= k) hi = mid;
          else lo = mid + 1;
        }
        if (!readable) {
          t.indexes.clear();
          break;
        }
        t.indexes.push_back(lo);
      }
    }
}

// Every data track's sector form, read from its first sector, and a layout
// a copy can reproduce.
bool DataSource_Device::FinishLayout() {
  ReadCdExtras();
  for (SourceSession& s : layout_.sessions)
    for (SourceTrack& t : s.tracks)
      if (!t.IsAudio()) {
        t.form = FormAt(t.start);
        // A drive without READ CD cannot show the sector's header; the
        // track information says whether it is Mode 2, which READ (10)
        // cannot copy whole.
        if (*readCdRefused_ && dataModes_.count(t.number) && dataModes_[t.number] == 2)
          t.form = MODE_FORM_MODE2_FORM1;
      }
  std::string why = layout_.Check();
  if (!why.empty()) return Fail("the disc's layout cannot be copied: " + why);
  return true;
}

bool DataSource_Device::LayoutFromToc() {
  SessionInfo info;
  if (dev_->GetSessionInfo(info) != DEV_OK)
    return Fail("the disc's table of contents cannot be read (" + SenseText(dev_->GetLastSense()) + ")");
  int number = 1;
  for (const TocData& toc : info.Sessions) {
    SourceSession s;
    s.number = number++;
    for (size_t i = 0; i < toc.Data.size(); ++i) {
      SourceTrack t;
      t.number = toc.Data[i].TrackNo;
      t.session = s.number;
      t.control = toc.Data[i].AdrCtrl & 0x0F;
      t.start = TocAddressToLba(toc.Data[i].Addr);
      int32_t end = i + 1 < toc.Data.size() ? TocAddressToLba(toc.Data[i + 1].Addr) : TocAddressToLba(toc.LeadOut);
      t.length = end - t.start;
      t.pregapStart = layout_.discType == CD_TYPE_CD && i == 0 ? t.start - 150 : t.start;
      s.tracks.push_back(t);
    }
    layout_.sessions.push_back(s);
  }
  return FinishLayout();
}

MODE_FORM DataSource_Device::FormAt(int32_t lba) {
  if (layout_.discType != CD_TYPE_CD) return MODE_FORM_MODE1;
  uint8_t raw[kRawSectorSize];
  if (dev_->ReadCD_All(raw, sizeof raw, 1, uint32_t(lba)) != DEV_OK) {
    if (RefusedAsUnknown(*dev_)) *readCdRefused_ = true;
    return MODE_FORM_MODE1;
  }
  switch (cdsector::ModeOf(raw)) {
    case cdsector::Mode::Mode2Form1: return MODE_FORM_MODE2_FORM1;
    case cdsector::Mode::Mode2Form2: return MODE_FORM_MODE2_FORM2;
    case cdsector::Mode::Mode2Formless: return MODE_FORM_MODE2_FORMLESS;
    default: return MODE_FORM_MODE1;
  }
}

bool DataSource_Device::ReadData(const SourceTrack& track, int32_t lba, uint8_t* buffer, int count) {
  const int size = layout_.sectorSize;
  if (layout_.discType != CD_TYPE_CD) {
    if (dev_->ReadCD_10(buffer, count * size, count, uint32_t(lba)) != DEV_OK)
      return Fail("sector " + std::to_string(lba) + " of the source cannot be read (" +
                  SenseText(dev_->GetLastSense()) + ")");
    return true;
  }
  if (*readCdRefused_) return ReadRebuilt(track, lba, buffer, count);
  if (dev_->ReadCD_All(buffer, count * size, count, uint32_t(lba)) == DEV_OK) return true;
  if (!RefusedAsUnknown(*dev_))
    return Fail("sector " + std::to_string(lba) + " of the source cannot be read (" +
                SenseText(dev_->GetLastSense()) + ")");
  *readCdRefused_ = true;
  return ReadRebuilt(track, lba, buffer, count);
}

// What other copiers do with a drive that has no READ CD: Mode 1 user data
// through READ (10), each sector rebuilt whole. Its sync, header, EDC and
// ECC follow from the data and the address, so the copy is the same; Mode 2
// sub-headers and audio cannot be had that way.
bool DataSource_Device::ReadRebuilt(const SourceTrack& track, int32_t lba, uint8_t* buffer, int count) {
  if (track.IsAudio() || track.form != MODE_FORM_MODE1)
    return Fail("the drive refuses READ CD (sense 5/20/00), and track " + std::to_string(track.number) + " is " +
                (track.IsAudio() ? "audio" : "Mode 2") + ", which READ (10) cannot read whole");
  std::vector<uint8_t> user(size_t(count) * kDataSectorSize);
  if (dev_->ReadCD_10(user.data(), int(user.size()), count, uint32_t(lba)) != DEV_OK)
    return Fail("sector " + std::to_string(lba) + " of the source cannot be read with READ (10) (" +
                SenseText(dev_->GetLastSense()) + ")");
  for (int i = 0; i < count; ++i)
    cdsector::Encode(lba + i, cdsector::Mode::Mode1, user.data() + size_t(i) * kDataSectorSize,
                     buffer + size_t(i) * cdsector::kRawSize);
  return true;
}

bool DataSource_Device::GetSectorData(uint8_t* buffer, int count) {
  const SourceTrack* t = Open();
  if (!t) return Fail("no track is open");
  if (count < 0 || position_ + count > t->End()) return Fail("reading past the end of the track");
  const int size = layout_.sectorSize;
  const bool firstOfSession = layout_.Track(t->number - 1) == nullptr ||
                              layout_.Track(t->number - 1)->session != t->session;
  while (count > 0) {
    int32_t at = int32_t(position_);
    if (at < t->start) {
      // Pre-gap: read where the disc has it, else made empty.
      int n = std::min<int>(count, int(t->start - at));
      for (int i = 0; i < n; ++i) {
        uint8_t* out = buffer + size_t(i) * size_t(size);
        if (firstOfSession || at + i < 0 || dev_->ReadCD_All(out, size, 1, uint32_t(at + i)) != DEV_OK)
          MakeEmptySectors(at + i, out, 1);
      }
      buffer += size_t(n) * size_t(size);
      position_ += n;
      count -= n;
      continue;
    }
    int n = std::min(count, kReadPiece);
    if (!ReadData(*t, at, buffer, n)) return false;
    buffer += size_t(n) * size_t(size);
    position_ += n;
    count -= n;
  }
  return true;
}
