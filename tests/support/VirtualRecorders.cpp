#include "support/VirtualRecorders.h"

#include "outside/Kestrine/DevTypes.h"

#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <thread>

#include "BurnCtrl/Results.h"
#include "foundation/ProfileIni.h"
#include "authoring/CDataFile.h"
#include "authoring/CDataFileUDF.h"
#include "authoring/CFileManager.h"
#include "foundation/TempFiles.h"
#include "WavReader.h"

namespace {

const char* kSection = "Disc";

// Serves an existing image file sector by sector (for writing an image).
class ImageFileSource : public TrackSectorSource {
 public:
  explicit ImageFileSource(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd_ >= 0 && fstat(fd_, &st) == 0) length_ = uint32_t((uint64_t(st.st_size) + kSectorSize - 1) / kSectorSize);
  }
  ~ImageFileSource() override {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  uint32_t GetTrackLength() const override { return length_; }
  int GetSectorData(uint8_t* buffer, uint32_t byteCount) override {
    ssize_t got = ::pread(fd_, buffer, byteCount, off_t(cursor_) * kSectorSize);
    if (got < 0) failed_ = true;
    ++cursor_;
    return 0;
  }
  std::string GetCurrentSourceFile() const override { return path_; }
  bool failed() const { return failed_; }

 private:
  std::string path_;
  int fd_ = -1;
  uint32_t length_ = 0;
  uint32_t cursor_ = 0;
  bool failed_ = false;
};

// Serves the PCM of CD WAV files one after the other, each track filled up
// to whole audio sectors of 2352 bytes with silence, in the stand-in's
// sectors of 2048 bytes.
class AudioTracksSource : public TrackSectorSource {
 public:
  static constexpr uint64_t kAudioSector = 2352;
  explicit AudioTracksSource(const std::vector<std::string>& wavs) {
    for (const std::string& w : wavs) {
      Track t;
      t.path = w;
      WavInfo info;
      if (!ReadWavInfo(w, info, &why_)) {
        why_ = w + ": " + why_;
        ok_ = false;
        return;
      }
      t.dataOffset = info.dataOffset;
      t.dataSize = info.dataSize;
      t.start = total_;
      t.sectors = uint32_t((info.dataSize + kAudioSector - 1) / kAudioSector);
      total_ += uint64_t(t.sectors) * kAudioSector;
      tracks_.push_back(t);
    }
  }
  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }
  std::vector<uint32_t> TrackSectors() const {
    std::vector<uint32_t> s;
    for (const Track& t : tracks_) s.push_back(t.sectors);
    return s;
  }
  uint32_t GetTrackLength() const override { return uint32_t((total_ + kSectorSize - 1) / kSectorSize); }
  int GetSectorData(uint8_t* buffer, uint32_t byteCount) override {
    std::memset(buffer, 0, byteCount);
    uint64_t at = uint64_t(cursor_++) * kSectorSize;
    uint32_t done = 0;
    while (done < byteCount && at < total_) {
      const Track* t = TrackAt(at);
      const uint64_t inTrack = at - t->start;
      const uint64_t trackEnd = t->start + uint64_t(t->sectors) * kAudioSector;
      const uint32_t n = uint32_t(std::min<uint64_t>(byteCount - done, trackEnd - at));
      current_ = t->path;
      if (inTrack < t->dataSize) {
        const uint32_t fromFile = uint32_t(std::min<uint64_t>(n, t->dataSize - inTrack));
        int fd = ::open(t->path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::pread(fd, buffer + done, fromFile, off_t(t->dataOffset + inTrack)) != ssize_t(fromFile))
          failed_ = true;
        if (fd >= 0) ::close(fd);
      }
      done += n;
      at += n;
    }
    return 0;
  }
  std::string GetCurrentSourceFile() const override { return current_; }
  bool failed() const { return failed_; }

 private:
  struct Track {
    std::string path;
    uint64_t dataOffset = 0, dataSize = 0, start = 0;
    uint32_t sectors = 0;
  };
  const Track* TrackAt(uint64_t at) const {
    for (const Track& t : tracks_)
      if (at < t.start + uint64_t(t.sectors) * kAudioSector) return &t;
    return &tracks_.back();
  }
  std::vector<Track> tracks_;
  uint64_t total_ = 0;
  uint32_t cursor_ = 0;
  std::string current_, why_;
  bool ok_ = true, failed_ = false;
};

