// varnex-cli eject / load --drive D: open or close the tray.
#include <cstdio>

#include "cli/CliCommand.h"
#include "cli/CliDrive.h"

namespace {

int Tray(const CliArgs& args, bool open) {
  CliOptions opt(args, {"--drive"}, {});
  if (!opt.ok() || !opt.Has("--drive")) return CliFail(cliresult::kBadArguments, opt.ok() ? "needs --drive D" : opt.error());
  CliDrive drive;
  int status = 0;
  if (!OpenCliDrive(opt.Value("--drive"), drive, status)) return status;
  // A drive that keeps its lock refuses the eject below, which is reported.
  if (open) (void)drive.device->Lock(false);
  if (drive.device->Eject(open) != DEV_OK) {
    return CliFail(0, drive.device->GetDevicePath() + ": the drive refused (" +
                          SenseText(drive.device->GetLastSense()) + ")");
  }
  return 0;
}

int RunEject(const CliArgs& args) { return Tray(args, true); }
int RunLoad(const CliArgs& args) { return Tray(args, false); }

CliCommand regEject{"eject", "eject --drive D", &RunEject};
CliCommand regLoad{"load", "load --drive D", &RunLoad};

}  // namespace
