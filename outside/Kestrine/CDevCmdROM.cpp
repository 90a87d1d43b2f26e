#include "CDevCmdROM.h"
#include "FileSystemCheck.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "ByteFields.h"
#include "MmcCommands.h"
#include "ImageFileDevice.h"
#include "SectorSizes.h"

using bytes::BE16;
using bytes::BE32;
using bytes::PutBE16;
using bytes::PutBE32;

CDevCmdROM::CDevCmdROM() = default;

CDevCmdROM::CDevCmdROM(std::unique_ptr<ScsiTransport> transport, int deviceId)
    : transport_(std::move(transport)), deviceId_(deviceId) {}

CDevCmdROM::~CDevCmdROM() = default;

bool CDevCmdROM::SetImageFile(const char* path) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto image = std::make_unique<ImageFileDevice>();
  openError_.clear();
  if (!path || !*path || !image->Open(path, &openError_)) {
    if (openError_.empty()) openError_ = "no image file named";
    return false;
  }
  transport_ = std::move(image);
  return true;
}

std::string CDevCmdROM::GetDevicePath() const { return transport_ ? transport_->Path() : std::string(); }

SenseData CDevCmdROM::GetLastSense() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastSense_;
}

// ---- execution ------------------------------------------------------------

uint32_t CDevCmdROM::Refuse(uint32_t status, uint8_t srb) {
  std::lock_guard<std::mutex> lock(mutex_);
  lastSense_ = SenseData{0, 0, 0, srb};
  return status;
}

uint32_t CDevCmdROM::Run(ScsiCommand& cmd) {
  if (!transport_) return Refuse(DEV_TRANSPORT_FAILED, SRB_NO_DEVICE);
  uint32_t status;
  {
    // One lock for the whole exchange: a remote drive that is connected for
    // this command alone must not be disconnected by another thread's
    // command while this one runs, nor connected twice.
    std::lock_guard<std::mutex> lock(mutex_);
    const bool temporary = connectDepth_ == 0;
    if (temporary && !transport_->Connect()) {
      lastSense_ = SenseData{0, 0, 0, SRB_NO_DEVICE};
      return DEV_TRANSPORT_FAILED;
    }
    bool reached = transport_->Execute(cmd);
    lastTransferred_ = cmd.transferred;
    if (!reached) {
      status = DEV_TRANSPORT_FAILED;
      lastSense_ = SenseData{0, 0, 0, uint8_t(cmd.srbStatus == SRB_SUCCESS ? uint8_t(SRB_ERROR) : cmd.srbStatus)};
    } else if (cmd.status != 0) {
      status = cmd.status;
      lastSense_ = SenseData{cmd.SenseKey(), cmd.Asc(), cmd.Ascq(), SRB_ERROR};
    } else {
      status = DEV_OK;
    }
    if (temporary) transport_->Disconnect();
  }
  if (listener_) listener_->OnDeviceActivity(deviceId_);
  return status;
}

uint32_t CDevCmdROM::Run(const uint8_t* cdb, int cdbLength, ScsiCommand::Direction dir, uint8_t* data,
                         uint32_t length, int timeoutMs, uint32_t* transferred) {
  ScsiCommand c;
  std::memcpy(c.cdb, cdb, size_t(cdbLength));
  c.cdbLength = cdbLength;
  c.direction = length ? dir : ScsiCommand::kNone;
  c.data = data;
  c.dataLength = length;
  c.timeoutMs = timeoutMs;
  uint32_t status = Run(c);
  if (transferred) *transferred = c.transferred;
  return status;
}

bool CDevCmdROM::ConnectServerDevice() {
  if (!transport_) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (connectDepth_ == 0 && !transport_->Connect()) return false;
  ++connectDepth_;
  return true;
}

void CDevCmdROM::CloseServerDevice() {
  if (!transport_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (connectDepth_ == 0) return;
  if (--connectDepth_ == 0) transport_->Disconnect();
}

uint32_t CDevCmdROM::WaitUntilReady(int pollMs, int maxMs) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
  for (;;) {
    uint32_t status = TestUnitReady();
    if (status == DEV_OK) return status;
    if (std::chrono::steady_clock::now() >= until) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
  }
}

// ---- status -------------------------------------------------------------------

uint32_t CDevCmdROM::TestUnitReady() {
  uint8_t cdb[6] = {mmc::kTestUnitReady};
  return Run(cdb, 6, ScsiCommand::kNone, nullptr, 0, timeouts::kQuery);
}

