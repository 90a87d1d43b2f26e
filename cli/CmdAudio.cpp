// varnex-cli audio: audio CDs from any sound file. "audio burn" converts
// every file with the converter, in the order given, and burns the tracks;
// "audio project save" writes them as an audio project file.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "foundation/SystemSettings.h"
#include "MediumTable.h"
#include "foundation/LangText.h"
#include "ImageFileDisc.h"
#include "cli/CliBurnDrive.h"
#include "cli/CliBurnRun.h"
#include "cli/CliVerify.h"
#include "cli/CliCommand.h"
#include "jobs/CAudioCDProject.h"

namespace {

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The rows of the project, one per file in the order given (a folder gives
// its sound files in name order). Every file named that cannot be a track is
// refused with its name, before anything else is done. 0, or the exit
// status after the messages.
int CollectRows(const std::vector<std::string>& operands, CAudioCDProject* project) {
  project->BeginAdd();
  std::vector<std::string> refused;
  for (const std::string& path : operands) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      refused.push_back(path + ": " + LoadErrorText(result::kSourceMissing));
      continue;
    }
    if (IsFolder(path)) {
      project->AddAudioFolder(path);
      continue;
    }
    switch (project->AddAudioFile(path)) {
      case CAudioCDProject::kAdded:
        break;
      case CAudioCDProject::kSkipped:
        refused.push_back(path + ": not a sound file (.mp3, .wav, .aac, .ogg, .wma, .flac, .m4a, .opus)");
        break;
      case CAudioCDProject::kUndecodable:
        refused.push_back(path + ": the converter finds no sound in it");
        break;
      case CAudioCDProject::kLimitReached:
      case CAudioCDProject::kCancelled:
        break;
    }
  }
  // Files of folders the converter cannot read are refused too.
  for (const std::string& path : project->Undecodable()) {
    bool named = false;
    for (const std::string& r : refused) named = named || r.rfind(path + ":", 0) == 0;
    if (!named) refused.push_back(path + ": the converter finds no sound in it");
  }
  if (project->LimitReached())
    refused.push_back("an audio CD holds at most " + std::to_string(CAudioCDProject::kMaxTracks) + " tracks");
  for (const std::string& r : refused) std::fprintf(stderr, "varnex-cli: %s\n", r.c_str());
  if (!refused.empty()) return CliFail(result::kFilesLeftOut, "nothing was done");
  if (project->RowCount() == 0) return CliFail(CAudioCDProject::kEmptyProject);
  return 0;
}

// The disc must be a blank CD-R or CD-RW before the conversion starts: a
// long conversion is not wasted on a disc that cannot take the tracks.
int CheckBlankCd(int drive) {
  bool blank = false, writable = false;
  int type = 0;
  const int rc = GetDiscInfo(drive, &blank, &writable, &type);
  if (rc != result::kSuccess) return CliFail(rc, FindRecorder(drive)->Name());
  if (type != medium::kCdR && type != medium::kCdRw)
    return CliFail(result::kAudioNeedsCd, FindRecorder(drive)->Name());
  if (!blank) return CliFail(result::kAudioNeedsCd, "the disc in " + FindRecorder(drive)->Name() + " is not blank");
  return 0;
}

int Convert(CAudioCDProject* project) {
  const bool terminal = isatty(STDERR_FILENO);
  int rc = project->PrepareTracks(
      [](const std::string& failures) {
        // A script is never asked: a file that cannot be converted stops
        // the job before anything is burnt.
        std::fprintf(stderr, "varnex-cli: these files could not be converted:\n%s", failures.c_str());
        return false;
      },
      &gInterrupted,
      [terminal](int row, int rows, const std::string& name) {
        std::fprintf(stderr, terminal ? "\rconverting %d/%d: %s\033[K" : "converting %d/%d: %s\n", row + 1, rows,
                     name.c_str());
      });
  if (terminal) std::fprintf(stderr, "\n");
  if (rc != result::kSuccess) return CliFail(rc, rc == result::kBurnStopped ? "stopped while converting" : "");
  return 0;
}

