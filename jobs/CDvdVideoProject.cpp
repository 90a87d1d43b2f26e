#include "jobs/CDvdVideoProject.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "BurnCtrl/SaoResults.h"
#include "BurnMana_SAO.h"
#include "DataSource_DVD.h"
#include "MediumTable.h"
#include "foundation/LangText.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}


}  // namespace

CDvdVideoProject::~CDvdVideoProject() {
  Cancel();
  CleanUp();
}

void CDvdVideoProject::CleanUp() {
  std::unique_lock<std::mutex> hold(lock_);
  idle_.wait(hold, [this] { return burning_ == 0; });
  dvd_.CleanUp();
}

CDvdVideoProject::DriveBurn& CDvdVideoProject::BurnOf(int driveIndex) {
  std::unique_ptr<DriveBurn>& b = burns_[driveIndex];
  if (!b) b = std::make_unique<DriveBurn>();
  return *b;
}

int CDvdVideoProject::FailOn(int driveIndex, int code, const std::string& why) {
  std::lock_guard<std::mutex> hold(lock_);
  lastError_ = why;
  BurnOf(driveIndex).error = why;
  return code;
}

std::string CDvdVideoProject::LastError() const {
  std::lock_guard<std::mutex> hold(lock_);
  return lastError_;
}

int CDvdVideoProject::Progress(int driveIndex) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto it = burns_.find(driveIndex);
  return it == burns_.end() ? 0 : it->second->progress.load();
}

std::string CDvdVideoProject::LastError(int driveIndex) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto it = burns_.find(driveIndex);
  return it == burns_.end() ? std::string() : it->second->error;
}

void CDvdVideoProject::StopBurn(int driveIndex) {
  std::lock_guard<std::mutex> hold(lock_);
  DriveBurn& b = BurnOf(driveIndex);
  b.stop = true;
  if (b.running) b.running->BurnStop();
}

bool CDvdVideoProject::IsVideoFileName(const std::string& path) {
  // The video disc window's own list (less the Video CD's ".DAT" tracks and
  // ".WMA" sound, which hold no picture for a title).
  static const char* const kExtensions[] = {".avi", ".mpg", ".mpeg", ".vob", ".wmv", ".asf", ".dic", ".qt",
                                            ".mov", ".m1v", ".flv", ".m2v", ".ts",  ".mp4", ".m4v", ".mkv",
                                            ".m2ts", ".webm"};
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  const std::string ext = Lower(path.substr(dot));
  for (const char* e : kExtensions)
    if (ext == e) return true;
  return false;
}

bool CDvdVideoProject::Fits(uint64_t totalSectors, uint64_t capacitySectors) {
  return capacitySectors >= kReserveSectors && totalSectors <= capacitySectors - kReserveSectors;
}

CDvdVideoProject::AddOutcome CDvdVideoProject::AddInput(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return kMissing;
  if (!IsVideoFileName(path)) return kNotVideo;
  std::lock_guard<std::mutex> hold(lock_);
  if (inputs_.size() >= kMaxInputs) return kLimitReached;
  inputs_.push_back(path);
  return kAdded;
}

void CDvdVideoProject::RemoveInput(size_t index) {
  std::lock_guard<std::mutex> hold(lock_);
  if (index < inputs_.size()) inputs_.erase(inputs_.begin() + long(index));
}

void CDvdVideoProject::Clear() {
  std::lock_guard<std::mutex> hold(lock_);
  inputs_.clear();
}

std::vector<std::string> CDvdVideoProject::Inputs() const {
  std::lock_guard<std::mutex> hold(lock_);
  return inputs_;
}

int CDvdVideoProject::Fail(int code, const std::string& why) {
  std::lock_guard<std::mutex> hold(lock_);
  lastError_ = why;
  return code;
}

int CDvdVideoProject::Progress() const { return burning_ ? burnProgress_.load() : dvd_.progress.load(); }

std::string CDvdVideoProject::Step() const {
  if (burning_) return LoadLangText("UIText", kWritingText);
  return dvd_.CurrentStep();
}

void CDvdVideoProject::Cancel() {
  stop_ = true;
  dvd_.cancel = true;
  std::lock_guard<std::mutex> hold(lock_);
  for (auto& b : burns_) {
    b.second->stop = true;
    if (b.second->running) b.second->running->BurnStop();
  }
}

