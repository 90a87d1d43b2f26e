#include "jobs/CVideoDiscProject.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <thread>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "BurnCtrl/SaoResults.h"
#include "ByteFields.h"
#include "DataSource_VCD.h"
#include "SafeFile.h"
#include "VcdTracks.h"
#include "jobs/CDvdVideoProject.h"
#include "authoring/CSVCDFile.h"
#include "authoring/ProjectFile.h"
#include "authoring/CVCDFile.h"
#include "foundation/LangText.h"
#include "foundation/TempFiles.h"
#include "MediumTable.h"
#include "media/CAVConvert.h"

namespace {

const CVideoDiscProject::KindInfo kKinds[] = {
    {CVideoDiscProject::kVideoCd, "VCD", 4, CAVConvert::kVideoCd, "mpeg1video", vcdtracks::kMaxItems},
    {CVideoDiscProject::kSuperVideoCd, "SVCD", 5, CAVConvert::kSuperVideoCd, "mpeg2video", vcdtracks::kMaxItems},
    {CVideoDiscProject::kDvdVideo, "DVD", 6, CAVConvert::kDvdMpeg, "mpeg2video", CDvdVideoProject::kMaxInputs},
};

// The video project file: the header's length, the kind byte, the label.
constexpr size_t kHeaderSize = 256;
constexpr size_t kLabelOffset = 5, kLabelSize = 32;
constexpr size_t kPathSize = 260;

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string UpperExtension(const std::string& path) {
  const std::string name = FileNameOf(path);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return "";
  std::string ext = name.substr(dot);
  for (char& c : ext) c = char(std::toupper(static_cast<unsigned char>(c)));
  return ext;
}

// "hh:mm:ss.ff" as seconds; -1 when the text holds none.
double SecondsOf(const std::string& duration) {
  int h = 0, m = 0;
  double s = 0;
  if (std::sscanf(duration.c_str(), "%d:%d:%lf", &h, &m, &s) != 3) return -1;
  return h * 3600.0 + m * 60.0 + s;
}

// Asks a DVD-Video step to end once the caller's stop flag is set: the
// authoring tools and the burn are cancelled from this watcher's thread.
// With a drive, only that drive's burn is stopped (the other recorders of a
// run go on).
class StopWatcher {
 public:
  StopWatcher(const std::atomic<bool>* stop, CDvdVideoProject& dvd, int drive = -1) {
    if (!stop) return;
    thread_ = std::thread([this, stop, &dvd, drive] {
      std::unique_lock<std::mutex> hold(lock_);
      while (!done_) {
        if (*stop) {
          if (drive < 0)
            dvd.Cancel();
          else
            dvd.StopBurn(drive);
          return;
        }
        wake_.wait_for(hold, std::chrono::milliseconds(50));
      }
    });
  }
  ~StopWatcher() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      done_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::mutex lock_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};


}  // namespace

const CVideoDiscProject::KindInfo* CVideoDiscProject::Info(int kind) {
  for (const KindInfo& k : kKinds)
    if (k.kind == kind) return &k;
  return nullptr;
}

CVideoDiscProject::CVideoDiscProject(int kind) { SetMode(kind); }

CVideoDiscProject::~CVideoDiscProject() {
  StopAllBurns();
  CleanUpVideoDisc();
}

void CVideoDiscProject::SetMode(int kind) {
  const KindInfo* info = Info(kind) ? Info(kind) : Info(kVideoCd);
  std::lock_guard<std::mutex> hold(lock_);
  kind_ = info->kind;
  label_ = info->defaultLabel;
}

bool CVideoDiscProject::IsVideoFileName(const std::string& path) {
  const std::string ext = UpperExtension(path);
  for (const char* taken : {".AVI", ".MPG", ".MPEG", ".VOB", ".WMV", ".ASF", ".DIC", ".QT", ".MOV", ".M1V", ".FLV",
                            ".M2V", ".TS", ".WMA", ".MP4", ".M4V", ".MKV", ".M2TS", ".WEBM", ".DAT"})
    if (ext == taken) return true;
  return false;
}

int CVideoDiscProject::ThumbnailSeek(int32_t seconds) { return seconds > 10 ? 5 : 0; }

