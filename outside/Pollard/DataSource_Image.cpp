#include "DataSource_Image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
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
  layout_ = DiscLayout();
  layout_.cdText = image_.cdText;
  layout_.mcn = image_.catalog;
  layout_.discType = CD_TYPE_CD;
  layout_.profile = 8;
  layout_.sectorSize = 2352;
  // First in the image's own addresses.
  firstImageSector_.assign(100, 0);
  for (size_t i = 0; i < image_.tracks.size(); ++i) {
    const DiscTrack& d = image_.tracks[i];
    const ImageTrackNotes notes = image_.NotesOf(i);
    if (d.session < 1 || d.session > int(layout_.sessions.size()) + 1 || d.number < 1 || d.number > 99)
      return Fail("the image's tracks and sessions are out of order");
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
    t.start = d.start;
    t.pregapStart = std::min(notes.index0, t.start);
    t.isrc = notes.isrc;
    t.indexes = notes.indexes;
    firstImageSector_[size_t(d.number)] = t.pregapStart;
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
        // A post-gap: zeros after the track's data, before whatever the
        // next session's first track takes (its own pre-gap included).
        int32_t next = INT32_MAX;
        for (size_t k = 0; k < image_.tracks.size(); ++k) {
          if (image_.tracks[k].number == t.number) end = image_.tracks[k].End();
          if (image_.tracks[k].number == t.number + 1) next = image_.NotesOf(k).index0;
        }
        for (const ImageExtent& e : image_.extents)
          if (e.lba == end && e.file < 0 && int64_t(e.lba) + e.count <= next) end = e.lba + e.count;
      }
      t.length = end - t.start;
    }
  }
  // Then where the disc has them. The first track starts at sector 0 with
  // the two seconds before it as its pre-gap; a later session's first track
  // lies behind the lead-out of the session before (6750 sectors after the
  // first session, 2250 after others), the next lead-in (4500) and its own
  // two-second pre-gap. What the image has between sessions is no sector of
  // the disc.
  shifts_.clear();
  int32_t leadOut = 0;
  for (SourceSession& s : layout_.sessions) {
    SourceTrack& first = s.tracks.front();
    const int32_t start = s.number == 1 ? 0 : leadOut + (s.number == 2 ? 11400 : 6900);
    const int32_t shift = first.start - start;
    shifts_.push_back(shift);
    for (SourceTrack& t : s.tracks) {
      t.start -= shift;
      t.pregapStart -= shift;
      for (int32_t& at : t.indexes) at -= shift;
    }
    first.pregapStart = start - 150;
    leadOut = s.LeadOut();
  }
  if (layout_.sessions.size() > 1) SplitCdText();
  if (std::string bad = layout_.Check(); !bad.empty()) return Fail("the image makes no disc: " + bad);
  return true;
}

void DataSource_Image::SplitCdText() {
  // Each session's lead-in speaks of its own tracks: the disc's texts and
  // the first session's tracks in the first, a later session's tracks (with
  // the disc's texts) in its own, when any of them has a text.
  FS_CDTEXT_INFO text;
  if (layout_.cdText.empty() || !ParseCdTextPacks(layout_.cdText.data(), layout_.cdText.size(), text)) return;
  for (SourceSession& s : layout_.sessions) {
    std::vector<std::vector<std::string>> texts(6, std::vector<std::string>(s.tracks.size() + 1));
    bool tracksHaveText = false;
    auto put = [&](size_t slot, const FS_CDTEXT_INFO::Track& from) {
      const char* fields[6] = {from.szTitle, from.szArtist, from.szSongster, from.szComposer, "", from.szSpecialTitle};
      for (size_t type = 0; type < 6; ++type) {
        texts[type][slot] = fields[type];
        tracksHaveText = tracksHaveText || (slot > 0 && fields[type][0]);
      }
    };
    put(0, text.Tracks[0]);
    for (size_t i = 0; i < s.tracks.size(); ++i) put(i + 1, text.Tracks[size_t(s.tracks[i].number)]);
    if (s.number > 1 && !tracksHaveText) continue;
    std::vector<uint8_t> packs = BuildCdTextPacks(texts, s.tracks.front().number);
    (s.number == 1 ? layout_.cdText : s.cdText) = std::move(packs);
  }
}

bool DataSource_Image::RawSector(int32_t lba, uint8_t* raw) {
  const SourceTrack* t = Open();
  if (!t) return Fail("no track is open");
  const int32_t at = ImageAddress(*t, lba);
  // Before what the image gives the track (the two seconds ahead of a
  // session's first track): empty sectors of its kind.
  if (at < firstImageSector_[size_t(t->number)]) {
    MakeEmptySectors(lba, raw, 1);
    return true;
  }
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
    if (e.file >= 0 && e.lba >= ImageAddress(*t, t->pregapStart) && e.lba < ImageAddress(*t, t->End())) {
      std::snprintf(text, size_t(size), "Track %02d (%s)", t->number, image_.files[size_t(e.file)].c_str());
      return;
    }
}
