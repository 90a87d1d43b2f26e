// varnex-cli copy: a whole disc onto a recorder, on the fly or through a
// copy file, a copy file from a disc, or a disc from a copy file.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <cstdio>
#include <thread>

#include "BurnCtrl/BurnMultiRun.h"
#include "BurnCtrl/DiscCopy.h"
#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "MediumTable.h"
#include "cli/CliBurnDrive.h"
#include "cli/CliCommand.h"
#include "cli/CliInterrupt.h"

namespace {

// Runs the copy on a worker and shows its progress on a terminal; Ctrl-C stops it.
int RunWithProgress(const std::function<int()>& job) {
  std::atomic<bool> done{false};
  int res = result::kNothingDone;
  std::thread worker([&] {
    res = job();
    done = true;
  });
  InterruptCatcher catcher;
  const bool terminal = isatty(STDERR_FILENO);
  std::string shown;
  bool stopped = false;
  while (!done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (gInterrupted && !stopped) stopped = (StopCopy(), true);
    if (!terminal) continue;
    char line[64];
    std::snprintf(line, sizeof line, "%3d%%  ", GetCopyProgress());
    std::string text = line + GetCopyItem();
    if (text != shown) std::fprintf(stderr, "\r%s\033[K", (shown = text).c_str());
  }
  worker.join();
  if (terminal && !shown.empty()) std::fprintf(stderr, "\n");
  return res;
}

// One drive as source and target: asks for the blank disc and waits for it.
bool WaitForBlank(int index) {
  std::fprintf(stderr, "varnex-cli: the copy file is made; insert a blank disc into %s\n",
               FindRecorder(index)->Name().c_str());
  return BurnMultiRun::WaitForBlankDisc(index, gInterrupted);
}

int RunCopy(const CliArgs& args) {
  CliOptions opt(args, {"--from", "--to", "--via", "--save", "--bcl", "--medium"}, {"--keep", "--replace"});
  const char* usage =
      "usage: copy --from D1 --to D2 [--via FILE.bcl [--keep]] | copy --from D --save FILE.bcl | copy --bcl FILE.bcl --to D";
  if (!opt.ok() || !opt.Operands().empty()) return CliFail(result::kBadArguments, opt.ok() ? usage : opt.error());
  const bool save = opt.Has("--save"), fromFile = opt.Has("--bcl");
  const std::string from = opt.Value("--from"), to = opt.Value("--to"), via = opt.Value("--via");
  const bool fits = save ? (!from.empty() && to.empty() && via.empty() && !fromFile && !opt.Has("--keep"))
                    : fromFile ? (from.empty() && !to.empty() && via.empty() && !opt.Has("--keep"))
                               : (!from.empty() && !to.empty() && (via.empty() ? !opt.Has("--keep") : true));
  if (!fits) return CliFail(result::kBadArguments, usage);
  if (from.rfind("image:", 0) == 0)
    return CliFail(result::kBadArguments, "copy reads a disc in a drive; burn an image with burn --image " + from.substr(6));
  if (opt.Has("--medium") && to.rfind("image:", 0) != 0)
    return CliFail(result::kBadArguments, "--medium is for an image:FILE target");

  // The copy file is checked before any drive is opened.
  if (fromFile && access(opt.Value("--bcl").c_str(), F_OK) != 0)
    return CliFail(result::kCopyFileMissing, opt.Value("--bcl"));

  int source = -1, target = -1;
  if (!from.empty() && (source = OpenBurnDrive(from, "", false)) < 0) return 1;
  if (!to.empty()) {
    const bool same = !from.empty() && DriveGivenTwice({from, to}) != "";
    target = same ? source : OpenBurnDrive(to, opt.Value("--medium"), false, opt.Has("--replace"));
    if (target < 0) return 1;
  }
  SetBlankDiscRequest(WaitForBlank);
  // The target is held from the first look at its disc to the end of the
  // copy (on the copy's own thread, where the copy takes it again): a disc
  // another job is writing is "in use", never judged half written.
  std::string refusal;
  auto onTarget = [&](const std::function<int()>& copy) {
    return [&, copy] {
      if (target < 0) return copy();
      if (!ClaimRecorder(target)) return int(result::kRecorderInUse);
      struct Release {
        int index;
        ~Release() { ReleaseRecorder(index); }
      } release{target};
      // The copy would erase a rewritable target that holds data; from the
      // command line nothing is erased without being asked for.
      if (target != source) {
        bool blank = false, writable = false;
        int medium = 0;
        if (GetDiscInfo(target, &blank, &writable, &medium) == result::kSuccess && !blank && medium::IsErasable(medium)) {
          refusal = FindRecorder(target)->Name() + " holds data; erase it first (varnex-cli erase) or insert a blank disc";
          return int(result::kTargetNotBlank);
        }
      }
      return copy();
    };
  };
  int res;
  if (save) res = RunWithProgress([&] { return SaveCopyFile(source, opt.Value("--save")); });
  else if (fromFile) res = RunWithProgress(onTarget([&] { return DiscCopy(-1, target, opt.Value("--bcl")); }));
  else res = RunWithProgress(onTarget([&] { return DiscCopy(source, target, via); }));
  if (!refusal.empty()) return CliFail(res, refusal);
  if (res == result::kRecorderInUse && LastCopyError().empty()) return CliFail(res, FindRecorder(target)->Name());
  // A copy file the command made for itself goes; one the user named stays with --keep.
  if (const std::string notice = LastCopyNotice(); !notice.empty())
    std::fprintf(stderr, "varnex-cli: %s\n", notice.c_str());
  const std::string made = CopyFilePath();
  if (!save && !made.empty() && (via.empty() || !opt.Has("--keep"))) std::remove(made.c_str());
  if (res != result::kSuccess) {
    const std::string why = LastCopyError();
    return CliFail(res, why);
  }
  return 0;
}

CliCommand regCopy{"copy",
                   "copy --from D1 --to D2 [--via FILE.bcl [--keep]] | copy --from D --save FILE.bcl | copy --bcl FILE.bcl --to D",
                   &RunCopy};

}  // namespace
