// varnex-cli audio: audio CDs from any sound file. "audio burn" converts
// every file with the converter, in the order given, and burns the tracks;
// "audio project save" writes them as an audio project file.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>

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
#include "cli/CliProject.h"
#include "jobs/CAudioCDProject.h"

namespace {

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// An operand FILE[::TITLE[::PERFORMER]]: the file, and the texts that
// replace what its tags say. A file whose own name holds "::" is taken whole.
struct Operand {
  std::string path;
  bool titled = false, performed = false;
  std::string title, performer;
};

Operand SplitOperand(const std::string& text) {
  Operand o{text};
  struct stat st;
  const size_t first = text.find("::");
  if (first == std::string::npos || ::stat(text.c_str(), &st) == 0) return o;
  o.path = text.substr(0, first);
  const size_t second = text.find("::", first + 2);
  o.titled = true;
  o.title = text.substr(first + 2, second == std::string::npos ? std::string::npos : second - first - 2);
  if (second != std::string::npos) o.performed = true, o.performer = text.substr(second + 2);
  return o;
}

// The rows of the project, one per file in the order given (a folder gives
// its sound files in name order). Every file named that cannot be a track is
// refused with its name, before anything else is done. 0, or the exit
// status after the messages.
int CollectRows(const std::vector<std::string>& operands, CAudioCDProject* project) {
  project->BeginAdd();
  std::vector<std::string> refused;
  for (const std::string& text : operands) {
    const Operand operand = SplitOperand(text);
    const std::string& path = operand.path;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      refused.push_back(path + ": " + LoadErrorText(result::kSourceMissing));
      continue;
    }
    if (IsFolder(path)) {
      if (operand.titled) refused.push_back(path + ": a folder takes no title; name its files one by one");
      else project->AddAudioFolder(path);
      continue;
    }
    switch (project->AddAudioFile(path)) {
      case CAudioCDProject::kAdded:
        if (operand.titled) {
          const int row = int(project->RowCount()) - 1;
          AudioTrackRow values = project->Rows()[size_t(row)];
          values.title = operand.title;
          if (operand.performed) values.performer = operand.performer;
          project->SetRowDetails(row, values);
        }
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

// The disc's texts and codes and each track's: --title, --performer, --mcn,
// --gap SECONDS (after every track but the first), --isrc N=CODE (track N),
// --pre-emphasis, --copy-permitted. 0, or the exit status after the message.
int ApplyDiscOptions(const CliOptions& opt, CAudioCDProject* project) {
  AudioDiscText disc = project->DiscText();
  if (opt.Has("--title")) disc.title = opt.Value("--title");
  if (opt.Has("--performer")) disc.performer = opt.Value("--performer");
  if (opt.Has("--mcn")) disc.mcn = opt.Value("--mcn");
  std::string why;
  if (!project->SetDiscText(disc, &why)) return CliFail(result::kBadArguments, "--mcn: " + why);
  if (opt.Has("--gap")) {
    const std::string text = opt.Value("--gap");
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(seconds >= 0 && seconds <= 10))
      return CliFail(result::kBadArguments, "--gap takes the seconds of silence between tracks, 0 to 10");
    project->SetPauseAfterFirst(int(seconds * 75 + 0.5));
  }
  std::vector<AudioTrackRow> rows = project->Rows();
  for (AudioTrackRow& row : rows) {
    if (opt.Has("--pre-emphasis")) row.preEmphasis = true;
    if (opt.Has("--copy-permitted")) row.copyPermitted = true;
  }
  for (const std::string& given : opt.Values("--isrc")) {
    const size_t eq = given.find('=');
    const std::string number = eq == std::string::npos ? std::string() : given.substr(0, eq);
    char* end = nullptr;
    const long track = number.empty() ? 0 : std::strtol(number.c_str(), &end, 10);
    if (number.empty() || *end != '\0' || track < 1 || size_t(track) > rows.size())
      return CliFail(result::kBadArguments, "--isrc takes TRACK=CODE for one of the " + std::to_string(rows.size()) +
                                                " tracks, such as 1=GB-ABC-24-00001");
    rows[size_t(track - 1)].isrc = given.substr(eq + 1);
  }
  for (size_t i = 0; i < rows.size(); ++i)
    if (!project->SetRowDetails(int(i), rows[i], &why))
      return CliFail(result::kBadArguments, "track " + std::to_string(i + 1) + ": " + why);
  return 0;
}

// Files on the disc besides the sound: "--data-session PATH" puts them in a
// session after the audio (an Enhanced CD), "--data-track PATH" in track 1
// before it (a mixed-mode CD). 0, or the exit status after the message.
int ApplyDataFiles(const CliOptions& opt, CAudioCDProject* project) {
  const bool after = opt.Has("--data-session"), before = opt.Has("--data-track");
  if (after && before)
    return CliFail(result::kBadArguments, "the files go either after the audio (--data-session) or before it "
                                          "(--data-track), not both");
  if (opt.Has("--data-label") && !after && !before)
    return CliFail(result::kBadArguments, "--data-label names the files of --data-session or --data-track");
  if (!after && !before) return 0;
  AudioDataFiles files;
  files.place = after ? AudioDiscFiles::kSessionAfter : AudioDiscFiles::kTrackFirst;
  files.paths = opt.Values(after ? "--data-session" : "--data-track");
  for (const std::string& p : files.paths) {
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) return CliFail(result::kSourceMissing, p + ": no such file or folder");
  }
  std::string label = opt.Value("--data-label"), notice;
  if (!CheckVolumeLabel(&label, &notice)) return CliFail(result::kBadArguments, notice);
  if (!notice.empty()) std::fprintf(stderr, "varnex-cli: %s\n", notice.c_str());
  files.label = label;
  project->SetDataFiles(files);
  return 0;
}

// Told before the conversion: what cannot be burnt at all, and texts that
// lose characters. 0, or the exit status after the message.
int CheckDisc(const CAudioCDProject& project, const std::vector<int>& drives, std::set<std::string>* told) {
  for (int drive : drives) {
    bool blank = false, writable = false;
    int type = 0;
    uint64_t freeBytes = 0;
    std::vector<std::string> notices;
    const bool known = GetDiscInfoEx(drive, &blank, &writable, &type, &freeBytes) == result::kSuccess;
    const std::string why = project.BurnRefusal(known ? freeBytes / 2352 : 0, &notices);
    if (!why.empty()) return CliFail(result::kDoesNotFit, FindRecorder(drive)->Name() + ": " + why);
    for (const std::string& n : notices)
      if (told->insert(n).second) std::fprintf(stderr, "varnex-cli: %s\n", n.c_str());
  }
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
  CliOptions opt(args,
                 {"--drive", "--speed", "--copies", "--title", "--performer", "--mcn", "--gap", "--isrc",
                  "--data-session", "--data-track", "--data-label"},
                 {"--test", "--replace", "--verify", "--tao", "--pre-emphasis", "--copy-permitted"});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  const std::vector<std::string> driveSpecs = opt.Values("--drive");
  if (driveSpecs.empty() || opt.Operands().empty())
    return CliFail(result::kBadArguments,
                   "usage: audio burn --drive D [--drive D2 ...] [--copies N] [--speed X] [--test] [--replace] [--verify] "
                   "[--title T] [--performer P] [--mcn N] [--gap SECONDS] [--isrc TRACK=CODE]... [--tao] "
                   "[(--data-session PATH | --data-track PATH)... [--data-label L]] FILE[::TITLE[::PERFORMER]]...");
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
  if (int st = ApplyDiscOptions(opt, &project)) return st;
  if (int st = ApplyDataFiles(opt, &project)) return st;
  project.SetTrackAtOnce(opt.Has("--tao"));
  if (opt.Has("--tao") && (!project.DiscText().title.empty() || !project.DiscText().mcn.empty() ||
                           opt.Has("--isrc")))
    std::fprintf(stderr, "varnex-cli: track-at-once writes the sound only: the CD-Text and the codes are left out\n");
  std::vector<int> drives;
  for (const std::string& spec : driveSpecs) {
    const int drive = OpenBurnDrive(spec, "", driveSpecs.size() > 1, opt.Has("--replace"));
    if (drive < 0) return 1;
    if (int st = SetSpeed(drive, opt.Value("--speed"))) return st;
    if (int st = CheckBlankCd(drive)) return st;
    drives.push_back(drive);
  }
  std::set<std::string> told;
  if (int st = CheckDisc(project, drives, &told)) return st;
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
  for (const std::string& n : project.BurnNotices())
    if (rc != result::kSuccess && told.insert(n).second) std::fprintf(stderr, "varnex-cli: %s\n", n.c_str());
  if (rc != result::kSuccess)
    return drives.size() > 1 || copies > 1 || !LastJobError(drives.front()).empty()
               ? 1
               : CliFail(rc, FindRecorder(drives.front())->Name());
  for (const std::string& n : project.BurnNotices())
    if (told.insert(n).second) std::fprintf(stderr, "varnex-cli: %s\n", n.c_str());
  for (int drive : drives)
    std::fprintf(stderr, "varnex-cli: %zu tracks burnt on %s\n", project.RowCount() , FindRecorder(drive)->Name().c_str());
  return 0;
}

int SaveProject(const CliArgs& args) {
  CliOptions opt(args,
                 {"-o", "--title", "--performer", "--mcn", "--gap", "--isrc", "--data-session", "--data-track",
                  "--data-label"},
                 {"--replace", "--pre-emphasis", "--copy-permitted"});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  if (opt.Value("-o").empty() || opt.Operands().empty())
    return CliFail(result::kBadArguments,
                   "usage: audio project save -o FILE.bcd [--replace] [--title T] [--performer P] [--mcn N] "
                   "[--gap SECONDS] [--isrc TRACK=CODE]... [(--data-session PATH | --data-track PATH)... [--data-label L]] "
                   "FILE[::TITLE[::PERFORMER]]...");
  if (int st = CliOutputRefused(opt.Value("-o"), CliExisting(opt))) return st;
  CAudioCDProject project;
  if (int st = CollectRows(opt.Operands(), &project)) return st;
  if (int st = ApplyDiscOptions(opt, &project)) return st;
  if (int st = ApplyDataFiles(opt, &project)) return st;
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
               "audio burn --drive D [--drive D2 ...] [--copies N] [--speed X] [--test] [--replace] [--verify] "
               "[--title T] [--performer P] [--mcn N] [--gap SECONDS] [--isrc TRACK=CODE]... [--pre-emphasis] "
               "[--copy-permitted] [--tao] [(--data-session PATH | --data-track PATH)... [--data-label L]] "
               "FILE[::TITLE[::PERFORMER]]... | "
               "audio project save -o FILE.bcd [--replace] [--title T] [--performer P] [--mcn N] [--gap SECONDS] "
               "[--isrc TRACK=CODE]... [(--data-session PATH | --data-track PATH)... [--data-label L]] "
               "FILE[::TITLE[::PERFORMER]]...",
               &RunAudio};

}  // namespace
