#include "BurnCtrl/BurnFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "ByteFields.h"
#include "CDevCmdROM.h"
#include "authoring/CDataFile.h"
#include "authoring/ProjectFile.h"

std::vector<std::string> BurnFile::UnreadableSources() const {
  std::lock_guard<std::mutex> hold(unreadableLock_);
  return unreadable_;
}

void BurnFile::NoteUnreadable(const std::string& path) {
  std::lock_guard<std::mutex> hold(unreadableLock_);
  for (const std::string& known : unreadable_)
    if (known == path) return;
  unreadable_.push_back(path);
}

void BurnFile::ReadSectors(uint8_t* out, uint32_t count) {
  const size_t size = SectorSize();
  std::memset(out, 0, size * count);
  for (uint32_t i = 0; i < count; ++i) ReadSector(out + size * i);
}

// ---------------------------------------------------------------- project

namespace {

constexpr size_t kSessionTableOffset = 257;  // first and last session numbers
constexpr uint32_t kMaxBlock = 1u << 30;     // no block of a job is this large

struct Reader {
  FILE* f = nullptr;
  uint64_t size = 0;
  bool Read(void* out, size_t n) { return std::fread(out, 1, n, f) == n; }
  bool Skip(uint64_t n) { return n <= size && std::fseek(f, long(n), SEEK_CUR) == 0; }
};

// The data tracks the recorders of one run have laid out: a job's copies
// carry one recording time and serial, so the same job, staging tree and
// start give the same track on every recorder. One of them lays it out; the
// others wait for its length instead of doing the same work beside it.
struct LaidOut {
  enum State { kBuilding, kDone } state = kBuilding;
  uint32_t length = 0;
};
std::mutex gLaidOutLock;
std::condition_variable gLaidOutCv;
std::map<std::string, LaidOut> gLaidOut;
std::pair<time_t, uint32_t> gLaidOutStamp{0, 0};

// Two independent 64-bit hashes of everything a layout reads: equal for
// copies of one job, different for any two that are not, without holding a
// tree's descriptors in memory for each recorder.
struct Digest {
  uint64_t a = 14695981039346656037ull, b = 0x243F6A8885A308D3ull;
  void Add(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) {
      a = (a ^ p[i]) * 1099511628211ull;
      b = (b + p[i] + 1) * 0x9E3779B97F4A7C15ull;
      b ^= b >> 29;
    }
  }
  void Add(const std::string& text) {
    const uint64_t size = text.size();
    Add(&size, sizeof size);
    Add(text.data(), text.size());
  }
};

bool AddFile(const std::string& path, Digest* to) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  char chunk[1 << 16];
  uint64_t total = 0;
  while (in) {
    in.read(chunk, sizeof chunk);
    to->Add(chunk, size_t(in.gcount()));
    total += uint64_t(in.gcount());
  }
  to->Add(&total, sizeof total);
  return !in.bad();
}

// Everything of the staging tree a layout reads, in a fixed order; false when
// some of it cannot be read.
bool AddTree(const std::string& root, Digest* to) {
  std::error_code ec;
  std::vector<std::filesystem::path> entries;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec); !ec && it != decltype(it)();
       it.increment(ec))
    entries.push_back(it->path());
  if (ec) return false;
  std::sort(entries.begin(), entries.end());
  for (const std::filesystem::path& e : entries) {
    to->Add(e.lexically_relative(root).string());
    if (std::filesystem::is_symlink(e, ec) || !std::filesystem::is_regular_file(e, ec)) {
      to->Add(std::filesystem::is_directory(e, ec) ? "d" : "o");
      continue;
    }
    to->Add("f");
    if (!AddFile(e.string(), to)) return false;
  }
  return true;
}

}  // namespace

BurnFileProject::BurnFileProject(std::string jobPath, std::string stagingRoot, int discKind)
    : jobPath_(std::move(jobPath)), stagingRoot_(std::move(stagingRoot)), discKind_(discKind) {}

BurnFileProject::~BurnFileProject() = default;