int GetInt(const std::string& file, const char* key, int fallback) {
  return ini::GetInt(file, kSection, key, fallback);
}
void SetInt(const std::string& file, const char* key, long long value) {
  ini::WriteString(file, kSection, key, std::to_string(value));
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

}  // namespace

struct VirtualRecorders::Drive {
  uint8_t index = 0;
  bool image = false;
  std::string state;  // the settings file of a virtual recorder
  std::string lastError;  // why its last scripted failure failed
  std::atomic<int> progress{0};
  std::atomic<bool> abort{false};
  std::atomic<int> speed{0};
  // The burn as the progress window sees it.
  std::atomic<bool> burning{false};
  std::atomic<uint64_t> bytesWritten{0}, bytesTotal{0};
  std::atomic<int> bufferFill{0};
  std::mutex itemLock;
  std::string item;

  void SetItem(const std::string& text) {
    std::lock_guard<std::mutex> l(itemLock);
    item = text;
  }
};

VirtualRecorders::VirtualRecorders() {
  auto image = std::make_unique<Drive>();
  image->index = 0;
  image->image = true;
  drives_[0] = std::move(image);
}

VirtualRecorders::~VirtualRecorders() = default;

int VirtualRecorders::MediumFromName(const std::string& name) {
  static const std::map<std::string, int> names = {
      {"cdr", 9},     {"cd-r", 9},     {"cdrw", 10},   {"cd-rw", 10},  {"cdrom", 8},
      {"dvdr", 17},   {"dvd-r", 17},   {"dvdram", 18}, {"dvd-ram", 18}, {"dvdrw", 20},
      {"dvd-rw", 20}, {"dvd+rw", 26},  {"dvd+r", 27},  {"dvdrom", 16}, {"bdr", 65},
      {"bd-r", 65},   {"bdre", 67},    {"bd-re", 67}};
  auto it = names.find(Lower(name));
  return it == names.end() ? 0 : it->second;
}

uint32_t VirtualRecorders::CapacityOf(int type) {
  if (type == 8 || type == 9 || type == 10) return 359847;        // 80 min CD
  if (type == 64 || type == 65 || type == 66 || type == 67) return 12219392;  // 25 GB BD
  return 2295104;                                                  // 4.7 GB DVD
}

int VirtualRecorders::AddRecorder(const std::string& stateFile, int type) {
  if (stateFile.empty()) return -1;
  struct stat st;
  if (stat(stateFile.c_str(), &st) != 0) {
    if (!ini::WriteString(stateFile, kSection, "Medium", std::to_string(type))) return -1;
    SetInt(stateFile, "Capacity", CapacityOf(type));
    SetInt(stateFile, "Used", 0);
    SetInt(stateFile, "Closed", 0);
    SetInt(stateFile, "Tray", 0);
  } else if (!S_ISREG(st.st_mode)) {
    return -1;
  }
  std::lock_guard<std::mutex> l(lock_);
  int index = 3;
  while (index < 26 && drives_.count(uint8_t(index))) ++index;
  if (index >= 26) return -1;
  auto d = std::make_unique<Drive>();
  d->index = uint8_t(index);
  d->state = stateFile;
  drives_[uint8_t(index)] = std::move(d);
  return index;
}

int VirtualRecorders::AddRecorderFromArgument(const std::string& argument) {
  std::string rest = argument;
  if (rest.rfind("virtual:", 0) == 0) rest = rest.substr(8);
  int type = medium::kCdRw;
  size_t colon = rest.rfind(':');
  if (colon != std::string::npos) {
    int named = MediumFromName(rest.substr(colon + 1));
    if (named) {
      type = named;
      rest = rest.substr(0, colon);
    }
  }
  return AddRecorder(rest, type);
}

std::string VirtualRecorders::StateFile(uint8_t drive) const {
  std::lock_guard<std::mutex> l(lock_);
  auto it = drives_.find(drive);
  return it == drives_.end() ? std::string() : it->second->state;
}