int CDvdVideoProject::Prepare() {
  stop_ = false;
  dvd_.cancel = false;
  Fail(0, "");
  const std::vector<std::string> inputs = Inputs();
  if (inputs.empty()) return Fail(kNoInputs, "the DVD project holds no video file");
  if (inputs.size() > kMaxInputs) return Fail(kTooManyInputs, "a DVD takes at most 260 video files");
  const int r = dvd_.Build(label_, 0, tvSystem_, aspect_, inputs);
  if (r == result::kDvdStopped || stop_) {
    dvd_.CleanUp();
    return Fail(result::kBurnStopped, "stopped while the DVD was authored");
  }
  if (r != 1) return Fail(r == 0 ? kNoInputs : r, dvd_.LastError());
  return result::kSuccess;
}

int CDvdVideoProject::Burn(int driveIndex) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    DriveBurn& b = BurnOf(driveIndex);
    b.progress = 0;
    b.stop = false;
    b.error.clear();
    if (dvd_.FileCount() == 0 || dvd_.GetHeaderFile().empty()) {
      lastError_ = b.error = "the DVD has not been authored";
      return kNotPrepared;
    }
    // The authored files are this burn's until it returns.
    ++burning_;
  }
  struct Done {
    CDvdVideoProject* self;
    ~Done() {
      std::lock_guard<std::mutex> hold(self->lock_);
      --self->burning_;
      self->idle_.notify_all();
    }
  } done{this};
  if (stop_) return FailOn(driveIndex, result::kBurnStopped, "stopped before the burn began");
  uint64_t freeBytes = 0;
  if (int r = CheckTarget(driveIndex, &freeBytes); r != result::kSuccess) return FailOn(driveIndex, r, LastError());
  Recorder* recorder = FindRecorder(driveIndex);
  if (!Fits(dvd_.TotalSectors(), freeBytes / 2048))
    return FailOn(driveIndex, result::kDoesNotFit,
                  "the DVD needs " + std::to_string(dvd_.TotalSectors()) + " sectors; " + recorder->Name() +
                      " has room for " + std::to_string(freeBytes / 2048) + ", of which " +
                      std::to_string(kReserveSectors) + " stay free");
  burnProgress_ = 0;
  const int r = BurnToDrive(driveIndex);
  if (r == result::kSuccess) {
    std::lock_guard<std::mutex> hold(lock_);
    BurnOf(driveIndex).progress = 100;
  }
  return r;
}

int CDvdVideoProject::CheckTarget(int driveIndex, uint64_t* freeBytes) {
  Recorder* recorder = FindRecorder(driveIndex);
  if (!recorder) return Fail(result::kNoSuchDrive, "no drive " + std::to_string(driveIndex));
  bool blank = false, writable = false;
  int profile = 0;
  uint64_t room = 0;
  const int info = GetDiscInfoEx(driveIndex, &blank, &writable, &profile, &room);
  if (info != result::kSuccess) return Fail(info, recorder->Name());
  if (!medium::IsDvd(profile) || !writable)
    return Fail(kNeedsDvd, recorder->Name() + " holds " + medium::Name(profile) + ", not a writable DVD");
  if (!blank && !medium::IsOverwritable(profile))
    return Fail(result::kTargetNotBlank, "the disc in " + recorder->Name() + " is not blank");
  if (freeBytes) *freeBytes = room;
  return result::kSuccess;
}

int CDvdVideoProject::BurnToDrive(int driveIndex) {
  std::vector<char> table(size_t(dvd_.TableCount()) * CDVDFile::kPathSize);
  const int count = dvd_.GetFileTable(table.data());
  DataSource_DVD source(dvd_.GetHeaderFile(), count, reinterpret_cast<const unsigned char*>(table.data()));
  if (!source.IsValid()) return FailOn(driveIndex, result::kSourceUnreadable, source.GetLastError());
  // The header describes the files as they were authored.
  if (uint64_t(source.TotalSectors()) != dvd_.TotalSectors())
    return FailOn(driveIndex, result::kSourceUnreadable, "the files of the work folder changed after the DVD was laid out");
  DriveBurn* burn = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    burn = &BurnOf(driveIndex);
  }
  AtOnceOptions options;
  options.what = "the DVD";
  options.stopped = [this, burn] { return stop_ || burn->stop; };
  options.watch = [this, burn](BurnMana_SAO* running, int, int) {
    std::lock_guard<std::mutex> hold(lock_);
    burn->running = running;
  };
  options.progress = [this, burn](int percent, const std::string&) {
    burnProgress_ = percent;
    burn->progress = percent;
  };
  const int r = BurnSessionAtOnce(driveIndex, source, options);
  if (r != result::kSuccess)
    return FailOn(driveIndex, r, r == result::kBurnStopped ? "stopped while the disc was written" : LastJobError(driveIndex));
  burnProgress_ = 100;
  return result::kSuccess;
}
