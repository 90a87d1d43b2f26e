// varnex-cli video: Video CDs and Super Video CDs from video files. Each file
// is converted to the disc's MPEG kind (unless --no-reencode), the disc is
// laid out and written session-at-once onto the blank CD in the recorder.
// With several --drive options or --copies N the disc is prepared once and
// written to every recorder, each recorder writing N copies.
// With --dvd the job goes to the DVD-Video command (cli/CmdVideoDvd), so that
// scripts meet one command for every video disc.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "MediumTable.h"
#include "jobs/CVideoDiscProject.h"
#include "ImageFileDisc.h"
#include "cli/CliBurnDrive.h"
#include "cli/CliBurnRun.h"
#include "cli/CliVerify.h"
#include "cli/CliCommand.h"
#include "cli/CmdVideoDvd.h"

namespace {

const char* kUsage =
    "video (--vcd | --svcd) --drive D [--drive D2 ...] [--copies N] [--ntsc] [--wide] [--label L] [--no-reencode] "
    "[--replace] [--verify] FILE... | video (--vcd | --svcd) --drive D [--drive D2 ...] [--copies N] [--replace] [--verify] --project FILE.bcd | "
    "video (--vcd | --svcd) --save FILE.bcd [--replace] FILE... | "
    "video --dvd --drive D [--drive D2 ...] [--copies N] [--ntsc] [--wide] [--label L] [--medium M] [--replace] [--verify] FILE...";

// The kind of disc the flags name: 0 when none or several are given.
int KindOf(const CliOptions& opt) {
  int kinds = opt.Has("--vcd") + opt.Has("--svcd") + opt.Has("--dvd");
  if (kinds != 1) return 0;
  return opt.Has("--vcd") ? CVideoDiscProject::kVideoCd
         : opt.Has("--svcd") ? CVideoDiscProject::kSuperVideoCd
                             : CVideoDiscProject::kDvdVideo;
}

// Every file named must become an item; one that cannot stops the job
// before anything is converted or burnt. 0, or the exit status.
int CollectItems(const CliOptions& opt, CVideoDiscProject* project) {
  std::vector<std::string> refused;
  if (opt.Has("--project")) {
    std::string error;
    if (!project->LoadVideoProject(opt.Value("--project"), &error, &refused))
      return CliFail(result::kProjectUnreadable, error);
  }
  for (const std::string& path : opt.Operands()) {
    std::string why;
    switch (project->AddVideoFile(path, &why)) {
      case CVideoDiscProject::kAdded: break;
      case CVideoDiscProject::kSkipped: refused.push_back(path + ": not a video file the project takes"); break;
      case CVideoDiscProject::kUnreadable: refused.push_back(why); break;
      case CVideoDiscProject::kLimitReached: refused.push_back(path + ": the disc holds no more tracks"); break;
    }
  }
  for (const std::string& r : refused) std::fprintf(stderr, "varnex-cli: %s\n", r.c_str());
  if (!refused.empty()) return CliFail(result::kFilesLeftOut, "nothing was done");
  if (project->ItemCount() == 0) return CliFail(CVideoDiscProject::kEmptyProject);
  if (opt.Has("--label")) project->SetLabel(opt.Value("--label"));
  project->SetReencode(!opt.Has("--no-reencode"));
  project->SetNtsc(opt.Has("--ntsc"));
  project->SetWide(opt.Has("--wide"));
  return 0;
}

// A video CD goes onto a blank CD-R or CD-RW; checked before a long conversion.
int CheckBlankCd(CVideoDiscProject* project, int drive) {
  const int rc = project->CheckTarget(drive);
  return rc == result::kSuccess ? 0 : CliFail(rc, project->LastError(drive));
}

int Prepare(CVideoDiscProject* project) {
  const bool terminal = isatty(STDERR_FILENO);
  const bool reencode = project->Reencode();
  int rc = project->PrepareVideoDisc(
      [](const std::string& failures) {
        std::fprintf(stderr, "varnex-cli: these files could not be converted:\n%s", failures.c_str());
        return false;
      },
      &gInterrupted,
      [terminal, reencode](int item, int items, const std::string& name) {
        if (!reencode) return;
        std::fprintf(stderr, terminal ? "\rconverting %d/%d: %s\033[K" : "converting %d/%d: %s\n", item + 1, items,
                     name.c_str());
      });
  if (terminal && reencode) std::fprintf(stderr, "\n");
  if (rc != result::kSuccess) return CliFail(rc, project->LastError());
  return 0;
}

int Burn(CVideoDiscProject* project, int drive, bool verify) {
  auto job = WithVerify(verify, false, [&](int d) { return project->BurnVideoDisc(d, &gInterrupted); });
  const int rc = RunStep([&] { return job(drive); },
                         [&] { return PercentLine(project->GetBurnProgress(), project->GetWritingItemCaption()); },
                         [] {});  // the burn watches the interrupt itself
  if (rc != result::kSuccess) return CliFail(rc, project->LastError());
  return 0;
}

// The prepared disc on every drive, `copies` times each; a drive that fails
// ends only its own copies and is named. 0, or the exit status.
int BurnCopies(CVideoDiscProject* project, const std::vector<int>& drives, int copies, bool verify) {
  BurnMultiRun::Hooks hooks;
  hooks.progress = [project](int d) { return project->GetBurnProgress(d); };
  hooks.item = [project](int d) { return project->GetWritingItemCaption(d); };
  hooks.error = [project](int d) { return project->LastError(d); };
  hooks.stop = [project](int d) { project->StopBurn(d); };
  hooks.checkDisc = [project](int d) { return project->CheckTarget(d); };
  hooks.reset = [](int) {};  // these burns are not on the burn list
  const int rc = RunCopies(
      drives, copies, WithVerify(verify, false, [&](int d) { return project->BurnVideoDisc(d, &gInterrupted); }), hooks);
  return rc == result::kSuccess ? 0 : 1;
}

int RunVideo(const CliArgs& args) {
  // A DVD-Video job has options of its own; the DVD command judges them.
  for (const std::string& arg : args)
    if (arg == "--dvd") return RunVideoDvd(args);
  CliOptions opt(args, {"--drive", "--label", "--project", "--save", "--copies"},
                 {"--vcd", "--svcd", "--ntsc", "--wide", "--no-reencode", "--replace", "--verify"});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  const int kind = KindOf(opt);
  if (kind == 0) return CliFail(result::kBadArguments, std::string("usage: ") + kUsage);
  const bool save = opt.Has("--save");
  const std::vector<std::string> driveSpecs = opt.Values("--drive");
  if (save == !driveSpecs.empty() || (save && (opt.Has("--project") || opt.Has("--copies"))) ||
      (opt.Operands().empty() && !opt.Has("--project")))
    return CliFail(result::kBadArguments, std::string("usage: ") + kUsage);
  int copies = 1;
  if (opt.Has("--copies") && !ParseCopies(opt.Value("--copies"), &copies))
    return CliFail(result::kBadArguments, kCopiesUsage);
  for (const std::string& spec : driveSpecs)
    if (spec.rfind("image:", 0) == 0 && !ImageFileDisc::KeepsWholeSectors(spec.substr(6)))
      return CliFail(result::kBadArguments, "an image file keeps a video CD as a CUE sheet and its BIN file: name it " +
                                                spec + ".cue or another name ending in .cue");
  if (const std::string twice = DriveGivenTwice(driveSpecs); !twice.empty())
    return CliFail(result::kBadArguments, "the drive " + twice + " is given twice");

  if (save)
    if (int st = CliOutputRefused(opt.Value("--save"), CliExisting(opt))) return st;
  InterruptCatcher catcher;
  CVideoDiscProject project(kind);
  if (int st = CollectItems(opt, &project)) return st;
  if (save) {
    std::string error;
    if (!project.SaveVideoProject(opt.Value("--save"), &error, CliExisting(opt))) return CliFail(result::kProjectNotWritten, error);
    return 0;
  }
  std::vector<int> drives;
  for (const std::string& spec : driveSpecs) {
    const int drive = OpenBurnDrive(spec, "", driveSpecs.size() > 1, opt.Has("--replace"));
    if (drive < 0) return 1;
    if (int st = CheckBlankCd(&project, drive)) return st;
    drives.push_back(drive);
  }
  // Converted and laid out once, whatever the number of drives and copies;
  // the work folder goes with the project on every way out, once every
  // recorder has ended.
  if (int st = Prepare(&project)) return st;
  if (gInterrupted) return CliFail(result::kBurnStopped, "stopped before the burn began");
  if (drives.size() == 1 && copies == 1) {
    if (int st = Burn(&project, drives.front(), opt.Has("--verify"))) return st;
  } else if (int st = BurnCopies(&project, drives, copies, opt.Has("--verify"))) {
    return st;
  }
  for (int drive : drives)
    std::fprintf(stderr, "varnex-cli: %zu video tracks burnt on %s\n", project.PreparedItems().size(),
                 FindRecorder(drive)->Name().c_str());
  return 0;
}

CliCommand reg{"video", kUsage, &RunVideo};

}  // namespace