VirtualRecorders::Drive* VirtualRecorders::Find(uint8_t drive) {
  std::lock_guard<std::mutex> l(lock_);
  auto it = drives_.find(drive);
  return it == drives_.end() ? nullptr : it->second.get();
}

std::vector<DriveEntry> VirtualRecorders::Drives() {
  std::vector<DriveEntry> out;
  std::lock_guard<std::mutex> l(lock_);
  for (auto& [index, d] : drives_) {
    if (d->image) continue;
    DriveEntry e;
    e.index = index;
    e.recorder = true;
    e.text = DriveEntryText(std::string(1, char('A' + index)) + ":", "VARNEX Virtual Recorder 1.0", d->state);
    e.where = d->state;
    out.push_back(e);
  }
  return out;
}

int VirtualRecorders::Start(uint8_t drive) {
  if (!Find(drive)) return result::kNoSuchDrive;
  current_ = drive;
  return result::kSuccess;
}

bool VirtualRecorders::TrayOpen(uint8_t drive) {
  Drive* d = Find(drive);
  return d && !d->image && GetInt(d->state, "Tray", 0) != 0;
}

int VirtualRecorders::TestUnitReady(uint8_t drive) {
  Drive* d = Find(drive);
  if (!d) return result::kNoSuchDrive;
  if (d->image) return 0;
  const std::string& f = d->state;
  int notReady = GetInt(f, "NotReady", 0);
  if (notReady > 0) {
    SetInt(f, "NotReady", notReady - 1);
    return 2;  // sense key NOT READY
  }
  if (GetInt(f, "Tray", 0)) {
    // With ReloadBlank the user stands by: the open tray is closed on a fresh
    // blank disc, which is ready at the next check.
    if (GetInt(f, "ReloadBlank", 0)) Eject(drive, false);
    return 2;
  }
  return 0;
}

int VirtualRecorders::GetDiscInfoEx(uint8_t drive, DiscInfo* info) {
  Drive* d = Find(drive);
  if (!d) return result::kNoSuchDrive;
  if (d->image) {
    info->mediumType = 0;
    info->blank = true;
    info->writable = true;
    info->state = medium::DiscState::kBlank;
    info->freeBytes = uint64_t(CapacityOf(medium::kDvdR)) * kSectorSize;
    return result::kSuccess;
  }
  const std::string& f = d->state;
  if (GetInt(f, "Tray", 0)) return result::kNotReady;
  int type = GetInt(f, "Medium", 0);
  uint64_t capacity = uint64_t(GetInt(f, "Capacity", int(CapacityOf(type))));
  uint64_t used = uint64_t(GetInt(f, "Used", 0));
  bool closed = GetInt(f, "Closed", 0) != 0;
  bool pressed = type == medium::kCdRom || type == medium::kDvdRom || type == medium::kBdRom;
  info->mediumType = type;
  info->blank = used == 0 && !pressed && !GetInt(f, "Unfinished", 0);
  info->state = medium::StateOf(type, info->blank, closed ? 2 : info->blank ? 0 : 1, GetInt(f, "Unfinished", 0) ? 1 : 3);
  info->writable = medium::TakesData(info->state) && used < capacity;
  info->freeBytes = info->writable ? (capacity - used) * kSectorSize : 0;
  info->usedBytes = used * kSectorSize;
  return result::kSuccess;
}

bool VirtualRecorders::ReadWriteSpeeds(uint8_t drive, std::vector<int>* speeds, int* current) {
  Drive* d = Find(drive);
  if (!d || d->image) return false;
  std::string list = ini::GetString(d->state, kSection, "Speeds", "");
  speeds->clear();
  if (list.empty()) {
    int type = GetInt(d->state, "Medium", 0);
    if (medium::IsCd(type))
      *speeds = {176 * 48, 176 * 32, 176 * 24, 176 * 16};
    else
      *speeds = {1385 * 16, 1385 * 8, 1385 * 4};
  } else if (Lower(list) != "none") {
    size_t pos = 0;
    while (pos <= list.size()) {
      size_t comma = list.find(',', pos);
      std::string part = list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
      if (int v = std::atoi(part.c_str()); v > 0) speeds->push_back(v);
      if (comma == std::string::npos) break;
      pos = comma + 1;
    }
  }
  *current = Lower(list) == "none" ? 0 : d->speed.load();
  return true;
}

