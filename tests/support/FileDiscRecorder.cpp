#include "support/FileDiscRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "ByteFields.h"
#include "FileSystemCheck.h"
#include "SafeFile.h"

using namespace rec;

namespace {

bool PreadAll(int fd, uint8_t* out, size_t n, off_t at) {
  size_t done = 0;
  while (done < n) {
    ssize_t got = ::pread(fd, out + done, n - done, at + off_t(done));
    if (got < 0) return false;
    if (got == 0) break;
    done += size_t(got);
  }
  std::memset(out + done, 0, n - done);  // never written: reads as zeros
  return true;
}

bool PwriteAll(int fd, const uint8_t* data, size_t n, off_t at) { return safefile::PwriteAll(fd, data, n, at); }

}  // namespace

FileDiscRecorder::FileDiscRecorder(std::string path, int medium, uint32_t capacity, int index,
                                     uint32_t slotSize)
    : path_(std::move(path)), medium_(medium), capacity_(capacity), index_(index), slotSize_(slotSize) {
  formatted_ = medium == kDvdRam;
}

FileDiscRecorder::~FileDiscRecorder() {
  // An unpublished partial file goes with the recorder (OutputFile).
  if (published_ && fd_ >= 0) ::close(fd_);
}

// A fresh partial file for a blank disc; an unpublished one before it goes.
bool FileDiscRecorder::StartPartial(std::string* why) {
  if (published_ && fd_ >= 0) ::close(fd_);
  out_.Discard();
  fd_ = -1;
  published_ = false;
  if (!out_.Open(path_, existing_)) {
    if (why) *why = "cannot create " + out_.Error();
    return false;
  }
  fd_ = out_.fd();
  return true;
}

bool FileDiscRecorder::CreateBlank(bool replace, std::string* why) {
  std::lock_guard<std::mutex> hold(lock_);
  existing_ = replace ? Existing::kReplace : Existing::kKeep;
  if (std::string inTheWay = OutputInTheWay(path_, existing_); !inTheWay.empty()) {
    if (why) *why = path_ + " " + inTheWay + (inTheWay == "already exists" ? "; give --replace to write over it" : "");
    return false;
  }
  if (!StartPartial(why)) return false;
  if (capacity_ == 0) {
    struct statvfs vfs;
    uint64_t freeBytes = ::fstatvfs(fd_, &vfs) == 0 ? uint64_t(vfs.f_bavail) * vfs.f_frsize : 0;
    capacity_ = uint32_t(std::min<uint64_t>(freeBytes / slotSize_, 0x7FFFFFFF));
  }
  tracks_.clear();
  closedSessions_ = 0;
  finalized_ = false;
  highestWritten_ = 0;
  return true;
}

uint32_t FileDiscRecorder::Refuse(uint8_t key, uint8_t asc, uint8_t ascq) {
  sense_ = Sense{key, asc, ascq, 4};
  return kCheckCondition;
}

uint32_t FileDiscRecorder::Ok() {
  sense_ = Sense{};
  return 0;
}

Sense FileDiscRecorder::LastSense() const {
  std::lock_guard<std::mutex> hold(lock_);
  return sense_;
}

int FileDiscRecorder::GetMediumType() { return fd_ >= 0 ? medium_ : kNone; }

bool FileDiscRecorder::Sequential() const { return !medium::IsOverwritable(medium_); }

FileDiscRecorder::Track* FileDiscRecorder::OpenTrack() {
  if (!tracks_.empty() && !tracks_.back().closed) return &tracks_.back();
  return nullptr;
}

uint32_t FileDiscRecorder::NextWritable() const {
  if (!Sequential()) return highestWritten_;
  if (tracks_.empty()) return 0;
  const Track& last = tracks_.back();
  uint32_t end = last.start + last.size;
  if (!last.closed || last.session > closedSessions_) return end;
  // A closed session is followed by its lead-out and the next lead-in.
  if (IsCd(medium_)) return end + (closedSessions_ == 1 ? 11400 : 6900);
  return (end + 15) / 16 * 16;
}

uint32_t FileDiscRecorder::TestUnitReady() {
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0) return Refuse(2, 0x3A, 0);
  if (uint32_t st = BeforeReady()) return st;
  return Ok();
}