CVideoDiscProject::AddOutcome CVideoDiscProject::AddVideoFile(const std::string& path, std::string* why) {
  if (!IsVideoFileName(path)) return kSkipped;
  {
    std::lock_guard<std::mutex> hold(lock_);
    // A DVD title needs a picture: Video CD tracks and sound files are not taken.
    if (kind_ == kDvdVideo && !CDvdVideoProject::IsVideoFileName(path)) return kSkipped;
    if (items_.size() >= Info(kind_)->maxItems) return kLimitReached;
  }
  VideoItem item;
  item.name = FileNameOf(path);
  item.source = path;
  std::string reason;
  if (!safefile::IsRegularFile(path, &reason)) {
    reason = "it is missing or not a file";
  } else if (vcdtracks::IsDatFile(path)) {
    // A track of an existing Video CD: its play time from its sectors.
    const int64_t sectors = vcdtracks::ItemSectors(path);
    if (sectors < 0) reason = "cannot read it";
    else {
      const int64_t s = (sectors - vcdtracks::kMargins) / 75;
      char text[32];
      std::snprintf(text, sizeof text, "%02d:%02d:%02d.00", int(s / 3600), int(s / 60 % 60), int(s % 60));
      item.duration = text;
    }
  } else {
    CAVConvert converter;
    item.duration = converter.GetMediaInfo(path);
    if (item.duration.empty()) reason = "the converter cannot read it";
    // A sound file under a video name would become a track without a picture.
    else if (!converter.LastProbeHadVideo()) reason = "it holds sound only, no picture";
  }
  if (!reason.empty()) {
    if (why) *why = LoadLangText("Message", 42) + " (" + path + "): " + reason;
    return kUnreadable;
  }
  std::lock_guard<std::mutex> hold(lock_);
  item.estimateMB = CAVConvert::EstimateSizeMB(kind_, item.duration);
  items_.push_back(item);
  return kAdded;
}

std::vector<VideoItem> CVideoDiscProject::Items() const {
  std::lock_guard<std::mutex> hold(lock_);
  return items_;
}

size_t CVideoDiscProject::ItemCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  return items_.size();
}

void CVideoDiscProject::RemoveItem(size_t index) {
  std::lock_guard<std::mutex> hold(lock_);
  if (index < items_.size()) items_.erase(items_.begin() + long(index));
}

void CVideoDiscProject::Clear() {
  std::lock_guard<std::mutex> hold(lock_);
  items_.clear();
}

float CVideoDiscProject::TotalMB() const {
  std::lock_guard<std::mutex> hold(lock_);
  float total = 0;
  for (const VideoItem& i : items_) total += i.estimateMB;
  return total;
}

void CVideoDiscProject::SetLabel(const std::string& label) {
  std::lock_guard<std::mutex> hold(lock_);
  label_ = label.substr(0, kLabelSize);
}

std::string CVideoDiscProject::Label() const {
  std::lock_guard<std::mutex> hold(lock_);
  return label_;
}

std::string CVideoDiscProject::LastError() const {
  std::lock_guard<std::mutex> hold(lock_);
  return error_;
}

int CVideoDiscProject::Failed(int code, const std::string& why) {
  std::lock_guard<std::mutex> hold(lock_);
  error_ = why;
  return code;
}

bool CVideoDiscProject::SaveVideoProject(const std::string& path, std::string* error, Existing existing) const {
  std::vector<uint8_t> file(kHeaderSize + 4, 0);
  {
    std::lock_guard<std::mutex> hold(lock_);
    bytes::PutLE32(file.data(), uint32_t(kHeaderSize));
    file[4] = uint8_t(Info(kind_)->projectKind);
    bytes::PutText(file.data() + kLabelOffset, kLabelSize, label_.data(), label_.size());
    bytes::PutLE32(file.data() + kHeaderSize, uint32_t(items_.size()));
    for (const VideoItem& i : items_) {
      if (i.source.size() >= kPathSize) {
        if (error) *error = "the path is longer than a project file can hold: " + i.source;
        return false;
      }
      size_t at = file.size();
      file.resize(at + kPathSize, 0);
      std::memcpy(file.data() + at, i.source.data(), i.source.size());
    }
  }
  // The new file takes the place of an old one only once it is complete.
  std::string why;
  if (!WriteWholeFile(path, std::string_view(reinterpret_cast<const char*>(file.data()), file.size()), existing, &why)) {
    if (error) *error = "cannot write " + why;
    return false;
  }
  return true;
}

