#pragma once
// One interface for every way a command descriptor block reaches a drive:
// SG_IO to a local drive, the image-file device, the virtual recorder and
// iSCSI. The command layer builds the blocks; a transport only executes them.

#include <cstdint>
#include <cstring>
#include <string>

#include "DevTypes.h"

struct ScsiCommand {
  enum Direction { kNone, kIn, kOut };
  uint8_t cdb[16] = {};
  int cdbLength = 0;
  Direction direction = kNone;
  uint8_t* data = nullptr;  // kIn: filled by the device; kOut: sent to it
  uint32_t dataLength = 0;
  int timeoutMs = 30000;

  // Results.
  uint32_t transferred = 0;   // bytes moved
  uint8_t status = 0;         // SCSI status: 0 good, 2 check condition, 8 busy
  uint8_t sense[32] = {};
  int senseLength = 0;
  uint8_t srbStatus = SRB_SUCCESS;

  uint8_t opcode() const { return cdb[0]; }
  uint8_t SenseKey() const { return senseLength > 2 ? (sense[2] & 0x0F) : 0; }
  uint8_t Asc() const { return senseLength > 12 ? sense[12] : 0; }
  uint8_t Ascq() const { return senseLength > 13 ? sense[13] : 0; }

  // Fixed-format sense data, as a device answers a failed command.
  void SetSense(uint8_t key, uint8_t asc, uint8_t ascq) {
    status = DEV_CHECK_CONDITION;
    srbStatus = SRB_ERROR;
    std::memset(sense, 0, sizeof sense);
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    sense[13] = ascq;
    senseLength = 18;
  }
};

class ScsiTransport {
 public:
  virtual ~ScsiTransport() = default;
  // Executes one command. Returns false only when the command never reached
  // a device (cmd.srbStatus says why); a device's refusal is a true return
  // with cmd.status and the sense data set.
  virtual bool Execute(ScsiCommand& cmd) = 0;
  // Where the device is, for the user: "/dev/sr0", "virtual:/x.vdisc", ...
  virtual std::string Path() const = 0;
  // Exclusive use of the drive for one program (a burn or an erase).
  virtual bool LockExclusive(bool lock) { (void)lock; return true; }
  // The drive kept from other programs of ours for a whole job (a burn, an
  // erase, a copy), across the short exclusive uses inside it; false when
  // another program already holds it.
  virtual bool HoldForJob(bool hold) { (void)hold; return true; }
  // The job that wrote the disc is over; `complete` when it wrote all it
  // meant to. A drive has nothing to do; a file standing for a disc is put in
  // place only after a complete job. False when it could not be.
  virtual bool JobEnded(bool complete) { (void)complete; return true; }
  // Remote drives log in and out around every operation; others do nothing.
  virtual bool Connect() { return true; }
  virtual void Disconnect() {}
};

// Command timeouts by kind: quick queries, data transfers, and the commands a
// drive may take minutes over (closing, blanking, formatting).
namespace timeouts {
constexpr int kQuery = 10000;
constexpr int kTransfer = 60000;
constexpr int kLong = 30 * 60 * 1000;
}  // namespace timeouts
