#include "DataSource_VCD.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ByteFields.h"
#include "CdSector.h"
#include "SafeFile.h"
#include "VcdTracks.h"
#include "SectorSizes.h"

namespace {

constexpr int kControlSector = kDataSectorSize;

// Sub-headers of the Form 2 sectors (file, channel, sub-mode, coding).
constexpr uint8_t kVideo[4] = {1, 1, 0x62, 0x0F};  // Form 2, real time, video
constexpr uint8_t kAudio[4] = {1, 1, 0x64, 0x7F};  // Form 2, real time, audio
constexpr uint8_t kStuff[4] = {1, 0, 0x60, 0x00};  // Form 2, real time, nothing of either
constexpr uint8_t kEmpty[4] = {0, 0, 0x20, 0x00};  // the gaps and margins around the MPEG data
constexpr uint8_t kEndOfRecord = 0x01, kEndOfFile = 0x80;

bool PreadAll(int fd, uint8_t* out, size_t size, uint64_t at, size_t* got) {
  *got = 0;
  while (*got < size) {
    ssize_t n = ::pread(fd, out + *got, size - *got, off_t(at + *got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    *got += size_t(n);
  }
  return true;
}

}  // namespace

DataSource_VCD::DataSource_VCD(int kind, const std::string& controlImage, int count,
                               const std::vector<std::string>& items)
    : kind_(kind), control_(controlImage) {
  layout_.discType = CD_TYPE_CD;
  layout_.profile = 9;  // a CD-R
  layout_.sectorSize = cdsector::kRawSize;
  if (count < 1 || count > vcdtracks::kMaxItems || size_t(count) > items.size()) {
    Fail("a video disc takes 1 to " + std::to_string(vcdtracks::kMaxItems) + " MPEG items");
    return;
  }
  items_.assign(items.begin(), items.begin() + count);
  struct stat st;
  if (::stat(control_.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0 ||
      st.st_size % kControlSector != 0) {
    Fail("the control track " + control_ + " is missing or damaged");
    return;
  }
  SourceSession session;
  SourceTrack control;
  control.number = 1;
  control.form = MODE_FORM_MODE2_FORM1;
  control.pregapStart = -150;
  control.start = 0;
  control.length = int32_t(st.st_size / kControlSector);
  session.tracks.push_back(control);
  for (const std::string& item : items_) {
    const int64_t sectors = vcdtracks::ItemSectors(item);
    if (sectors < 0) {
      Fail("cannot read the MPEG file " + item + " (missing, not a file, or empty)");
      return;
    }
    const SourceTrack& prev = session.tracks.back();
    SourceTrack t;
    t.number = prev.number + 1;
    t.form = MODE_FORM_MODE2_FORM2;
    t.pregapStart = prev.End();
    t.start = prev.End() + vcdtracks::kTrackGap;
    t.length = int32_t(sectors);
    session.tracks.push_back(t);
    dataSectors_.push_back(sectors - vcdtracks::kMargins);
  }
  layout_.sessions.push_back(session);
  const std::string why = layout_.Check();
  if (!why.empty()) {
    Fail("the video disc cannot be laid out: " + why);
    return;
  }
  valid_ = true;
}

DataSource_VCD::~DataSource_VCD() {
  if (fd_ >= 0) ::close(fd_);
}

DataSource* DataSource_VCD::CloneSource() { return new DataSource_VCD(kind_, control_, int(items_.size()), items_); }

std::string DataSource_VCD::ItemOfTrack(int track) const {
  return track >= 2 && track - 2 < int(items_.size()) ? items_[size_t(track) - 2] : std::string();
}

void DataSource_VCD::GetCurrBurnFile(char* text, int size) {
  if (!text || size <= 0) return;
  const SourceTrack* t = Open();
  if (!t) text[0] = 0;
  else if (t->number == 1) std::snprintf(text, size_t(size), "Track 01 (control)");
  else std::snprintf(text, size_t(size), "%s", ItemOfTrack(t->number).c_str());
}

void DataSource_VCD::MpegSubheader(const uint8_t* p, bool last, uint8_t out[4]) {
  const uint8_t* kind = kStuff;
  auto startCode = [&](size_t at) { return p[at] == 0 && p[at + 1] == 0 && p[at + 2] == 1; };
  size_t at = 0;
  if (startCode(0) && p[3] == 0xBA) {
    // The pack header: 12 bytes in MPEG-1, 14 and its stuffing in MPEG-2.
    at = (p[4] & 0xC0) == 0x40 ? 14 + (p[13] & 7) : 12;
    if (at + 6 <= size_t(vcdtracks::kForm2Payload) && startCode(at) && p[at + 3] == 0xBB)
      at += 6 + bytes::BE16(p + at + 4);
    if (at + 4 <= size_t(vcdtracks::kForm2Payload) && startCode(at)) {
      const uint8_t id = p[at + 3];
      if (id >= 0xE0 && id <= 0xEF) kind = kVideo;
      else if ((id >= 0xC0 && id <= 0xDF) || id == 0xBD) kind = kAudio;
    }
  } else if (std::any_of(p, p + vcdtracks::kForm2Payload, [](uint8_t b) { return b != 0; })) {
    kind = kVideo;  // not a multiplexed stream: carried as picture data
  }
  std::memcpy(out, kind, 4);
  if (last) out[2] |= kEndOfRecord | kEndOfFile;
}

bool DataSource_VCD::OpenItem(int track) {
  if (fdTrack_ == track && fd_ >= 0) return true;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  fdTrack_ = 0;
  std::string why;
  fd_ = safefile::OpenForReading(track == 1 ? control_ : ItemOfTrack(track), &why);
  if (fd_ < 0) return Fail("cannot read " + why);
  fdTrack_ = track;
  return true;
}

bool DataSource_VCD::ReadControlSector(int32_t lba, uint8_t* raw) {
  uint8_t user[kControlSector];
  size_t got = 0;
  if (!OpenItem(1) || !PreadAll(fd_, user, sizeof user, uint64_t(lba) * kControlSector, &got) || got != sizeof user)
    return Fail("cannot read sector " + std::to_string(lba) + " of the control track " + control_);
  // Data sectors; the volume descriptor set ends with its terminator.
  uint8_t sub[4] = {0, 0, 0x08, 0};
  if (lba == 17 || lba == Open()->End() - 1) sub[2] |= kEndOfRecord | kEndOfFile;
  cdsector::Encode(lba, cdsector::Mode::Mode2Form1, user, raw, sub);
  return true;
}

bool DataSource_VCD::ReadItemSector(const SourceTrack& t, int32_t lba, uint8_t* raw) {
  static const uint8_t zeros[kMode2Size] = {};
  const int64_t data = dataSectors_[size_t(t.number) - 2];
  const int64_t j = int64_t(lba) - t.start - vcdtracks::kFrontMargin;
  if (lba < t.start || j < 0 || j >= data) {
    cdsector::Encode(lba, cdsector::Mode::Mode2Form2, zeros, raw, kEmpty);
    return true;
  }
  if (!OpenItem(t.number)) return false;
  const std::string& item = ItemOfTrack(t.number);
  size_t got = 0;
  if (vcdtracks::IsDatFile(item)) {
    uint8_t sector[vcdtracks::kRawSector] = {};
    const uint64_t at = uint64_t(vcdtracks::kDatHeader) + uint64_t(j) * vcdtracks::kRawSector;
    if (!PreadAll(fd_, sector, sizeof sector, at, &got) || got < 24)
      return Fail("cannot read sector " + std::to_string(j) + " of " + item + " (it changed or went away)");
    // Sub-header and payload as the file has them, at the sector's new address.
    cdsector::EncodeMode2Mixed(lba, sector + 16, raw);
    return true;
  }
  uint8_t payload[vcdtracks::kForm2Payload] = {};
  const uint64_t at = uint64_t(j) * vcdtracks::kForm2Payload;
  const bool last = j == data - 1;
  if (!PreadAll(fd_, payload, sizeof payload, at, &got) || got == 0 || (!last && got != sizeof payload))
    return Fail("cannot read sector " + std::to_string(j) + " of " + item + " (it changed or went away)");
  uint8_t sub[4];
  MpegSubheader(payload, last, sub);
  cdsector::Encode(lba, cdsector::Mode::Mode2Form2, payload, raw, sub);
  return true;
}

bool DataSource_VCD::GetSectorData(uint8_t* buffer, int count) {
  const SourceTrack* t = Open();
  if (!valid_) return false;
  if (!t) return Fail("no track is open");
  if (count < 0 || position_ + count > t->End()) return Fail("reading past the end of track " + std::to_string(t->number));
  for (int i = 0; i < count; ++i, ++position_) {
    uint8_t* raw = buffer + size_t(i) * cdsector::kRawSize;
    const int32_t lba = int32_t(position_);
    if (t->number == 1) {
      if (lba < 0) MakeEmptySectors(lba, raw, 1);
      else if (!ReadControlSector(lba, raw)) return false;
    } else if (!ReadItemSector(*t, lba, raw)) {
      return false;
    }
  }
  return true;
}
