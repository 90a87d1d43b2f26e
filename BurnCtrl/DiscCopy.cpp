#include "BurnCtrl/DiscCopy.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "BurnCtrl/SaoResults.h"
#include "foundation/LangText.h"
#include "BurnMana_SAO.h"
#include "DataSource_CloneFile.h"
#include "DataSource_Device.h"
#include "MediumTable.h"

void DiscCopyJob::Publish(DataSource_CloneFile* making, BurnMana_SAO* running, const std::string& item) {
  std::lock_guard<std::mutex> hold(lock_);
  making_ = making;
  running_ = running;
  item_ = item;
  // A stop that came before the object was published still reaches it.
  if (stop_ && making) making->GeneFile_SetStop(true);
  if (stop_ && running) running->BurnStop();
}

int DiscCopyJob::Failed(int code, const std::string& why) {
  std::lock_guard<std::mutex> hold(lock_);
  error_ = why;
  return code;
}

// The source drive refused READ CD: its Mode 1 sectors were read with
// READ (10) and rebuilt whole, which the user is told.
void DiscCopyJob::NoteRebuilt(CDevCmdROM* source) {
  std::lock_guard<std::mutex> hold(lock_);
  notice_ = source->GetDevicePath() +
            " refuses READ CD; its Mode 1 sectors were read with READ (10) and rebuilt (sync, header, EDC and ECC)";
}

namespace {

CDevCmdRW* DeviceOf(Recorder* r) { return r ? r->Device() : nullptr; }

}  // namespace

std::vector<std::string> DiscCopyJob::Roots() const {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!roots_.empty()) return roots_;
  }
  std::vector<std::string> roots;
  if (const char* t = std::getenv("TMPDIR"); t && *t) roots.push_back(t);
  roots.push_back("/var/tmp");
  roots.push_back("/tmp");
  if (const char* c = std::getenv("XDG_CACHE_HOME"); c && *c) roots.push_back(c);
  return roots;
}

namespace {

uint64_t FreeBytes(const std::string& folder) {
  struct statvfs st;
  if (::statvfs(folder.c_str(), &st) != 0) return 0;
  return uint64_t(st.f_bavail) * uint64_t(st.f_frsize);
}

// A disc of one family can only be copied onto media of that family: CD
// sectors (audio, raw data) do not exist on DVD and BD, and a DVD's or BD's
// size and layout do not fit a CD.
// An empty drive passes here; it is asked again once its disc is in.
bool KindFits(int discType, int targetMedium) {
  return targetMedium == medium::kNone || (discType == CD_TYPE_CD) == medium::IsCd(targetMedium);
}

}  // namespace

// The target ready, blank, erased when allowed. 1, or the failure.
int DiscCopyJob::CheckTarget(int index, bool eraseAllowed) {
  Recorder* r = FindRecorder(index);
  if (!r) return result::kNoSuchDrive;
  bool ready = r->TestUnitReady() == 0;
  for (int poll = 0; !ready && poll < 120 && !stop_; ++poll) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ready = r->TestUnitReady() == 0;
  }
  if (!ready) return result::kNotReady;
  bool blank = false, writable = false;
  int m = 0;
  if (int c = GetDiscInfo(index, &blank, &writable, &m); c != result::kSuccess) return c;
  if (blank && writable) return result::kSuccess;
  if (medium::IsErasable(m)) {
    if (!eraseAllowed) return result::kTargetNotBlank;
    return BlankDisc(index);
  }
  // A recordable disc that holds sessions (open, unfinished or closed) is
  // "not blank"; only a pressed disc "cannot be written".
  return medium::IsWritable(m) ? result::kTargetNotBlank : result::kTargetNotWritable;
}

// The source's last lead-out must fit the target's blank capacity less 1024.
int DiscCopyJob::CheckSize(int index, DataSource& source) {
  Recorder* r = FindRecorder(index);
  if (!KindFits(source.GetDiscType(), r->GetMediumType())) return Failed(result::kCopyWrongMedium, "");
  const auto& sessions = source.Layout().sessions;
  const int64_t needed = sessions.empty() ? 0 : sessions.back().LeadOut();
  uint32_t capacity = 0;
  if (r->GetBlackDiscCapacity(capacity) != 0 || capacity == 0) return result::kSuccess;  // unknown: passes
  if (needed > int64_t(capacity) - 1024) {
    EjectDisc(index);
    return Failed(result::kCopyTooLarge, "the copy needs " + std::to_string(needed) + " sectors; the disc has " +
                                             std::to_string(capacity));
  }
  return result::kSuccess;
}

