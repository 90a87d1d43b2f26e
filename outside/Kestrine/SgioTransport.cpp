#include "SgioTransport.h"

#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

SgioTransport::~SgioTransport() {
  if (fd_ >= 0) ::close(fd_);
  if (jobFd_ >= 0) ::close(jobFd_);
}

bool SgioTransport::HoldForJob(bool hold) {
  if (!hold) {
    if (jobFd_ >= 0) ::close(jobFd_);
    jobFd_ = -1;
    return true;
  }
  if (jobFd_ >= 0) return true;
  int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;  // nothing to lock with: the exclusive open still guards the writing
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  jobFd_ = fd;
  return true;
}

bool SgioTransport::Reopen(bool exclusive) {
  int flags = O_NONBLOCK | O_CLOEXEC | (exclusive ? O_EXCL : 0);
  int fd = ::open(path_.c_str(), O_RDWR | flags);
  if (fd < 0 && errno == EACCES) fd = ::open(path_.c_str(), O_RDONLY | flags);
  if (fd < 0) return false;
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  exclusive_ = exclusive;
  return true;
}

bool SgioTransport::Open(const std::string& devicePath, std::string* error) {
  path_ = devicePath;
  if (!Reopen(false)) {
    if (error) *error = devicePath + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool SgioTransport::LockExclusive(bool lock) {
  if (lock == exclusive_) return true;
  if (!lock) return Reopen(false);
  int old = fd_;
  fd_ = -1;
  ::close(old);
  if (Reopen(true)) return true;
  Reopen(false);
  return false;
}

bool SgioTransport::Execute(ScsiCommand& c) {
  c.status = 0;
  c.senseLength = 0;
  c.transferred = 0;
  if (fd_ < 0) {
    c.srbStatus = SRB_NO_DEVICE;
    return false;
  }
  sg_io_hdr_t io;
  std::memset(&io, 0, sizeof io);
  io.interface_id = 'S';
  io.cmd_len = uint8_t(c.cdbLength);
  io.cmdp = c.cdb;
  io.dxfer_direction = c.direction == ScsiCommand::kIn ? SG_DXFER_FROM_DEV
                       : c.direction == ScsiCommand::kOut ? SG_DXFER_TO_DEV
                                                           : SG_DXFER_NONE;
  io.dxferp = c.data;
  io.dxfer_len = c.dataLength;
  io.sbp = c.sense;
  io.mx_sb_len = sizeof c.sense;
  io.timeout = unsigned(c.timeoutMs);
  if (ioctl(fd_, SG_IO, &io) < 0) {
    c.srbStatus = errno == ENODEV || errno == ENXIO ? SRB_NO_DEVICE : SRB_INVALID_REQUEST;
    return false;
  }
  c.transferred = io.dxfer_len > uint32_t(io.resid) ? io.dxfer_len - uint32_t(io.resid) : 0;
  c.senseLength = io.sb_len_wr;
  c.status = io.status & 0xFE;
  constexpr unsigned kDidTimeOut = 0x03, kDidNoConnect = 0x01;
  if (io.host_status == kDidTimeOut) {
    c.srbStatus = SRB_TIMEOUT;
    return false;
  }
  if (io.host_status == kDidNoConnect) {
    c.srbStatus = SRB_NO_DEVICE;
    return false;
  }
  if (c.status == 0 && c.senseLength > 0 && (io.driver_status & 0x08)) c.status = DEV_CHECK_CONDITION;
  c.srbStatus = c.status == 0 ? SRB_SUCCESS : SRB_ERROR;
  return true;
}

std::vector<std::string> SgioTransport::Enumerate() {
  std::vector<int> numbers;
  if (DIR* d = opendir("/sys/class/block")) {
    while (dirent* e = readdir(d)) {
      const char* n = e->d_name;
      if (std::strncmp(n, "sr", 2) != 0 || !n[2]) continue;
      char* end = nullptr;
      long v = std::strtol(n + 2, &end, 10);
      if (*end == 0 && v >= 0 && v < 1000) numbers.push_back(int(v));
    }
    closedir(d);
  }
  std::sort(numbers.begin(), numbers.end());
  std::vector<std::string> paths;
  for (int n : numbers) paths.push_back("/dev/sr" + std::to_string(n));
  return paths;
}
