// varnex-cli burn and erase: a data project, a project file, an image or WAV
// tracks onto a drive, with a progress line; erasing a rewritable disc.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <csignal>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "BurnCtrl/BurnFile.h"
#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "foundation/ProgramDir.h"
#include "foundation/SystemSettings.h"
#include "cli/CliCommand.h"
#include "BurnCtrl/ImageFileRecorder.h"
#include "cli/CliBurnDrive.h"
#include "cli/CliProject.h"
#include "media/CAudioFile.h"

namespace {

std::atomic<bool> gInterrupted{false};
void OnInterrupt(int) { gInterrupted = true; }

// Ctrl-C is caught for the whole command, so that every way out (also while
// waiting for the next disc) goes through the same cleanup.
class InterruptCatcher {
 public:
  InterruptCatcher() : old_(std::signal(SIGINT, OnInterrupt)) {}
  ~InterruptCatcher() { std::signal(SIGINT, old_); }

 private:
  void (*old_)(int);
};

// Runs `job` on one worker per drive and shows the drives' progress until
// every one has ended. An interrupt (Ctrl-C) stops the burns; the jobs then
// report the stop. Returns the first failure, or success.
int RunWithProgress(const std::vector<int>& drives, const std::function<int(int)>& job) {
  std::mutex lock;
  std::condition_variable ended;
  size_t finished = 0;
  std::vector<int> results(drives.size(), result::kSuccess);
  std::vector<std::thread> workers;
  for (size_t i = 0; i < drives.size(); ++i)
    workers.emplace_back([&, i] {
      int r = job(drives[i]);
      std::lock_guard<std::mutex> hold(lock);
      results[i] = r;
      ++finished;
      ended.notify_all();
    });
  const bool terminal = isatty(STDERR_FILENO);
  std::string shown;
  bool aborted = false;
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(lock);
      if (ended.wait_for(hold, std::chrono::milliseconds(100), [&] { return finished == drives.size(); })) break;
    }
    if (gInterrupted && !aborted) {
      AbortWrite();
      aborted = true;
    }
    if (!terminal) continue;
    std::string text, item;
    for (int d : drives) {
      char part[32];
      std::snprintf(part, sizeof part, drives.size() > 1 ? "%s %3d%%  " : "%.0s%3d%%  ", DriveLabel(d).c_str(),
                    GetDriveProgress(DriveLabel(d)));
      text += part;
    }
    GetDriveItem(DriveLabel(drives.front()), &item);
    text += item;
    if (text != shown) std::fprintf(stderr, "\r%s\033[K", (shown = text).c_str());
  }
  for (std::thread& w : workers) w.join();
  if (terminal && !shown.empty()) std::fprintf(stderr, "\n");
  for (size_t i = 0; i < drives.size(); ++i)
    if (results[i] != result::kSuccess) {
      std::string why = LastJobError(drives[i]);
      if (drives.size() > 1 || !why.empty())
        CliFail(results[i], FindRecorder(drives[i])->Name() + (why.empty() ? "" : ": " + why));
    }
  for (int r : results)
    if (r != result::kSuccess) return r;
  return result::kSuccess;
}

bool ParseCount(const std::string& text, int* value) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || v < 1 || v > 999) return false;
  *value = int(v);
  return true;
}