int VirtualRecorders::SetWriteSpeed(uint8_t drive, int kBps) {
  Drive* d = Find(drive);
  if (!d) return result::kNoSuchDrive;
  d->speed = kBps;
  return 0;
}

int VirtualRecorders::SetImageFile(uint8_t drive, const std::string& path) {
  if (drive != 0) return result::kNoSuchDrive;
  std::lock_guard<std::mutex> l(lock_);
  imageFile_ = path;
  return result::kSuccess;
}

int VirtualRecorders::WriteSectors(Drive* d, TrackSectorSource* source, uint32_t length, bool close) {
  std::string dataPath;
  uint64_t start = 0;
  if (d->image) {
    std::lock_guard<std::mutex> l(lock_);
    dataPath = imageFile_;
  } else {
    dataPath = d->state + ".data";
    start = uint64_t(GetInt(d->state, "Used", 0));
  }
  if (dataPath.empty()) return result::kOutputFailed;
  int fd = ::open(dataPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (d->image ? O_TRUNC : 0), 0644);
  if (fd < 0) return result::kOutputFailed;

  // Sectors are read ahead into a queue of a few blocks, as a recorder's
  // buffer is filled ahead of its writes; the queue's fill is the buffer
  // fill the progress window shows.
  constexpr size_t kQueueBlocks = 4;
  constexpr uint32_t kBlock = 32;
  std::deque<std::vector<uint8_t>> queue;
  uint32_t read = 0;
  // A recorder that takes its time, as real ones do (for demonstrations).
  const int delayMs = d->image ? 0 : GetInt(d->state, "BlockDelayMs", 0);
  uint32_t written = 0;
  int rc = result::kSuccess;
  d->bytesWritten = 0;
  d->bytesTotal = uint64_t(length) * kSectorSize;
  d->bufferFill = 0;
  d->burning = true;
  // "FailAfterBlocks": the write breaks off once, after that many blocks,
  // as a disc with a bad spot does.
  const int failAfter = d->image ? 0 : GetInt(d->state, "FailAfterBlocks", 0);
  while (written < length) {
    if (d->abort) {
      rc = result::kWriteFailed;
      break;
    }
    if (failAfter > 0 && written >= uint32_t(failAfter) * kBlock) {
      SetInt(d->state, "FailAfterBlocks", 0);
      d->lastError = "virtual:" + d->state + ": WRITE(10) failed (sense 3/0C/00)";
      rc = result::kWriteFailed;
      break;
    }
    while (queue.size() < kQueueBlocks && read < length) {
      const uint32_t n = std::min<uint32_t>(kBlock, length - read);
      std::vector<uint8_t> block(size_t(kBlock) * kSectorSize, 0);
      for (uint32_t i = 0; i < n; ++i) source->GetSectorData(block.data() + size_t(i) * kSectorSize, kSectorSize);
      queue.push_back(std::move(block));
      read += n;
    }
    d->bufferFill = int(queue.size() * 100 / kQueueBlocks);
    const uint32_t n = std::min<uint32_t>(kBlock, length - written);
    off_t at = off_t((start + written) * kSectorSize);
    if (::pwrite(fd, queue.front().data(), size_t(n) * kSectorSize, at) != ssize_t(size_t(n) * kSectorSize)) {
      rc = result::kWriteFailed;
      break;
    }
    queue.pop_front();
    written += n;
    d->bytesWritten = uint64_t(written) * kSectorSize;
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    d->progress = int(uint64_t(written) * 100 / length);
    d->SetItem(source->GetCurrentSourceFile());
  }
  if (::close(fd) != 0 && rc == result::kSuccess) rc = result::kWriteFailed;
  if (!d->image && rc == result::kSuccess) {
    SetInt(d->state, "Used", static_cast<long long>(start + written));
    if (close) SetInt(d->state, "Closed", 1);
  } else if (!d->image && written > 0) {
    // A session that broke off stays open: the disc takes nothing more.
    SetInt(d->state, "Used", static_cast<long long>(start + written));
    SetInt(d->state, "Unfinished", 1);
  }
  return rc;
}

