#include "CDevCmdRW.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ByteFields.h"
#include "MmcCommands.h"

using bytes::BE16;
using bytes::BE32;
using bytes::PutBE16;
using bytes::PutBE32;

CDevCmdRW::CDevCmdRW() : CDevCmdROM() {}

CDevCmdRW::CDevCmdRW(std::unique_ptr<ScsiTransport> transport, int deviceId)
    : CDevCmdROM(std::move(transport), deviceId) {}

uint32_t CDevCmdRW::SetWriteParam(const WriteParam& wp) {
  // Start from the drive's own page so that fields we do not set keep their values.
  uint8_t page[64] = {};
  if (ModeSense(page, sizeof page, mmc::kPageWriteParameters) != DEV_OK || page[1] < 0x0E) {
    std::memset(page, 0, sizeof page);
    page[1] = 0x32;
  }
  int pageLen = std::min(page[1] + 2, int(sizeof page));
  page[0] = mmc::kPageWriteParameters;  // the saveable bit must be clear when sending
  page[mmc::wp::kFlags] = uint8_t((wp.BufE ? mmc::wp::kBufE : 0) | (wp.LinkSizeValid ? mmc::wp::kLinkSizeValid : 0) |
                                  (wp.TestWrite ? mmc::wp::kTestWrite : 0) | (wp.WriteType & 0x0F));
  page[mmc::wp::kTrack] =
      uint8_t((wp.MultiSession ? 0xC0 : 0) | (wp.FixedPacket ? mmc::wp::kFixedPacket : 0) | (wp.TrackMode & 0x0F));
  page[mmc::wp::kDataBlockType] = wp.DataBlockType & 0x0F;
  page[mmc::wp::kLinkSize] = wp.LinkSize;
  if (pageLen > 8)
    page[mmc::wp::kSessionFormat] = (wp.DataBlockType >= 10 && wp.DataBlockType <= 13) ? 0x20 : 0x00;
  if (pageLen >= 14) PutBE32(page + mmc::wp::kPacketSize, wp.FixedPacket ? (wp.LinkSize ? wp.LinkSize : 16) : 0);
  if (pageLen >= 16 && BE16(page + mmc::wp::kAudioPauseLength) == 0)
    PutBE16(page + mmc::wp::kAudioPauseLength, 150);
  std::vector<uint8_t> data(8 + size_t(pageLen), 0);
  std::memcpy(data.data() + 8, page, size_t(pageLen));
  uint8_t cdb[10] = {mmc::kModeSelect10, 0x10};
  PutBE16(cdb + 7, uint16_t(data.size()));
  return Run(cdb, 10, ScsiCommand::kOut, data.data(), uint32_t(data.size()), timeouts::kQuery);
}

uint32_t CDevCmdRW::SetWriteSpeed(int kbps) {
  uint16_t speed = kbps <= 0 || kbps > 0xFFFF ? 0xFFFF : uint16_t(kbps);
  uint8_t cdb[12] = {mmc::kSetCdSpeed, 0, 0xFF, 0xFF};
  PutBE16(cdb + 4, speed);
  uint32_t s = Run(cdb, 12, ScsiCommand::kNone, nullptr, 0, timeouts::kQuery);
  if (s == DEV_OK) return s;
  // DVD and BD drives may only take a streaming descriptor.
  uint8_t d[28] = {};
  PutBE32(d + 8, 0x7FFFFFFF);
  PutBE32(d + 12, speed);
  PutBE32(d + 16, 1000);
  PutBE32(d + 20, speed);
  PutBE32(d + 24, 1000);
  uint8_t st[12] = {mmc::kSetStreaming};
  PutBE16(st + 9, sizeof d);
  return Run(st, 12, ScsiCommand::kOut, d, sizeof d, timeouts::kQuery);
}

uint32_t CDevCmdRW::GetNextWriteAdd(long& lba) {
  DISC_INFO di;
  uint32_t s = ReadDiscInfo(di);
  if (s != DEV_OK) return s;
  TRACK_INFO ti;
  s = ReadTrackInfo(ti, di.LastTrackLastSession ? di.LastTrackLastSession : 1);
  if (s != DEV_OK) return s;
  if (!ti.NWA_V) return Refuse(DEV_NOT_AVAILABLE, SRB_ERROR);
  lba = long(ti.NextWritable);
  return DEV_OK;
}

uint32_t CDevCmdRW::ReserveTrack(uint32_t sectors) {
  uint8_t cdb[10] = {mmc::kReserveTrack};
  PutBE32(cdb + 5, sectors);
  return Run(cdb, 10, ScsiCommand::kNone, nullptr, 0, timeouts::kLong);
}

uint32_t CDevCmdRW::Write(uint32_t lba, const uint8_t* buffer, uint32_t bytes, uint32_t sectors) {
  if (!buffer || sectors == 0 || sectors > 0xFFFF || bytes % sectors != 0)
    return Refuse(DEV_BAD_ARGUMENT, SRB_INVALID_REQUEST);
  uint8_t cdb[10] = {mmc::kWrite10};
  PutBE32(cdb + 2, lba);
  PutBE16(cdb + 7, uint16_t(sectors));
  const uint32_t status = Run(cdb, 10, ScsiCommand::kOut, const_cast<uint8_t*>(buffer), bytes, timeouts::kTransfer);
  std::shared_ptr<const WriteWatcher> watcher;
  {
    std::lock_guard<std::mutex> lock(watchMutex_);
    watcher = watcher_;
  }
  if (status == DEV_OK && watcher) (*watcher)(lba, buffer, bytes, sectors);
  return status;
}

