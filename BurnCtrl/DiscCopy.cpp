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
#include "BurnCtrl/SessionAtOnce.h"
#include "BurnCtrl/interfaces/KestrineRecorder.h"
#include "foundation/LangText.h"
#include "BurnMana_SAO.h"
#include "DataSource_CloneFile.h"
#include "DataSource_Device.h"
#include "MediumTable.h"

namespace {

// Shared with the window thread: the stop flag and the two objects a stop or
// a progress query reaches, each published under the lock for exactly as
// long as it exists.
std::mutex gCopyLock;
std::atomic<bool> gStop{false};
DataSource_CloneFile* gMaking = nullptr;
BurnMana_SAO* gRunning = nullptr;
std::string gItem;
std::string gCopyFile;
std::string gError;
std::string gNotice;
std::vector<std::string> gRoots;
std::function<bool(int)> gBlankDiscRequest;

void Publish(DataSource_CloneFile* making, BurnMana_SAO* running, const std::string& item) {
  std::lock_guard<std::mutex> hold(gCopyLock);
  gMaking = making;
  gRunning = running;
  gItem = item;
  // A stop that came before the object was published still reaches it.
  if (gStop && making) making->GeneFile_SetStop(true);
  if (gStop && running) running->BurnStop();
}

int Failed(int code, const std::string& why) {
  std::lock_guard<std::mutex> hold(gCopyLock);
  gError = why;
  return code;
}

// The source drive refused READ CD: its Mode 1 sectors were read with
// READ (10) and rebuilt whole, which the user is told.
void NoteRebuilt(CDevCmdROM* source) {
  std::lock_guard<std::mutex> hold(gCopyLock);
  gNotice = source->GetDevicePath() +
            " refuses READ CD; its Mode 1 sectors were read with READ (10) and rebuilt (sync, header, EDC and ECC)";
}

CDevCmdRW* DeviceOf(Recorder* r) {
  auto* k = dynamic_cast<KestrineRecorder*>(r);
  return k ? k->Device() : nullptr;
}

std::vector<std::string> Roots() {
  {
    std::lock_guard<std::mutex> hold(gCopyLock);
    if (!gRoots.empty()) return gRoots;
  }
  std::vector<std::string> roots;
  if (const char* t = std::getenv("TMPDIR"); t && *t) roots.push_back(t);
  roots.push_back("/var/tmp");
  roots.push_back("/tmp");
  if (const char* c = std::getenv("XDG_CACHE_HOME"); c && *c) roots.push_back(c);
  return roots;
}

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

// The target ready, blank, erased when allowed. 1, or the failure.
int CheckTarget(int index, bool eraseAllowed) {
  Recorder* r = FindRecorder(index);
  if (!r) return result::kNoSuchDrive;
  bool ready = r->TestUnitReady() == 0;
  for (int poll = 0; !ready && poll < 120 && !gStop; ++poll) {
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
    Start(index);
    int e = BlankDisc();
    return e == result::kSuccess ? result::kSuccess : e;
  }
  return writable ? result::kTargetNotBlank : result::kTargetNotWritable;
}

// The source's last lead-out must fit the target's blank capacity less 1024.
int CheckSize(int index, DataSource& source) {
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

std::string NewCopyFileName(const std::string& root) {
  std::random_device rd;
  for (int i = 0; i < 100; ++i) {
    std::string p = root + "/Temp" + std::to_string(rd() % 100000000u) + ".bcl";
    if (!std::filesystem::exists(std::filesystem::symlink_status(p))) return p;
  }
  return "";
}

// Makes the copy file of the source disc; 1 with `made` set, or the failure.
int MakeCopyFile(CDevCmdRW* source, const std::string& path, std::string* made) {
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
    std::lock_guard<std::mutex> hold(gCopyLock);
    gCopyFile = target;
  }
  *made = target;
  return result::kSuccess;
}


// Writes every session of the source, the last one closed when `close`.
int Write(int targetIndex, DataSource& source, bool close) {
  if (!ClaimRecorder(targetIndex)) return result::kRecorderInUse;
  struct Release {
    int index;
    ~Release() { ReleaseRecorder(index); }
  } release{targetIndex};
  std::shared_ptr<Recorder> keep = ShareRecorder(targetIndex);
  CDevCmdRW* target = DeviceOf(keep.get());
  if (!target) return result::kNoSuchDrive;
  Start(targetIndex);
  uint16_t curRead = 0, curWrite = 0, maxRead = 0, maxWrite = 0;
  GetCdSpeeds(targetIndex, &curRead, &curWrite, &maxRead, &maxWrite);
  AtOnceJob job;
  job.closeLast = close;
  job.speed = maxWrite ? maxWrite : 0xFFFF;
  job.stopped = [] { return gStop.load(); };
  job.watch = [](BurnMana_SAO* running, int s, int sessions) {
    Publish(nullptr, running, running ? "Session " + std::to_string(s) + " of " + std::to_string(sessions) : "");
  };
  std::string why;
  const int r = WriteAtOnce(target, source, job, &why);
  if (r != result::kSuccess && r != result::kBurnStopped)
    return Failed(r, FindRecorder(targetIndex)->Name() + ": " + why);
  return r;
}

int CopyFromDrive(int sourceIndex, int targetIndex, const std::string& path) {
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
        std::lock_guard<std::mutex> hold(gCopyLock);
        request = gBlankDiscRequest;
      }
      if (request && !request(targetIndex)) return Failed(result::kBurnStopped, "no blank disc was inserted");
    }
    DataSource_CloneFile file(made.c_str());
    if (!file.GetFileInfo()) return Failed(result::kBadCopyFile, file.GetLastError());
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

