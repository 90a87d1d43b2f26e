#pragma once
// Local drives /dev/srN through the kernel's SCSI generic pass-through.

#include <string>
#include <vector>

#include "ScsiTransport.h"

class SgioTransport : public ScsiTransport {
 public:
  ~SgioTransport() override;
  // Opened non-blocking, so that a drive without a disc still answers.
  bool Open(const std::string& devicePath, std::string* error);
  bool Execute(ScsiCommand& cmd) override;
  std::string Path() const override { return path_; }
  // Reopens the drive exclusively; refused while another program has it open
  // exclusively (a burn) or mounted.
  bool LockExclusive(bool lock) override;
  // An advisory lock on the device node that our programs honour: the
  // exclusive open above only lasts while a session is written.
  bool HoldForJob(bool hold) override;

  // The optical drives of this machine, in device order ("/dev/sr0", ...).
  static std::vector<std::string> Enumerate();

 private:
  bool Reopen(bool exclusive);
  std::string path_;
  int fd_ = -1;
  bool exclusive_ = false;
  int jobFd_ = -1;
};