uint32_t CDevCmdROM::Inquiry(uint8_t* buffer, int size) {
  if (!buffer || size <= 0 || size > 255) return Refuse(DEV_BAD_ARGUMENT, SRB_INVALID_REQUEST);
  uint8_t cdb[6] = {mmc::kInquiry, 0, 0, 0, uint8_t(size), 0};
  std::memset(buffer, 0, size_t(size));
  uint32_t got = 0;
  uint32_t s = Run(cdb, 6, ScsiCommand::kIn, buffer, uint32_t(size), timeouts::kQuery, &got);
  if (s == DEV_OK && got < 36 && size >= 36) return Refuse(DEV_BAD_RESPONSE, SRB_BAD_RESPONSE);
  return s;
}

uint32_t CDevCmdROM::Inquiry(INQUIRYDATA& data) {
  uint8_t buf[96];
  uint32_t s = Inquiry(buf, 96);
  if (s != DEV_OK) return s;
  return data.Parse(buf, 96) ? DEV_OK : Refuse(DEV_BAD_RESPONSE, SRB_BAD_RESPONSE);
}

uint32_t CDevCmdROM::GetConfig(uint8_t* buffer, int size) {
  if (!buffer || size < 8 || size > 65535) return Refuse(DEV_BAD_ARGUMENT, SRB_INVALID_REQUEST);
  uint8_t cdb[10] = {mmc::kGetConfiguration, 0x00};
  PutBE16(cdb + 7, uint16_t(size));
  std::memset(buffer, 0, size_t(size));
  uint32_t got = 0;
  uint32_t s = Run(cdb, 10, ScsiCommand::kIn, buffer, uint32_t(size), timeouts::kQuery, &got);
  if (s == DEV_OK && got < 8) return Refuse(DEV_BAD_RESPONSE, SRB_BAD_RESPONSE);
  // Whatever lies beyond what the drive sent is not part of the answer.
  if (s == DEV_OK && uint64_t(BE32(buffer)) + 4 > got) PutBE32(buffer, got - 4);
  return s;
}

int CDevCmdROM::GetMediumType() {
  uint8_t buf[8];
  uint8_t cdb[10] = {mmc::kGetConfiguration, 0x01, 0, 0, 0, 0, 0, 0, 8, 0};
  std::memset(buf, 0, sizeof buf);
  uint32_t got = 0;
  uint32_t s = Run(cdb, 10, ScsiCommand::kIn, buf, 8, timeouts::kQuery, &got);
  int profile = (s == DEV_OK && got >= 8) ? BE16(buf + 6) : 0;
  if (profile != 0) return profile;
  // A drive that names no profile: a DVD-RW is still recognised by its book type.
  if (TestUnitReady() != DEV_OK) return medium::kNone;
  uint8_t phys[2048];
  if (ReadDVDStruct(phys, sizeof phys, 0x00) == DEV_OK && (phys[0] >> 4) == 3) return medium::kDvdRwUnknown;
  return medium::kNone;
}

int CDevCmdROM::GetDiscType() {
  int m = GetMediumType();
  if (medium::IsCd(m)) return 1;
  if (medium::IsDvd(m)) return 2;
  if (medium::IsBd(m)) return 3;
  return 0;
}

int CDevCmdROM::GetDevType() {
  std::vector<uint8_t> cfg(8192);
  if (GetConfig(cfg.data(), int(cfg.size())) == DEV_OK) {
    const uint8_t* c = cfg.data();
    size_t n = cfg.size();
    // Profiles the drive knows, from the profile list feature.
    auto hasProfile = [&](uint16_t p) {
      if (BE16(c + 8) != 0) return false;
      size_t len = c[11];
      for (size_t off = 12; off + 4 <= 12 + len && off + 4 <= n; off += 4)
        if (BE16(c + off) == p) return true;
      return false;
    };
    bool bdWrite = HasFeature(c, n, 0x0041);
    bool dashWrite = HasFeature(c, n, 0x002F);
    bool plusWrite = HasFeature(c, n, 0x002B) || HasFeature(c, n, 0x002A);
    bool cdWrite = HasFeature(c, n, 0x002D) || HasFeature(c, n, 0x002E);
    if (bdWrite) return DEV_BD;
    if (dashWrite && (hasProfile(0x15) || hasProfile(0x16))) return DEV_DVDMINUS_DL;
    if (plusWrite && HasFeature(c, n, 0x003B)) return DEV_DVDPLUS_DL;
    if (dashWrite && plusWrite) return DEV_DVDMULTI;
    if (dashWrite) return DEV_DVDMINUS;
    if (plusWrite) return DEV_DVDPLUS;
    if (hasProfile(0x12) && HasFeature(c, n, 0x0020)) return DEV_DVDRAM;
    if (cdWrite) return DEV_CDRW;
    if (HasFeature(c, n, 0x001F) || hasProfile(0x10)) return DEV_DVDROM;
    return DEV_CDROM;
  }
  // Older drives: the capabilities page.
  uint8_t page[32] = {};
  CAPABILITIES_PAGE caps;
  if (ModeSense(page, sizeof page, mmc::kPageCapabilities) != DEV_OK || !caps.Parse(page, sizeof page))
    return DEV_CDROM;
  if (caps.WriteBits & 0x10) return DEV_DVDMINUS;
  if (caps.WriteBits & 0x20) return DEV_DVDRAM;
  if (caps.WriteBits & 0x03) return DEV_CDRW;
  if (caps.ReadBits & 0x08) return DEV_DVDROM;
  return DEV_CDROM;
}

