#include "BurnCtrl/RecorderCommands.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <mutex>
#include <thread>

#include "BurnCtrl/AudioDataDisc.h"
#include "BurnCtrl/Results.h"
#include "BurnCtrl/SessionAtOnce.h"
#include "BurnCtrl/Verify.h"
#include "BurnMana_SAO.h"
#include "ByteFields.h"
#include "DataSource_Image.h"
#include "DevDeque.h"
#include "ImageFileDisc.h"
#include "ImageLayout.h"
#include "authoring/CFileManager.h"
#include "authoring/CMultiCD.h"
#include "BurnCtrl/interfaces/RecorderSectors.h"
#include "authoring/ProjectFile.h"
#include "authoring/StagingFolder.h"
#include "foundation/TempFiles.h"
#include "MmcCommands.h"
#include "SectorSizes.h"

namespace fs = std::filesystem;
using namespace rec;

namespace {

constexpr int kSlots = 32;
constexpr int kRemoteFrom = DevDeque::kFirstRemoteIndex;

// An entry of a drive's burn list. The list and the job that runs the burn
// share it, and it shares its recorder with the device list: a reset of the
// list or a removal of the drive while the burn runs frees nothing the burn
// uses.
struct BurnMultiInfo {
  std::unique_ptr<BurnFile> source;  // outlives its manager (declared first)
  std::unique_ptr<BurnMana> mana;
  std::shared_ptr<Recorder> recorder;
};

// A drive's copy of the project: its own staging folder and manager.
struct ProjectSlot {
  std::string root;
  CFileManager manager;
  void Empty() {
    if (!root.empty()) RemoveTree(root);
    root.clear();
  }
};

// The handle of one drive: its recorder and everything the command layer
// keeps of it between and during its jobs. A handle outlives its recorder's
// place in the device list, so that what the last job left stays readable.
struct DriveHandle {
  std::shared_ptr<Recorder> recorder;  // null while the drive is not listed
  // The job that has the drive (a burn, an erase, a copy, a video disc), from
  // its start to its end, also against our other programs. The steps inside
  // it (an erase before a copy, the eject for the blank disc) run on its
  // thread and nest.
  std::thread::id owner;
  int depth = 0;
  std::shared_ptr<Recorder> held;
  ProjectSlot slot;
  std::vector<std::shared_ptr<BurnMultiInfo>> burns;  // newest last
  BurnMana_SAO* atOnce = nullptr;  // a session-at-once writer while it runs
  std::vector<std::string> unreadable;  // sources the last job could not read
  std::string jobError;                 // why the last job failed, for the user
  bool stop = false;                    // the running job is asked to stop
};

// Every drive by index. One lock guards all handles; commands reach the
// drives outside it, except the quick hold of a job.
class DriveRegistry {
 public:
  std::mutex lock;
  DriveHandle& At(int index) { return drives_[index]; }  // under `lock`
  DriveHandle* Find(int index) {                          // under `lock`
    auto it = drives_.find(index);
    return it == drives_.end() ? nullptr : &it->second;
  }
  template <class F>
  void ForEach(F f) {  // under `lock`
    for (auto& [index, d] : drives_) f(index, d);
  }

