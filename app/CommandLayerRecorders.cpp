#include "app/CommandLayerRecorders.h"

#include <cstring>
#include <filesystem>
#include <memory>

#include "BurnCtrl/DiscCopy.h"
#include "ImageFileDisc.h"
#include "DataSource_CloneFile.h"
#include "DataSource_Device.h"
#include "jobs/CVideoDiscProject.h"
#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "BurnCtrl/Verify.h"
#include "analysis/SectorOwners.h"
#include "BurnCtrl/interfaces/KestrineRecorder.h"
#include "BurnCtrl/interfaces/RegisteredDrives.h"
#include "foundation/SystemSettings.h"
#include "DevDeque.h"
#include "MmcCommands.h"
#include "VirtualRecorder.h"

namespace {

constexpr uint32_t kPageBuffer = 1024;
constexpr size_t kHeader = 8;  // the mode parameter header before the page

// The capabilities page of a drive; false when unreadable.
bool CapabilitiesPage(Recorder* r, CAPABILITIES_PAGE* caps) {
  std::vector<uint8_t> page(kPageBuffer, 0);
  if (r->ModeSense(mmc::kPageCapabilities, page.data(), kPageBuffer) != 0) return false;
  return caps->Parse(page.data() + kHeader, kPageBuffer - kHeader);
}

}  // namespace

class CommandLayerRecorders::Activity : public DevActivityListener {
 public:
  void OnDeviceActivity(int deviceId) override {
    std::lock_guard<std::mutex> hold(lock);
    if (callback) callback(deviceId);
  }
  std::mutex lock;
  std::function<void(int)> callback;
};

CommandLayerRecorders::CommandLayerRecorders() : activity_(std::make_shared<Activity>()) {
  InstallRegisteredDrives();
}

void CommandLayerRecorders::SetActivityCallback(std::function<void(int drive)> callback) {
  std::lock_guard<std::mutex> hold(activity_->lock);
  activity_->callback = std::move(callback);
}