uint32_t CDevCmdROM::ReadDiscInfo(DISC_INFO& info) {
  uint8_t buf[34] = {};
  uint8_t cdb[10] = {mmc::kReadDiscInformation, 0, 0, 0, 0, 0, 0, 0, sizeof buf, 0};
  uint32_t got = 0;
  uint32_t s = Run(cdb, 10, ScsiCommand::kIn, buf, sizeof buf, timeouts::kQuery, &got);
  if (s != DEV_OK) return s;
  return info.Parse(buf, got) ? DEV_OK : Refuse(DEV_BAD_RESPONSE, SRB_BAD_RESPONSE);
}

uint32_t CDevCmdROM::ReadTrackInfo(TRACK_INFO& info, int track) { return ReadTrackInfoEx(info, RTI_TRACK, uint32_t(track)); }

uint32_t CDevCmdROM::ReadTrackInfoEx(TRACK_INFO& info, int type, uint32_t address) {
  if (type < 0 || type > 2) return Refuse(DEV_BAD_ARGUMENT, SRB_INVALID_REQUEST);
  uint8_t buf[48] = {};
  uint8_t cdb[10] = {mmc::kReadTrackInformation, uint8_t(type)};
  PutBE32(cdb + 2, address);
  PutBE16(cdb + 7, sizeof buf);
  uint32_t got = 0;
  uint32_t s = Run(cdb, 10, ScsiCommand::kIn, buf, sizeof buf, timeouts::kQuery, &got);
  if (s != DEV_OK) return s;
  return info.Parse(buf, got) ? DEV_OK : Refuse(DEV_BAD_RESPONSE, SRB_BAD_RESPONSE);
}

uint32_t CDevCmdROM::ReadToc(uint8_t* buffer, int size, int format, int track) {
  if (!buffer || size < 4 || size > 65535 || format < 0 || format > 15)
    return Refuse(DEV_BAD_ARGUMENT, SRB_INVALID_REQUEST);
  uint8_t cdb[10] = {mmc::kReadTocPmaAtip, uint8_t(format == 2 ? 0x02 : 0x00), uint8_t(format), 0, 0, 0, uint8_t(track)};
  PutBE16(cdb + 7, uint16_t(size));
  std::memset(buffer, 0, size_t(size));
  uint32_t got = 0;
  uint32_t s = Run(cdb, 10, ScsiCommand::kIn, buffer, uint32_t(size), timeouts::kQuery, &got);
  if (s != DEV_OK) return s;
  if (got < 4) return Refuse(DEV_BAD_RESPONSE, SRB_BAD_RESPONSE);
  // The length field may promise more than arrived: cut it to what did.
  if (uint32_t(BE16(buffer)) + 2 > got) PutBE16(buffer, uint16_t(got - 2));
  return DEV_OK;
}

uint32_t CDevCmdROM::GetTocData(TocData& toc) {
  std::vector<uint8_t> buf(4 + 8 * 100);
  uint32_t s = ReadToc(buf.data(), int(buf.size()), 0, 1);
  if (s != DEV_OK) return s;
  return ParseFormattedToc(buf.data(), buf.size(), toc) ? DEV_OK : Refuse(DEV_BAD_RESPONSE, SRB_BAD_RESPONSE);
}

