// varnex-cli burn and erase: a data project, a project file, an image or WAV
// tracks onto a drive, with a progress line; erasing a rewritable disc.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <csignal>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <set>
#include <thread>

#include "BurnCtrl/BurnFile.h"
#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "foundation/ProgramDir.h"
#include "foundation/SystemSettings.h"
#include "cli/CliCommand.h"
#include "ImageLayout.h"
#include "cli/CliBurnDrive.h"
#include "cli/CliBurnRun.h"
#include "cli/CliProject.h"
#include "cli/CliVerify.h"
#include "media/CAudioFile.h"

namespace {

// Everything is checked before the drive is touched: an image target is
// emptied when it is opened. 0, or the exit status after a message.
int CheckSources(const CliOptions& opt, std::vector<std::string>* wavs) {
  if (opt.Has("--audio")) {
    for (const std::string& w : opt.Operands()) {
      std::string why;
      if (!IsCdAudioWav(w, &why)) return CliFail(result::kSourceMissing, why);
      wavs->push_back(w);
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
    // A file the sheet names in another case is taken; the user is told which.
    ImageLayout layout;
    std::string unread;
    if (ReadImageLayout(opt.Value("--image"), layout, &unread)) {
      for (const std::string& n : layout.notices) std::fprintf(stderr, "varnex-cli: %s\n", n.c_str());
      // Written track by track, such an image would leave the disc closed
      // behind its first session.
      if (opt.Has("--tao") && layout.sessions > 1)
        return CliFail(result::kBadArguments, opt.Value("--image") + " has " + std::to_string(layout.sessions) +
                                                  " sessions, which are written a session at once only: burn it without --tao");
    }
  }
  return 0;
}

// Several drives burn at once, each from a cache of its own. 0, or the exit
// status after a message.
int OpenDrives(const CliOptions& opt, const std::vector<std::string>& specs, std::vector<int>* drives) {
  // One drive given twice would have two burns write one disc.
  if (const std::string twice = DriveGivenTwice(specs); !twice.empty())
    return CliFail(result::kBadArguments, "the drive " + twice + " is given twice");
  for (const std::string& spec : specs) {
    const int index = OpenBurnDrive(spec, opt.Value("--medium"), specs.size() > 1, opt.Has("--replace"));
    if (index < 0) return 1;
    if (int st = SetSpeed(index, opt.Value("--speed"))) return st;
    drives->push_back(index);
  }
  return 0;
}

// WAV files as they stand: an audio CD without texts or codes, written a
// session at once (gapless) unless track-at-once is asked for.
AudioDisc WavDisc(const std::vector<std::string>& wavs, bool trackAtOnce) {
  AudioDisc disc;
  for (const std::string& w : wavs) {
    AudioDiscTrack t;
    t.wav = w;
    disc.tracks.push_back(t);
  }
  disc.trackAtOnce = trackAtOnce;
  return disc;
}

int RunBurn(const CliArgs& args) {
  std::vector<std::string> values = {"--drive", "--label", "--project", "--image", "--copies", "--speed", "--medium"};
  values.insert(values.end(), kBootValueOptions.begin(), kBootValueOptions.end());
  CliOptions opt(args, values,
                 {"--multisession", "--mp3", "--test", "--audio", "--eject", "--replace", "--verify", "--no-rock",
                  "--rock-normalised", "--tao"});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  const std::vector<std::string> driveSpecs = opt.Values("--drive");
  const std::string drive = driveSpecs.empty() ? "" : driveSpecs.front();
  const bool audio = opt.Has("--audio");
  const int sources = int(opt.Has("--project")) + int(opt.Has("--image")) + int(audio) +
                      int(!audio && !opt.Operands().empty());
  int copies = 1;
  if (drive.empty() || sources != 1 || (audio && opt.Operands().empty()))
    return CliFail(result::kBadArguments,
                   "usage: burn --drive D [--drive D2 ...] [--replace] [--label L] [--multisession] [--mp3] [--test] [--copies N] [--speed X] [--verify] [--tao] "
                   "(PATH... | --project FILE.bcd | --image FILE | --audio WAV...)");
  if (opt.Has("--copies") && !ParseCopies(opt.Value("--copies"), &copies))
    return CliFail(result::kBadArguments, kCopiesUsage);
  if (opt.Has("--tao") && !audio && !opt.Has("--image"))
    return CliFail(result::kBadArguments, "--tao writes an audio CD or an image track at once; a data disc is always written so");
  if (copies > 1 && std::any_of(driveSpecs.begin(), driveSpecs.end(),
                                [](const std::string& d) { return d.rfind("image:", 0) == 0; }))
    return CliFail(result::kBadArguments, "an image file is written once; --copies needs a drive");

  std::vector<std::string> wavs;
  if (int st = CheckSources(opt, &wavs)) return st;
  eltorito::BootOptions boot;
  if (int st = CliBootOptions(opt, false, false, &boot)) return st;
  if (boot.Any() && (audio || opt.Has("--image")))
    return CliFail(result::kBadArguments, "--boot and --efi make a data disc bootable; an image or audio CD is burnt as it is");

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
    if (int st = CliProjectBoot(manager, false, false, &boot)) return st;
    if (label.empty()) label = "DataCD";
  }
  if (gInterrupted) return CliFail(result::kBurnStopped, "stopped before the burn began");

  std::vector<int> drives;
  if (int st = OpenDrives(opt, driveSpecs, &drives)) return st;
  SetWriteToFile(WriteToFileTarget());
  const bool test = opt.Has("--test");
  // A test write leaves nothing to read back; a disc that is read back
  // comes out only afterwards.
  const bool verify = opt.Has("--verify") && !test;
  if (opt.Has("--verify") && test) std::fprintf(stderr, "varnex-cli: a test write is not verified\n");
  // What each drive's audio burn has to tell (a short track filled out),
  // said once the burns are over.
  std::vector<std::vector<std::string>> notices(size_t(*std::max_element(drives.begin(), drives.end())) + 1);
  auto job = WithVerify(verify, opt.Has("--eject"), [&](int index) {
    if (audio) return WriteAudioDisc(index, WavDisc(wavs, opt.Has("--tao")), test, &notices[size_t(index)]);
    if (opt.Has("--image")) return WriteImageToCD(index, opt.Value("--image"), test, opt.Has("--tao"));
    return WriteCd(index, root.path(), label, mp3, test, opt.Has("--multisession"), opt.Has("--eject") && !verify,
                   CliDiscOptions(opt.Has("--no-rock"), opt.Has("--rock-normalised"), manager.DiscOptions()), boot);
  });
  // One drive and one copy go straight to the drive (also the image-file
  // target); several drives or copies each write their copies on their own.
  int res = drives.size() == 1 && copies == 1 ? RunWithProgress(drives, job) : RunCopies(drives, copies, job);
  for (int index : drives) {
    for (const std::string& lost : LastUnreadableSources(index))
      std::fprintf(stderr, "varnex-cli: \"%s\" could not be read during the burn\n", lost.c_str());
    ResetBurn(index);
  }
  DeleteTempFiles();
  std::set<std::string> told;
  for (const std::vector<std::string>& said : notices)
    for (const std::string& n : said)
      if (told.insert(n).second) std::fprintf(stderr, "varnex-cli: %s\n", n.c_str());
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
  const int res = BlankDisc(index);
  if (res != result::kSuccess) {
    const std::string why = LastJobError(index);
    return CliFail(res, why.empty() ? FindRecorder(index)->Name() : why);
  }
  return 0;
}

CliCommand regBurn{"burn",
                   "burn --drive D [--drive D2 ...] [--replace] [--medium M] [--label L] [--multisession] [--mp3] [--test] "
                   "[--no-rock] [--rock-normalised] [--boot IMAGE [--boot-load-size N]] [--efi IMAGE] "
                   "[--hybrid MBR-TEMPLATE] [--copies N] [--speed X] [--eject] [--verify] [--tao] (PATH... | --project FILE.bcd | --image FILE | --audio WAV...)",
                   &RunBurn};
CliCommand regErase{"erase", "erase --drive D", &RunErase};

}  // namespace