bool BurnFileProject::Load() {
  sessions_.clear();
  FILE* f = std::fopen(jobPath_.c_str(), "rb");
  if (!f) {
    lastError_ = "cannot read the burn job " + jobPath_;
    return false;
  }
  struct stat st;
  Reader r{f, fstat(fileno(f), &st) == 0 ? uint64_t(st.st_size) : 0};
  auto damaged = [&](const std::string& where) {
    lastError_ = "the burn job " + jobPath_ + " is damaged (" + where + ")";
    std::fclose(f);
    return false;
  };
  uint8_t head[project::kDiscHeaderSize];
  if (!r.Read(head, sizeof head)) return damaged("header");
  firstSession_ = head[kSessionTableOffset];
  lastSession_ = head[kSessionTableOffset + 1];
  if (firstSession_ < 1 || lastSession_ < firstSession_) return damaged("session numbers");
  for (int s = firstSession_; s <= lastSession_; ++s) {
    uint8_t sh[project::kSessionHeaderSize];
    if (!r.Read(sh, sizeof sh)) return damaged("session " + std::to_string(s));
    Session session;
    session.number = s;
    int trackCount = sh[1];
    if (trackCount < 1) return damaged("session " + std::to_string(s) + " has no track");
    for (int t = 0; t < trackCount; ++t) {
      uint8_t th[project::kTrackHeaderSize], len[4];
      std::string where = "track " + std::to_string(t + 1);
      if (!r.Read(th, sizeof th) || !r.Read(len, 4)) return damaged(where);
      Track track;
      track.number = th[0];
      track.kind = th[1];
      uint32_t n = bytes::LE32(len);
      if (n > kMaxBlock || n > r.size) return damaged(where);
      if (track.kind == kAudio) {
        track.audioPath.resize(n);
        uint8_t pad[64];
        if (!r.Read(track.audioPath.data(), n) || !r.Read(pad, sizeof pad)) return damaged(where);
        track.audioPath.resize(strnlen(track.audioPath.c_str(), n));
      } else if (!r.Skip(n)) {
        return damaged(where);
      }
      session.tracks.push_back(std::move(track));
    }
    sessions_.push_back(std::move(session));
  }
  std::fclose(f);
  return true;
}

bool BurnFileProject::OpenSession(int session) {
  session_ = nullptr;
  for (const Session& s : sessions_)
    if (s.number == session) session_ = &s;
  return session_ != nullptr;
}

int BurnFileProject::FirstTrack() const {
  return session_ && !session_->tracks.empty() ? session_->tracks.front().number : 0;
}

int BurnFileProject::LastTrack() const {
  return session_ && !session_->tracks.empty() ? session_->tracks.back().number : -1;
}

const BurnFileProject::Track* BurnFileProject::FindTrack(int track) const {
  if (!session_) return nullptr;
  for (const Track& t : session_->tracks)
    if (t.number == track) return &t;
  return nullptr;
}

bool BurnFileProject::OpenTrack(int track, uint32_t startAddress) {
  builder_.reset();
  deferred_ = false;
  length_ = 0;
  track_ = FindTrack(track);
  if (!track_) {
    lastError_ = "the burn job has no track " + std::to_string(track);
    return false;
  }
  if (track_->kind == kAudio) {
    audio_.Rewind();
    audio_.SetFile(track_->audioPath);
    // A track is as long as its sound, to the sector: padding it would put
    // silence between the tracks of a gapless album.
    length_ = audio_.GetSoundSectorCount();
    if (length_ == 0) {
      lastError_ = "cannot read the audio track " + track_->audioPath + " (or it holds no sound)";
      return false;
    }
    return true;
  }
  if (boot_.Any() && discKind_ != 1) {
    eltorito::CheckBootOptions(boot_, true, false, &lastError_);
    return false;
  }
  // The layout the fit check made is the one burnt, when nothing of it was
  // read and it starts where the burn does: laid out once, not twice, and
  // the length checked is the length written.
  std::unique_ptr<TrackImageBuilder> kept = std::move(kept_);
  if (kept && keptFor_ == track_ && keptStart_ == startAddress) {
    builder_ = std::move(kept);
    served_ = false;
    length_ = builder_->GetTrackLength();
    return true;
  }
  kept.reset();
  served_ = false;
  startAddress_ = startAddress;
  content_ = TrackContent(startAddress);
  // Only copies of one job share a layout: a stamp of their own and nothing
  // that is laid out per copy.
  if (stampTime_ == 0 || boot_.Any() || !contentKnown_) return LayOut();
  const std::string key = std::to_string(content_.first) + ' ' + std::to_string(content_.second);
  {
    std::unique_lock<std::mutex> hold(gLaidOutLock);
    if (gLaidOutStamp != std::make_pair(stampTime_, stampSerial_)) {
      gLaidOut.clear();  // an earlier run's
      gLaidOutStamp = {stampTime_, stampSerial_};
    }
    for (;;) {
      auto it = gLaidOut.find(key);
      if (it == gLaidOut.end()) break;
      if (it->second.state == LaidOut::kDone) {
        // Laid out by another recorder: this one only if it has to be read.
        length_ = it->second.length;
        deferred_ = true;
        return true;
      }
      gLaidOutCv.wait(hold);
    }
    gLaidOut[key];  // this recorder lays it out; the others wait for it
  }
  // However the layout ends (a failure, an exception) the others stop
  // waiting; one that failed leaves them to try their own.
  bool built = false;
  struct Tell {
    const std::string& key;
    const bool& built;
    const BurnFileProject& self;
    ~Tell() {
      std::lock_guard<std::mutex> hold(gLaidOutLock);
      if (built && gLaidOutStamp == std::make_pair(self.stampTime_, self.stampSerial_))
        gLaidOut[key] = LaidOut{LaidOut::kDone, self.length_};
      else
        gLaidOut.erase(key);
      gLaidOutCv.notify_all();
    }
  } tell{key, built, *this};
  built = LayOut();
  return built;
}