uint32_t CDevCmdROM::GetSessionInfo(SessionInfo& info) {
  std::vector<uint8_t> buf(4 + 11 * 1000);
  uint32_t s = ReadToc(buf.data(), int(buf.size()), 2, 1);
  if (s != DEV_OK) return s;
  return ParseFullToc(buf.data(), buf.size(), info) ? DEV_OK : Refuse(DEV_BAD_RESPONSE, SRB_BAD_RESPONSE);
}

uint32_t CDevCmdROM::GetCDText(FS_CDTEXT_INFO& text) {
  // At most 8 blocks of 255 packs; one request large enough for all of them.
  std::vector<uint8_t> buf(4 + 18 * 255 * 8);
  uint32_t s = ReadToc(buf.data(), int(buf.size()), 5, 0);
  if (s != DEV_OK) return s;
  size_t len = std::min<size_t>(BE16(buf.data()) + 2u, buf.size());
  if (len <= 4) return Refuse(DEV_NOT_AVAILABLE, SRB_BAD_RESPONSE);
  return ParseCdTextPacks(buf.data() + 4, len - 4, text) ? DEV_OK : Refuse(DEV_NOT_AVAILABLE, SRB_BAD_RESPONSE);
}

uint32_t CDevCmdROM::ReadCdTextPacks(std::vector<uint8_t>& packs) {
  packs.clear();
  std::vector<uint8_t> buf(4 + 18 * 255 * 8);
  uint32_t s = ReadToc(buf.data(), int(buf.size()), 5, 0);
  // A drive tells a disc without texts by refusing the format.
  if (s == DEV_CHECK_CONDITION && GetSenseKey() == 5 && GetASC() == 0x24) return DEV_OK;
  if (s != DEV_OK) return s;
  size_t len = std::min<size_t>(BE16(buf.data()) + 2u, buf.size());
  if (len < 4) return Refuse(DEV_BAD_RESPONSE, SRB_BAD_RESPONSE);
  // Some drives put a reserved byte or two before the packs' end: whole packs only.
  len = 4 + (len - 4) / 18 * 18;
  packs.assign(buf.begin() + 4, buf.begin() + long(len));
  return DEV_OK;
}

uint32_t CDevCmdROM::ReadSubChannel(uint8_t* buffer, int size, int format, int track) {
  if (!buffer || size < 4 || size > 65535 || format < 1 || format > 3 || track < 0 || track > 99)
    return Refuse(DEV_BAD_ARGUMENT, SRB_INVALID_REQUEST);
  uint8_t cdb[10] = {mmc::kReadSubChannel, 0, 0x40, uint8_t(format), 0, 0, uint8_t(track)};
  PutBE16(cdb + 7, uint16_t(size));
  std::memset(buffer, 0, size_t(size));
  uint32_t got = 0;
  uint32_t s = Run(cdb, 10, ScsiCommand::kIn, buffer, uint32_t(size), timeouts::kQuery, &got);
  if (s != DEV_OK) return s;
  if (got < 4) return Refuse(DEV_BAD_RESPONSE, SRB_BAD_RESPONSE);
  return DEV_OK;
}

namespace {

// The code of a catalogue or ISRC answer when its valid bit is set: the
// characters up to the first that is not printable.
std::string SubChannelCode(const uint8_t* a, size_t got, size_t length) {
  if (got < 4 + 5 + length || !(a[4 + 4] & 0x80)) return "";
  std::string code;
  for (size_t i = 0; i < length && a[9 + i] > 0x20 && a[9 + i] < 0x7F; ++i) code += char(a[9 + i]);
  return code;
}

}  // namespace

uint32_t CDevCmdROM::ReadMediaCatalog(std::string& mcn) {
  mcn.clear();
  uint8_t a[24];
  uint32_t s = ReadSubChannel(a, sizeof a, 2, 0);
  if (s != DEV_OK) return s;
  std::string code = SubChannelCode(a, std::min<size_t>(sizeof a, BE16(a + 2) + 4u), 13);
  // A drive that reads no catalogue may answer zeros with the bit set.
  if (IsValidMcn(code) && code != std::string(13, '0')) mcn = code;
  return DEV_OK;
}

uint32_t CDevCmdROM::ReadTrackIsrc(int track, std::string& isrc) {
  isrc.clear();
  if (track < 1 || track > 99) return Refuse(DEV_BAD_ARGUMENT, SRB_INVALID_REQUEST);
  uint8_t a[24];
  uint32_t s = ReadSubChannel(a, sizeof a, 3, track);
  if (s != DEV_OK) return s;
  std::string code = SubChannelCode(a, std::min<size_t>(sizeof a, BE16(a + 2) + 4u), 12);
  if (IsValidIsrc(code)) isrc = code;
  return DEV_OK;
}