// Waits for the next blank disc before another copy.
bool WaitForBlankDisc(int index) {
  std::fprintf(stderr, "varnex-cli: insert a blank disc into %s for the next copy\n",
               FindRecorder(index)->Name().c_str());
  for (;;) {
    bool blank = false, writable = false;
    int medium = 0;
    if (gInterrupted) return false;
    if (GetDiscInfo(index, &blank, &writable, &medium) == result::kSuccess && blank && writable) return true;
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
}

// "16" or "8x": a positive, finite multiple of the medium's base speed.
bool ParseSpeed(const std::string& speed, double* x) {
  char* end = nullptr;
  *x = std::strtod(speed.c_str(), &end);
  return !speed.empty() && end != speed.c_str() && (!*end || std::string(end) == "x") && std::isfinite(*x) && *x > 0;
}

int SetSpeed(int index, const std::string& speed) {
  if (speed.empty()) return 0;
  double x = 0;
  if (!ParseSpeed(speed, &x)) return CliFail(result::kBadArguments, "--speed takes a number such as 16 or 8x");
  Recorder* r = FindRecorder(index);
  const int m = r->GetMediumType();
  const double unit = ::medium::IsCd(m) ? 176 : ::medium::IsBd(m) ? 4495 : 1385;
  r->SetWriteSpeed(uint16_t(std::min(65535.0, x > 0 ? x * unit : 65535.0)));
  return 0;
}

int RunBurn(const CliArgs& args) {
  CliOptions opt(args, {"--drive", "--label", "--project", "--image", "--copies", "--speed", "--medium"},
                 {"--multisession", "--mp3", "--test", "--audio", "--eject", "--replace"});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  const std::vector<std::string> driveSpecs = opt.Values("--drive");
  const std::string drive = driveSpecs.empty() ? "" : driveSpecs.front();
  const bool audio = opt.Has("--audio");
  const int sources = int(opt.Has("--project")) + int(opt.Has("--image")) + int(audio) +
                      int(!audio && !opt.Operands().empty());
  int copies = 1;
  if (drive.empty() || sources != 1 || (audio && opt.Operands().empty()))
    return CliFail(result::kBadArguments,
                   "usage: burn --drive D [--drive D2 ...] [--replace] [--label L] [--multisession] [--mp3] [--test] [--copies N] [--speed X] "
                   "(PATH... | --project FILE.bcd | --image FILE | --audio WAV...)");
  if (opt.Has("--copies") && !ParseCount(opt.Value("--copies"), &copies))
    return CliFail(result::kBadArguments, "--copies takes a number from 1 to 999");
  if (copies > 1 && drive.rfind("image:", 0) == 0)
    return CliFail(result::kBadArguments, "an image file is written once; --copies needs a drive");

  // Everything is checked before the drive is touched: an image target is
  // emptied when it is opened.
  std::vector<std::string> wavs;
  if (audio) {
    for (const std::string& w : opt.Operands()) {
      std::string why;
      if (!IsCdAudioWav(w, &why)) return CliFail(result::kSourceMissing, why);
      wavs.push_back(w);
    }
  }
  if (opt.Has("--image") && !FileExists(opt.Value("--image")))
    return CliFail(result::kSourceMissing, opt.Value("--image"));
  double speed = 0;
  if (opt.Has("--speed") && !ParseSpeed(opt.Value("--speed"), &speed))
    return CliFail(result::kBadArguments, "--speed takes a number such as 16 or 8x");
  if (opt.Has("--image")) {
    // A damaged or cut-off image is refused before any drive is opened.
    BurnFileImage probe(opt.Value("--image"));
    if (!probe.Load()) return CliFail(result::kSourceMissing, probe.LastError());
  }

  InterruptCatcher catcher;
  StagingRoot root;
  CFileManager manager;
  PrintingListener listener;
  std::string label = opt.Value("--label"), notice;
  if (!CheckVolumeLabel(&label, &notice)) return CliFail(result::kBadArguments, notice);
  if (!notice.empty()) std::fprintf(stderr, "varnex-cli: %s\n", notice.c_str());
  const int mp3 = opt.Has("--mp3") ? 1 : 0;
  if (!audio && !opt.Has("--image")) {
    if (!root.ok()) return CliFail(result::kLayoutFailed, "cannot create a project folder");
    manager.SetListener(&listener);
    manager.SetMode(mp3 ? CFileManager::kModeMp3 : CFileManager::kModeData);
    if (StageProject(&manager, root.path(), opt.Value("--project"), opt.Operands(), &label) != result::kSuccess)
      return 1;
    if (listener.refused) return CliFail(result::kFilesLeftOut, "nothing was burnt");
    if (label.empty()) label = "DataCD";
  }
  if (gInterrupted) return CliFail(result::kBurnStopped, "stopped before the burn began");

  // One drive given twice would have two burns write one disc.
  if (const std::string twice = DriveGivenTwice(driveSpecs); !twice.empty())
    return CliFail(result::kBadArguments, "the drive " + twice + " is given twice");

  // Several drives burn at once, each from a cache of its own.
  std::vector<int> drives;
  for (const std::string& spec : driveSpecs) {
    const int index = OpenBurnDrive(spec, opt.Value("--medium"), driveSpecs.size() > 1, opt.Has("--replace"));
    if (index < 0) return 1;
    if (int st = SetSpeed(index, opt.Value("--speed"))) return st;
    drives.push_back(index);
  }
  SetMultiRecorderMode(drives.size() > 1);
  SetWriteToFile(WriteToFileTarget());
  const bool test = opt.Has("--test");
  int res = result::kSuccess;
  for (int copy = 1; copy <= copies && res == result::kSuccess; ++copy) {
    if (copy > 1) {
      for (int index : drives)
        if (!WaitForBlankDisc(index)) res = result::kBurnStopped;
      if (res != result::kSuccess) break;
    }
    res = RunWithProgress(drives, [&](int index) {
      if (audio) return WriteAudioCd(index, test, wavs);
      if (opt.Has("--image")) return WriteImageToCD(index, opt.Value("--image"), test);
      return WriteCd(index, root.path(), label, mp3, test, opt.Has("--multisession"), opt.Has("--eject"));
    });
    for (int index : drives) {
      for (const std::string& lost : LastUnreadableSources(index))
        std::fprintf(stderr, "varnex-cli: \"%s\" could not be read during the burn\n", lost.c_str());
      ResetBurn(index);
    }
  }
  // An image file is done once its sectors are on the file system's disc.
  for (int index : drives)
    if (auto* image = dynamic_cast<ImageFileRecorder*>(FindRecorder(index)); image && !image->Close()) {
      std::fprintf(stderr, "varnex-cli: %s could not be flushed to its disc\n", image->Path().c_str());
      if (res == result::kSuccess) res = result::kOutputFailed;
    }
  DeleteTempFiles();
  if (res != result::kSuccess)
    return drives.size() > 1 || !LastJobError(drives.front()).empty() ? 1
                                                                       : CliFail(res, FindRecorder(drives.front())->Name());
  return 0;
}

int RunErase(const CliArgs& args) {
  CliOptions opt(args, {"--drive", "--medium"}, {});
  if (!opt.ok() || opt.Value("--drive").empty() || !opt.Operands().empty())
    return CliFail(result::kBadArguments, "usage: erase --drive D");
  if (opt.Value("--drive").rfind("image:", 0) == 0)
    return CliFail(result::kBadArguments, "an image file is not a disc that can be erased; burn it again with --replace");
  const int index = OpenBurnDrive(opt.Value("--drive"), opt.Value("--medium"), false);
  if (index < 0) return 1;
  int res = Start(index);
  if (res == result::kSuccess) res = BlankDisc();
  if (res != result::kSuccess) {
    const std::string why = LastJobError(index);
    return CliFail(res, why.empty() ? FindRecorder(index)->Name() : why);
  }
  return 0;
}

CliCommand regBurn{"burn",
                   "burn --drive D [--drive D2 ...] [--replace] [--medium M] [--label L] [--multisession] [--mp3] [--test] "
                   "[--copies N] [--speed X] [--eject] (PATH... | --project FILE.bcd | --image FILE | --audio WAV...)",
                   &RunBurn};
CliCommand regErase{"erase", "erase --drive D", &RunErase};

}  // namespace