namespace {

std::string NewCopyFileName(const std::string& root) {
  std::random_device rd;
  for (int i = 0; i < 100; ++i) {
    std::string p = root + "/Temp" + std::to_string(rd() % 100000000u) + ".bcl";
    if (!std::filesystem::exists(std::filesystem::symlink_status(p))) return p;
  }
  return "";
}

}  // namespace

// Makes the copy file of the source disc; 1 with `made` set, or the failure.
int DiscCopyJob::MakeCopyFile(CDevCmdRW* source, const std::string& path, std::string* made) {
  DataSource_Device disc(source);
  if (!disc.IsValid() || disc.GetSessionNum() == 0)
    return Failed(result::kNoSourceSession, disc.GetLastError());
  if (disc.Layout().sessions.back().LeadOut() <= 0) return Failed(result::kSourceEmpty, "");
  const uint64_t needed = uint64_t(disc.Layout().SectorsToRead()) * uint64_t(disc.GetSectorSize()) + 64 * 1024;
  std::string target = path;
  if (target.empty()) {
    std::string best;
    uint64_t bestFree = 0;
    for (const std::string& root : Roots()) {
      uint64_t f = FreeBytes(root);
      if (f > bestFree) best = root, bestFree = f;
    }
    if (best.empty() || bestFree < needed)
      return Failed(result::kNoRoomForCopyFile, "a copy file of " + std::to_string(needed >> 20) + " MiB fits in no temporary folder");
    target = NewCopyFileName(best);
    if (target.empty()) return Failed(result::kCopyFileFailed, "no free name in " + best);
  } else {
    std::string folder = std::filesystem::path(target).parent_path().string();
    if (FreeBytes(folder.empty() ? "." : folder) < needed)
      return Failed(result::kNoRoomForCopyFile, "the copy file needs " + std::to_string(needed >> 20) + " MiB; " +
                                                     (folder.empty() ? "." : folder) + " has less free space");
  }
  auto file = std::make_unique<DataSource_CloneFile>(target.c_str());
  Publish(file.get(), nullptr, "Making the copy file " + target);
  int g = file->GeneFile(source, disc.GetSectorSize());
  Publish(nullptr, nullptr, "");
  if (file->RebuiltRawSectors()) NoteRebuilt(source);
  if (g == GENE_STOPPED) return Failed(result::kCopyFileStopped, "");
  if (g != GENE_OK) return Failed(result::kCopyFileFailed, file->GetLastError());
  {
    std::lock_guard<std::mutex> hold(lock_);
    copyFile_ = target;
  }
  *made = target;
  return result::kSuccess;
}


// Writes every session of the source, the last one closed when `close`.
int DiscCopyJob::Write(int targetIndex, DataSource& source, bool close) {
  uint16_t curRead = 0, curWrite = 0, maxRead = 0, maxWrite = 0;
  // Without the drive's speeds the copy is written as fast as the drive goes.
  (void)GetCdSpeeds(targetIndex, &curRead, &curWrite, &maxRead, &maxWrite);
  AtOnceOptions options;
  options.closeLast = close;
  options.speed = maxWrite ? maxWrite : 0xFFFF;
  options.what = "the copy";
  options.stopped = [this] { return stop_.load(); };
  options.watch = [this](BurnMana_SAO* running, int s, int sessions) {
    Publish(nullptr, running, running ? "Session " + std::to_string(s) + " of " + std::to_string(sessions) : "");
  };
  const int r = BurnSessionAtOnce(targetIndex, source, options);
  if (r != result::kSuccess && r != result::kBurnStopped) return Failed(r, LastJobError(targetIndex));
  return r;
}