int CDevCmdROM::JudgeFileSystem(uint32_t lba) {
  return fscheck::Judge(
      [&](uint32_t sector, uint8_t* out) { return ReadCD_10(out, kDataSectorSize, 1, lba + sector) == DEV_OK; });
}

uint32_t CDevCmdROM::ModeSense(uint8_t* page, int size, int pageCode) {
  if (!page || size <= 0 || pageCode < 0 || pageCode > 0x3F) return Refuse(DEV_BAD_ARGUMENT, SRB_INVALID_REQUEST);
  std::vector<uint8_t> buf(std::min(8 + size + 64, 65535));
  uint8_t cdb[10] = {mmc::kModeSense10, 0x08, uint8_t(pageCode)};  // no block descriptors
  PutBE16(cdb + 7, uint16_t(buf.size()));
  uint32_t got = 0;
  uint32_t s = Run(cdb, 10, ScsiCommand::kIn, buf.data(), uint32_t(buf.size()), timeouts::kQuery, &got);
  if (s != DEV_OK) return s;
  if (got < 10) return Refuse(DEV_BAD_RESPONSE, SRB_BAD_RESPONSE);
  size_t off = 8 + size_t(BE16(buf.data() + 6));
  size_t total = std::min<size_t>(got, BE16(buf.data()) + 2u);
  if (off + 2 > total || (buf[off] & 0x3F) != pageCode) return Refuse(DEV_BAD_RESPONSE, SRB_BAD_RESPONSE);
  size_t pageLen = std::min<size_t>(buf[off + 1] + 2u, total - off);
  std::memset(page, 0, size_t(size));
  std::memcpy(page, buf.data() + off, std::min<size_t>(pageLen, size_t(size)));
  return DEV_OK;
}

uint32_t CDevCmdROM::GetParamPage(uint8_t* page, int size, int deviceId, uint8_t* sense, int pageCode) {
  (void)deviceId;  // this object is the drive
  uint32_t s = ModeSense(page, size, pageCode);
  if (sense) {
    SenseData d = s == DEV_OK ? SenseData{} : GetLastSense();
    sense[0] = d.SenseKey, sense[1] = d.ASC, sense[2] = d.ASCQ, sense[3] = d.SRBStatus;
  }
  return s;
}

uint32_t CDevCmdROM::ReadDVDStruct(uint8_t* buffer, int size, int format, int layer, uint32_t address) {
  if (!buffer || size <= 0 || size > 65531) return Refuse(DEV_BAD_ARGUMENT, SRB_INVALID_REQUEST);
  std::vector<uint8_t> buf(size_t(size) + 4);
  uint8_t cdb[12] = {mmc::kReadDvdStructure, 0};
  PutBE32(cdb + 2, address);
  cdb[6] = uint8_t(layer);
  cdb[7] = uint8_t(format);
  PutBE16(cdb + 8, uint16_t(buf.size()));
  uint32_t got = 0;
  uint32_t s = Run(cdb, 12, ScsiCommand::kIn, buf.data(), uint32_t(buf.size()), timeouts::kQuery, &got);
  if (s != DEV_OK) return s;
  if (got < 4) return Refuse(DEV_BAD_RESPONSE, SRB_BAD_RESPONSE);
  size_t len = std::min<size_t>(got, BE16(buf.data()) + 2u);
  std::memset(buffer, 0, size_t(size));
  if (len > 4) std::memcpy(buffer, buf.data() + 4, std::min<size_t>(len - 4, size_t(size)));
  return DEV_OK;
}

uint32_t CDevCmdROM::ReadCapacity(uint32_t& lastLba) {
  uint8_t buf[8] = {};
  uint8_t cdb[10] = {mmc::kReadCapacity};
  uint32_t got = 0;
  uint32_t s = Run(cdb, 10, ScsiCommand::kIn, buf, 8, timeouts::kQuery, &got);
  if (s != DEV_OK) return s;
  if (got < 8) return Refuse(DEV_BAD_RESPONSE, SRB_BAD_RESPONSE);
  lastLba = BE32(buf);
  return DEV_OK;
}

// ---- reading ------------------------------------------------------------------

