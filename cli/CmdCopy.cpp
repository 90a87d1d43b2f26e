// varnex-cli copy: a whole disc onto a recorder, on the fly or through a
// copy file, a copy file from a disc, or a disc from a copy file.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <map>
#include <cstdio>
#include <thread>

#include "BurnCtrl/BurnMultiRun.h"
#include "BurnCtrl/DiscCopy.h"
#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "MediumTable.h"
#include "cli/CliBurnRun.h"
#include "cli/CliBurnDrive.h"
#include "cli/CliCommand.h"
#include "cli/CliInterrupt.h"
#include "cli/CliVerify.h"

namespace {

// Runs the copy on a worker and shows its progress on a terminal; Ctrl-C stops it.
int RunWithProgress(const std::function<int()>& job) {
  return RunStep(job, [] { return PercentLine(GetCopyProgress(), GetCopyItem()); }, [] { StopCopy(); });
}

// One drive as source and target: asks for the blank disc and waits for it.
bool WaitForBlank(int index) {
  std::fprintf(stderr, "varnex-cli: the copy file is made; insert a blank disc into %s\n",
               FindRecorder(index)->Name().c_str());
  return BurnMultiRun::WaitForBlankDisc(index, gInterrupted);
}

// The source read once into a copy file, then written onto every target at
// once, `copies` discs each; a target that fails ends only its own copies.
int CopyToSeveral(int source, const std::string& bcl, const std::vector<int>& targets, int copies,
                  const std::string& via, bool keep, bool verify) {
  std::string file = bcl;
  if (file.empty()) {
    DiscCopyJob read;
    const int made = RunStep([&] { return read.SaveCopyFile(source, via); },
                             [&] { return PercentLine(read.Progress(), read.Item()); }, [&] { read.Stop(); });
    if (made != result::kSuccess) return CliFail(made, read.Error());
    file = read.CopyFilePath();
  }
  std::map<int, std::unique_ptr<DiscCopyJob>> jobs;
  for (int t : targets) jobs[t] = std::make_unique<DiscCopyJob>();
  BurnMultiRun::Hooks hooks;
  hooks.progress = [&](int d) { return jobs.at(d)->Progress(); };
  hooks.item = [&](int d) { return jobs.at(d)->Item(); };
  hooks.error = [&](int d) { return jobs.at(d)->Error(); };
  hooks.stop = [&](int d) { jobs.at(d)->Stop(); };
  hooks.reset = [](int) {};  // the copies are not on the burn list
  hooks.checkDisc = [](int d) {
    // From the command line nothing is erased without being asked for.
    bool blank = false, writable = false;
    int medium = 0;
    if (GetDiscInfo(d, &blank, &writable, &medium) == result::kSuccess && !blank && medium::IsErasable(medium))
      return int(result::kTargetNotBlank);
    return int(result::kSuccess);
  };
  const int res =
      RunCopies(targets, copies, WithVerify(verify, false, [&](int d) { return jobs.at(d)->Run(-1, d, file); }), hooks);
  // A copy file the command made for itself goes; one the user named stays with --keep.
  if (bcl.empty() && (via.empty() || !keep)) std::remove(file.c_str());
  return res == result::kSuccess ? 0 : 1;
}

// Several targets or copies: the drives are opened, then the copy goes
// through one copy file onto all of them.
int CopySeveral(const CliOptions& opt, const std::string& from, const std::vector<std::string>& targets, int copies) {
  const bool fromFile = opt.Has("--bcl");
  const std::string via = opt.Value("--via");
  std::vector<std::string> drives = targets;
  if (!from.empty()) drives.push_back(from);
  if (const std::string twice = DriveGivenTwice(drives); !twice.empty())
    return CliFail(result::kBadArguments, "the drive " + twice + " is given twice: several copies need other recorders");
  for (const std::string& t : targets)
    if (copies > 1 && t.rfind("image:", 0) == 0)
      return CliFail(result::kBadArguments, "an image file is written once; --copies needs a drive");
  InterruptCatcher catcher;
  int source = -1;
  if (!from.empty() && (source = OpenBurnDrive(from, "", false)) < 0) return 1;
  std::vector<int> indexes;
  for (const std::string& t : targets) {
    const int index = OpenBurnDrive(t, opt.Value("--medium"), true, opt.Has("--replace"));
    if (index < 0) return 1;
    indexes.push_back(index);
  }
  return CopyToSeveral(source, fromFile ? opt.Value("--bcl") : "", indexes, copies, via, opt.Has("--keep"),
                       opt.Has("--verify"));
}

// One target: on the fly, through a copy file, from one, or only making one.
int CopyOne(const CliOptions& opt, const std::string& from, const std::string& to) {
  const bool save = opt.Has("--save"), fromFile = opt.Has("--bcl");
  const std::string via = opt.Value("--via");
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
  else if (fromFile)
    res = RunWithProgress(onTarget([&] {
      return WithVerify(opt.Has("--verify"), false, [&](int d) { return DiscCopy(-1, d, opt.Value("--bcl")); })(target);
    }));
  else
    res = RunWithProgress(onTarget([&] {
      return WithVerify(opt.Has("--verify"), false, [&](int d) { return DiscCopy(source, d, via); })(target);
    }));
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

int RunCopy(const CliArgs& args) {
  CliOptions opt(args, {"--from", "--to", "--via", "--save", "--bcl", "--medium", "--copies"}, {"--keep", "--replace", "--verify"});
  const char* usage =
      "usage: copy --from D1 --to D2 [--to D3 ...] [--copies N] [--via FILE.bcl [--keep]] [--verify] | copy --from D --save FILE.bcl | "
      "copy --bcl FILE.bcl --to D [--to D2 ...] [--verify]";
  if (!opt.ok() || !opt.Operands().empty()) return CliFail(result::kBadArguments, opt.ok() ? usage : opt.error());
  const bool save = opt.Has("--save"), fromFile = opt.Has("--bcl");
  const std::string from = opt.Value("--from"), to = opt.Value("--to"), via = opt.Value("--via");
  const bool fits = save ? (!from.empty() && to.empty() && via.empty() && !fromFile && !opt.Has("--keep"))
                    : fromFile ? (from.empty() && !to.empty() && via.empty() && !opt.Has("--keep"))
                               : (!from.empty() && !to.empty() && (via.empty() ? !opt.Has("--keep") : true));
  if (!fits || (save && opt.Has("--verify"))) return CliFail(result::kBadArguments, usage);
  if (from.rfind("image:", 0) == 0)
    return CliFail(result::kBadArguments, "copy reads a disc in a drive; burn an image with burn --image " + from.substr(6));
  if (opt.Has("--medium") && to.rfind("image:", 0) != 0)
    return CliFail(result::kBadArguments, "--medium is for an image:FILE target");

  // The copy file is checked before any drive is opened.
  if (fromFile && access(opt.Value("--bcl").c_str(), F_OK) != 0)
    return CliFail(result::kCopyFileMissing, opt.Value("--bcl"));
  const std::vector<std::string> targets = opt.Values("--to");
  int copies = 1;
  if (opt.Has("--copies") && !ParseCopies(opt.Value("--copies"), &copies))
    return CliFail(result::kBadArguments, kCopiesUsage);
  if (targets.size() > 1 || copies > 1) return CopySeveral(opt, from, targets, copies);
  return CopyOne(opt, from, to);
}

CliCommand regCopy{"copy",
                   "copy --from D1 --to D2 [--to D3 ...] [--copies N] [--via FILE.bcl [--keep]] [--verify] | copy --from D --save FILE.bcl | "
                   "copy --bcl FILE.bcl --to D [--to D2 ...] [--verify]",
                   &RunCopy};

}  // namespace