int DiscCopyJob::CopyFromDrive(int sourceIndex, int targetIndex, const std::string& path) {
  Recorder* src = FindRecorder(sourceIndex);
  CDevCmdRW* sourceDev = DeviceOf(src);
  const bool onTheFly = sourceIndex != targetIndex && path.empty();
  rec::DiscInfo info;
  const bool close = src->ReadDiscInfo(info) != 0 || info.discStatus != 1;
  // A copy that cannot go onto the target's kind of disc is refused before
  // anything is read, made or erased.
  if (sourceIndex != targetIndex && !KindFits(sourceDev->GetDiscType(), FindRecorder(targetIndex)->GetMediumType()))
    return Failed(result::kCopyWrongMedium, "");
  if (!onTheFly) {
    std::string made;
    if (int r = MakeCopyFile(sourceDev, path, &made); r != result::kSuccess) return r;
    if (sourceIndex == targetIndex) {
      // The blank disc goes into the drive the source came out of.
      Publish(nullptr, nullptr, LoadLangText("UIText", 1120));
      EjectDisc(targetIndex);
      std::function<bool(int)> request;
      {
        std::lock_guard<std::mutex> hold(lock_);
        request = blankDiscRequest_;
      }
      if (request && !request(targetIndex)) return Failed(result::kBurnStopped, "no blank disc was inserted");
    }
    DataSource_CloneFile file(made.c_str());
    // The sectors' checksum was taken from the very bytes just written, and
    // reading them back now would read this machine's memory, not its disk.
    // Only a file that waited for the user to change discs is read through
    // again, since anything may have touched it meanwhile.
    if (!file.GetFileInfo(sourceIndex == targetIndex)) return Failed(result::kBadCopyFile, file.GetLastError());
    // The kind is judged before the target may be erased.
    if (!KindFits(file.GetDiscType(), FindRecorder(targetIndex)->GetMediumType()))
      return Failed(result::kCopyWrongMedium, "");
    // A disc put back into the one drive may be the source itself: it is
    // never erased there.
    if (int r = CheckTarget(targetIndex, sourceIndex != targetIndex); r != result::kSuccess) return r;
    if (int r = CheckSize(targetIndex, file); r != result::kSuccess) return r;
    return Write(targetIndex, file, file.Layout().complete);
  }
  DataSource_Device disc(sourceDev);
  if (!disc.IsValid()) return Failed(result::kSourceUnreadable, disc.GetLastError());
  if (disc.GetSessionNum() == 0) return result::kNoSourceSession;
  if (disc.Layout().sessions.back().LeadOut() <= 0) return result::kSourceEmpty;
  if (int r = CheckTarget(targetIndex, true); r != result::kSuccess) return r;
  if (int r = CheckSize(targetIndex, disc); r != result::kSuccess) return r;
  const int written = Write(targetIndex, disc, close);
  if (disc.RebuiltRawSectors()) NoteRebuilt(sourceDev);
  return written;
}

int DiscCopyJob::CopyFromFile(int targetIndex, const std::string& path) {
  if (path.empty() || !std::filesystem::exists(path)) return Failed(result::kCopyFileMissing, path);
  DataSource_CloneFile file(path.c_str());
  // The whole file is checked before the target is touched.
  if (!file.GetFileInfo()) return Failed(result::kBadCopyFile, file.GetLastError());
  if (!KindFits(file.GetDiscType(), FindRecorder(targetIndex)->GetMediumType()))
    return Failed(result::kCopyWrongMedium, "");
  if (int r = CheckTarget(targetIndex, false); r != result::kSuccess) return r;
  if (int r = CheckSize(targetIndex, file); r != result::kSuccess) return r;
  return Write(targetIndex, file, file.Layout().complete);
}

void DiscCopyJob::Reset() {
  std::lock_guard<std::mutex> hold(lock_);
  stop_ = false;
  error_.clear();
  notice_.clear();
  item_.clear();
  copyFile_.clear();
}

namespace {

// The source drive holds a readable disc with something on it.
int CheckSource(int sourceIndex, std::shared_ptr<Recorder>* src) {
  *src = ShareRecorder(sourceIndex);
  if (!*src || !DeviceOf(src->get())) return result::kNoSuchDrive;
  if ((*src)->TestUnitReady() != 0) return result::kNotReady;
  bool blank = false, writable = false;
  int m = 0;
  if (GetDiscInfo(sourceIndex, &blank, &writable, &m) != result::kSuccess) return result::kNotReady;
  return blank ? result::kSourceBlank : result::kSuccess;
}

}  // namespace

int DiscCopyJob::Run(int sourceIndex, int targetIndex, const std::string& path) {
  Reset();
  try {
    if (sourceIndex >= 0) {
      std::shared_ptr<Recorder> src;
      if (int res = CheckSource(sourceIndex, &src); res != result::kSuccess) return res;
    }
    std::shared_ptr<Recorder> target = ShareRecorder(targetIndex);
    if (!target || !DeviceOf(target.get())) return result::kNoSuchDrive;
    // The target is ours from the first look to the last session, the erase
    // and the wait for a blank disc included.
    if (!ClaimRecorder(targetIndex))
      return Failed(result::kRecorderInUse, target->Name());
    struct Release {
      int index;
      ~Release() { ReleaseRecorder(index); }
    } release{targetIndex};
    return sourceIndex >= 0 ? CopyFromDrive(sourceIndex, targetIndex, path) : CopyFromFile(targetIndex, path);
  } catch (const std::exception& e) {
    Publish(nullptr, nullptr, "");
    return Failed(result::kException, e.what());
  }
}

