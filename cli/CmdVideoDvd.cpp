// varnex-cli video --dvd: authors the files as a DVD-Video disc and writes
// it disc-at-once onto the blank DVD in a recorder, or into an image file.
// With several --drive options or --copies N the disc is authored once and
// written on every recorder, each recorder writing N copies.

#include "cli/CmdVideoDvd.h"

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <cstdio>
#include <thread>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "jobs/CDvdVideoProject.h"
#include "cli/CliBurnDrive.h"
#include "cli/CliBurnRun.h"
#include "cli/CliVerify.h"
#include "foundation/LangText.h"

namespace {

constexpr const char* kUsage =
    "usage: video --dvd --drive D [--drive D2 ...] [--copies N] [--ntsc] [--wide] [--label L] [--medium M] [--verify] FILE...";

// Runs a step of the project on a worker and shows its progress on a
// terminal; Ctrl-C cancels it (the running tool is ended).
int RunStep(CDvdVideoProject& project, const std::function<int()>& step) {
  return ::RunStep(step, [&] { return PercentLine(project.Progress(), project.Step()); }, [&] { project.Cancel(); });
}

}  // namespace

int RunVideoDvd(const CliArgs& args) {
  CliOptions opt(args, {"--drive", "--label", "--medium", "--copies"}, {"--dvd", "--ntsc", "--wide", "--replace", "--verify"});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  const std::vector<std::string> driveSpecs = opt.Values("--drive");
  if (driveSpecs.empty() || opt.Operands().empty()) return CliFail(result::kBadArguments, kUsage);
  int copies = 1;
  if (opt.Has("--copies") && !ParseCopies(opt.Value("--copies"), &copies))
    return CliFail(result::kBadArguments, kCopiesUsage);
  const bool several = driveSpecs.size() > 1 || copies > 1;
  for (const std::string& spec : driveSpecs)
    if (copies > 1 && spec.rfind("image:", 0) == 0)
      return CliFail(result::kBadArguments, "an image:FILE target takes one DVD; several copies need recorders");
  if (const std::string twice = DriveGivenTwice(driveSpecs); !twice.empty())
    return CliFail(result::kBadArguments, "the drive " + twice + " is given twice");
  if (opt.Has("--medium") && !std::any_of(driveSpecs.begin(), driveSpecs.end(), [](const std::string& d) { return d.rfind("image:", 0) == 0; }))
    return CliFail(result::kBadArguments, "--medium is for an image:FILE drive");

  CDvdVideoProject project;
  project.SetTvSystem(opt.Has("--ntsc") ? CDVDFile::kNtsc : CDVDFile::kPal);
  project.SetAspect(opt.Has("--wide") ? CDVDFile::kAspect16x9 : CDVDFile::kAspect4x3);
  if (opt.Has("--label")) project.SetLabel(opt.Value("--label"));
  // Every file is judged before anything is converted or opened.
  if (opt.Operands().size() > CDvdVideoProject::kMaxInputs)
    return CliFail(CDvdVideoProject::kTooManyInputs, std::to_string(opt.Operands().size()) + " files given");
  int refused = 0;
  for (const std::string& path : opt.Operands()) {
    switch (project.AddInput(path)) {
      case CDvdVideoProject::kAdded: break;
      case CDvdVideoProject::kMissing:
        std::fprintf(stderr, "varnex-cli: %s: no such file\n", path.c_str());
        ++refused;
        break;
      case CDvdVideoProject::kNotVideo:
        std::fprintf(stderr, "varnex-cli: %s: not a video file\n", path.c_str());
        ++refused;
        break;
      case CDvdVideoProject::kLimitReached: ++refused; break;
    }
  }
  if (refused) return CliFail(result::kFilesLeftOut, "nothing was done");

  InterruptCatcher catcher;
  std::vector<int> drives;
  for (const std::string& spec : driveSpecs) {
    const bool imageTarget = spec.rfind("image:", 0) == 0;
    const int index = OpenBurnDrive(spec, imageTarget ? opt.Value("--medium", "dvd-r") : "", driveSpecs.size() > 1,
                                    opt.Has("--replace"));
    if (index < 0) return 1;
    // A disc that cannot take a DVD is refused before the long authoring.
    if (int rc = project.CheckTarget(index); rc != result::kSuccess) return CliFail(rc, project.LastError());
    drives.push_back(index);
  }
  int rc = RunStep(project, [&] { return project.Prepare(); });
  if (rc != result::kSuccess) {
    project.CleanUp();
    return CliFail(rc, project.LastError());
  }
  if (several) {
    BurnMultiRun::Hooks hooks;
    hooks.progress = [&project](int d) { return project.Progress(d); };
    hooks.item = [](int) { return LoadLangText("UIText", CDvdVideoProject::kWritingText); };
    hooks.error = [&project](int d) { return project.LastError(d); };
    hooks.stop = [&project](int d) { project.StopBurn(d); };
    hooks.checkDisc = [&project](int d) { return project.CheckTarget(d); };
    hooks.reset = [](int) {};  // these burns are not on the burn list
    rc = RunCopies(drives, copies, WithVerify(opt.Has("--verify"), false, [&project](int d) { return project.Burn(d); }),
                   hooks);
  } else {
    auto job = WithVerify(opt.Has("--verify"), false, [&project](int d) { return project.Burn(d); });
    rc = RunStep(project, [&] { return job(drives.front()); });
  }
  const uint32_t sectors = project.Dvd().TotalSectors();
  const int titles = project.Dvd().TitleCount();
  project.CleanUp();
  if (rc != result::kSuccess) return several ? 1 : CliFail(rc, project.LastError());
  for (int index : drives)
    std::fprintf(stderr, "varnex-cli: a DVD-Video of %d title%s (%u sectors) written to %s\n", titles,
                 titles == 1 ? "" : "s", sectors, FindRecorder(index)->Name().c_str());
  return 0;
}
