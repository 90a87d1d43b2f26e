#include "cli/CliDrive.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "BurnCtrl/interfaces/RegisteredDrives.h"
#include "DevDeque.h"
#include "cli/CliCommand.h"

bool OpenCliDrive(const std::string& arg, CliDrive& out, int& exitStatus) {
  std::string a = arg;
  bool letter = (a.size() == 1 || (a.size() == 2 && a[1] == ':')) && std::isalpha(uint8_t(a[0]));
  bool number = !a.empty() && std::all_of(a.begin(), a.end(), [](char c) { return std::isdigit(uint8_t(c)); });
  if (letter || number) {
    InstallRegisteredDrives();
    int index = letter ? DevDeque::IndexOfLabel(a.substr(0, 1) + ":") : std::atoi(a.c_str());
    out.device = DevDeque::Instance().GetDevice(index);
    if (!out.device || index == 0) {
      exitStatus = CliFail(cliresult::kNoSuchDrive, "no drive " + a);
      return false;
    }
  } else {
    std::string why;
    out.owned = DevDeque::OpenDrive(NormalizeDriveName(a), a.rfind("iscsi://", 0) == 0 ? 26 : 3, &why);
    if (!out.owned) {
      exitStatus = CliFail(cliresult::kNoSuchDrive, why);
      return false;
    }
    out.device = out.owned.get();
  }
  if (out.device->GetDeviceID() >= 26) {
    if (!out.device->ConnectServerDevice()) {
      exitStatus = CliFail(cliresult::kRemoteUnreachable, out.device->GetDevicePath());
      return false;
    }
    out.connected = true;
  }
  return true;
}
