#pragma once
// Drive arguments of varnex-cli: "/dev/srN", "virtual:FILE", "image:FILE",
// "iscsi://HOST[:PORT]/TARGET/LUN", a drive letter ("D" or "D:") or an index
// of the device list.

#include <memory>
#include <string>

#include "CDevCmdRW.h"

namespace cliresult {
// The numbers of the recorder results these commands report.
constexpr int kNoSuchDrive = -8;
constexpr int kNotReady = -15;
constexpr int kRemoteUnreachable = -550;
constexpr int kOutputFailed = -905;
constexpr int kBadArguments = -908;
constexpr int kVirtualFailed = -1201;  // a virtual recorder cannot be made, changed or exported
}  // namespace cliresult

struct CliDrive {
  CDevCmdRW* device = nullptr;
  std::unique_ptr<CDevCmdRW> owned;
  bool connected = false;
  ~CliDrive() {
    if (connected) device->CloseServerDevice();
  }
};

// Opens the drive and connects a remote one. On failure prints the message
// and returns the exit status in `exitStatus`.
bool OpenCliDrive(const std::string& arg, CliDrive& out, int& exitStatus);