uint32_t FileDiscRecorder::ReadDiscInfo(DiscInfo& info) {
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0) return Refuse(2, 0x3A, 0);
  if (uint32_t st = BeforeCommand(Command::kReadDiscInfo)) return st;
  info = DiscInfo{};
  info.erasable = medium::IsErasable(medium_);
  if (!Sequential()) {
    info.discStatus = highestWritten_ > 0 ? 2 : 0;
    info.lastSessionState = highestWritten_ > 0 ? 3 : 0;
    info.sessionCount = 1;
    info.firstTrackLastSession = info.lastTrackLastSession = 1;
    return Ok();
  }
  info.discStatus = tracks_.empty() ? 0 : finalized_ ? 2 : 1;
  bool openSession = !tracks_.empty() && tracks_.back().session > closedSessions_;
  info.lastSessionState = finalized_ ? 3 : openSession ? 1 : 0;
  info.sessionCount = uint16_t(closedSessions_ + (finalized_ ? 0 : 1));
  int lastNumber = int(tracks_.size());
  int firstOfLast = 1;
  for (const Track& t : tracks_)
    if (t.session == int(info.sessionCount)) {
      firstOfLast = t.number;
      break;
    } else {
      firstOfLast = t.number + 1;
    }
  info.firstTrackLastSession = uint16_t(firstOfLast);
  info.lastTrackLastSession = uint16_t(finalized_ || OpenTrack() ? lastNumber : lastNumber + 1);
  return Ok();
}

uint32_t FileDiscRecorder::ReadTrackInfo(int track, TrackInfo& info) {
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0) return Refuse(2, 0x3A, 0);
  info = TrackInfo{};
  if (track >= 1 && track <= int(tracks_.size())) {
    const Track& t = tracks_[size_t(track - 1)];
    info.trackNumber = uint16_t(t.number);
    info.sessionNumber = uint16_t(t.session);
    info.trackMode = t.audio ? 0 : 4;
    info.trackStart = t.start;
    info.trackSize = t.size;
    info.lastRecorded = t.size ? t.start + t.size - 1 : t.start;
    info.nwaValid = !t.closed;
    info.nextWritable = t.start + t.size;
    return Ok();
  }
  if (track == int(tracks_.size()) + 1 && !finalized_) {
    info.trackNumber = uint16_t(track);
    info.sessionNumber = uint16_t(closedSessions_ + 1);
    info.trackMode = 4;
    info.blank = true;
    info.nwaValid = true;
    info.trackStart = info.nextWritable = NextWritable();
    info.freeBlocks = info.trackSize = capacity_ > info.trackStart ? capacity_ - info.trackStart : 0;
    return Ok();
  }
  return Refuse(5, 0x24, 0);
}

uint32_t FileDiscRecorder::GetBlackDiscCapacity(uint32_t& sectors) {
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0) return Refuse(2, 0x3A, 0);
  if (uint32_t st = BeforeCommand(Command::kCapacity)) return st;
  if (finalized_) {
    sectors = 0;
    return Ok();
  }
  uint32_t used = Sequential() ? NextWritable() : 0;
  sectors = capacity_ > used ? capacity_ - used : 0;
  return Ok();
}

bool FileDiscRecorder::JudgeIsFormated(uint32_t& capacity) {
  std::lock_guard<std::mutex> hold(lock_);
  capacity = capacity_;
  return !Sequential() && formatted_;
}

int FileDiscRecorder::JudgeFileSystem(uint32_t lba) {
  return fscheck::Judge([&](uint32_t sector, uint8_t* out) { return ReadCD_Data(lba + sector, out, 1) == 0; });
}

uint32_t FileDiscRecorder::ReadCD_Data(uint32_t lba, uint8_t* buffer, uint32_t sectors) {
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0) return Refuse(2, 0x3A, 0);
  if (uint64_t(lba) + sectors > capacity_) return Refuse(5, 0x21, 0);
  for (uint32_t i = 0; i < sectors; ++i)
    if (!PreadAll(fd_, buffer + size_t(i) * 2048, 2048, off_t(lba + i) * slotSize_)) return Refuse(3, 0x11, 0);
  return Ok();
}

uint32_t FileDiscRecorder::ReadCD_All(uint8_t* buffer, uint32_t bufferSize, uint32_t sectors, uint32_t lba) {
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0) return Refuse(2, 0x3A, 0);
  if (slotSize_ != 2352) return Refuse(5, 0x64, 0);  // data sectors are not kept raw
  if (uint64_t(sectors) * 2352 > bufferSize) return Refuse(5, 0x24, 0);
  if (uint64_t(lba) + sectors > capacity_) return Refuse(5, 0x21, 0);
  if (!PreadAll(fd_, buffer, size_t(sectors) * 2352, off_t(lba) * 2352)) return Refuse(3, 0x11, 0);
  return Ok();
}