bool CVideoDiscProject::ReadVideoProject(const std::string& path, int* projectKind, std::string* label,
                                         std::vector<std::string>* paths, std::string* error) {
  std::string why;
  int fd = safefile::OpenForReading(path, &why);
  if (fd < 0) {
    if (error) *error = why;
    return false;
  }
  struct stat st;
  std::vector<uint8_t> file;
  if (::fstat(fd, &st) == 0 && st.st_size >= off_t(kHeaderSize + 4) && st.st_size < (1 << 20)) {
    file.resize(size_t(st.st_size));
    if (::pread(fd, file.data(), file.size(), 0) != ssize_t(file.size())) file.clear();
  }
  ::close(fd);
  const uint32_t countAt = file.empty() ? 0 : bytes::LE32(file.data());
  const bool kindOk = !file.empty() && file[4] >= 4 && file[4] <= 6;
  if (file.empty() || !kindOk || countAt < 19 || size_t(countAt) + 4 > file.size()) {
    if (error) *error = path + " is not a video project file, or it is damaged";
    return false;
  }
  const uint32_t count = bytes::LE32(file.data() + countAt);
  const KindInfo* kind = nullptr;
  for (const KindInfo& k : kKinds)
    if (k.projectKind == file[4]) kind = &k;
  if (count > kind->maxItems) {
    if (error)
      *error = path + " is damaged: it lists " + std::to_string(count) + " items; its kind of disc takes " +
               std::to_string(kind->maxItems) + " at most";
    return false;
  }
  if (size_t(countAt) + 4 + size_t(count) * kPathSize > file.size()) {
    if (error) *error = path + " is damaged: it lists " + std::to_string(count) + " items it does not hold";
    return false;
  }
  *projectKind = file[4];
  label->assign(reinterpret_cast<const char*>(file.data() + kLabelOffset), kLabelSize);
  label->resize(strnlen(label->c_str(), kLabelSize));
  paths->clear();
  for (uint32_t i = 0; i < count; ++i) {
    const char* p = reinterpret_cast<const char*>(file.data() + countAt + 4 + size_t(i) * kPathSize);
    paths->push_back(ResolveProjectSource(path, std::string(p, strnlen(p, kPathSize))));
  }
  return true;
}

bool CVideoDiscProject::LoadVideoProject(const std::string& path, std::string* error,
                                         std::vector<std::string>* skipped) {
  int projectKind = 0;
  std::string label;
  std::vector<std::string> paths;
  if (!ReadVideoProject(path, &projectKind, &label, &paths, error)) return false;
  Clear();
  SetLabel(label);
  for (const std::string& p : paths) {
    std::string reason;
    if (AddVideoFile(p, &reason) != kAdded && skipped) skipped->push_back(reason.empty() ? p : reason);
  }
  return true;
}

bool CVideoDiscProject::CheckItemForDisc(const std::string& path, std::string* why) const {
  if (vcdtracks::IsDatFile(path)) return true;
  CAVConvert converter;
  const bool read = !converter.GetMediaInfo(path).empty();
  const std::string& out = converter.LastOutput();
  const char* codec = Info(kind_)->mpegCodec;
  if (read && out.find("Input #0, mpeg,") != std::string::npos &&
      out.find(std::string("Video: ") + codec) != std::string::npos)
    return true;
  *why = path + " is not an MPEG program stream with " + codec + " video; switch re-encoding on to convert it";
  return false;
}

