// varnex-cli burn and erase: a data project, a project file, an image or WAV
// tracks onto a drive, with a progress line; erasing a rewritable disc.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "app/ProgramDir.h"
#include "cli/CliCommand.h"
#include "cli/CliBurnDrive.h"
#include "cli/CliProject.h"
#include "media/CAudioFile.h"

namespace {

std::atomic<bool> gInterrupted{false};
void OnInterrupt(int) { gInterrupted = true; }

// Runs `job` on a worker and shows the drive's progress until it ends. An
// interrupt (Ctrl-C) stops the burn; the job then reports the stop.
int RunWithProgress(int index, const std::function<int()>& job) {
  std::atomic<bool> done{false};
  std::atomic<int> res{0};
  std::thread worker([&] {
    res = job();
    done = true;
  });
  auto old = std::signal(SIGINT, OnInterrupt);
  const bool terminal = isatty(STDERR_FILENO);
  const std::string label = DriveLabel(index);
  std::string shown;
  bool aborted = false;
  while (!done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (gInterrupted && !aborted) {
      AbortWrite();
      aborted = true;
    }
    if (!terminal) continue;
    std::string item;
    GetDriveItem(label, &item);
    char line[64];
    std::snprintf(line, sizeof line, "%3d%%  ", GetDriveProgress(label));
    std::string text = line + item;
    if (text != shown) std::fprintf(stderr, "\r%s\033[K", (shown = text).c_str());
  }
  worker.join();
  std::signal(SIGINT, old);
  if (terminal && !shown.empty()) std::fprintf(stderr, "\n");
  return res;
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

int SetSpeed(int index, const std::string& speed) {
  if (speed.empty()) return 0;
  char* end = nullptr;
  double x = std::strtod(speed.c_str(), &end);
  if (*end && std::string(end) != "x") return CliFail(result::kBadArguments, "--speed takes a number such as 16 or 8x");
  Recorder* r = FindRecorder(index);
  const int m = r->GetMediumType();
  const double unit = rec::IsCd(m) ? 176 : (m >= rec::kBdRom && m <= rec::kBdRe) ? 4495 : 1385;
  r->SetWriteSpeed(uint16_t(std::min(65535.0, x > 0 ? x * unit : 65535.0)));
  return 0;
}

int RunBurn(const CliArgs& args) {
  CliOptions opt(args, {"--drive", "--label", "--project", "--image", "--copies", "--speed", "--medium"},
                 {"--multisession", "--mp3", "--test", "--audio", "--eject"});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  const std::string drive = opt.Value("--drive");
  const bool audio = opt.Has("--audio");
  const int sources = int(opt.Has("--project")) + int(opt.Has("--image")) + int(audio) +
                      int(!audio && !opt.Operands().empty());
  int copies = 1;
  if (drive.empty() || sources != 1 || (audio && opt.Operands().empty()))
    return CliFail(result::kBadArguments,
                   "usage: burn --drive D [--label L] [--multisession] [--mp3] [--test] [--copies N] [--speed X] "
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

  StagingRoot root;
  CFileManager manager;
  PrintingListener listener;
  std::string label = opt.Value("--label");
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

  const int index = OpenBurnDrive(drive, opt.Value("--medium"));
  if (index < 0) return 1;
  if (int st = SetSpeed(index, opt.Value("--speed"))) return st;
  const bool test = opt.Has("--test");
  int res = result::kSuccess;
  for (int copy = 1; copy <= copies && res == result::kSuccess; ++copy) {
    if (copy > 1 && !WaitForBlankDisc(index)) {
      res = result::kBurnStopped;
      break;
    }
    res = RunWithProgress(index, [&]() {
      if (audio) return WriteAudioCd(index, test, wavs);
      if (opt.Has("--image")) return WriteImageToCD(index, opt.Value("--image"), test);
      return WriteCd(index, root.path(), label, mp3, test, opt.Has("--multisession"), opt.Has("--eject"));
    });
    for (const std::string& lost : LastUnreadableSources(index))
      std::fprintf(stderr, "varnex-cli: \"%s\" could not be read during the burn\n", lost.c_str());
    ResetBurn(index);
  }
  DeleteTempFiles();
  if (res != result::kSuccess) return CliFail(res, FindRecorder(index)->Name());
  return 0;
}

int RunErase(const CliArgs& args) {
  CliOptions opt(args, {"--drive", "--medium"}, {});
  if (!opt.ok() || opt.Value("--drive").empty() || !opt.Operands().empty())
    return CliFail(result::kBadArguments, "usage: erase --drive D");
  const int index = OpenBurnDrive(opt.Value("--drive"), opt.Value("--medium"));
  if (index < 0) return 1;
  int res = Start(index);
  if (res == result::kSuccess) res = BlankDisc();
  if (res != result::kSuccess) return CliFail(res, FindRecorder(index)->Name());
  return 0;
}

CliCommand regBurn{"burn",
                   "burn --drive D [--label L] [--multisession] [--mp3] [--test] [--copies N] [--speed X] "
                   "(PATH... | --project FILE.bcd | --image FILE | --audio WAV...)",
                   &RunBurn};
CliCommand regErase{"erase", "erase --drive D", &RunErase};

}  // namespace
