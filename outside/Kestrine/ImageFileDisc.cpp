#include "ImageFileDisc.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "BinCue.h"
#include "MediumTable.h"
#include "MmcCommands.h"
#include "SafeFile.h"
#include "Writeback.h"

using cdsector::Mode;

namespace {

bool EndsWithCue(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return tail == ".cue";
}

}  // namespace

bool ImageFileDisc::KeepsWholeSectors(const std::string& path) { return EndsWithCue(path); }

ImageFileDisc::ImageFileDisc(std::string path, uint16_t profile, uint32_t capacity)
    : path_(std::move(path)), profile_(profile), capacity_(capacity),
      whole_(EndsWithCue(path_) && medium::IsCd(profile)) {
  dataPath_ = whole_ ? bincue::BinPathFor(path_) : path_;
}

ImageFileDisc::~ImageFileDisc() {
  if (readFd_ >= 0) ::close(readFd_);
  // An unpublished partial file goes with its OutputFile.
}

bool ImageFileDisc::CreateBlank(bool replace, std::string* why) {
  existing_ = replace ? Existing::kReplace : Existing::kKeep;
  auto fail = [&](const std::string& text) {
    if (why) *why = text;
    return false;
  };
  if (EndsWithCue(path_) && !whole_) return fail(path_ + ": a CUE sheet describes a CD; name a .iso file for this medium");
  for (const std::string& place : whole_ ? std::vector<std::string>{path_, dataPath_} : std::vector<std::string>{path_}) {
    if (std::string inTheWay = OutputInTheWay(place, existing_); !inTheWay.empty())
      return fail(place + " " + inTheWay + (inTheWay == "already exists" ? "; give --replace to write over it" : ""));
  }
  if (readFd_ >= 0) ::close(readFd_);
  readFd_ = -1;
  data_.Discard();
  published_ = false;
  if (!data_.Open(dataPath_, existing_)) return fail("cannot create " + data_.Error());
  uint32_t sectors = capacity_;
  if (sectors == 0) {
    struct statvfs vfs;
    const uint64_t freeBytes = ::fstatvfs(data_.fd(), &vfs) == 0 ? uint64_t(vfs.f_bavail) * vfs.f_frsize : 0;
    sectors = uint32_t(std::min<uint64_t>(freeBytes / uint64_t(Slot()), 0x3FFFFFFF));
  }
  model_ = BlankModel(profile_, int32_t(sectors));
  return true;
}

std::string ImageFileDisc::WritingPath() const { return data_.is_open() ? data_.partial() : dataPath_; }

int ImageFileDisc::ReadStored(int32_t lba, uint8_t* buf) {
  const int fd = data_.is_open() ? data_.fd() : readFd_;
  if (fd < 0 || lba < 0) return 0;
  const ssize_t n = ::pread(fd, buf, size_t(Slot()), off_t(lba) * Slot());
  return n == Slot() ? Slot() : 0;
}

bool ImageFileDisc::ReadStoredRun(int32_t lba, uint8_t* out, uint32_t count) {
  const int fd = data_.is_open() ? data_.fd() : readFd_;
  return !whole_ && fd >= 0 && lba >= 0 && safefile::PreadAll(fd, out, size_t(count) * 2048, off_t(lba) * 2048);
}

bool ImageFileDisc::WriteStored(int32_t lba, const uint8_t* buf, int size) {
  if (!data_.is_open() || lba < 0) return false;
  if (whole_) return size == 2352 && data_.WriteAt(buf, 2352, off_t(lba) * 2352);
  const uint8_t* user = buf;
  if (size == 2352) {
    // A plain image keeps the user data of data sectors only.
    const Mode m = cdsector::ModeOf(buf);
    if (m != Mode::Mode1 && m != Mode::Mode2Form1) return false;
    user = buf + cdsector::UserOffset(m);
  } else if (size != 2048) {
    return false;
  }
  return data_.WriteAt(user, 2048, off_t(lba) * 2048);
}

bool ImageFileDisc::WriteStoredRun(int32_t lba, const uint8_t* buf, uint32_t count) {
  if (whole_) return MmcDiscTarget::WriteStoredRun(lba, buf, count);
  if (!data_.is_open() || lba < 0 || !data_.WriteAt(buf, size_t(count) * 2048, off_t(lba) * 2048)) return false;
  // The disk starts on the image while the burn goes on, so that the flush
  // at its end has little left to wait for.
  safefile::StartWriteback(data_.fd(), off_t(lba) * 2048, size_t(count) * 2048);
  return true;
}

bool ImageFileDisc::FlushStore() { return !data_.is_open() || ::fdatasync(data_.fd()) == 0; }

void ImageFileDisc::StoreErased() {
  if (data_.is_open() && ::ftruncate(data_.fd(), 0) != 0) model_.profile = 0;  // a store that cannot be emptied is no disc
}

// A plain image cannot keep audio or Mode 2 Form 2 sectors: a cue sheet
// asking for them is refused before any sector is sent.
bool ImageFileDisc::Intercept(ScsiCommand& c) {
  if (c.opcode() != mmc::kSendCueSheet || whole_ || !c.data) return false;
  for (uint32_t at = 0; at + 8 <= c.dataLength; at += 8) {
    const uint8_t* entry = c.data + at;
    const uint8_t track = entry[1], control = entry[0] >> 4, form = entry[3];
    if (track == 0 || track == 0xAA) continue;  // lead-in and lead-out
    if ((entry[0] & 0x0F) != 1) continue;       // a catalogue number or an ISRC
    const bool audio = (control & 0x04) == 0;
    const bool mode1 = (form & 0x0F) == 0x01 || form == 0x10 || form == 0x11;
    if (audio || !mode1) {
      c.SetSense(5, 0x64, 0);  // illegal mode for this track
      return true;
    }
  }
  return false;
}

bool ImageFileDisc::Publish() {
  const std::vector<const DiscTrack*> tracks = bincue::RecordedTracks(model_);
  if (whole_) {
    const std::string binName = dataPath_.substr(dataPath_.find_last_of('/') == std::string::npos ? 0 : dataPath_.find_last_of('/') + 1);
    OutputFile sheet;
    if (!bincue::WriteGaps(data_.fd(), model_, tracks,
                           [&](int32_t lba, uint8_t* raw) { return ReadStored(lba, raw) == 2352; }) ||
        !sheet.Open(path_, existing_) || !sheet.Write(bincue::SheetText(model_, tracks, binName)))
      return false;
    if (!data_.Commit()) return false;
    if (!sheet.Commit()) {
      // A sheet that cannot be put in place leaves no BIN file of ours behind it.
      if (existing_ == Existing::kKeep) ::unlink(dataPath_.c_str());
      return false;
    }
  } else {
    // The image ends where the disc's last recorded sector does.
    int32_t end = 0;
    for (const DiscTrack* t : tracks) end = std::max(end, t->End());
    if (medium::IsOverwritable(model_.profile)) {
      off_t size = ::lseek(data_.fd(), 0, SEEK_END);
      end = int32_t(size < 0 ? 0 : size / 2048);
    }
    if (::ftruncate(data_.fd(), off_t(end) * 2048) != 0 || !data_.Commit()) return false;
  }
  readFd_ = ::open(dataPath_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  published_ = true;
  return true;
}

bool ImageFileDisc::JobEnded(bool complete) {
  if (!data_.is_open()) return !complete || published_;
  const bool written = !model_.tracks.empty();
  bool ok = true;
  if (complete && written) ok = Publish();
  data_.Discard();
  // What was written is in place or gone: there is no disc to write on.
  if (!published_) model_ = DiscModel{};
  return ok;
}