int VirtualRecorders::WriteCd(uint8_t drive, const std::string& stagingRoot, const std::string& label,
                              bool multisession, bool mp3, uint8_t discOptions) {
  lastDiscOptions_ = discOptions;
  Drive* d = Find(drive);
  if (!d) return result::kNoSuchDrive;
  d->abort = false;
  d->progress = 0;
  DiscInfo info;
  if (!d->image) {
    if (TestUnitReady(drive) != 0) return result::kNotReady;
    if (GetDiscInfoEx(drive, &info) != result::kSuccess) return result::kNotReady;
    if (!info.writable) return result::kDoesNotFit;
    int fail = GetInt(d->state, "FailWrite", 0);
    if (fail > 0) {
      SetInt(d->state, "FailWrite", fail - 1);
      if (fail == 1) {
        d->lastError = "virtual:" + d->state + ": WRITE(10) failed (sense 3/0C/00)";
        return result::kWriteFailed;
      }
    }
  }
  // The burn job: the project saved to a temporary file, which names the volume.
  TempFile job("bcd");
  if (!job.ok()) return result::kProjectNotWritten;
  CFileManager saver;
  saver.SetMode(mp3 ? CFileManager::kModeMp3 : CFileManager::kModeData);
  if (!saver.SaveDataProject(stagingRoot, job.path(), label, nullptr, Existing::kReplace)) return result::kProjectNotWritten;

  uint32_t start = d->image ? 0 : uint32_t(GetInt(d->state, "Used", 0));
  // CD media take ISO 9660 with Joliet names; DVD and BD media take UDF.
  const bool udf = !d->image && !medium::IsCd(info.mediumType);
  std::unique_ptr<TrackImageBuilder> layout =
      MakeDataTrackLayout(udf ? DataTrackFormat::kUdf : DataTrackFormat::kIso9660);
  if (!layout->BuildTrack(job.path(), stagingRoot, start)) return result::kLayoutFailed;
  uint32_t length = layout->GetTrackLength();
  if (!d->image && uint64_t(length) * kSectorSize > info.freeBytes) return result::kDoesNotFit;
  return WriteSectors(d, layout.get(), length, !multisession);
}

int VirtualRecorders::WriteAudioCd(uint8_t drive, const std::vector<std::string>& wavTracks, bool) {
  Drive* d = Find(drive);
  if (!d) return result::kNoSuchDrive;
  d->abort = false;
  d->progress = 0;
  if (d->image) return result::kAudioNeedsCd;
  if (TestUnitReady(drive) != 0) return result::kNotReady;
  DiscInfo info;
  if (GetDiscInfoEx(drive, &info) != result::kSuccess) return result::kNotReady;
  if (!medium::IsCd(info.mediumType) || !medium::IsWritable(info.mediumType)) return result::kAudioNeedsCd;
  AudioTracksSource source(wavTracks);
  if (!source.ok()) {
    d->lastError = source.why();
    return result::kSourceMissing;
  }
  if (wavTracks.empty() || !info.blank || uint64_t(source.GetTrackLength()) * kSectorSize > info.freeBytes)
    return result::kDoesNotFit;
  int rc = WriteSectors(d, &source, source.GetTrackLength(), true);
  if (rc == result::kSuccess && source.failed()) rc = result::kSourceUnreadable;
  if (rc == result::kSuccess) {
    // The track table of the audio disc, in sectors of 2352 bytes.
    const std::vector<uint32_t> sectors = source.TrackSectors();
    SetInt(d->state, "AudioTracks", static_cast<long long>(sectors.size()));
    for (size_t i = 0; i < sectors.size(); ++i)
      ini::WriteString(d->state, kSection, "AudioTrack" + std::to_string(i + 1), std::to_string(sectors[i]));
  }
  return rc;
}

namespace {
std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
}  // namespace