 private:
  std::map<int, DriveHandle> drives_;
};

DriveRegistry gDrives;

void NoteJobError(int index, const std::string& why) {
  std::lock_guard<std::mutex> hold(gDrives.lock);
  gDrives.At(index).jobError = why;
}

bool StopAsked(int index) {
  std::lock_guard<std::mutex> hold(gDrives.lock);
  const DriveHandle* d = gDrives.Find(index);
  return d && d->stop;
}

// Settings the burns of this process are started with.
std::atomic<bool> gMultiRecorder{false};
std::atomic<time_t> gStampTime{0};
std::atomic<uint32_t> gStampSerial{0};
std::mutex gOutputFileLock;
std::string gOutputFile;  // write-to-file mode's target, "" when off
std::atomic<TraceHook> gTrace{nullptr};
std::mutex gTempLock;
std::vector<std::string> gTempFiles;

void Trace(const char* text) {
  if (TraceHook hook = gTrace.load()) hook(text);
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::shared_ptr<Recorder> FindShared(int index) {
  std::lock_guard<std::mutex> hold(gDrives.lock);
  const DriveHandle* d = gDrives.Find(index);
  return d ? d->recorder : nullptr;
}

bool TakeDrive(int index) {
  std::lock_guard<std::mutex> hold(gDrives.lock);
  DriveHandle& d = gDrives.At(index);
  if (d.depth > 0) {
    if (d.owner != std::this_thread::get_id()) return false;
    ++d.depth;
    return true;
  }
  // Another program of ours with a job on the drive: "in use", before any
  // command of ours could meet its burn halfway.
  if (d.recorder && !d.recorder->HoldForJob(true)) return false;
  d.owner = std::this_thread::get_id();
  d.depth = 1;
  d.held = d.recorder;
  return true;
}

void GiveDriveBack(int index) {
  std::lock_guard<std::mutex> hold(gDrives.lock);
  DriveHandle* d = gDrives.Find(index);
  if (!d || d->depth == 0 || --d->depth > 0) return;
  if (d->held) d->held->HoldForJob(false);
  d->held.reset();
  d->owner = {};
}

// A burn or an erase has a drive to itself; anything else that would change
// the disc or the tray meanwhile is refused.
class DriveClaim {
 public:
  explicit DriveClaim(int index) : index_(index), claimed_(TakeDrive(index)) {}
  ~DriveClaim() {
    if (claimed_) GiveDriveBack(index_);
  }
  bool ok() const { return claimed_; }

 private:
  int index_;
  bool claimed_ = false;
};

// Whether a job other than the caller's has the drive.
bool InUse(int index) {
  std::lock_guard<std::mutex> hold(gDrives.lock);
  const DriveHandle* d = gDrives.Find(index);
  return d && d->depth > 0 && d->owner != std::this_thread::get_id();
}

// Connects a remote drive for the length of one operation, and keeps the
// recorder alive for that length even when it leaves the device list.
class DriveUse {
 public:
  explicit DriveUse(int index) : recorder_(FindShared(index)) {
    if (recorder_ && index >= kRemoteFrom) {
      connected_ = recorder_->ConnectServerDevice();
      remote_ = true;
    }
  }
  ~DriveUse() {
    if (remote_ && connected_) recorder_->CloseServerDevice();
  }
  // 1, or the result that ends the operation.
  int Check() const { return !recorder_ ? result::kNoSuchDrive : (remote_ && !connected_) ? result::kRemoteUnreachable : 1; }
  Recorder* operator->() const { return recorder_.get(); }
  Recorder* get() const { return recorder_.get(); }
  const std::shared_ptr<Recorder>& shared() const { return recorder_; }

 private:
  std::shared_ptr<Recorder> recorder_;
  bool remote_ = false, connected_ = false;
};

int LabelIndex(const std::string& label) { return DevDeque::IndexOfLabel(label); }

bool AllZero(const uint8_t* p, size_t n) {
  return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

// Where the disc's last data session starts, and whether there is one.
bool LastSessionStart(Recorder* r, uint32_t* start) {
  const int m = r->GetMediumType();
  if (::medium::IsOverwritable(m)) {
    // The anchor at 256 names the newest session's descriptor sequence.
    uint8_t s[kDataSectorSize];
    if (r->ReadCD_Data(256, s, 1) == 0 && bytes::LE16(s) == 2) {
      uint32_t main = bytes::LE32(s + 20);
      *start = main >= 32 ? main - 32 : 0;
      return true;
    }
    *start = 0;
    return r->JudgeFileSystem(0) != 0;
  }
  DiscInfo info;
  if (r->ReadDiscInfo(info) != 0 || info.discStatus == 0) return false;
  int lastSession = 0;
  uint32_t first = 0;
  for (int t = 1; t < 100; ++t) {
    TrackInfo ti;
    if (r->ReadTrackInfo(t, ti) != 0 || ti.blank) break;
    if (ti.trackMode < 4) continue;  // audio
    if (ti.sessionNumber != lastSession) {
      lastSession = ti.sessionNumber;
      first = ti.trackStart;
    }
  }
  if (lastSession == 0) return false;
  *start = first;
  return true;
}

// Free sectors of the disc for a new session starting at `sessionStart`; 0
// also when the drive cannot tell (`known` false then).
uint32_t FreeSectors(Recorder* r, uint32_t sessionStart, bool* known = nullptr) {
  uint32_t blank = 0;
  if (known) *known = true;
  if (r->GetBlackDiscCapacity(blank) != 0) {
    if (known) *known = false;
    return 0;
  }
  const int m = r->GetMediumType();
  if (!::medium::IsOverwritable(m)) return blank;
  uint32_t capacity = 0;
  r->JudgeIsFormated(capacity);
  if (capacity == 0) capacity = blank;
  return capacity > sessionStart ? capacity - sessionStart : 0;
}

// Where the next session of an overwritable disc would start: behind the
// volume its last session holds.
uint32_t NextOverwritableSession(Recorder* r) {
  uint32_t last = 0, next = 0;
  if (LastSessionStart(r, &last)) {
    RecorderSectors disc(r);
    CMultiCD probe(&disc, "", [](const std::string&, const std::string&) { return false; });
    probe.Import(last, false, &next);
  }
  return next;
}

bool CopyStagingTree(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  return !ec;
}

struct JobSpec {
  enum Kind { kImage, kProject, kAudio } kind = kProject;
  int index = 0;
  std::string imagePath;
  std::string stagingRoot;  // project mode
  std::string label;
  int mp3 = 0;
  int discKind = 1;
  uint32_t sessionStart = 0;
  std::vector<std::string> audioTracks;
  BurnOptions options;
};

// A drive that is becoming ready, or still busy with a long write or a
// format, answers "not ready" for a while: it is waited for within the
// bound every other wait on a drive has. False when it never became ready.
bool WaitForDrive(int index, Recorder* r) {
  for (int i = 0; i < BurnMana::kReadyPolls && !StopAsked(index); ++i) {
    if (r->TestUnitReady() == 0) return true;
    const Sense s = r->LastSense();
    if (!(s.key == 2 && s.asc == 4 && (s.ascq == 1 || s.ascq == 7 || s.ascq == 8))) return false;
    Sleep(100);
  }
  return false;
}

std::string NotReadyText(Recorder* r) { return r->Name() + ": not ready (" + r->LastSense().Text() + ")"; }

// After a job that ended early: the job's own result is what the user is
// told; a drive that stays locked is not a second failure.
void FinishUnlocked(Recorder* r) {
  (void)r->Lock(false);
  (void)r->LockVolumn(false);
}

// 1. The burn job (the project saved to a temporary file) and its source.
int MakeJobSource(const JobSpec& spec, const TempFile& job, std::unique_ptr<BurnFile>* source) {
  if (spec.kind == JobSpec::kImage) {
    auto image = std::make_unique<BurnFileImage>(spec.imagePath);
    if (!image->Load()) return NoteJobError(spec.index, image->LastError()), result::kNothingDone;
    *source = std::move(image);
    return result::kSuccess;
  }
  if (!job.ok()) return result::kProjectNotWritten;
  std::string error;
  if (spec.kind == JobSpec::kAudio) {
    if (!SaveAudioProject(job.path(), spec.audioTracks, &error, Existing::kReplace))
      return NoteJobError(spec.index, error), result::kProjectNotWritten;
  } else {
    CFileManager writer;
    writer.SetMode(spec.mp3 ? CFileManager::kModeMp3 : CFileManager::kModeData);
    writer.SetDiscOptions(spec.options.discOptions);
    if (!writer.SaveDataProject(spec.stagingRoot, job.path(), spec.label, &error, Existing::kReplace))
      return NoteJobError(spec.index, error), result::kProjectNotWritten;
  }
  auto project = std::make_unique<BurnFileProject>(job.path(), spec.stagingRoot, spec.discKind);
  project->SetBuildStamp(gStampTime, gStampSerial);
  project->SetBoot(spec.options.boot);
  if (!project->Load()) return NoteJobError(spec.index, project->LastError()), result::kProjectUnreadable;
  *source = std::move(project);
  return result::kSuccess;
}

// 2. The burn-list entry: the manager, its source and its recorder, shared
// so that a recorder removed during its burn lives until the burn is over.
BurnMana* RegisterBurn(const JobSpec& spec, const std::shared_ptr<Recorder>& recorder,
                       std::unique_ptr<BurnFile> source, std::shared_ptr<BurnMultiInfo>* entry) {
  BurnOptions options = spec.options;
  options.multiRecorder = gMultiRecorder;
  {
    std::lock_guard<std::mutex> hold(gOutputFileLock);
    options.outputFile = gOutputFile;
  }
  auto info = std::make_shared<BurnMultiInfo>();
  BurnFile* src = source.get();
  info->source = std::move(source);
  info->mana = std::make_unique<BurnMana>(recorder.get(), src, options);
  info->recorder = recorder;
  BurnMana* mana = info->mana.get();
  *entry = info;
  std::lock_guard<std::mutex> hold(gDrives.lock);
  gDrives.At(spec.index).burns.push_back(std::move(info));
  return mana;
}

// 3. A closed disc takes nothing more; an appended DVD-R DL needs its layer
// values.
int CheckDiscTakesSession(Recorder* r, const BurnMana& mana, int medium) {
  DiscInfo disc;
  if (mana.OutputFile().empty() && !::medium::IsOverwritable(medium) && r->ReadDiscInfo(disc) == 0) {
    if (disc.discStatus == 2) return result::kDiscClosed;
    // A session that a stopped or failed burn left open: a session behind it
    // would "succeed" while every reader still finds the broken tree first.
    if (disc.discStatus == 1 && disc.lastSessionState == 1) return result::kSessionUnfinished;
  }
  return result::kSuccess;
}

int ReadLayerValues(const JobSpec& spec, Recorder* r, int medium, BurnFile* src, uint32_t* layer0,
                    uint32_t* lastTrackValue) {
  *layer0 = *lastTrackValue = 0;
  if (!spec.options.multiSession || (medium != kDvdRDl && medium != kDvdRDlJump)) return result::kSuccess;
  uint8_t s[8];
  uint32_t next = 0;
  DiscInfo disc;
  TrackInfo ti;
  if (r->GetNextWriteAdd(next) != 0 || r->ReadDVDStruct(0x20, s, sizeof s) != 0 || r->ReadDiscInfo(disc) != 0 ||
      r->ReadTrackInfo(disc.lastTrackLastSession, ti) != 0)
    return result::kBeginLayerFailed;
  *layer0 = bytes::BE32(s + 4);
  *lastTrackValue = ti.trackSize ? ti.trackSize - 1 : 0;
  src->SetLayerValues(*layer0, *lastTrackValue);
  return result::kSuccess;
}

// 4. First pass: does it fit?
int CheckJobFits(const JobSpec& spec, Recorder* r, const BurnMana& mana, int medium, BurnFile* src) {
  uint64_t total = 0;
  for (int s = src->FirstSession(); s <= src->LastSession(); ++s) {
    if (!src->OpenSession(s)) return result::kProjectUnreadable;
    for (int t = src->FirstTrack(); t <= src->LastTrack(); ++t) {
      uint32_t at = spec.sessionStart;
      if (!::medium::IsOverwritable(medium) && r->GetNextWriteAdd(at) != 0)
        return NoteJobError(spec.index, NotReadyText(r)), result::kNotReady;
      if (!src->OpenTrack(t, at)) return NoteJobError(spec.index, src->LastError()), result::kLayoutFailed;
      total += src->GetTrackLength();
      src->CloseTrack();
    }
  }
  if (mana.OutputFile().empty()) {
    bool known = true;
    const uint32_t free = FreeSectors(r, spec.sessionStart, &known);
    // A drive that cannot tell its free space is not ready; that is not a
    // project that does not fit.
    if (!known) return NoteJobError(spec.index, NotReadyText(r)), result::kNotReady;
    if (total > free) return result::kDoesNotFit;
  }
  return result::kSuccess;
}

// 5. Second pass: burn, track by track.
int BurnTracks(const JobSpec& spec, Recorder* r, BurnMana* mana, BurnFile* src, uint32_t layer0,
               uint32_t lastTrackValue) {
  uint32_t writtenSoFar = 0;
  for (int s = src->FirstSession(); s <= src->LastSession() && !StopAsked(spec.index); ++s) {
    if (!src->OpenSession(s)) return result::kProjectUnreadable;
    for (int t = src->FirstTrack(); t <= src->LastTrack() && !StopAsked(spec.index); ++t) {
      const bool prepared = spec.kind == JobSpec::kImage
                                ? mana->PrepareImageTrack(s, t)
                                : mana->PrepareProjectTrack(s, t, spec.discKind, spec.sessionStart, layer0,
                                                            lastTrackValue);
      if (!prepared)
        return writtenSoFar ? result::kWriteFailed : result::kNothingDone;
      if (spec.options.testWrite) mana->SetTestWrite();
      if (int begin = mana->BurnBegin()) {
        FinishUnlocked(r);
        return writtenSoFar ? result::kWriteFailed : begin;
      }
      mana->StartBurn();
      mana->WaitUntilBurnOver();
      // A track that was stopped short is never closed as if it were whole.
      const bool cutShort = mana->GetWritten() < mana->GetTrackLength();
      if (mana->GetStatus() != result::kSuccess || cutShort) {
        mana->StopBurn();
        mana->WaitForThreads();
        src->CloseTrack();
        FinishUnlocked(r);
        return mana->GetStatus() != result::kSuccess ? mana->GetStatus() : result::kBurnStopped;
      }
      writtenSoFar += mana->GetWritten();
      mana->BurnEnd();
      if (mana->GetStatus() != result::kSuccess) return mana->GetStatus();
    }
  }
  if (StopAsked(spec.index)) return result::kBurnStopped;
  return mana->GetStatus();
}

int RunJobSteps(const JobSpec& spec, const std::shared_ptr<Recorder>& shared,
                std::shared_ptr<BurnMultiInfo>* entry) {
  Recorder* r = shared.get();
  TempFile job("bcd");  // lives until the job is over
  std::unique_ptr<BurnFile> source;
  if (int res = MakeJobSource(spec, job, &source); res != result::kSuccess) return res;
  BurnFile* src = source.get();
  BurnMana* mana = RegisterBurn(spec, shared, std::move(source), entry);
  // A drive that is not ready yet is waited for.
  if (!WaitForDrive(spec.index, r)) return NoteJobError(spec.index, NotReadyText(r)), result::kNotReady;
  const int medium = r->GetMediumType();
  if (int res = CheckDiscTakesSession(r, *mana, medium); res != result::kSuccess) return res;
  uint32_t layer0 = 0, lastTrackValue = 0;
  if (int res = ReadLayerValues(spec, r, medium, src, &layer0, &lastTrackValue); res != result::kSuccess) return res;
  if (int res = CheckJobFits(spec, r, *mana, medium, src); res != result::kSuccess) return res;
  return BurnTracks(spec, r, mana, src, layer0, lastTrackValue);
}

// A stop asked before the job began belonged to the drive's last job.
void BeginJob(int index) {
  std::lock_guard<std::mutex> hold(gDrives.lock);
  DriveHandle& d = gDrives.At(index);
  d.stop = false;
  d.jobError.clear();
}

int RunJob(const JobSpec& spec, const std::shared_ptr<Recorder>& r) {
  BeginJob(spec.index);
  std::shared_ptr<BurnMultiInfo> entry;
  int res;
  try {
    res = RunJobSteps(spec, r, &entry);
  } catch (...) {
    res = result::kException;
  }
  if (!entry) {
    (void)r->JobEnded(false);  // nothing was written that could be kept
    return res;
  }
  // Whatever way the job ended, its threads are over and the layout's
  // temporary files go now, not when the entry is reset.
  entry->mana->StopBurn();
  entry->mana->WaitForThreads();
  entry->source->Release();
  // A source that went missing while it was burnt makes a bad disc, however
  // well the drive wrote.
  std::vector<std::string> lost = entry->source->UnreadableSources();
  std::lock_guard<std::mutex> hold(gDrives.lock);
  DriveHandle& drive = gDrives.At(spec.index);
  drive.unreadable = lost;
  if (res == result::kSuccess && !lost.empty()) res = result::kSourceUnreadable;
  // The user is told which command of which drive failed, and how.
  std::string& why = drive.jobError;
  if (r->JobEnded(res == result::kSuccess) != 0 && res == result::kSuccess) {
    res = result::kOutputFailed;
    why = r->Name() + ": the written disc could not be kept (" + r->LastSense().Text() + ")";
  }
  if (res != result::kSuccess && why.empty()) why = entry->mana->GetFailure();
  return res;
}

}  // namespace

// ------------------------------------------------------------ device list

void AddRecorder(std::shared_ptr<Recorder> recorder) {
  const int index = recorder->GetDeviceID();
  std::lock_guard<std::mutex> hold(gDrives.lock);
  gDrives.At(index).recorder = std::move(recorder);
}

void RemoveRecorder(int index) {
  ResetBurn(index);
  std::lock_guard<std::mutex> hold(gDrives.lock);
  if (DriveHandle* d = gDrives.Find(index)) d->recorder.reset();
}

std::shared_ptr<Recorder> ShareRecorder(int index) { return FindShared(index); }

bool ClaimRecorder(int index) { return TakeDrive(index); }

void ReleaseRecorder(int index) { GiveDriveBack(index); }

Recorder* FindRecorder(int index) { return FindShared(index).get(); }

int FirstFreeRecorderIndex(int from) {
  // Local drives stay below the remote ones; remote drives take theirs.
  const int end = from >= kRemoteFrom ? kSlots + 1 : kRemoteFrom;
  for (int i = from; i < end; ++i)
    if (!FindRecorder(i)) return i;
  return -1;
}

std::string DriveLabel(int index) { return DevDeque::DriveLetter(index); }

// ------------------------------------------------------------ questions

int GetDiscInfo(int index, bool* blank, bool* writable, int* medium, medium::DiscState* state) {
  Trace("<----GetDiscInfo---->");
  DriveUse r(index);
  if (int c = r.Check(); c != 1) return c;
  if (r->TestUnitReady() != 0) return result::kNotReady;
  const int m = r->GetMediumType();
  *medium = m;
  DiscInfo info;
  const bool known = r->ReadDiscInfo(info) == 0;
  if (::medium::IsOverwritable(m)) {
    uint8_t s[kDataSectorSize];
    *blank = true;
    for (uint32_t lba : {16u, 256u, 512u})
      if (r->ReadCD_Data(lba, s, 1) == 0 && !AllZero(s, sizeof s)) *blank = false;
  } else {
    *blank = known && (info.discStatus & 3) == 0;
  }
  const ::medium::DiscState st = ::medium::StateOf(m, *blank, known ? info.discStatus : 0, known ? info.lastSessionState : 0);
  *writable = ::medium::TakesData(st);
  if (state) *state = st;
  Trace("<----GetDiscInfo end---->");
  return result::kSuccess;
}

namespace {

// How much of a disc that is not blank holds data: behind the last session's
// volume on overwritable media, up to the next writable address on an open
// disc (also one a stopped burn left unfinished, whose open track would
// otherwise count as filling the disc), to the end of the last track on a
// closed one.
uint64_t UsedBytes(Recorder* r, bool overwritable, bool open, uint32_t overwritableEnd) {
  if (overwritable) return uint64_t(overwritableEnd) * kDataSectorSize;
  uint32_t next = 0;
  if (open && r->GetNextWriteAdd(next) == 0 && next > 0) return uint64_t(next) * kDataSectorSize;
  DiscInfo info;
  TrackInfo last;
  if (r->ReadDiscInfo(info) == 0 && r->ReadTrackInfo(info.lastTrackLastSession, last) == 0)
    return (uint64_t(last.trackStart) + last.trackSize) * kDataSectorSize;
  return 0;
}

}  // namespace

int GetDiscInfoEx(int index, bool* blank, bool* writable, int* medium, uint64_t* freeBytes, uint64_t* usedBytes,
                  medium::DiscState* state) {
  *freeBytes = 0;
  if (usedBytes) *usedBytes = 0;
  int res = GetDiscInfo(index, blank, writable, medium, state);
  const bool wantUsed = usedBytes && !*blank;
  if (res != result::kSuccess || (!*writable && !wantUsed)) return res;
  DriveUse r(index);
  if (int c = r.Check(); c != 1) return *writable ? c : res;  // the used bytes alone never fail the call
  // The end of an overwritable disc's last volume is read once, for both
  // figures: it means importing that session's tree.
  const bool overwritable = ::medium::IsOverwritable(*medium);
  const uint32_t start = overwritable && !*blank ? NextOverwritableSession(r.get()) : 0;
  if (wantUsed) {
    DiscInfo disc;
    const bool open = *writable || (r->ReadDiscInfo(disc) == 0 && disc.discStatus == 1);
    *usedBytes = UsedBytes(r.get(), overwritable, open, start);
  }
  if (!*writable) return res;
  DiscInfo info;
  if (!overwritable && r->ReadDiscInfo(info) == 0 && info.discStatus == 2) return res;
  *freeBytes = uint64_t(FreeSectors(r.get(), start)) * kDataSectorSize;
  return res;
}

int GetCdSpeeds(int index, uint16_t* curRead, uint16_t* curWrite, uint16_t* maxRead, uint16_t* maxWrite,
                uint16_t* lowWrite, uint16_t* secondWrite) {
  Trace("<----GetCdSpeeds ---->");
  DriveUse r(index);
  if (int c = r.Check(); c != 1) return c;
  if (r->TestUnitReady() != 0) return result::kNotReady;
  const int m = r->GetMediumType();
  const uint16_t unit = (m == kCdR || m == kCdRw) ? 176 : 1385;
  std::vector<uint8_t> page(1024);
  CAPABILITIES_PAGE caps;
  if (r->ModeSense(mmc::kPageCapabilities, page.data(), uint32_t(page.size())) != 0 ||
      !caps.Parse(page.data() + 8, page.size() - 8))
    return result::kNothingDone;
  *curRead = caps.CurrentReadSpeed;
  *curWrite = caps.CurrentWriteSpeed;
  *maxRead = caps.MaxReadSpeed;
  const CAPABILITIES_PAGE::SpeedChoice choice = caps.WriteSpeedChoice(unit);
  *maxWrite = choice.Max;
  *lowWrite = choice.Low;
  *secondWrite = choice.Second;
  Trace("<----GetCdSpeeds end---->");
  return result::kSuccess;
}

int GetCdSpeeds(int index, uint16_t* curRead, uint16_t* curWrite, uint16_t* maxRead, uint16_t* maxWrite) {
  uint16_t low, second;
  return GetCdSpeeds(index, curRead, curWrite, maxRead, maxWrite, &low, &second);
}

int EjectDisc(int index) {
  DriveUse r(index);
  if (int c = r.Check(); c != 1) return c;
  if (InUse(index)) return result::kRecorderInUse;
  (void)r->Lock(false);  // a drive that keeps its lock refuses the eject, which is told
  return r->Eject(true) == 0 ? result::kSuccess : result::kNothingDone;
}

// ------------------------------------------------------------ erase

namespace {

// Overwrites the start of the disc, where readers look for a file system.
// The erase is only done when every write, the flush and the close went
// through: a start that is still readable is a disc that was not erased.
// `failed` names the command that did not.
bool ClearDiscStart(Recorder* r, bool closeAfter, std::string* failed) {
  if (r->LockVolumn(true) != 0) {
    *failed = "another program is using the drive (" + r->LastSense().Text() + ")";
    return false;
  }
  std::vector<uint8_t> zeros(32 * kDataSectorSize, 0);
  int failures = 0;
  for (uint32_t lba = 0; lba <= 1600; lba += 32) {
    if (r->Write(lba, zeros.data(), uint32_t(zeros.size()), 32) != 0) {
      if (failed->empty()) *failed = "WRITE at sector " + std::to_string(lba) + " failed (" + r->LastSense().Text() + ")";
      if (++failures >= 5) break;
    }
  }
  if (r->SynCache() != 0 && failed->empty())
    *failed = "SYNCHRONIZE CACHE failed (" + r->LastSense().Text() + ")";
  for (int i = 0; i < 3000 && r->TestUnitReady() != 0; ++i) Sleep(200);
  if (closeAfter) {
    if (r->CloseSession(0) != 0 && failed->empty())
      *failed = "CLOSE SESSION failed (" + r->LastSense().Text() + ")";
    for (int i = 0; i < 3000 && r->TestUnitReady() != 0; ++i) Sleep(200);
  }
  (void)r->LockVolumn(false);  // the erase itself is judged above
  return failed->empty();
}

}  // namespace

int BlankDisc(int index) {
  Trace("<----BlankDisc---->");
  DriveUse r(index);
  if (int c = r.Check(); c != 1) return c;
  DriveClaim claim(index);
  if (!claim.ok()) return result::kRecorderInUse;
  const int kind = r->GetDevType();
  if (kind == 0 || kind == 2 || r->GetDeviceID() == 0) return result::kCannotErase;
  if (r->TestUnitReady() != 0) return result::kNotReady;
  NoteJobError(index, "");
  auto failedWith = [&](const std::string& what) {
    NoteJobError(index, r->Name() + ": " + what);
    return result::kEraseFailed;
  };
  auto commandFailed = [&](const char* command) {
    return failedWith(std::string(command) + " failed (" + r->LastSense().Text() + ")");
  };
  std::string failed;
  const int m = r->GetMediumType();
  if (m == kCdRw || IsDvdRw(m)) {
    if (r->Blank(1) != 0) return commandFailed("BLANK");
  } else if (m == kDvdPlusRw) {
    if (r->FormatUnit(0xFFFFFFFF, 38, 0) != 0) return commandFailed("FORMAT UNIT");
    if (!ClearDiscStart(r.get(), true, &failed)) return failedWith(failed);
  } else if (m == kDvdRam) {
    if (!ClearDiscStart(r.get(), false, &failed)) return failedWith(failed);
  } else if (m == kBdRe) {
    uint32_t capacity = 0;
    r->JudgeIsFormated(capacity);
    if (r->FormatUnit(capacity, 0, kDataSectorSize) != 0) return commandFailed("FORMAT UNIT");
    if (!ClearDiscStart(r.get(), false, &failed)) return failedWith(failed);
  } else {
    return result::kCannotErase;
  }
  for (int i = 0; i < 36000 && r->TestUnitReady() != 0; ++i) Sleep(i == 0 ? 1000 : 100);
  Trace("<----BlankDisc end---->");
  return result::kSuccess;
}

// ------------------------------------------------------------ burning

namespace {

// Under the registry's lock.
void StopHandle(DriveHandle& d) {
  d.stop = true;
  for (auto& b : d.burns) b->mana->StopBurn();
  if (d.atOnce) d.atOnce->BurnStop();
}

}  // namespace

int AbortWrite(int index) {
  std::lock_guard<std::mutex> hold(gDrives.lock);
  if (DriveHandle* d = gDrives.Find(index)) StopHandle(*d);
  StopVerify(index);
  return result::kSuccess;
}

int AbortWrite() {
  Trace("<----AbortWrite---->");
  std::lock_guard<std::mutex> hold(gDrives.lock);
  gDrives.ForEach([](int, DriveHandle& d) { StopHandle(d); });
  StopVerify(-1);
  Trace("<----AbortWrite end---->");
  return result::kSuccess;
}

void SetMultiRecorderMode(bool on) { gMultiRecorder = on; }

void SetLayoutStamp(time_t when, uint32_t serial) {
  gStampSerial = serial;
  gStampTime = when;
}

void SetWriteToFile(const std::string& path) {
  std::lock_guard<std::mutex> hold(gOutputFileLock);
  gOutputFile = path;
}
void SetTraceHook(TraceHook hook) { gTrace = hook; }

namespace {
int WriteSessionAtOnce(int index, DataSource& source, const AtOnceOptions& options);
}  // namespace

int BurnSessionAtOnce(int index, DataSource& source, const AtOnceOptions& options) {
  // A test write leaves nothing on the disc to read back.
  if (!options.verify || options.testWrite) return WriteSessionAtOnce(index, source, options);
  VerifyOptions verify;
  verify.stopped = options.stopped;
  VerifyOutcome outcome;
  const int r = BurnAndVerify(index, [&] { return WriteSessionAtOnce(index, source, options); }, verify, &outcome);
  if (outcome.Failed() || outcome.state == VerifyOutcome::kStopped) NoteJobError(index, VerifyText(outcome));
  if (options.verified) options.verified(outcome);
  return r;
}

namespace {
int WriteSessionAtOnce(int index, DataSource& source, const AtOnceOptions& options) {
  DriveUse r(index);
  if (int c = r.Check(); c != 1) return c;
  DriveClaim claim(index);
  if (!claim.ok()) return result::kRecorderInUse;
  BeginJob(index);
  CDevCmdRW* device = r->Device();
  if (!device) {
    (void)r->JobEnded(false);  // nothing was written
    return NoteJobError(index, r->Name() + " keeps the data of Mode 1 tracks only; " + options.what +
                                   " is written a session at once onto a disc"),
           result::kNothingDone;
  }
  if (!WaitForDrive(index, r.get())) return NoteJobError(index, NotReadyText(r.get())), result::kNotReady;
  if (options.needed > 0) {
    uint32_t capacity = 0;
    if (r->GetBlackDiscCapacity(capacity) != 0)
      return NoteJobError(index, r->Name() + ": the disc's capacity is unknown (" + r->LastSense().Text() + ")"),
             result::kNotReady;
    if (capacity > 0 && options.needed > int64_t(capacity))
      return NoteJobError(index, options.what + " needs " + std::to_string(options.needed) +
                                     " sectors; the disc holds " + std::to_string(capacity)),
             result::kDoesNotFit;
  }
  AtOnceJob job;
  job.testWrite = options.testWrite;
  job.closeLast = options.closeLast;
  job.speed = options.speed;
  job.progress = options.progress;
  job.stopped = [&] { return StopAsked(index) || (options.stopped && options.stopped()); };
  job.watch = [&](BurnMana_SAO* running, int session, int sessions) {
    {
      std::lock_guard<std::mutex> hold(gDrives.lock);
      DriveHandle& d = gDrives.At(index);
      d.atOnce = running;
      // A stop that came before the writer was known still reaches it.
      if (running && d.stop) running->BurnStop();
    }
    if (running && options.stopped && options.stopped()) running->BurnStop();
    if (options.watch) options.watch(running, session, sessions);
  };
  std::string why;
  const int res = WriteAtOnce(device, source, job, &why);
  if (res != result::kSuccess && !why.empty()) NoteJobError(index, r->Name() + ": " + why);
  // A drive keeps what it wrote; a file standing for a disc is put in place
  // only after a complete job.
  if (r->JobEnded(res == result::kSuccess) != 0 && res == result::kSuccess)
    return NoteJobError(index, r->Name() + ": the written disc could not be kept (" + r->LastSense().Text() + ")"),
           result::kOutputFailed;
  return res;
}

// An image made for CD (a sheet or NRG chunks say what each track is) is
// written a session at once, exactly as it describes the disc. Everything
// it names is checked before the recorder is asked anything.
// `closeDisc` false leaves the disc open for a session behind the image's,
// which takes `sectorsAfter` more sectors of the disc.
int WriteImageAtOnce(int index, Recorder* r, const std::string& imagePath, ImageLayout layout, bool testWrite,
                     bool closeDisc = true, int64_t sectorsAfter = 0) {
  // The job begins here, before the wait for the drive: a stop left from
  // the drive's last job must not end this one as "not ready".
  BeginJob(index);
  DataSource_Image source(std::move(layout));
  if (!source.Load()) return NoteJobError(index, imagePath + ": " + source.GetLastError()), result::kNothingDone;
  if (!WaitForDrive(index, r)) return NoteJobError(index, NotReadyText(r)), result::kNotReady;
  if (!::medium::IsCd(r->GetMediumType()))
    return NoteJobError(index, imagePath + " describes a CD; the disc in " + r->Name() + " is no CD"),
           result::kTargetNotWritable;
  // The image's first track begins at the start of the disc.
  DiscInfo disc;
  if (r->ReadDiscInfo(disc) == 0 && disc.discStatus != 0)
    return NoteJobError(index, imagePath + " is written a session at once onto a blank CD"), result::kTargetNotBlank;
  AtOnceOptions options;
  options.testWrite = testWrite;
  options.closeLast = closeDisc;
  options.needed = source.Layout().sessions.back().LeadOut() + sectorsAfter;
  options.what = imagePath;
  return BurnSessionAtOnce(index, source, options);
}

bool PlainImageTarget(Recorder* r) {
  const std::string name = r->Name();
  return !r->Device() || (name.rfind("image:", 0) == 0 && !ImageFileDisc::KeepsWholeSectors(name.substr(6)));
}

bool AllMode1Data(const ImageLayout& layout) {
  return std::all_of(layout.tracks.begin(), layout.tracks.end(),
                     [](const DiscTrack& t) { return t.mode == cdsector::Mode::Mode1; });
}

}  // namespace

int WriteImageToCD(int index, const std::string& imagePath, bool testWrite, bool trackAtOnce) {
  DriveUse r(index);
  if (int c = r.Check(); c != 1) return c;
  DriveClaim claim(index);
  if (!claim.ok()) return result::kRecorderInUse;
  ImageLayout layout;
  std::string unread;
  // A plain image file keeps the user data of Mode 1 sectors, which the
  // track writer gives it; audio and Mode 2 need a target that keeps whole
  // sectors (a disc, or an image named .cue).
  const bool plainFile = PlainImageTarget(r.get());
  // Every session of an image is written a session at once, the disc left
  // open between them, unless the user asks for track by track.
  if (!trackAtOnce && ReadImageLayout(imagePath, layout, &unread) && layout.fromSheet && layout.cd &&
      !(plainFile && AllMode1Data(layout))) {
    if (plainFile)
      return NoteJobError(index, r->Name() + " keeps the data of Mode 1 tracks only; " + imagePath +
                                     " holds audio or Mode 2 tracks: name a .cue file to keep them"),
             result::kNothingDone;
    return WriteImageAtOnce(index, r.get(), imagePath, std::move(layout), testWrite);
  }
  JobSpec spec;
  spec.kind = JobSpec::kImage;
  spec.index = index;
  spec.imagePath = imagePath;
  spec.options.testWrite = testWrite;
  int res = RunJob(spec, r.shared());
  Trace("<----WriteImageToCD end---->");
  return res;
}

int WriteCd(int index, const std::string& projectFolder, const std::string& label, int mp3, bool testWrite,
            bool multiSession, bool eject, uint8_t discOptions, const eltorito::BootOptions& boot) {
  DriveUse r(index);
  if (int c = r.Check(); c != 1) return c;
  if (index < 0 || index > kSlots) return result::kNoSuchDrive;
  DriveClaim claim(index);
  if (!claim.ok()) return result::kRecorderInUse;
  NoteJobError(index, "");
  const int medium = r->GetMediumType();
  // 2. The drive's own copy of the project, removed again on every way out.
  {
    std::lock_guard<std::mutex> hold(gDrives.lock);
    ProjectSlot& slot = gDrives.At(index).slot;
    slot.Empty();
    slot.root = MakeStagingRoot();
    if (slot.root.empty()) return result::kLayoutFailed;
    slot.manager.SetStagingRoot(slot.root);
    slot.manager.SetMode(mp3 ? CFileManager::kModeMp3 : CFileManager::kModeData);
    if (!projectFolder.empty() && !CopyStagingTree(projectFolder, slot.root)) {
      slot.Empty();
      return result::kSourceMissing;
    }
  }
  struct SlotCleanup {
    int index;
    ~SlotCleanup() {
      std::lock_guard<std::mutex> hold(gDrives.lock);
      gDrives.At(index).slot.Empty();
    }
  } cleanup{index};
  std::string root = DriveProjectRoot(index);

  // 3. An appendable disc: its last session becomes part of the project.
  // An overwritable disc is only appended to when asked; otherwise the new
  // volume replaces whatever it holds, as on a blank disc, and its free
  // space is the whole disc.
  uint32_t sessionStart = 0;
  if (index >= 1) {
    uint32_t last = 0;
    DiscInfo info;
    const bool overwritable = ::medium::IsOverwritable(medium);
    bool appendable = overwritable ? multiSession : (r->ReadDiscInfo(info) == 0 && info.discStatus == 1);
    if (appendable && LastSessionStart(r.get(), &last)) {
      RecorderSectors disc(r.get());
      CMultiCD import(&disc, root, [&](const std::string& descriptor, const std::string& folder) {
        return AddDriveProjectPath(index, descriptor, folder, mp3, "") == result::kSuccess;
      });
      uint32_t next = 0;
      if (!import.Import(last, mp3 != 0, &next)) {
        NoteJobError(index, "the disc's last session cannot be imported: " + import.Error());
        return result::kLayoutFailed;
      }
      if (::medium::IsOverwritable(medium)) sessionStart = next;
    }
    // A disc whose sessions hold only audio (an Enhanced CD's first) has no
    // volume to carry over; the new session still begins where the disc can
    // be written, and the job is told so as for any appended session.
    if (appendable && !overwritable && r->GetNextWriteAdd(sessionStart) != 0) return result::kDiscClosed;
  } else if (multiSession && index == 0) {
    return result::kNoSuchDrive;
  }

  JobSpec spec;
  spec.kind = JobSpec::kProject;
  spec.index = index;
  spec.stagingRoot = root;
  spec.label = label;
  spec.mp3 = mp3;
  spec.discKind = IsCd(medium) ? 1 : 2;
  spec.sessionStart = sessionStart;
  spec.options.testWrite = testWrite;
  spec.options.multiSession = multiSession;
  spec.options.eject = eject;
  spec.options.discOptions = discOptions;
  spec.options.boot = boot;
  int res = RunJob(spec, r.shared());
  Trace("<----WriteCd end---->");
  return res;
}

int WriteAudioCd(int index, bool testWrite, const std::vector<std::string>& wavTracks) {
  DriveUse r(index);
  if (int c = r.Check(); c != 1) return c;
  DriveClaim claim(index);
  if (!claim.ok()) return result::kRecorderInUse;
  const int m = r->GetMediumType();
  if (m != kCdR && m != kCdRw) return result::kAudioNeedsCd;
  JobSpec spec;
  spec.kind = JobSpec::kAudio;
  spec.index = index;
  spec.discKind = 1;
  spec.audioTracks = wavTracks;
  spec.options.testWrite = testWrite;
  return RunJob(spec, r.shared());
}

namespace {

// The audio session written and left open, then the files as a data
// session behind it, laid out first at the place it will have so that a
// disc too small for both is refused before anything is written.
int WriteEnhancedCd(int index, Recorder* r, const AudioDisc& disc, ImageLayout layout, bool testWrite) {
  audiodisc::FilesVolume volume;
  std::string why;
  const int32_t dataStart = layout.EndLba() + audiodisc::kSecondSessionGap;
  if (!volume.Build(disc.files, uint32_t(dataStart), &why)) return NoteJobError(index, why), result::kLayoutFailed;
  const int64_t after = audiodisc::kSecondSessionGap + int64_t(volume.Sectors());
  const int rc = WriteImageAtOnce(index, r, "the audio CD with its data session", std::move(layout), testWrite,
                                  false, after);
  if (rc != result::kSuccess) return rc;
  const int data = WriteCd(index, disc.files.stagingRoot, disc.files.label, 0, testWrite, false, false,
                           disc.files.discOptions, eltorito::BootOptions());
  if (data != result::kSuccess && !testWrite)
    NoteJobError(index, "the audio session is written and the disc left open, but its data session failed" +
                            (LastJobError(index).empty() ? std::string() : ": " + LastJobError(index)));
  return data;
}

// The files laid out as track 1 and kept in a temporary image for the
// session-at-once writer, the sound after them.
int WriteMixedModeCd(int index, Recorder* r, const AudioDisc& disc, bool testWrite,
                     std::vector<std::string>* notices) {
  audiodisc::FilesVolume volume;
  std::string why;
  if (!volume.Build(disc.files, 0, &why)) return NoteJobError(index, why), result::kLayoutFailed;
  TempFile iso("iso");
  if (!iso.ok()) return NoteJobError(index, "no temporary file can be made for the data track"), result::kLayoutFailed;
  ImageLayout layout;
  if (!audiodisc::PlanMixedModeDisc(disc, iso.path(), int32_t(volume.Sectors()), &layout, notices, &why))
    return NoteJobError(index, why), result::kLayoutFailed;
  if (!volume.Save(iso.path(), &why)) return NoteJobError(index, why), result::kSourceUnreadable;
  return WriteImageAtOnce(index, r, "the mixed-mode CD", std::move(layout), testWrite);
}

}  // namespace

int WriteAudioDisc(int index, const AudioDisc& disc, bool testWrite, std::vector<std::string>* notices) {
  if (disc.trackAtOnce && disc.files.place != AudioDiscFiles::kNone)
    return NoteJobError(index, "track-at-once writes the sound only; an audio CD with files is written a session "
                               "at once"),
           result::kNothingDone;
  if (disc.trackAtOnce) {
    std::vector<std::string> wavs;
    for (const AudioDiscTrack& t : disc.tracks) wavs.push_back(t.wav);
    return WriteAudioCd(index, testWrite, wavs);
  }
  DriveUse r(index);
  if (int c = r.Check(); c != 1) return c;
  DriveClaim claim(index);
  if (!claim.ok()) return result::kRecorderInUse;
  NoteJobError(index, "");
  const int m = r->GetMediumType();
  if (m != kCdR && m != kCdRw) return result::kAudioNeedsCd;
  if (PlainImageTarget(r.get()))
    return NoteJobError(index, r->Name() + " keeps the data of Mode 1 tracks only; an audio CD needs a .cue file"),
           result::kAudioNeedsCd;
  ImageLayout layout;
  std::string why;
  if (!audiodisc::PlanAudioDisc(disc, &layout, notices, &why))
    return NoteJobError(index, why), result::kLayoutFailed;
  if (disc.files.place == AudioDiscFiles::kSessionAfter)
    return WriteEnhancedCd(index, r.get(), disc, std::move(layout), testWrite);
  if (disc.files.place == AudioDiscFiles::kTrackFirst) return WriteMixedModeCd(index, r.get(), disc, testWrite, notices);
  return WriteImageAtOnce(index, r.get(), "the audio CD", std::move(layout), testWrite);
}

DriveStatus GetDriveStatus(int index) {
  DriveStatus status;
  std::lock_guard<std::mutex> hold(gDrives.lock);
  const DriveHandle* d = gDrives.Find(index);
  if (!d) return status;
  status.running = d->depth > 0;
  if (d->atOnce) {
    char item[256];
    d->atOnce->GetCurrBurnFile(item, sizeof item);
    status.item = item;
    status.percent = d->atOnce->GetBurnProgress();
  } else if (!d->burns.empty()) {
    const BurnMana& mana = *d->burns.back()->mana;
    status.percent = mana.GetProgress();
    status.item = mana.GetCurrentItem();
    status.hasFigures = true;
    status.written = mana.GetBytesWritten();
    status.total = mana.GetBytesTotal();
    status.bufferFill = mana.GetBufferFill();
  }
  return status;
}

int DriveOfLabel(const std::string& label) { return LabelIndex(label); }

int ResetBurns() {
  std::lock_guard<std::mutex> hold(gDrives.lock);
  gDrives.ForEach([](int index, DriveHandle& d) {
    // A running job's project copy is its own; the job removes it at its end.
    if (index <= kSlots && d.depth == 0) d.slot.Empty();
    d.burns.clear();
  });
  return result::kSuccess;
}

int ResetBurn(int index) {
  std::lock_guard<std::mutex> hold(gDrives.lock);
  DriveHandle* d = gDrives.Find(index);
  if (!d) return result::kSuccess;
  if (index >= 0 && index <= kSlots && d->depth == 0) d->slot.Empty();
  d->burns.clear();
  return result::kSuccess;
}

void AddTempFile(const std::string& path) {
  std::lock_guard<std::mutex> hold(gTempLock);
  gTempFiles.push_back(path);
}

void DeleteTempFiles() {
  std::lock_guard<std::mutex> hold(gTempLock);
  for (const std::string& p : gTempFiles) {
    for (int i = 0; i < 10 && fs::exists(p); ++i) {
      std::error_code ec;
      fs::remove_all(p, ec);
    }
  }
  gTempFiles.clear();
}

int AddDriveProjectPath(int index, const std::string& sourcePath, const std::string& discFolder, int mp3,
                        const std::string& discName) {
  std::lock_guard<std::mutex> hold(gDrives.lock);
  if (index < 0 || index > kSlots) return result::kNoSuchDrive;
  ProjectSlot& slot = gDrives.At(index).slot;
  slot.manager.SetMode(mp3 ? CFileManager::kModeMp3 : CFileManager::kModeData);
  return slot.manager.AddPath(nullptr, TreeItem(), sourcePath, discFolder, discName) ? result::kSuccess
                                                                                      : result::kNothingDone;
}

std::string DriveProjectRoot(int index) {
  std::lock_guard<std::mutex> hold(gDrives.lock);
  if (index < 0 || index > kSlots) return "";
  return gDrives.At(index).slot.root;
}

std::vector<std::string> LastUnreadableSources(int index) {
  std::lock_guard<std::mutex> hold(gDrives.lock);
  const DriveHandle* d = gDrives.Find(index);
  return d ? d->unreadable : std::vector<std::string>{};
}

std::string LastJobError(int index) {
  std::lock_guard<std::mutex> hold(gDrives.lock);
  const DriveHandle* d = gDrives.Find(index);
  return d ? d->jobError : std::string();
}