void CDevCmdRW::SetWriteWatcher(WriteWatcher watcher) {
  std::lock_guard<std::mutex> lock(watchMutex_);
  watcher_ = watcher ? std::make_shared<const WriteWatcher>(std::move(watcher)) : nullptr;
}

uint32_t CDevCmdRW::SynCache() { return SynCacheEx(false); }

uint32_t CDevCmdRW::SynCacheEx(bool immediate) {
  uint8_t cdb[10] = {mmc::kSynchronizeCache, uint8_t(immediate ? 0x02 : 0x00)};
  return Run(cdb, 10, ScsiCommand::kNone, nullptr, 0, timeouts::kLong);
}

uint32_t CDevCmdRW::CloseTrack(int track) { return CloseSession(1, track); }
uint32_t CDevCmdRW::CloseSession() { return CloseSession(2, 0); }
uint32_t CDevCmdRW::CloseSession(int function) { return CloseSession(function, 0); }

uint32_t CDevCmdRW::CloseSession(int function, int track) {
  // Immediate: the caller waits for the drive to become ready again.
  uint8_t cdb[10] = {mmc::kCloseTrackSession, 0x01, uint8_t(function & 7)};
  PutBE16(cdb + 4, uint16_t(track));
  return Run(cdb, 10, ScsiCommand::kNone, nullptr, 0, timeouts::kLong);
}

uint32_t CDevCmdRW::Blank(int blankType) {
  uint8_t cdb[12] = {mmc::kBlank, uint8_t(0x10 | (blankType & 7))};
  return Run(cdb, 12, ScsiCommand::kNone, nullptr, 0, timeouts::kLong);
}

uint32_t CDevCmdRW::FormatUnit(uint32_t blocks, int formatType, uint32_t parameter) {
  uint8_t data[12] = {0, 0x02, 0, 8};  // immediate; one format descriptor
  PutBE32(data + 4, blocks);
  data[8] = uint8_t((formatType & 0x3F) << 2);
  data[9] = uint8_t(parameter >> 16), data[10] = uint8_t(parameter >> 8), data[11] = uint8_t(parameter);
  uint8_t cdb[6] = {mmc::kFormatUnit, 0x11};
  return Run(cdb, 6, ScsiCommand::kOut, data, sizeof data, timeouts::kLong);
}

bool CDevCmdRW::JudgeIsFormated(uint32_t& capacity) {
  uint8_t buf[252] = {};
  uint8_t cdb[10] = {mmc::kReadFormatCapacities};
  PutBE16(cdb + 7, sizeof buf);
  uint32_t got = 0;
  if (Run(cdb, 10, ScsiCommand::kIn, buf, sizeof buf, timeouts::kQuery, &got) != DEV_OK) return false;
  if (got < 12 || buf[3] < 8) return false;
  capacity = BE32(buf + 4);
  return (buf[8] & 3) == 2;
}

uint32_t CDevCmdRW::GetBlackDiscCapacity(uint32_t& sectors) {
  sectors = 0;
  int medium = GetMediumType();
  if (medium == 18 || medium == 19 || medium == 26 || medium == 67) {
    uint32_t capacity = 0;
    JudgeIsFormated(capacity);
    if (capacity) {
      sectors = capacity;
      return DEV_OK;
    }
    uint32_t last = 0;
    uint32_t s = ReadCapacity(last);
    if (s == DEV_OK) sectors = last + 1;
    return s;
  }
  DISC_INFO di;
  uint32_t s = ReadDiscInfo(di);
  if (s != DEV_OK) return s;
  if (di.DiscStatus == 2) return DEV_OK;  // closed: nothing free
  TRACK_INFO ti;
  s = ReadTrackInfo(ti, di.LastTrackLastSession ? di.LastTrackLastSession : 1);
  if (s != DEV_OK) return s;
  if (ti.NWA_V) sectors = ti.FreeBlocks;
  return DEV_OK;
}

uint32_t CDevCmdRW::SendDVDStruct(const uint8_t* buffer, int size, int format) {
  if (!buffer || size < 0 || size > 65531) return Refuse(DEV_BAD_ARGUMENT, SRB_INVALID_REQUEST);
  std::vector<uint8_t> data(size_t(size) + 4, 0);
  PutBE16(data.data(), uint16_t(size + 2));
  std::memcpy(data.data() + 4, buffer, size_t(size));
  uint8_t cdb[12] = {mmc::kSendDvdStructure};
  cdb[7] = uint8_t(format);
  PutBE16(cdb + 8, uint16_t(data.size()));
  return Run(cdb, 12, ScsiCommand::kOut, data.data(), uint32_t(data.size()), timeouts::kLong);
}

uint32_t CDevCmdRW::SendCueSheet(const uint8_t* sheet, int size) {
  if (!sheet || size <= 0 || size % 8 || size > 0xFFFFFF) return Refuse(DEV_BAD_ARGUMENT, SRB_INVALID_REQUEST);
  uint8_t cdb[10] = {mmc::kSendCueSheet};
  cdb[6] = uint8_t(size >> 16), cdb[7] = uint8_t(size >> 8), cdb[8] = uint8_t(size);
  return Run(cdb, 10, ScsiCommand::kOut, const_cast<uint8_t*>(sheet), uint32_t(size), timeouts::kQuery);
}