uint32_t FileDiscRecorder::ModeSense(uint8_t page, uint8_t* buffer, uint32_t size) {
  std::lock_guard<std::mutex> hold(lock_);
  if (page != 0x2A || size < 8 + 36) return Refuse(5, 0x24, 0);
  const uint16_t unit = IsCd(medium_) ? 176 : 1385;
  std::memset(buffer, 0, size);
  uint8_t* p = buffer + 8;
  p[0] = 0x2A;
  p[1] = 38;  // two descriptors after the 32 bytes
  bytes::PutBE16(p + 8, uint16_t(unit * 8));
  bytes::PutBE16(p + 14, uint16_t(unit * 8));
  bytes::PutBE16(p + 28, uint16_t(unit * 4));
  bytes::PutBE16(p + 30, 2);
  bytes::PutBE32(p + 32, uint32_t(unit * 4));
  bytes::PutBE32(p + 36, uint32_t(unit * 2));
  return Ok();
}

uint32_t FileDiscRecorder::SetWriteParam(const WriteParam& param) {
  std::lock_guard<std::mutex> hold(lock_);
  param_ = param;
  return Ok();
}

uint32_t FileDiscRecorder::GetNextWriteAdd(uint32_t& lba) {
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0) return Refuse(2, 0x3A, 0);
  if (finalized_) return Refuse(5, 0x21, 2);
  lba = NextWritable();
  return Ok();
}

uint32_t FileDiscRecorder::ReserveTrack(uint32_t sectors) {
  std::lock_guard<std::mutex> hold(lock_);
  if (uint32_t st = BeforeCommand(Command::kReserveTrack)) return st;
  if (!Sequential() || finalized_ || OpenTrack()) return Refuse(5, 0x2C, 0);
  if (uint64_t(NextWritable()) + sectors > capacity_) return Refuse(5, 0x21, 0);
  reserved_ = sectors;
  return Ok();
}

uint32_t FileDiscRecorder::Write(uint32_t lba, const uint8_t* buffer, uint32_t bytes, uint32_t sectors) {
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0) return Refuse(2, 0x3A, 0);
  if (sectors == 0 || bytes % sectors != 0) return Refuse(5, 0x24, 0);
  const uint32_t each = bytes / sectors;
  if (each > slotSize_) return Refuse(5, 0x64, 0);
  if (uint32_t st = BeforeWrite(lba, sectors)) return st;
  if (finalized_) return Refuse(5, 0x21, 2);
  if (uint64_t(lba) + sectors > capacity_) return Refuse(5, 0x21, 0);
  if (Sequential() && lba != NextWritable()) return Refuse(5, 0x21, 2);
  if (param_.testWrite) return Ok();  // a test write leaves the disc as it was
  if (each == slotSize_) {
    if (!PwriteAll(fd_, buffer, size_t(bytes), off_t(lba) * slotSize_)) return Refuse(3, 0x0C, 0);
  } else {
    for (uint32_t i = 0; i < sectors; ++i)
      if (!PwriteAll(fd_, buffer + size_t(i) * each, each, off_t(lba + i) * slotSize_)) return Refuse(3, 0x0C, 0);
  }
  if (Sequential()) {
    Track* t = OpenTrack();
    if (!t) {
      Track fresh;
      fresh.number = int(tracks_.size()) + 1;
      fresh.session = closedSessions_ + 1;
      fresh.start = lba;
      fresh.audio = each == 2352;
      tracks_.push_back(fresh);
      t = &tracks_.back();
    }
    t->size += sectors;
  }
  highestWritten_ = std::max(highestWritten_, lba + sectors);
  return Ok();
}

// The drive's cache is the page cache: what is not on the file system's
// disc when the flush fails is not on this disc either.
uint32_t FileDiscRecorder::SynCache() {
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0) return Refuse(2, 0x3A, 0);
  if (uint32_t st = BeforeCommand(Command::kSynCache)) return st;
  if (::fsync(fd_) != 0) return Refuse(3, 0x0C, 0);
  return Ok();
}

bool FileDiscRecorder::Close() {
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0) return true;
  if (!published_) {
    // A disc that never got as far as its image's place is not kept.
    out_.Discard();
    fd_ = -1;
    return true;
  }
  bool ok = ::fsync(fd_) == 0;
  ok = ::close(fd_) == 0 && ok;
  fd_ = -1;
  return ok;
}

uint32_t FileDiscRecorder::CloseTrack(int track) {
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0) return Refuse(2, 0x3A, 0);
  if (uint32_t st = BeforeCommand(Command::kCloseTrack)) return st;
  if (!Sequential()) return Ok();
  reserved_ = 0;
  if (Track* t = OpenTrack(); t && (track == t->number || track == 255)) t->closed = true;
  return Ok();
}