int CVideoDiscProject::PrepareVideoDisc(const KeepGoingQuestion& ask, const std::atomic<bool>* stop,
                                        const ItemProgress& progress) {
  const std::vector<VideoItem> items = Items();
  if (items.empty()) return Failed(kEmptyProject, "");
  if (kind_ == kDvdVideo) return PrepareDvd(items, stop);
  CleanUpVideoDisc();
  const std::string folder = MakeWorkFolder("varnex-video-");
  if (folder.empty()) return Failed(kNoWorkFolder, "");
  {
    std::lock_guard<std::mutex> hold(lock_);
    workFolder_ = folder + "/";
  }
  std::vector<std::string> slots;
  std::vector<double> seconds;  // of each slot
  std::vector<size_t> failed;
  std::string failures;
  int next = 1;
  for (size_t i = 0; i < items.size(); ++i) {
    if (stop && *stop) break;
    if (progress) progress(int(i), int(items.size()), items[i].name);
    const std::string& source = items[i].source;
    if (!reencode_ || vcdtracks::IsDatFile(source)) {
      std::string why;
      if (!CheckItemForDisc(source, &why)) {
        CleanUpVideoDisc();
        return Failed(kNotMpegOfKind, why);
      }
      slots.push_back(source);
      seconds.push_back(SecondsOf(items[i].duration));
      continue;
    }
    // A failed item uses up no number: Track1.mpg, Track2.mpg, ... stay contiguous.
    const std::string target = folder + "/Track" + std::to_string(next) + ".mpg";
    CAVConvert converter;
    if (converter.Convert(source, target, Info(kind_)->converterTarget, ntsc_ ? 1 : 0, wide_ ? 1 : 2, stop)) {
      slots.push_back(target);
      seconds.push_back(SecondsOf(items[i].duration));
      ++next;
    } else if (!(stop && *stop)) {
      failed.insert(failed.begin(), i);
      failures += source + ": " + converter.LastError() + "\n";
    }
  }
  if (stop && *stop) {
    CleanUpVideoDisc();
    return Failed(result::kBurnStopped, "stopped while converting");
  }
  if (slots.empty() || (!failed.empty() && (!ask || !ask(failures)))) {
    CleanUpVideoDisc();
    return Failed(kNothingConverted, failures);
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (size_t i : failed)
      if (i < items_.size() && items_[i].source == items[i].source) items_.erase(items_.begin() + long(i));
  }
  std::unique_ptr<CVCDFile> layout;
  if (kind_ == kVideoCd) layout = std::make_unique<CVCDFile>();
  else layout = std::make_unique<CSVCDFile>();
  layout->SetItemSeconds(seconds);
  layout->SetPal(!ntsc_);
  if (!layout->Prepare(Label(), int(slots.size()), slots)) {
    const std::string why = layout->LastError();
    CleanUpVideoDisc();
    return Failed(kVideoLayoutFailed, why);
  }
  std::lock_guard<std::mutex> hold(lock_);
  prepared_ = slots;
  layout_ = std::move(layout);
  error_.clear();
  return result::kSuccess;
}

int CVideoDiscProject::PrepareDvd(const std::vector<VideoItem>& items, const std::atomic<bool>* stop) {
  CleanUpVideoDisc();
  auto dvd = std::make_shared<CDvdVideoProject>();
  for (const VideoItem& item : items) {
    const CDvdVideoProject::AddOutcome added = dvd->AddInput(item.source);
    if (added == CDvdVideoProject::kLimitReached)
      return Failed(CDvdVideoProject::kTooManyInputs, "a DVD takes at most " +
                                                          std::to_string(CDvdVideoProject::kMaxInputs) + " video files");
    if (added != CDvdVideoProject::kAdded)
      return Failed(result::kSourceUnreadable, item.source + " is missing or is no video file a DVD takes");
  }
  dvd->SetTvSystem(ntsc_ ? CDVDFile::kNtsc : CDVDFile::kPal);
  dvd->SetAspect(wide_ ? CDVDFile::kAspect16x9 : CDVDFile::kAspect4x3);
  dvd->SetLabel(Label());
  {
    std::lock_guard<std::mutex> hold(lock_);
    dvd_ = dvd;
  }
  if (stop && *stop) dvd->Cancel();
  int r;
  {
    StopWatcher watch(stop, *dvd);
    r = dvd->Prepare();
  }
  if (r != result::kSuccess) {
    const std::string why = dvd->LastError();
    CleanUpVideoDisc();
    return Failed(r, why);
  }
  std::lock_guard<std::mutex> hold(lock_);
  error_.clear();
  return result::kSuccess;
}

std::shared_ptr<CDvdVideoProject> CVideoDiscProject::Dvd() const {
  std::lock_guard<std::mutex> hold(lock_);
  return dvd_;
}

int CVideoDiscProject::GetBurnProgress() const {
  if (std::shared_ptr<CDvdVideoProject> dvd = Dvd()) return dvd->Progress();
  return progress_;
}