std::pair<uint64_t, uint64_t> BurnFileProject::TrackContent(uint32_t startAddress) {
  // A lone burn has no other recorder to tell apart from.
  contentKnown_ = false;
  if (stampTime_ == 0) return {0, 0};
  Digest d;
  d.Add(std::to_string(discKind_) + ' ' + std::to_string(startAddress) + ' ' + std::to_string(stampTime_) + ' ' +
        std::to_string(stampSerial_) + ' ' + std::to_string(session_ ? session_->number : 0) + ' ' +
        std::to_string(track_->number) + ' ' + std::to_string(int(boot_.Any())));
  if (AddFile(jobPath_, &d) && AddTree(stagingRoot_, &d)) {
    contentKnown_ = true;
    return {d.a, d.b};
  }
  // Unknown: never taken for another recorder's.
  static std::atomic<uint64_t> unique{0};
  return {uint64_t(reinterpret_cast<uintptr_t>(this)), ++unique};
}

bool BurnFileProject::LayOut() {
  builder_ = MakeDataTrackLayout(discKind_ == 1 ? DataTrackFormat::kIso9660 : DataTrackFormat::kUdf);
  if (auto* iso = dynamic_cast<CDataFile*>(builder_.get()); iso && boot_.Any()) iso->SetBoot(boot_);
  builder_->SetSourceListener(this);
  builder_->SetBuildStamp(stampTime_, stampSerial_);
  const bool built = builder_->BuildTrack(jobPath_, stagingRoot_, startAddress_);
  // A file that could not be opened for the layout is missing from the disc.
  for (const std::string& path : builder_->SkippedSources()) NoteUnreadable(path);
  if (!built) {
    lastError_ = builder_->LastError();
    builder_.reset();
    return false;
  }
  length_ = builder_->GetTrackLength();
  return true;
}

// The first read of a track another recorder laid out: this source is read
// after all (the recorder that fed the others has left), so it lays the
// track out now. A track that no longer comes out as long as the one being
// written (its files changed meanwhile) cannot be served: its sectors go out
// as zeros and the burn is not passed as a good one.
void BurnFileProject::LayOutDeferred() {
  if (!deferred_) return;
  deferred_ = false;
  const uint32_t promised = length_;
  if (LayOut() && length_ == promised) return;
  builder_.reset();
  length_ = promised;
  NoteUnreadable(stagingRoot_);
}

int BurnFileProject::GetTrackKind() const { return track_ ? track_->kind : 0; }

void BurnFileProject::ReadSector(uint8_t* buffer) {
  served_ = true;
  LayOutDeferred();
  if (builder_) {
    builder_->GetSectorData(buffer, 2048);
  } else if (track_ && track_->kind == kAudio) {
    uint32_t before = audio_.Position();
    audio_.ReadData(buffer, CAudioFile::kSectorSize);
    // The reader leaves its position when the file has gone: the track can
    // only go on as silence, and the burn must not pass for a good one.
    if (audio_.Position() == before) NoteUnreadable(track_->audioPath);
  }
}

void BurnFileProject::ReadSectors(uint8_t* out, uint32_t count) {
  served_ = true;
  LayOutDeferred();
  if (builder_)
    builder_->GetSectors(out, count);  // runs of file data come straight from the files
  else
    BurnFile::ReadSectors(out, count);
}

