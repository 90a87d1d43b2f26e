#include "DataSource_Image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "CdSector.h"
#include "SafeFile.h"

using cdsector::Mode;

DataSource_Image::DataSource_Image(ImageLayout image) : image_(std::move(image)) {}

DataSource_Image::~DataSource_Image() {
  for (int fd : fds_)
    if (fd >= 0) ::close(fd);
}

namespace {

MODE_FORM FormOf(Mode mode) {
  switch (mode) {
    case Mode::Mode1: return MODE_FORM_MODE1;
    case Mode::Mode2Formless: return MODE_FORM_MODE2_FORMLESS;
    default: return MODE_FORM_MODE2_FORM1;  // CD-ROM XA: each sector's sub-header gives its form
  }
}

}  // namespace

bool DataSource_Image::Load() {
  if (!image_.cd) return Fail("the image is not a CD image");
  if (image_.tracks.empty()) return Fail("the image holds no track");
  for (int fd : fds_)
    if (fd >= 0) ::close(fd);
  fds_.clear();
  for (const std::string& f : image_.files) {
    const int fd = ::open(f.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(f + ": " + safefile::ErrorText(errno));
    fds_.push_back(fd);
  }
  // Every extent must lie in its file: a short file found now costs nothing,
  // found while writing it costs a disc.
  for (const ImageExtent& e : image_.extents) {
    if (e.file < 0 || e.count <= 0) continue;
    struct stat st;
    if (::fstat(fds_[size_t(e.file)], &st) != 0) return Fail(image_.files[size_t(e.file)] + ": " + safefile::ErrorText(errno));
    uint64_t end = e.offset + uint64_t(e.count) * uint64_t(e.sectorSize);
    if (e.tailBytes > 0 && e.tailBytes < uint32_t(e.sectorSize)) end -= uint64_t(e.sectorSize) - e.tailBytes;
    if (end > uint64_t(st.st_size))
      return Fail(image_.files[size_t(e.file)] + " is " + std::to_string(st.st_size) + " bytes; the image needs " +
                  std::to_string(end));
  }
  shift_ = image_.tracks.front().start;
  layout_ = DiscLayout();
  layout_.cdText = image_.cdText;
  layout_.mcn = image_.catalog;
  layout_.discType = CD_TYPE_CD;
  layout_.profile = 8;
  layout_.sectorSize = 2352;
  for (size_t i = 0; i < image_.tracks.size(); ++i) {
    const DiscTrack& d = image_.tracks[i];
    const ImageTrackNotes notes = image_.NotesOf(i);
    if (layout_.sessions.size() < size_t(d.session)) {
      SourceSession s;
      s.number = d.session;
      layout_.sessions.push_back(s);
    }
    SourceTrack t;
    t.number = d.number;
    t.session = d.session;
    t.control = uint8_t((d.IsAudio() ? 0 : 4) | (notes.flags & 0x0B));
    t.form = FormOf(d.mode);
    t.start = d.start - shift_;
    t.pregapStart = std::min(notes.index0 - shift_, t.start);
    t.isrc = notes.isrc;
    for (int32_t at : notes.indexes) t.indexes.push_back(at - shift_);
    layout_.sessions.back().tracks.push_back(t);
  }
  // A track runs to the next one's pre-gap, or to its session's end (what
  // the image has of it, a post-gap included).
  for (SourceSession& s : layout_.sessions) {
    for (size_t i = 0; i < s.tracks.size(); ++i) {
      SourceTrack& t = s.tracks[i];
      int32_t end = 0;
      if (i + 1 < s.tracks.size()) {
        end = s.tracks[i + 1].pregapStart;
      } else {
        const DiscTrack* d = nullptr;
        for (const DiscTrack& x : image_.tracks)
          if (x.number == t.number) d = &x;
        end = d->End() - shift_;
        for (const ImageExtent& e : image_.extents)
          if (e.lba - shift_ == end) end = e.lba + e.count - shift_;  // a post-gap after the last track
      }
      t.length = end - t.start;
    }
  }
  // The first track's pre-gap is the two seconds before sector 0.
  if (!layout_.sessions.empty()) layout_.sessions.front().tracks.front().pregapStart = -150;
  if (layout_.sessions.size() > 1) return Fail("an image of several sessions cannot be written a session at once");
  if (std::string bad = layout_.Check(); !bad.empty()) return Fail("the image makes no disc: " + bad);
  return true;
}

bool DataSource_Image::RawSector(int32_t lba, uint8_t* raw) {
  const SourceTrack* t = Open();
  const int32_t at = lba + shift_;  // the image's address
  // Sectors are asked for in order: the extent of the last one usually holds the next.
  const auto holds = [at](const ImageExtent& x) { return at >= x.lba && at < x.lba + x.count; };
  if (lastExtent_ >= image_.extents.size() || !holds(image_.extents[lastExtent_])) {
    lastExtent_ = image_.extents.size();
    for (size_t i = 0; i < image_.extents.size(); ++i)
      if (holds(image_.extents[i])) lastExtent_ = i;
  }
  const ImageExtent* e = lastExtent_ < image_.extents.size() ? &image_.extents[lastExtent_] : nullptr;
  if (!e || e->file < 0) {
    MakeEmptySectors(lba, raw, 1);
    return true;
  }
  uint8_t user[2352];
  const uint64_t offset = e->offset + uint64_t(at - e->lba) * uint64_t(e->sectorSize);
  const bool tail = e->tailBytes > 0 && e->tailBytes < uint32_t(e->sectorSize) && at == e->lba + e->count - 1;
  const ssize_t want = tail ? ssize_t(e->tailBytes) : ssize_t(e->sectorSize);
  if (tail) std::memset(e->sectorSize == 2352 ? raw : user, 0, size_t(e->sectorSize));
  ssize_t n;
  do n = ::pread(fds_[size_t(e->file)], e->sectorSize == 2352 ? raw : user, size_t(want), off_t(offset));
  while (n < 0 && errno == EINTR);
  if (n != want)
    return Fail(image_.files[size_t(e->file)] + ": cannot be read at byte " + std::to_string(offset) + " (" +
                (n < 0 ? safefile::ErrorText(errno) : std::string("it ends early")) + ")");
  if (e->sectorSize == 2352) {
    if (e->swapBytes)
      for (int i = 0; i + 1 < 2352; i += 2) std::swap(raw[i], raw[i + 1]);
    return true;
  }
  const bool mode1 = t && t->form == MODE_FORM_MODE1;
  switch (e->sectorSize) {
    case 2048: cdsector::Encode(lba, mode1 ? Mode::Mode1 : Mode::Mode2Form1, user, raw); break;
    case 2324: cdsector::Encode(lba, Mode::Mode2Form2, user, raw); break;
    case 2336: cdsector::Encode(lba, Mode::Mode2Formless, user, raw); break;
    default: return Fail("sectors of " + std::to_string(e->sectorSize) + " bytes cannot be written");
  }
  return true;
}

bool DataSource_Image::GetSectorData(uint8_t* buffer, int count) {
  const SourceTrack* t = Open();
  if (!t) return Fail("no track is open");
  if (count < 0 || position_ + count > t->End()) return Fail("reading past the end of the track");
  for (int i = 0; i < count; ++i)
    if (!RawSector(int32_t(position_) + i, buffer + size_t(i) * 2352)) return false;
  position_ += count;
  return true;
}

DataSource* DataSource_Image::CloneSource() {
  auto copy = std::make_unique<DataSource_Image>(image_);
  if (!copy->Load()) {
    error_ = copy->GetLastError();
    return nullptr;
  }
  return copy.release();
}

void DataSource_Image::GetCurrBurnFile(char* text, int size) {
  DataSource::GetCurrBurnFile(text, size);
  const SourceTrack* t = Open();
  if (!t || !text || size <= 0) return;
  for (const ImageExtent& e : image_.extents)
    if (e.file >= 0 && e.lba - shift_ >= t->pregapStart && e.lba - shift_ < t->End()) {
      std::snprintf(text, size_t(size), "Track %02d (%s)", t->number, image_.files[size_t(e.file)].c_str());
      return;
    }
}