int DiscCopyJob::SaveCopyFile(int sourceIndex, const std::string& path) {
  Reset();
  std::shared_ptr<Recorder> src;
  if (int res = CheckSource(sourceIndex, &src); res != result::kSuccess) return res;
  std::string made;
  return MakeCopyFile(DeviceOf(src.get()), path, &made);
}

int DiscCopyJob::Progress() const {
  std::lock_guard<std::mutex> hold(lock_);
  if (running_) return running_->GetBurnProgress();
  if (making_) return making_->GetGeneProgress();
  return 0;
}

std::string DiscCopyJob::Item() const {
  std::lock_guard<std::mutex> hold(lock_);
  if (running_) {
    char text[128];
    running_->GetCurrBurnFile(text, sizeof text);
    return item_ + (text[0] ? ": " + std::string(text) : "");
  }
  return item_;
}

void DiscCopyJob::Stop() {
  std::lock_guard<std::mutex> hold(lock_);
  stop_ = true;
  if (making_) making_->GeneFile_SetStop(true);
  if (running_) running_->BurnStop();
}

std::string DiscCopyJob::CopyFilePath() const {
  std::lock_guard<std::mutex> hold(lock_);
  return copyFile_;
}

std::string DiscCopyJob::Error() const {
  std::lock_guard<std::mutex> hold(lock_);
  return error_;
}

std::string DiscCopyJob::Notice() const {
  std::lock_guard<std::mutex> hold(lock_);
  return notice_;
}

void DiscCopyJob::SetCopyFileRoots(const std::vector<std::string>& roots) {
  std::lock_guard<std::mutex> hold(lock_);
  roots_ = roots;
}

void DiscCopyJob::SetBlankDiscRequest(std::function<bool(int index)> request) {
  std::lock_guard<std::mutex> hold(lock_);
  blankDiscRequest_ = std::move(request);
}

namespace {

DiscCopyJob& TheCopy() {
  static DiscCopyJob job;
  return job;
}

}  // namespace

int DiscCopy(int sourceIndex, int targetIndex, const std::string& path) {
  return TheCopy().Run(sourceIndex, targetIndex, path);
}
int SaveCopyFile(int sourceIndex, const std::string& path) { return TheCopy().SaveCopyFile(sourceIndex, path); }
int GetCopyProgress() { return TheCopy().Progress(); }
std::string GetCopyItem() { return TheCopy().Item(); }
int StopCopy() {
  TheCopy().Stop();
  return 0;
}
std::string CopyFilePath() { return TheCopy().CopyFilePath(); }
std::string LastCopyError() { return TheCopy().Error(); }
std::string LastCopyNotice() { return TheCopy().Notice(); }
void SetCopyFileRoots(const std::vector<std::string>& roots) { TheCopy().SetCopyFileRoots(roots); }
void SetBlankDiscRequest(std::function<bool(int index)> request) { TheCopy().SetBlankDiscRequest(std::move(request)); }

std::vector<CopyTrackRow> CopyTrackList(DataSource& source) {
  std::vector<CopyTrackRow> rows;
  SessionInfo info;
  if (!source.GetSessionInfo(info)) return rows;
  for (size_t s = 0; s < info.Sessions.size(); ++s) {
    const TocData& toc = info.Sessions[s];
    for (size_t i = 0; i < toc.Data.size(); ++i) {
      CopyTrackRow row;
      row.session = int(s) + 1;
      row.track = toc.Data[i].TrackNo;
      row.data = toc.Data[i].AdrCtrl & 0x04;
      if (row.data && source.OpenTrack(row.track)) {
        row.form = source.GetTrackModeForm();
        source.CloseTrack();
      }
      row.start = TocAddressToLba(toc.Data[i].Addr);
      if (i + 1 < toc.Data.size()) {
        row.end = TocAddressToLba(toc.Data[i + 1].Addr) - 1;
      } else {
        long leadOut = TocAddressToLba(toc.LeadOut);
        if (leadOut == 0 && s + 1 < info.Sessions.size() && !info.Sessions[s + 1].Data.empty())
          leadOut = TocAddressToLba(info.Sessions[s + 1].Data[0].Addr);
        row.end = leadOut - 1;
      }
      rows.push_back(row);
    }
  }
  return rows;
}