std::vector<std::string> CVideoDiscProject::PreparedItems() const {
  std::lock_guard<std::mutex> hold(lock_);
  return prepared_;
}

std::string CVideoDiscProject::ControlImage() const {
  std::lock_guard<std::mutex> hold(lock_);
  return layout_ ? layout_->GetControlImage() : std::string();
}

int CVideoDiscProject::CleanUpVideoDisc() {
  std::unique_lock<std::mutex> hold(lock_);
  // The prepared files stay until the last recorder reading them has ended.
  idle_.wait(hold, [this] { return reading_ == 0; });
  if (dvd_) dvd_->CleanUp();
  dvd_.reset();
  layout_.reset();
  prepared_.clear();
  if (!workFolder_.empty()) RemoveTree(workFolder_.substr(0, workFolder_.size() - 1));
  workFolder_.clear();
  return result::kSuccess;
}

bool CVideoDiscProject::FitsCapacity(int64_t leadOut, uint32_t capacity) {
  return leadOut <= int64_t(capacity) - 10240;
}

std::string CVideoDiscProject::GetWritingItemCaption() const {
  if (std::shared_ptr<CDvdVideoProject> dvd = Dvd()) {
    const std::string step = dvd->Step();
    if (!step.empty()) return step;
  }
  std::lock_guard<std::mutex> hold(lock_);
  return caption_.empty() ? LoadLangText("UIText", 13) : caption_;
}

CVideoDiscProject::DriveBurn& CVideoDiscProject::BurnOf(int drive) {
  std::unique_ptr<DriveBurn>& b = burns_[drive];
  if (!b) b = std::make_unique<DriveBurn>();
  return *b;
}

int CVideoDiscProject::FailedOn(int drive, int code, const std::string& why) {
  std::lock_guard<std::mutex> hold(lock_);
  error_ = why;
  BurnOf(drive).error = why;
  return code;
}

int CVideoDiscProject::GetBurnProgress(int drive) const {
  if (std::shared_ptr<CDvdVideoProject> dvd = Dvd()) return dvd->Progress(drive);
  std::lock_guard<std::mutex> hold(lock_);
  auto it = burns_.find(drive);
  return it == burns_.end() ? 0 : it->second->progress.load();
}

std::string CVideoDiscProject::GetWritingItemCaption(int drive) const {
  if (std::shared_ptr<CDvdVideoProject> dvd = Dvd()) {
    const std::string step = dvd->Step();
    if (!step.empty()) return step;
  }
  std::lock_guard<std::mutex> hold(lock_);
  auto it = burns_.find(drive);
  return it == burns_.end() || it->second->caption.empty() ? LoadLangText("UIText", 13) : it->second->caption;
}

std::string CVideoDiscProject::LastError(int drive) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto it = burns_.find(drive);
  return it == burns_.end() ? std::string() : it->second->error;
}

void CVideoDiscProject::StopBurn(int drive) {
  std::lock_guard<std::mutex> hold(lock_);
  BurnOf(drive).stop = true;
  if (dvd_) dvd_->StopBurn(drive);
}

void CVideoDiscProject::StopAllBurns() {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto& b : burns_) b.second->stop = true;
  if (dvd_)
    for (auto& b : burns_) dvd_->StopBurn(b.first);
}

int CVideoDiscProject::CheckTarget(int drive) {
  if (kind_ == kDvdVideo) {
    // The DVD project's own rule: a writable DVD, blank or rewritable in place.
    CDvdVideoProject probe;
    const int rc = probe.CheckTarget(drive);
    return rc == result::kSuccess ? rc : FailedOn(drive, rc, probe.LastError());
  }
  Recorder* recorder = FindRecorder(drive);
  if (!recorder) return FailedOn(drive, result::kNoSuchDrive, "no drive " + std::to_string(drive));
  bool blank = false, writable = false;
  int type = 0;
  const int rc = GetDiscInfo(drive, &blank, &writable, &type);
  if (rc != result::kSuccess) return FailedOn(drive, rc, recorder->Name());
  if (type != medium::kCdR && type != medium::kCdRw)
    return FailedOn(drive, result::kTargetNotWritable, "a video CD needs a CD-R or CD-RW in " + recorder->Name());
  if (!blank) return FailedOn(drive, result::kTargetNotBlank, "the disc in " + recorder->Name() + " is not blank");
  return result::kSuccess;
}