uint32_t FileDiscRecorder::CloseSession(int function, int track) {
  if (function == 1) return CloseTrack(track);
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0) return Refuse(2, 0x3A, 0);
  if (uint32_t st = BeforeCommand(Command::kCloseSession)) return st;
  if (!Sequential()) return Ok();
  if (finalized_) return Refuse(5, 0x2C, 0);
  for (Track& t : tracks_) t.closed = true;
  if (!tracks_.empty() && tracks_.back().session > closedSessions_) {
    ++closedSessions_;
    if (!param_.multiSession) finalized_ = true;
  }
  return Ok();
}

uint32_t FileDiscRecorder::Blank(int blankType) {
  (void)blankType;
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0) return Refuse(2, 0x3A, 0);
  if (uint32_t st = BeforeCommand(Command::kBlank)) return st;
  if (!medium::IsBlankable(medium_)) return Refuse(5, 0x20, 0);
  // A published image is the user's file: the erased disc starts over in a
  // partial file and replaces it only when a new session is closed.
  if (published_ ? !StartPartial(nullptr) : ::ftruncate(fd_, 0) != 0) return Refuse(3, 0x0C, 0);
  tracks_.clear();
  closedSessions_ = 0;
  finalized_ = false;
  highestWritten_ = 0;
  return Ok();
}

uint32_t FileDiscRecorder::FormatUnit(uint32_t blocks, int formatType, uint32_t parameter) {
  (void)blocks, (void)formatType, (void)parameter;
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0) return Refuse(2, 0x3A, 0);
  if (uint32_t st = BeforeCommand(Command::kFormatUnit)) return st;
  if (Sequential() && !IsDvdRw(medium_)) return Refuse(5, 0x20, 0);
  formatted_ = true;
  return Ok();
}

uint32_t FileDiscRecorder::ReadDVDStruct(uint8_t format, uint8_t* buffer, uint32_t size) {
  std::lock_guard<std::mutex> hold(lock_);
  if (format != 0x20 || !medium::IsDualLayer(medium_) || size < 8) return Refuse(5, 0x24, 0);
  std::memset(buffer, 0, size);
  bytes::PutBE32(buffer + 4, capacity_ / 2);
  return Ok();
}

uint32_t FileDiscRecorder::SendDVDStruct(uint8_t format, const uint8_t* buffer, uint32_t size) {
  (void)buffer, (void)size;
  std::lock_guard<std::mutex> hold(lock_);
  if (uint32_t st = BeforeCommand(Command::kSendDvdStruct)) return st;
  if (!medium::IsDualLayer(medium_) || (format != 0x20 && format != 0x23)) return Refuse(5, 0x24, 0);
  return Ok();
}

// Flushes the partial file and renames it into the image's place (without
// replacing anything unless asked); the image stays open for later sessions.
uint32_t FileDiscRecorder::Publish() {
  if (published_ || !Written() || param_.testWrite) return Ok();
  if (!out_.Commit()) {
    fd_ = -1;
    return Refuse(3, 0x0C, 0);
  }
  published_ = true;
  existing_ = Existing::kReplace;  // the image is ours from now on: an erase may start it over
  fd_ = ::open(path_.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  return Ok();
}

uint32_t FileDiscRecorder::JobEnded(bool complete) {
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0 || published_) return 0;
  if (complete) return Publish();
  // A job that did not end complete never puts its image in place.
  if (Written()) {
    out_.Discard();
    fd_ = -1;
  }
  return 0;
}

std::string FileDiscRecorder::WritingPath() const {
  std::lock_guard<std::mutex> hold(lock_);
  return published_ ? path_ : out_.partial();
}

bool FileDiscRecorder::Published() const {
  std::lock_guard<std::mutex> hold(lock_);
  return published_;
}

// The image is put in place when its job ends complete, not when the disc
// leaves the drive: a stopped or failed burn ejects too.
uint32_t FileDiscRecorder::Eject(bool) { return 0; }
uint32_t FileDiscRecorder::Lock(bool) { return 0; }
uint32_t FileDiscRecorder::LockVolumn(bool) { return 0; }

std::vector<FileDiscRecorder::Track> FileDiscRecorder::Tracks() const {
  std::lock_guard<std::mutex> hold(lock_);
  return tracks_;
}

bool FileDiscRecorder::Finalized() const {
  std::lock_guard<std::mutex> hold(lock_);
  return finalized_;
}

int FileDiscRecorder::ClosedSessions() const {
  std::lock_guard<std::mutex> hold(lock_);
  return closedSessions_;
}