int CopyFromFile(int targetIndex, const std::string& path) {
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

void ResetCopyState() {
  std::lock_guard<std::mutex> hold(gCopyLock);
  gStop = false;
  gError.clear();
  gNotice.clear();
  gItem.clear();
  gCopyFile.clear();
}

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

int DiscCopy(int sourceIndex, int targetIndex, const std::string& path) {
  ResetCopyState();
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

int SaveCopyFile(int sourceIndex, const std::string& path) {
  ResetCopyState();
  if (path.empty()) return result::kBadArguments;
  std::shared_ptr<Recorder> src;
  if (int res = CheckSource(sourceIndex, &src); res != result::kSuccess) return res;
  std::string made;
  return MakeCopyFile(DeviceOf(src.get()), path, &made);
}

int GetCopyProgress() {
  std::lock_guard<std::mutex> hold(gCopyLock);
  if (gRunning) return gRunning->GetBurnProgress();
  if (gMaking) return gMaking->GetGeneProgress();
  return 0;
}

std::string GetCopyItem() {
  std::lock_guard<std::mutex> hold(gCopyLock);
  if (gRunning) {
    char text[128];
    gRunning->GetCurrBurnFile(text, sizeof text);
    return gItem + (text[0] ? ": " + std::string(text) : "");
  }
  return gItem;
}

int StopCopy() {
  std::lock_guard<std::mutex> hold(gCopyLock);
  gStop = true;
  if (gMaking) gMaking->GeneFile_SetStop(true);
  if (gRunning) gRunning->BurnStop();
  return 0;
}

std::string CopyFilePath() {
  std::lock_guard<std::mutex> hold(gCopyLock);
  return gCopyFile;
}

std::string LastCopyError() {
  std::lock_guard<std::mutex> hold(gCopyLock);
  return gError;
}

std::string LastCopyNotice() {
  std::lock_guard<std::mutex> hold(gCopyLock);
  return gNotice;
}

void SetCopyFileRoots(const std::vector<std::string>& roots) {
  std::lock_guard<std::mutex> hold(gCopyLock);
  gRoots = roots;
}

void SetBlankDiscRequest(std::function<bool(int index)> request) {
  std::lock_guard<std::mutex> hold(gCopyLock);
  gBlankDiscRequest = std::move(request);
}

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