int VirtualRecorders::WriteAudioDisc(uint8_t drive, const AudioDisc& disc, bool testWrite,
                                     std::vector<std::string>*) {
  lastAudioFiles_ = AudioFiles{disc.files.place, disc.files.label, {}};
  std::error_code ec;
  if (!disc.files.stagingRoot.empty())
    for (auto it = std::filesystem::recursive_directory_iterator(disc.files.stagingRoot, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
      lastAudioFiles_.staged.push_back(it->path().string().substr(disc.files.stagingRoot.size()) + ": " +
                                       (it->is_regular_file(ec) ? ReadText(it->path().string()) : std::string()));
  std::sort(lastAudioFiles_.staged.begin(), lastAudioFiles_.staged.end());
  std::vector<std::string> wavs;
  for (const AudioDiscTrack& t : disc.tracks) wavs.push_back(t.wav);
  return WriteAudioCd(drive, wavs, testWrite);
}

int VirtualRecorders::WriteImageToCD(uint8_t drive, const std::string& imagePath, bool) {
  Drive* d = Find(drive);
  if (!d) return result::kNoSuchDrive;
  d->abort = false;
  d->progress = 0;
  ImageFileSource source(imagePath);
  if (!source.ok()) return result::kSourceMissing;
  if (!d->image) {
    if (TestUnitReady(drive) != 0) return result::kNotReady;
    DiscInfo info;
    if (GetDiscInfoEx(drive, &info) != result::kSuccess) return result::kNotReady;
    if (!info.blank || uint64_t(source.GetTrackLength()) * kSectorSize > info.freeBytes)
      return result::kDoesNotFit;
  }
  int rc = WriteSectors(d, &source, source.GetTrackLength(), true);
  return rc == result::kSuccess && source.failed() ? result::kWriteFailed : rc;
}

int VirtualRecorders::GetDriveProgress(uint8_t drive) {
  Drive* d = Find(drive);
  return d ? d->progress.load() : 0;
}

std::string VirtualRecorders::GetDriveItem(uint8_t drive) {
  Drive* d = Find(drive);
  if (!d) return "";
  std::lock_guard<std::mutex> l(d->itemLock);
  return d->item;
}

bool VirtualRecorders::GetBurnFigures(uint8_t drive, BurnFigures* figures) {
  Drive* d = Find(drive);
  if (!d || !d->burning) return false;
  figures->bytesWritten = d->bytesWritten;
  figures->bytesTotal = d->bytesTotal;
  figures->bufferPercent = d->bufferFill;
  return true;
}

void VirtualRecorders::AbortWrite(uint8_t drive) {
  if (Drive* d = Find(drive)) d->abort = true;
}

void VirtualRecorders::ResetBurn(uint8_t drive) {
  if (Drive* d = Find(drive)) {
    d->progress = 0;
    d->burning = false;
    d->SetItem("");
  }
}

void VirtualRecorders::DeleteTempFiles() {}

int VirtualRecorders::BlankDisc(uint8_t drive) {
  Drive* d = Find(drive);
  if (!d) return result::kNoSuchDrive;
  if (d->image) return result::kCannotErase;
  if (TestUnitReady(drive) != 0) return result::kNotReady;
  int type = GetInt(d->state, "Medium", 0);
  if (!medium::IsErasable(type)) return result::kCannotErase;
  if (GetInt(d->state, "FailErase", 0)) {
    d->lastError = "virtual:" + d->state + ": BLANK failed (sense 3/0C/00)";
    return result::kEraseFailed;
  }
  SetInt(d->state, "Used", 0);
  SetInt(d->state, "Closed", 0);
  SetInt(d->state, "Unfinished", 0);
  ::truncate((d->state + ".data").c_str(), 0);
  return result::kSuccess;
}

int VirtualRecorders::Eject(uint8_t drive, bool open) {
  Drive* d = Find(drive);
  if (!d) return result::kNoSuchDrive;
  if (d->image) return 0;
  const std::string& f = d->state;
  bool wasOpen = GetInt(f, "Tray", 0) != 0;
  SetInt(f, "Tray", open ? 1 : 0);
  if (wasOpen && !open && GetInt(f, "ReloadBlank", 0)) {
    SetInt(f, "Used", 0);
    SetInt(f, "Closed", 0);
    SetInt(f, "Unfinished", 0);
    ::truncate((f + ".data").c_str(), 0);
  }
  return 0;
}

int VirtualRecorders::Lock(uint8_t drive, bool) { return Find(drive) ? 0 : result::kNoSuchDrive; }

std::string VirtualRecorders::LastError(uint8_t drive) {
  Drive* d = Find(drive);
  return d ? d->lastError : std::string();
}