std::vector<DriveEntry> CommandLayerRecorders::Drives() {
  std::lock_guard<std::mutex> l(lock_);
  // Drives that appeared join the command layer; drives that went away
  // leave it. (Asked again at every call: the window polls for changes.)
  DevDeque& list = DevDeque::Instance();
  list.Refresh();  // drives still there keep their objects: nothing is reopened
  std::map<int, CDevCmdRW*> present;
  for (int pos = 0; pos < list.GetDevCount(); ++pos) {
    CDevCmdRW* dev = list.GetDequeItem(pos);
    if (dev && dev->GetDeviceID() > 0 && dev->GetDeviceID() < 26) present[dev->GetDeviceID()] = dev;
  }
  for (auto it = fromDeviceList_.begin(); it != fromDeviceList_.end();) {
    auto now = present.find(it->first);
    if (now == present.end() || now->second != it->second) {
      RemoveRecorder(it->first);
      it = fromDeviceList_.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& [index, dev] : present) {
    if (FindRecorder(index)) continue;
    AddRecorder(std::make_shared<KestrineRecorder>(dev));
    fromDeviceList_[index] = dev;
  }
  std::vector<DriveEntry> out;
  for (int index = 1; index < 26; ++index) {
    Recorder* r = FindRecorder(index);
    if (!r) continue;
    DriveEntry e;
    e.index = uint8_t(index);
    std::string product;
    if (CDevCmdRW* device = r->Device()) {
      device->SetMainHWnd(activity_.get());  // the window's activity light
      // The drive's name as the command line prints it: vendor, product and
      // revision, each trimmed.
      INQUIRYDATA inquiry;
      if (device->Inquiry(inquiry) == DEV_OK) product = inquiry.Text();
    }
    e.text = DriveEntryText(DevDeque::DriveLetter(index), product, r->Name());
    e.where = r->Name();
    CAPABILITIES_PAGE caps;
    e.recorder = CapabilitiesPage(r, &caps) && caps.Writes();
    out.push_back(e);
  }
  return out;
}

int CommandLayerRecorders::Start(uint8_t drive) { return FindRecorder(drive) ? result::kSuccess : result::kNoSuchDrive; }

CDevCmdROM* CommandLayerRecorders::ReadingDevice(uint8_t drive) {
  Recorder* r = FindRecorder(drive);
  return r ? r->Device() : nullptr;
}

int CommandLayerRecorders::TestUnitReady(uint8_t drive) {
  Recorder* r = FindRecorder(drive);
  return r ? int(r->TestUnitReady()) : result::kNoSuchDrive;
}

bool CommandLayerRecorders::TrayOpen(uint8_t drive) {
  Recorder* r = FindRecorder(drive);
  if (!r || drive == 0 || r->TestUnitReady() == 0) return false;
  const rec::Sense s = r->LastSense();
  return s.asc == 0x3A && s.ascq == 0x02;  // MEDIUM NOT PRESENT - TRAY OPEN
}

int CommandLayerRecorders::GetDiscInfoEx(uint8_t drive, DiscInfo* info) {
  bool blank = false, writable = false;
  int type = 0;
  uint64_t freeBytes = 0;
  uint64_t usedBytes = 0;
  medium::DiscState state = medium::DiscState::kClosed;
  int rc = ::GetDiscInfoEx(drive, &blank, &writable, &type, &freeBytes, &usedBytes, &state);
  info->blank = blank;
  info->state = state;
  info->writable = writable;
  info->mediumType = type;
  info->freeBytes = freeBytes;
  info->usedBytes = usedBytes;
  return rc;
}

bool CommandLayerRecorders::ReadWriteSpeeds(uint8_t drive, std::vector<int>* speeds, int* current) {
  Recorder* r = FindRecorder(drive);
  CAPABILITIES_PAGE caps;
  if (!r || drive == 0 || !CapabilitiesPage(r, &caps)) return false;
  speeds->assign(caps.WriteSpeeds.begin(), caps.WriteSpeeds.end());
  *current = caps.CurrentWriteSpeed;
  return true;
}

int CommandLayerRecorders::SetWriteSpeed(uint8_t drive, int kBps) {
  Recorder* r = FindRecorder(drive);
  return r ? int(r->SetWriteSpeed(uint16_t(std::min(kBps, 0xFFFF)))) : result::kNoSuchDrive;
}

int CommandLayerRecorders::SetImageFile(uint8_t drive, const std::string& path) {
  if (drive != 0) return result::kNoSuchDrive;
  std::lock_guard<std::mutex> l(lock_);
  auto disc = std::make_unique<ImageFileDisc>(path, uint16_t(rec::kCdR));
  // The window asked before naming an existing file.
  if (!disc->CreateBlank(true, nullptr)) return result::kOutputFailed;
  RemoveRecorder(0);
  AddRecorder(std::make_shared<KestrineRecorder>(std::make_unique<CDevCmdRW>(std::move(disc), 0)));
  return result::kSuccess;
}

void CommandLayerRecorders::SetBootOptions(const eltorito::BootOptions& boot) {
  std::lock_guard<std::mutex> hold(bootLock_);
  boot_ = boot;
}

int CommandLayerRecorders::WriteCd(uint8_t drive, const std::string& stagingRoot, const std::string& label,
                                   bool multisession, bool mp3, uint8_t discOptions) {
  SetWriteToFile(WriteToFileTarget());
  eltorito::BootOptions boot;
  {
    std::lock_guard<std::mutex> hold(bootLock_);
    boot = mp3 ? eltorito::BootOptions{} : boot_;
  }
  return Verified(drive, [&] {
    return ::WriteCd(drive, stagingRoot, label, mp3 ? 1 : 0, false, multisession, false, discOptions, boot);
  });
}

int CommandLayerRecorders::WriteAudioCd(uint8_t drive, const std::vector<std::string>& wavTracks, bool testWrite) {
  return Verified(drive, [&] { return ::WriteAudioCd(drive, testWrite, wavTracks); });
}

int CommandLayerRecorders::WriteAudioDisc(uint8_t drive, const AudioDisc& disc, bool testWrite,
                                          std::vector<std::string>* notices) {
  return Verified(drive, [&] { return ::WriteAudioDisc(drive, disc, testWrite, notices); });
}

int CommandLayerRecorders::WriteImageToCD(uint8_t drive, const std::string& imagePath, bool testWrite) {
  SetWriteToFile(WriteToFileTarget());
  return Verified(drive, [&] { return ::WriteImageToCD(drive, imagePath, testWrite); });
}

int CommandLayerRecorders::Verified(uint8_t drive, const std::function<int()>& burn) {
  {
    std::lock_guard<std::mutex> hold(verdictLock_);
    verdicts_.erase(drive);
  }
  // The image file is compared by nobody: it is no disc that can go bad.
  if (!verify_ || drive == 0) return burn();
  VerifyOptions options;
  options.ownerOf = [drive](uint32_t lba) { return OwnerOnDisc(drive, lba); };
  VerifyOutcome outcome;
  const int rc = BurnAndVerify(drive, burn, options, &outcome);
  // A burn that failed says so itself; the verdict is for written discs.
  if (rc == result::kSuccess || outcome.Failed() || outcome.state == VerifyOutcome::kStopped) {
    std::lock_guard<std::mutex> hold(verdictLock_);
    verdicts_[drive] = VerifyText(outcome);
  }
  return rc;
}

int CommandLayerRecorders::VerifyPercent(uint8_t drive) {
  const VerifyStatus status = GetVerifyStatus(drive);
  return status.running ? status.progress.Percent() : -1;
}

std::string CommandLayerRecorders::VerifyResult(uint8_t drive) {
  std::lock_guard<std::mutex> hold(verdictLock_);
  auto it = verdicts_.find(drive);
  return it == verdicts_.end() ? std::string() : it->second;
}

int CommandLayerRecorders::GetDriveProgress(uint8_t drive) { return GetDriveStatus(drive).percent; }

std::string CommandLayerRecorders::GetDriveItem(uint8_t drive) { return GetDriveStatus(drive).item; }

bool CommandLayerRecorders::GetBurnFigures(uint8_t drive, BurnFigures* figures) {
  const DriveStatus status = GetDriveStatus(drive);
  figures->bytesWritten = status.written;
  figures->bytesTotal = status.total;
  figures->bufferPercent = status.bufferFill;
  return status.hasFigures;
}

void CommandLayerRecorders::AbortWrite(uint8_t drive) { ::AbortWrite(drive); }
void CommandLayerRecorders::ResetBurn(uint8_t drive) { ::ResetBurn(drive); }
std::string CommandLayerRecorders::LastError(uint8_t drive) { return LastJobError(drive); }
void CommandLayerRecorders::DeleteTempFiles() { ::DeleteTempFiles(); }

int CommandLayerRecorders::BlankDisc(uint8_t drive) {
  return ::BlankDisc(drive);
}

int CommandLayerRecorders::Eject(uint8_t drive, bool open) {
  Recorder* r = FindRecorder(drive);
  return r ? int(r->Eject(open)) : result::kNoSuchDrive;
}

int CommandLayerRecorders::Lock(uint8_t drive, bool lock) {
  Recorder* r = FindRecorder(drive);
  return r ? int(r->Lock(lock)) : result::kNoSuchDrive;
}

int CommandLayerRecorders::WriteVideoDisc(uint8_t drive, CVideoDiscProject& project, const std::atomic<bool>* stop) {
  return Verified(drive, [&] { return project.BurnVideoDisc(drive, stop); });
}

int CommandLayerRecorders::DiscCopy(int source, uint8_t target, const std::string& path) {
  return ::DiscCopy(source, target, path);
}
int CommandLayerRecorders::GetCopyProgress() { return ::GetCopyProgress(); }
std::string CommandLayerRecorders::GetCopyItem() { return ::GetCopyItem(); }
void CommandLayerRecorders::StopCopy() { ::StopCopy(); }
std::string CommandLayerRecorders::LastCopyError() { return ::LastCopyError(); }
std::string CommandLayerRecorders::CopyFilePath() { return ::CopyFilePath(); }

int CommandLayerRecorders::CopyTracks(int drive, const std::string& file, std::vector<CopyTrack>* rows,
                                      std::string* why) {
  rows->clear();
  std::unique_ptr<DataSource> source;
  if (drive < 0) {
    auto f = std::make_unique<DataSource_CloneFile>(file.c_str());
    // The header and track table only: the sectors are checked before a copy.
    if (!f->GetFileInfo(false)) {
      if (why) *why = f->GetLastError();
      return result::kBadCopyFile;
    }
    source = std::move(f);
  } else {
    Recorder* r = FindRecorder(drive);
    if (!r || !r->Device()) return result::kNoSuchDrive;
    if (r->TestUnitReady() != 0) return result::kNotReady;
    auto d = std::make_unique<DataSource_Device>(r->Device());
    if (!d->IsValid()) {
      if (why) *why = d->GetLastError();
      return result::kNotReady;
    }
    if (d->GetSessionNum() == 0) return result::kSourceBlank;
    source = std::move(d);
  }
  for (const CopyTrackRow& r : CopyTrackList(*source))
    rows->push_back({r.session, r.track, r.data, r.form, r.start, r.end});
  return result::kSuccess;
}

bool OpenVirtualRecorder(const std::string& argument, std::string* error) {
  std::string path = argument.rfind("virtual:", 0) == 0 ? argument.substr(8) : argument;
  std::string mediumName = "cd-rw";
  if (size_t colon = path.rfind(':'); colon != std::string::npos && path.find('/', colon) == std::string::npos) {
    mediumName = path.substr(colon + 1);
    path.resize(colon);
  }
  if (path.empty()) {
    if (error) *error = "no state file named";
    return false;
  }
  if (!std::filesystem::exists(path) && !VirtualRecorder::Create(path, mediumName, error)) return false;
  const int index = FirstFreeRecorderIndex(3);
  if (index < 0 || index >= 26) {
    if (error) *error = "no free drive letter";
    return false;
  }
  std::unique_ptr<CDevCmdRW> dev = DevDeque::OpenDrive(NormalizeDriveName("virtual:" + path), index, error);
  if (!dev) return false;
  AddRecorder(std::make_shared<KestrineRecorder>(std::move(dev)));
  return true;
}