uint32_t CDevCmdROM::ReadCD_10(uint8_t* buffer, int bufferSize, int count, uint32_t lba) {
  if (!buffer || count <= 0 || count > 0xFFFF || int64_t(count) * kDataSectorSize > bufferSize)
    return Refuse(DEV_BAD_ARGUMENT, SRB_INVALID_REQUEST);
  uint8_t cdb[10] = {mmc::kRead10};
  PutBE32(cdb + 2, lba);
  PutBE16(cdb + 7, uint16_t(count));
  return Run(cdb, 10, ScsiCommand::kIn, buffer, uint32_t(count) * kDataSectorSize, timeouts::kTransfer);
}

uint32_t CDevCmdROM::ReadCD_Data(uint8_t* buffer, int bufferSize, int count, uint32_t lba) {
  if (!buffer || count <= 0 || int64_t(count) * kRawSectorSize > bufferSize)
    return Refuse(DEV_BAD_ARGUMENT, SRB_INVALID_REQUEST);
  uint8_t cdb[12] = {mmc::kReadCd, 0};
  PutBE32(cdb + 2, lba);
  uint32_t n = uint32_t(count);
  cdb[6] = uint8_t(n >> 16), cdb[7] = uint8_t(n >> 8), cdb[8] = uint8_t(n);
  cdb[9] = 0x10;  // user data only
  std::memset(buffer, 0, size_t(bufferSize));
  return Run(cdb, 12, ScsiCommand::kIn, buffer, uint32_t(bufferSize), timeouts::kTransfer);
}

uint32_t CDevCmdROM::ReadCD_All(uint8_t* buffer, int bufferSize, int count, uint32_t lba) {
  if (!buffer || count <= 0 || int64_t(count) * kRawSectorSize > bufferSize)
    return Refuse(DEV_BAD_ARGUMENT, SRB_INVALID_REQUEST);
  uint8_t cdb[12] = {mmc::kReadCd, 0};
  PutBE32(cdb + 2, lba);
  uint32_t n = uint32_t(count);
  cdb[6] = uint8_t(n >> 16), cdb[7] = uint8_t(n >> 8), cdb[8] = uint8_t(n);
  cdb[9] = 0xF8;  // sync, all headers, user data, EDC and ECC
  return Run(cdb, 12, ScsiCommand::kIn, buffer, uint32_t(count) * kRawSectorSize, timeouts::kTransfer);
}

uint32_t CDevCmdROM::ReadCD_Audio(uint8_t* buffer, int bufferSize, int count, uint32_t lba) {
  if (!buffer || count <= 0 || int64_t(count) * kRawSectorSize > bufferSize)
    return Refuse(DEV_BAD_ARGUMENT, SRB_INVALID_REQUEST);
  uint8_t cdb[12] = {mmc::kReadCd, 1 << 2};  // expected sector type 1: CD-DA
  PutBE32(cdb + 2, lba);
  uint32_t n = uint32_t(count);
  cdb[6] = uint8_t(n >> 16), cdb[7] = uint8_t(n >> 8), cdb[8] = uint8_t(n);
  cdb[9] = 0x10;  // user data: the whole sector of an audio track
  return Run(cdb, 12, ScsiCommand::kIn, buffer, uint32_t(count) * kRawSectorSize, timeouts::kTransfer);
}

// ---- tray -----------------------------------------------------------------------

uint32_t CDevCmdROM::Eject(bool open) {
  uint8_t cdb[6] = {mmc::kStartStopUnit, 0, 0, 0, uint8_t(open ? 0x02 : 0x03), 0};
  return Run(cdb, 6, ScsiCommand::kNone, nullptr, 0, timeouts::kTransfer);
}

uint32_t CDevCmdROM::Lock(bool lock) {
  uint8_t cdb[6] = {mmc::kPreventAllowRemoval, 0, 0, 0, uint8_t(lock ? 1 : 0), 0};
  return Run(cdb, 6, ScsiCommand::kNone, nullptr, 0, timeouts::kQuery);
}

uint32_t CDevCmdROM::LockVolumn(bool lock) {
  if (!transport_) return Refuse(DEV_TRANSPORT_FAILED, SRB_NO_DEVICE);
  if (transport_->LockExclusive(lock)) return DEV_OK;
  // Another program has the drive: report it as a drive that is not ready.
  std::lock_guard<std::mutex> guard(mutex_);
  lastSense_ = SenseData{2, 0x04, 0x00, SRB_ERROR};
  return DEV_BUSY;
}
