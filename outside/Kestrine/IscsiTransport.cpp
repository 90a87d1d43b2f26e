#include "IscsiTransport.h"

#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>

#include <algorithm>
#include <cstring>

namespace {
constexpr const char* kInitiator = "iqn.2026-12.org.varnex:initiator";
}

IscsiTransport::~IscsiTransport() { Disconnect(); }

bool IscsiTransport::Connect() {
  if (iscsi_) return true;
  iscsi_context* ctx = iscsi_create_context(kInitiator);
  if (!ctx) {
    error_ = "cannot create an iSCSI context";
    return false;
  }
  iscsi_url* url = iscsi_parse_full_url(ctx, url_.c_str());
  if (!url) {
    error_ = std::string("bad iSCSI address: ") + iscsi_get_error(ctx);
    iscsi_destroy_context(ctx);
    return false;
  }
  iscsi_set_targetname(ctx, url->target);
  iscsi_set_session_type(ctx, ISCSI_SESSION_NORMAL);
  iscsi_set_header_digest(ctx, ISCSI_HEADER_DIGEST_NONE_CRC32C);
  iscsi_set_timeout(ctx, 30);
  int lun = url->lun;
  bool ok = iscsi_full_connect_sync(ctx, url->portal, lun) == 0;
  if (!ok) error_ = std::string("cannot log in to ") + url_ + ": " + iscsi_get_error(ctx);
  iscsi_destroy_url(url);
  if (!ok) {
    iscsi_destroy_context(ctx);
    return false;
  }
  iscsi_ = ctx;
  lun_ = lun;
  return true;
}

void IscsiTransport::Disconnect() {
  if (!iscsi_) return;
  iscsi_logout_sync(iscsi_);
  iscsi_destroy_context(iscsi_);
  iscsi_ = nullptr;
}

bool IscsiTransport::Execute(ScsiCommand& c) {
  c.status = 0;
  c.senseLength = 0;
  c.transferred = 0;
  if (!iscsi_) {
    c.srbStatus = SRB_NO_DEVICE;
    return false;
  }
  int dir = c.direction == ScsiCommand::kIn ? SCSI_XFER_READ : c.direction == ScsiCommand::kOut ? SCSI_XFER_WRITE : SCSI_XFER_NONE;
  scsi_task* task = scsi_create_task(c.cdbLength, c.cdb, dir, int(c.dataLength));
  if (!task) {
    c.srbStatus = SRB_INVALID_REQUEST;
    return false;
  }
  iscsi_data out{};
  iscsi_data* outp = nullptr;
  if (c.direction == ScsiCommand::kOut) {
    out.size = c.dataLength;
    out.data = c.data;
    outp = &out;
  }
  scsi_task* done = iscsi_scsi_command_sync(iscsi_, lun_, task, outp);
  if (!done) {
    error_ = iscsi_get_error(iscsi_);
    scsi_free_scsi_task(task);
    c.srbStatus = SRB_TIMEOUT;
    return false;
  }
  if (done->status == SCSI_STATUS_GOOD) {
    if (c.direction == ScsiCommand::kIn && done->datain.data) {
      uint32_t n = std::min<uint32_t>(c.dataLength, uint32_t(std::max(0, done->datain.size)));
      std::memcpy(c.data, done->datain.data, n);
      c.transferred = n;
    } else if (c.direction == ScsiCommand::kOut) {
      c.transferred = c.dataLength;
    }
    c.srbStatus = SRB_SUCCESS;
  } else if (done->status == SCSI_STATUS_CHECK_CONDITION) {
    c.SetSense(uint8_t(done->sense.key), uint8_t(done->sense.ascq >> 8), uint8_t(done->sense.ascq & 0xFF));
  } else if (done->status == SCSI_STATUS_BUSY || done->status == SCSI_STATUS_RESERVATION_CONFLICT) {
    c.status = DEV_BUSY;
    c.srbStatus = SRB_ERROR;
  } else {
    c.status = uint8_t(done->status);
    c.srbStatus = SRB_ERROR;
  }
  scsi_free_scsi_task(task);
  return true;
}
