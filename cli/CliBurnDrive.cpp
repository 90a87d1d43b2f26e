#include "cli/CliBurnDrive.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>

#include "BurnCtrl/interfaces/KestrineRecorder.h"
#include "ImageFileDisc.h"
#include "BurnCtrl/interfaces/RegisteredDrives.h"
#include "DevDeque.h"

#include <cctype>
#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "cli/CliCommand.h"

int MediumFromName(const std::string& name) { return medium::FromKey(name); }

std::string DriveGivenTwice(const std::vector<std::string>& specs) {
  std::set<std::string> seen;
  for (const std::string& spec : specs) {
    std::string key = spec;
    for (const char* prefix : {"virtual:", "image:"}) {
      const std::string p = prefix;
      if (spec.rfind(p, 0) == 0) {
        std::error_code ec;
        std::filesystem::path canonical = std::filesystem::weakly_canonical(spec.substr(p.size()), ec);
        key = p + (ec ? spec.substr(p.size()) : canonical.string());
      }
    }
    const bool letter = (spec.size() == 1 || (spec.size() == 2 && spec[1] == ':')) && std::isalpha(uint8_t(spec[0]));
    if (letter) key = std::string(1, char(std::toupper(uint8_t(spec[0])))) + ":";
    if (!seen.insert(key).second) return spec;
  }
  return "";
}

int OpenBurnDrive(const std::string& spec, const std::string& medium, bool several, bool replace) {

  if (spec.rfind("image:", 0) == 0) {
    std::string path = spec.substr(6);
    int m = MediumFromName(medium.empty() ? "cd-r" : medium);
    if (path.empty() || m < 0) {
      CliFail(result::kBadArguments, path.empty() ? "image: needs a file name" : "unknown medium " + medium);
      return -1;
    }
    const int index = several ? FirstFreeRecorderIndex(1) : 0;
    auto disc = std::make_unique<ImageFileDisc>(path, uint16_t(m));
    std::string why;
    if (index < 0 || !disc->CreateBlank(replace, &why)) {
      CliFail(result::kOutputFailed, why.empty() ? path : why);
      return -1;
    }
    AddRecorder(std::make_shared<KestrineRecorder>(std::make_unique<CDevCmdRW>(std::move(disc), index)));
    return index;
  }
  // A drive letter or index of the device list.
  const bool letter = (spec.size() == 1 || (spec.size() == 2 && spec[1] == ':')) && std::isalpha(uint8_t(spec[0]));
  if (letter) {
    InstallRegisteredDrives();
    const int index = DevDeque::IndexOfLabel(spec.substr(0, 1) + ":");
    CDevCmdRW* dev = index > 0 ? DevDeque::Instance().GetDevice(index) : nullptr;
    if (!dev) {
      CliFail(result::kNoSuchDrive, "no drive " + spec);
      return -1;
    }
    AddRecorder(std::make_shared<KestrineRecorder>(dev));
    return index;
  }
  // Drives of the device library: a virtual recorder takes the first free
  // index from 3 (as in the device list), a remote drive the first from 26,
  // so that several remote drives burn side by side instead of the last
  // taking the place of the others.
  const bool remote = spec.rfind("iscsi://", 0) == 0;
  const int index = FirstFreeRecorderIndex(remote ? 26 : 3);
  if (index < 0) {
    CliFail(result::kNoSuchDrive, spec + ": no place left for another drive");
    return -1;
  }
  std::string error;
  std::unique_ptr<CDevCmdRW> dev = DevDeque::OpenDrive(NormalizeDriveName(spec), index, &error);
  if (!dev) {
    CliFail(result::kNoSuchDrive, spec + (error.empty() ? "" : ": " + error));
    return -1;
  }
  AddRecorder(std::make_shared<KestrineRecorder>(std::move(dev)));
  return index;
}