int CVideoDiscProject::BurnVideoDisc(int drive, const std::atomic<bool>* stop) {
  return kind_ == kDvdVideo ? BurnDvd(drive, stop) : BurnVideoCd(drive, stop);
}

int CVideoDiscProject::BurnDvd(int drive, const std::atomic<bool>* stop) {
  std::shared_ptr<CDvdVideoProject> dvd = Dvd();
  if (!dvd) return FailedOn(drive, kEmptyProject, "the disc is not prepared");
  {
    std::lock_guard<std::mutex> hold(lock_);
    DriveBurn& burn = BurnOf(drive);
    burn.stop = false;
    burn.error.clear();
    // The authored files are this burn's until it returns.
    ++reading_;
  }
  struct Reading {
    CVideoDiscProject* self;
    ~Reading() {
      std::lock_guard<std::mutex> hold(self->lock_);
      --self->reading_;
      self->idle_.notify_all();
    }
  } reading{this};
  if (stop && *stop) dvd->StopBurn(drive);
  int r;
  {
    StopWatcher watch(stop, *dvd, drive);
    r = dvd->Burn(drive);
  }
  return r == result::kSuccess ? r : FailedOn(drive, r, dvd->LastError());
}

int CVideoDiscProject::BurnVideoCd(int drive, const std::atomic<bool>* stop) {
  DriveBurn* burn = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    burn = &BurnOf(drive);
    burn->progress = 0;
    burn->stop = false;
    burn->caption.clear();
    burn->error.clear();
    if (!layout_ || prepared_.empty()) {
      error_ = burn->error = "the disc is not prepared";
      return kEmptyProject;
    }
    // The prepared files are this burn's until it returns.
    ++reading_;
  }
  struct Done {
    CVideoDiscProject* self;
    DriveBurn* burn;
    ~Done() {
      std::lock_guard<std::mutex> hold(self->lock_);
      burn->caption.clear();
      self->caption_.clear();
      --self->reading_;
      self->idle_.notify_all();
    }
  } done{this, burn};
  const std::string control = ControlImage();
  const std::vector<std::string> items = PreparedItems();
  DataSource_VCD source(2, control, int(items.size()), items);
  if (!source.IsValid()) return FailedOn(drive, kVideoLayoutFailed, source.GetLastError());
  if (!ClaimRecorder(drive)) return FailedOn(drive, result::kRecorderInUse, "");
  struct Release {
    int index;
    ~Release() { ReleaseRecorder(index); }
  } release{drive};
  if (int r = CheckRoom(drive, source.Layout().sessions.front().LeadOut()); r != result::kSuccess) return r;
  progress_ = 0;
  AtOnceOptions options;
  options.what = "the video CD";
  options.stopped = [&] { return (stop && *stop) || burn->stop; };
  options.progress = [&](int percent, const std::string& item) {
    burn->progress = percent;
    progress_ = percent;
    std::lock_guard<std::mutex> hold(lock_);
    burn->caption = caption_ = item;
  };
  const int r = BurnSessionAtOnce(drive, source, options);
  if (r != result::kSuccess) return FailedOn(drive, r, r == result::kBurnStopped ? "" : LastJobError(drive));
  burn->progress = 100;
  progress_ = 100;
  return result::kSuccess;
}

// The blank disc in the drive takes the disc up to `leadOut` and the reserve.
int CVideoDiscProject::CheckRoom(int drive, int64_t leadOut) {
  std::shared_ptr<Recorder> keep = ShareRecorder(drive);
  if (!keep) return FailedOn(drive, result::kNoSuchDrive, "");
  uint32_t capacity = 0;
  if (keep->GetBlackDiscCapacity(capacity) != 0)
    return FailedOn(drive, result::kException, keep->Name() + ": the disc's capacity is unknown");
  if (!FitsCapacity(leadOut, capacity))
    return FailedOn(drive, result::kDoesNotFit,
                    keep->Name() + ": the disc needs " + std::to_string(leadOut) + " sectors; the blank disc has " +
                        std::to_string(capacity));
  return result::kSuccess;
}