void BurnFileProject::CloseTrack() {
  BurnFile::CloseTrack();
  // A layout nothing was read from is kept for the next opening of the same
  // track; any other goes with its temporary files.
  kept_.reset();
  deferred_ = false;
  if (builder_ && !served_) {
    kept_ = std::move(builder_);
    keptFor_ = track_;
    keptStart_ = startAddress_;
  }
  builder_.reset();
}

void BurnFileProject::Release() {
  deferred_ = false;
  builder_.reset();
  kept_.reset();
}

std::string BurnFileProject::CurrentItem() const {
  if (builder_) return builder_->GetCurrentSourceFile();
  return track_ ? track_->audioPath : std::string();
}

// ---------------------------------------------------------------- image

BurnFileImage::BurnFileImage(std::string imagePath) : path_(std::move(imagePath)) {}
BurnFileImage::~BurnFileImage() = default;

bool BurnFileImage::Load() {
  struct stat st;
  // The image device takes a missing or empty file for a blank disc to write.
  if (::stat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
    lastError_ = "cannot open the image " + path_;
    return false;
  }
  image_ = std::make_unique<CDevCmdROM>();
  if (!image_->SetImageFile(path_.c_str())) {
    lastError_ = image_->GetLastOpenError();
    if (lastError_.find(path_) == std::string::npos) lastError_ = path_ + ": " + lastError_;
    return false;
  }
  SessionInfo info;
  if (image_->GetSessionInfo(info) != DEV_OK || info.Sessions.empty()) {
    lastError_ = path_ + ": the image's table of contents cannot be read";
    return false;
  }
  for (size_t s = 0; s < info.Sessions.size(); ++s) {
    Session session;
    session.number = info.FirstSession + int(s);
    for (const TocData::_Data& d : info.Sessions[s].Data) {
      if (d.TrackNo < 1 || d.TrackNo > 99) continue;
      TRACK_INFO ti;
      if (image_->ReadTrackInfo(ti, d.TrackNo) != DEV_OK || ti.TrackSize == 0) {
        lastError_ = path_ + ": track " + std::to_string(d.TrackNo) + " cannot be read";
        return false;
      }
      session.tracks.push_back(Track{d.TrackNo, ti.TrackStart, ti.TrackSize, !d.IsData()});
    }
    if (!session.tracks.empty()) sessions_.push_back(std::move(session));
  }
  if (sessions_.empty()) {
    lastError_ = path_ + ": the image holds no track";
    return false;
  }
  return true;
}

int BurnFileImage::FirstSession() const { return sessions_.empty() ? 1 : sessions_.front().number; }
int BurnFileImage::LastSession() const { return sessions_.empty() ? 0 : sessions_.back().number; }

bool BurnFileImage::OpenSession(int session) {
  session_ = nullptr;
  for (const Session& s : sessions_)
    if (s.number == session) session_ = &s;
  return session_ != nullptr;
}

int BurnFileImage::FirstTrack() const { return session_ ? session_->tracks.front().number : 0; }
int BurnFileImage::LastTrack() const { return session_ ? session_->tracks.back().number : -1; }

bool BurnFileImage::OpenTrack(int track, uint32_t startAddress) {
  (void)startAddress;  // an image's sectors go out as they are
  track_ = nullptr;
  if (session_)
    for (const Track& t : session_->tracks)
      if (t.number == track) track_ = &t;
  next_ = 0;
  aheadCount_ = 0;
  return track_ != nullptr;
}

int BurnFileImage::GetTrackKind() const { return track_ && track_->audio ? kAudio : kData; }
uint32_t BurnFileImage::GetTrackLength() const { return track_ ? track_->length : 0; }

void BurnFileImage::ReadSector(uint8_t* buffer) {
  if (!track_ || next_ >= track_->length) return;
  const uint32_t lba = track_->start + next_++;
  if (track_->audio) {
    if (image_->ReadCD_All(buffer, 2352, 1, lba) != DEV_OK) NoteUnreadable(path_);
    return;
  }
  if (lba < aheadStart_ || lba >= aheadStart_ + aheadCount_) {
    const uint32_t n = std::min(kReadAhead, track_->start + track_->length - lba);
    ahead_.resize(size_t(kReadAhead) * 2048);
    aheadStart_ = lba;
    aheadCount_ = image_->ReadCD_10(ahead_.data(), int(n * 2048), int(n), lba) == DEV_OK ? n : 0;
    if (aheadCount_ == 0) {
      NoteUnreadable(path_);
      return;
    }
  }
  std::memcpy(buffer, &ahead_[size_t(lba - aheadStart_) * 2048], 2048);
}
