#include "BurnCtrl/BurnFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "ByteFields.h"
#include "authoring/CDataFile.h"
#include "authoring/CDataFileUDF.h"
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
  length_ = 0;
  track_ = FindTrack(track);
  if (!track_) {
    lastError_ = "the burn job has no track " + std::to_string(track);
    return false;
  }
  if (track_->kind == kAudio) {
    audio_.Rewind();
    audio_.SetFile(track_->audioPath);
    uint32_t sectors = audio_.GetSectorCount();
    if (sectors == 0) {
      lastError_ = "cannot read the audio track " + track_->audioPath;
      return false;
    }
    length_ = (sectors + kAudioRounding - 1) / kAudioRounding * kAudioRounding;
    return true;
  }
  bool built;
  std::vector<std::string> skipped;
  if (discKind_ == 1) {
    auto iso = std::make_unique<CDataFile>();
    iso->SetSourceListener(this);
    built = iso->Build(jobPath_, false, false, stagingRoot_, startAddress);
    skipped = iso->SkippedSources();
    builder_ = std::move(iso);
  } else {
    auto udf = std::make_unique<CDataFileUDF>();
    udf->SetSourceListener(this);
    built = udf->Build(jobPath_, stagingRoot_, startAddress, 0, 0, 0);
    skipped = udf->SkippedSources();
    builder_ = std::move(udf);
  }
  // A file that could not be opened for the layout is missing from the disc.
  for (const std::string& path : skipped) NoteUnreadable(path);
  if (!built) {
    lastError_ = builder_->LastError();
    builder_.reset();
    return false;
  }
  length_ = builder_->GetTrackLength();
  return true;
}

int BurnFileProject::GetTrackKind() const { return track_ ? track_->kind : 0; }

void BurnFileProject::ReadSector(uint8_t* buffer) {
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

void BurnFileProject::CloseTrack() {
  BurnFile::CloseTrack();
  builder_.reset();  // removes the layout's temporary files
}

std::string BurnFileProject::CurrentItem() const {
  if (builder_) return builder_->GetCurrentSourceFile();
  return track_ ? track_->audioPath : std::string();
}

// ---------------------------------------------------------------- image

BurnFileImage::~BurnFileImage() {
  if (fd_ >= 0) ::close(fd_);
}

bool BurnFileImage::Load() {
  fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd_ < 0 || fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    lastError_ = "cannot open the image " + path_;
    return false;
  }
  if (st.st_size == 0 || st.st_size % 2048 != 0 || st.st_size / 2048 > 0x7FFFFFFF) {
    lastError_ = path_ + " is not an image of whole 2048-byte sectors";
    return false;
  }
  length_ = uint32_t(st.st_size / 2048);
  return true;
}

bool BurnFileImage::OpenTrack(int track, uint32_t startAddress) {
  (void)startAddress;
  offset_ = 0;
  return track == 1 && fd_ >= 0;
}

void BurnFileImage::ReadSector(uint8_t* buffer) {
  size_t done = 0;
  while (done < 2048) {
    ssize_t got = ::pread(fd_, buffer + done, 2048 - done, off_t(offset_ + done));
    if (got <= 0) break;
    done += size_t(got);
  }
  if (done < 2048 && !failed_) {
    failed_ = true;
    NoteUnreadable(path_);
  }
  offset_ += 2048;
}
