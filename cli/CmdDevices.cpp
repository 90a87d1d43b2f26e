// varnex-cli devices: the device list as every window shows it.
#include <cstdio>

#include "BurnCtrl/interfaces/RegisteredDrives.h"
#include "DevDeque.h"
#include "MmcCommands.h"
#include "cli/CliCommand.h"
#include "cli/CliDrive.h"

namespace {

int RunDevices(const CliArgs& args) {
  CliOptions opt(args, {}, {});
  if (!opt.ok() || !opt.Operands().empty()) return CliFail(cliresult::kBadArguments, opt.ok() ? "devices takes no operands" : opt.error());
  InstallRegisteredDrives();
  DevDeque& deque = DevDeque::Instance();
  int shown = 0;
  for (int i = 0; i < deque.GetDevCount(); ++i) {
    CDevCmdRW* d = deque.GetDequeItem(i);
    int index = d->GetDeviceID();
    if (index == 0) continue;  // the image-file device is chosen by file, not listed
    bool remote = index >= 26;
    if (remote && !d->ConnectServerDevice()) {
      std::printf("%-4s %3d  %-40s %s  (cannot be reached)\n", DevDeque::DriveLetter(index).c_str(), index, "",
                  d->GetDevicePath().c_str());
      continue;
    }
    INQUIRYDATA inq;
    std::string label = d->Inquiry(inq) == DEV_OK ? inq.Text() : "(no answer)";
    // A recorder writes CD-R, CD-RW, DVD-R or DVD-RAM, or DVD+ or BD media.
    uint8_t page[32] = {};
    CAPABILITIES_PAGE caps;
    bool recorder = d->ModeSense(page, sizeof page, mmc::kPageCapabilities) == DEV_OK &&
                    caps.Parse(page, sizeof page) && caps.Writes();
    int kind = d->GetDevType();
    recorder = recorder || kind == DEV_DVDPLUS || kind == DEV_BD;
    if (remote) d->CloseServerDevice();
    std::printf("%-4s %3d  %-40s %s  %s\n", DevDeque::DriveLetter(index).c_str(), index, label.c_str(),
                d->GetDevicePath().c_str(), recorder ? "recorder" : "reader");
    ++shown;
  }
  for (const std::string& p : deque.Problems()) std::fprintf(stderr, "varnex-cli: %s\n", p.c_str());
  if (shown == 0) std::printf("no drives\n");
  return 0;
}

CliCommand reg{"devices", "devices", &RunDevices};

}  // namespace
