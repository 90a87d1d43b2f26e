#pragma once
// The one list of drives: the image-file device (index 0), the local drives
// (/dev/srN at indexes 3 upwards), the registered virtual recorders (the next
// free indexes below 26) and the registered remote drives (26 and above).

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CDevCmdRW.h"

class DevDeque {
 public:
  // The list of the program, built at its first use.
  static DevDeque& Instance();
  // Where the registered drives come from ("virtual:FILE", "iscsi://...").
  // Set it before the first use of Instance(); Refresh() asks it again.
  static void SetRegisteredDriveSource(std::function<std::vector<std::string>()> source);

  DevDeque() = default;
  DevDeque(DevDeque&& other) noexcept;
  // Builds the list anew from the machine and the registered drives. A drive
  // still present under the same index keeps its object; a drive that went
  // away leaves the list but its object lives on, so that no pointer handed
  // out before ever dangles.
  void Refresh();
  void Build(const std::vector<std::string>& localDrives, const std::vector<std::string>& registered);

  int GetDevCount() const {
    std::lock_guard<std::mutex> hold(lock_);
    return int(items_.size());
  }
  // The drive with this index, or nullptr.
  CDevCmdRW* GetDevice(int index) const;
  // The drive at this position of the list, or nullptr.
  CDevCmdRW* GetDequeItem(int position) const;
  // Drives that could not be opened, with the reason (for the user).
  std::vector<std::string> Problems() const {
    std::lock_guard<std::mutex> hold(lock_);
    return problems_;
  }

  // Opens a drive argument: "/dev/srN", "virtual:FILE", "image:FILE" or
  // "iscsi://HOST[:PORT]/TARGET/LUN".
  static std::unique_ptr<CDevCmdRW> OpenDrive(const std::string& drive, int index, std::string* error);
  // Remote drives take this index and those above it.
  static constexpr int kFirstRemoteIndex = 26;
  // "D:" for index 3; "[" for the image device; "#26:" style for remote drives.
  static std::string DriveLetter(int index);
  // The index a drive label begins with (blanks before it are skipped): the
  // reverse of DriveLetter. -1 for none.
  static int IndexOfLabel(const std::string& label);

 private:
  std::unique_ptr<CDevCmdRW> Reuse(const std::string& name, int index);

  mutable std::mutex lock_;  // the list may be refreshed while a burn asks for its drive
  std::vector<std::unique_ptr<CDevCmdRW>> items_;
  std::vector<std::string> names_;  // the drive argument each item was opened from
  std::vector<std::unique_ptr<CDevCmdRW>> retired_;
  std::vector<std::unique_ptr<CDevCmdRW>> previous_;
  std::vector<std::string> previousNames_;
  std::vector<std::string> problems_;
};