int Burn(const CliArgs& args) {
  CliOptions opt(args, {"--drive", "--speed", "--copies"}, {"--test", "--replace", "--verify"});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  const std::vector<std::string> driveSpecs = opt.Values("--drive");
  if (driveSpecs.empty() || opt.Operands().empty())
    return CliFail(result::kBadArguments,
                   "usage: audio burn --drive D [--drive D2 ...] [--copies N] [--speed X] [--test] [--replace] [--verify] FILE...");
  int copies = 1;
  if (opt.Has("--copies") && !ParseCopies(opt.Value("--copies"), &copies))
    return CliFail(result::kBadArguments, kCopiesUsage);
  double speed = 0;
  if (opt.Has("--speed") && !ParseSpeed(opt.Value("--speed"), &speed))
    return CliFail(result::kBadArguments, "--speed takes a number such as 16 or 8x");
  for (const std::string& spec : driveSpecs)
    if (spec.rfind("image:", 0) == 0 && !ImageFileDisc::KeepsWholeSectors(spec.substr(6)))
      return CliFail(result::kAudioNeedsCd, "an image file keeps an audio CD as a CUE sheet and its BIN file: name it " +
                                                spec + ".cue or another name ending in .cue");
  if (const std::string twice = DriveGivenTwice(driveSpecs); !twice.empty())
    return CliFail(result::kBadArguments, "the drive " + twice + " is given twice");

  InterruptCatcher catcher;
  CAudioCDProject project;
  if (int st = CollectRows(opt.Operands(), &project)) return st;
  std::vector<int> drives;
  for (const std::string& spec : driveSpecs) {
    const int drive = OpenBurnDrive(spec, "", driveSpecs.size() > 1, opt.Has("--replace"));
    if (drive < 0) return 1;
    if (int st = SetSpeed(drive, opt.Value("--speed"))) return st;
    if (int st = CheckBlankCd(drive)) return st;
    drives.push_back(drive);
  }
  // The tracks are converted once, whatever the number of drives and
  // copies; the work folder goes with the project on every way out.
  if (int st = Convert(&project)) return st;
  if (gInterrupted) return CliFail(result::kBurnStopped, "stopped before the burn began");
  const bool test = opt.Has("--test");
  SetMultiRecorderMode(false);
  SetWriteToFile(WriteToFileTarget());
  if (opt.Has("--verify") && test) std::fprintf(stderr, "varnex-cli: a test write is not verified\n");
  auto job = WithVerify(opt.Has("--verify") && !test, false, [&](int index) { return project.BurnTracks(index, test); });
  const int rc = drives.size() == 1 && copies == 1 ? RunWithProgress(drives, job) : RunCopies(drives, copies, job);
  for (int drive : drives) ResetBurn(drive);
  project.DeleteTempTracks();
  DeleteTempFiles();
  if (rc != result::kSuccess)
    return drives.size() > 1 || copies > 1 || !LastJobError(drives.front()).empty()
               ? 1
               : CliFail(rc, FindRecorder(drives.front())->Name());
  for (int drive : drives)
    std::fprintf(stderr, "varnex-cli: %zu tracks burnt on %s\n", project.RowCount() , FindRecorder(drive)->Name().c_str());
  return 0;
}

int SaveProject(const CliArgs& args) {
  CliOptions opt(args, {"-o"}, {"--replace"});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  if (opt.Value("-o").empty() || opt.Operands().empty())
    return CliFail(result::kBadArguments, "usage: audio project save -o FILE.bcd [--replace] FILE...");
  if (int st = CliOutputRefused(opt.Value("-o"), CliExisting(opt))) return st;
  CAudioCDProject project;
  if (int st = CollectRows(opt.Operands(), &project)) return st;
  std::string error;
  if (!project.SaveAudioProject(opt.Value("-o"), &error, CliExisting(opt))) return CliFail(result::kProjectNotWritten, error);
  return 0;
}

int RunAudio(const CliArgs& args) {
  if (!args.empty() && args[0] == "burn") return Burn(CliArgs(args.begin() + 1, args.end()));
  if (args.size() >= 2 && args[0] == "project" && args[1] == "save")
    return SaveProject(CliArgs(args.begin() + 2, args.end()));
  return CliFail(result::kBadArguments, "usage: audio burn ... | audio project save ...");
}

CliCommand reg{"audio",
               "audio burn --drive D [--drive D2 ...] [--copies N] [--speed X] [--test] [--replace] [--verify] FILE... | "
               "audio project save -o FILE.bcd [--replace] FILE...",
               &RunAudio};

}  // namespace
