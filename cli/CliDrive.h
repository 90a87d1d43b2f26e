#pragma once
// Drive arguments of varnex-cli: "/dev/srN", "virtual:FILE", "image:FILE",
// "iscsi://HOST[:PORT]/TARGET/LUN", a drive letter ("D" or "D:") or an index
// of the device list.

#include <memory>
#include <string>

#include "CDevCmdRW.h"

#include "BurnCtrl/Results.h"

namespace cliresult {
// The recorder results these commands report.
constexpr int kNoSuchDrive = result::kNoSuchDrive;
constexpr int kNotReady = result::kNotReady;
constexpr int kRemoteUnreachable = result::kRemoteUnreachable;
constexpr int kOutputFailed = result::kOutputFailed;
constexpr int kBadArguments = result::kBadArguments;
constexpr int kVirtualFailed = result::kVirtualFailed;
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
