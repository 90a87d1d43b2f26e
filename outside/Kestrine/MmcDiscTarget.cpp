#include "MmcDiscTarget.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "ByteFields.h"
#include "MediumTable.h"
#include "MmcCommands.h"
#include "SectorSizes.h"
#include "WritePacer.h"

using bytes::BE16;
using bytes::BE32;
using bytes::PutBE16;
using bytes::PutBE32;
using cdsector::Mode;

namespace {

// Sense triples the target gives.
struct Sense {
  uint8_t key, asc, ascq;
};
constexpr Sense kInvalidOpcode{5, 0x20, 0};
constexpr Sense kInvalidField{5, 0x24, 0};
constexpr Sense kInvalidParamField{5, 0x26, 0};
constexpr Sense kLbaOutOfRange{5, 0x21, 0};
constexpr Sense kInvalidWriteAddress{5, 0x21, 2};
constexpr Sense kSequenceError{5, 0x2C, 0};
constexpr Sense kIllegalMode{5, 0x64, 0};
constexpr Sense kCannotWriteMedium{5, 0x30, 5};
constexpr Sense kCannotFormat{5, 0x30, 6};
constexpr Sense kIncompatibleMedium{5, 0x30, 2};
constexpr Sense kNoMoreReservations{5, 0x72, 5};
constexpr Sense kRemovalPrevented{5, 0x53, 2};
constexpr Sense kTrayOpen{2, 0x3A, 2};
constexpr Sense kNoMedium{2, 0x3A, 1};

void Fail(ScsiCommand& c, Sense s) { c.SetSense(s.key, s.asc, s.ascq); }

void PutMsf(uint8_t* p, int32_t lba) {  // 0, M, S, F
  TocAddress a = LbaToTocAddress(lba);
  p[0] = a.X;
  p[1] = a.M;
  p[2] = a.S;
  p[3] = a.F;
}

int32_t Align(int32_t v, int32_t unit) { return (v + unit - 1) / unit * unit; }

Mode ModeFromBlockType(uint8_t trackMode, uint8_t dataBlockType) {
  if ((trackMode & 0x04) == 0) return Mode::Audio;
  switch (dataBlockType) {
    case 8: return Mode::Mode1;
    case 9: return Mode::Mode2Formless;
    case 12: return Mode::Mode2Form2;
    case 10: case 11: case 13: return Mode::Mode2Form1;
    default: return Mode::Mode1;
  }
}

bool IsMode2(Mode m) { return m == Mode::Mode2Form1 || m == Mode::Mode2Form2 || m == Mode::Mode2Formless; }

}  // namespace

DiscModel MmcDiscTarget::BlankModel(uint16_t profile, int32_t capacity) {
  DiscModel m;
  m.profile = profile;
  m.capacity = capacity;
  m.formatted = profile == medium::kDvdRam;
  if (medium::IsDualLayer(m.profile)) m.layer0 = m.capacity / 2 / 16 * 16;
  if (m.formatted) {
    m.closedSessions = 1;
    m.tracks = {DiscTrack{1, 1, 0, m.capacity, m.capacity, Mode::Mode1, true, false}};
  }
  return m;
}

bool MmcDiscTarget::Execute(ScsiCommand& c) {
  c.status = 0;
  c.senseLength = 0;
  c.transferred = 0;
  c.srbStatus = SRB_SUCCESS;
  if (!Intercept(c)) {
    switch (c.opcode()) {
      case mmc::kTestUnitReady: TestUnitReady(c); break;
      case mmc::kRequestSense: RequestSense(c); break;
      case mmc::kFormatUnit: FormatUnit(c); break;
      case mmc::kInquiry: Inquiry(c); break;
      case mmc::kStartStopUnit: StartStop(c); break;
      case mmc::kPreventAllowRemoval: PreventAllow(c); break;
      case mmc::kReadFormatCapacities: ReadFormatCapacities(c); break;
      case mmc::kReadCapacity: ReadCapacity(c); break;
      case mmc::kRead10: Read10(c, int32_t(BE32(c.cdb + 2)), BE16(c.cdb + 7)); break;
      case mmc::kRead12: Read10(c, int32_t(BE32(c.cdb + 2)), BE32(c.cdb + 6)); break;
      case mmc::kWrite10: Write10(c, int32_t(BE32(c.cdb + 2)), BE16(c.cdb + 7)); break;
      case mmc::kWrite12: Write10(c, int32_t(BE32(c.cdb + 2)), BE32(c.cdb + 6)); break;
      case mmc::kSynchronizeCache: SyncCache(c); break;
      case mmc::kReadTocPmaAtip: ReadToc(c); break;
      case mmc::kReadSubChannel: ReadSubChannel(c); break;
      case mmc::kGetConfiguration: GetConfiguration(c); break;
      case mmc::kReadDiscInformation: ReadDiscInformation(c); break;
      case mmc::kReadTrackInformation: ReadTrackInformation(c); break;
      case mmc::kReserveTrack: ReserveTrack(c); break;
      case mmc::kModeSelect10: ModeSelect(c); break;
      case mmc::kModeSense10: ModeSense(c); break;
      case mmc::kCloseTrackSession: CloseTrackSession(c); break;
      case mmc::kReadBufferCapacity: ReadBufferCapacity(c); break;
      case mmc::kSendCueSheet: SendCueSheet(c); break;
      case mmc::kBlank: Blank(c); break;
      case mmc::kGetPerformance: GetPerformance(c); break;
      case mmc::kReadDvdStructure: ReadDvdStructure(c); break;
      case mmc::kSetStreaming: break;  // SET STREAMING: the speed is the target's own
      case mmc::kSetCdSpeed: SetCdSpeed(c); break;
      case mmc::kReadCd: ReadCd(c); break;
      case mmc::kSendDvdStructure: SendDvdStructure(c); break;
      default: Fail(c, kInvalidOpcode); break;
    }
  }
  if (c.status == DEV_CHECK_CONDITION) std::memcpy(lastSense_, c.sense, 18);
  else if (c.opcode() != mmc::kRequestSense) std::memset(lastSense_ + 2, 0, 16), lastSense_[7] = 10;
  return true;
}

void MmcDiscTarget::Reply(ScsiCommand& c, const std::vector<uint8_t>& a) {
  if (c.direction != ScsiCommand::kIn || !c.data) return;
  uint32_t n = std::min<uint32_t>(c.dataLength, uint32_t(a.size()));
  std::memcpy(c.data, a.data(), n);
  c.transferred = n;
}

bool MmcDiscTarget::NeedMedium(ScsiCommand& c) {
  if (model_.trayOpen) {
    Fail(c, kTrayOpen);
    return false;
  }
  if (model_.profile == 0) {
    Fail(c, kNoMedium);
    return false;
  }
  return true;
}

bool MmcDiscTarget::CanWrite(ScsiCommand& c) {
  if (!NeedMedium(c)) return false;
  if (model_.pressed || !(medium::IsSequential(model_.profile) || medium::IsOverwritable(model_.profile))) {
    Fail(c, kCannotWriteMedium);
    return false;
  }
  return true;
}

// ---- identity and state -------------------------------------------------

void MmcDiscTarget::Inquiry(ScsiCommand& c) {
  if (c.cdb[1] & 1) return Fail(c, kInvalidField);  // no vital product data pages
  std::vector<uint8_t> a(96, 0);
  a[0] = 0x05;  // CD/DVD device
  a[1] = 0x80;  // removable
  a[2] = 0x05;
  a[3] = 0x32;
  a[4] = 91;
  bytes::PutText(&a[8], 8, "VARNEX", 6, ' ');
  bytes::PutText(&a[16], 16, Product(), std::strlen(Product()), ' ');
  bytes::PutText(&a[32], 4, "1.0", 3, ' ');
  Reply(c, a);
}

void MmcDiscTarget::TestUnitReady(ScsiCommand& c) { NeedMedium(c); }

void MmcDiscTarget::RequestSense(ScsiCommand& c) {
  Reply(c, std::vector<uint8_t>(lastSense_, lastSense_ + 18));
}

void MmcDiscTarget::StartStop(ScsiCommand& c) {
  bool loej = c.cdb[4] & 2, start = c.cdb[4] & 1;
  if (!loej) return;
  if (!start) {
    if (preventRemoval_) return Fail(c, kRemovalPrevented);
    model_.trayOpen = true;
  } else {
    model_.trayOpen = false;
  }
  ModelChanged();
}

void MmcDiscTarget::PreventAllow(ScsiCommand& c) { preventRemoval_ = c.cdb[4] & 1; }

// ---- GET CONFIGURATION --------------------------------------------------

void MmcDiscTarget::GetConfiguration(ScsiCommand& c) {
  uint8_t rt = c.cdb[1] & 3;
  uint16_t startFeature = BE16(c.cdb + 2);
  int p = model_.trayOpen ? 0 : model_.profile;
  static const uint16_t kProfiles[] = {0x43, 0x41, 0x40, 0x2B, 0x1B, 0x1A, 0x16, 0x15, 0x14, 0x13,
                                       0x12, 0x11, 0x10, 0x0A, 0x09, 0x08};
  struct Feature {
    uint16_t code;
    bool current;
    std::vector<uint8_t> body;
  };
  bool cd = medium::IsCd(p), dvd = medium::IsDvd(p), bd = medium::IsBd(p);
  std::vector<Feature> list;
  {
    std::vector<uint8_t> profiles;
    for (uint16_t prof : kProfiles) {
      uint8_t e[4] = {uint8_t(prof >> 8), uint8_t(prof), uint8_t(prof == p ? 1 : 0), 0};
      profiles.insert(profiles.end(), e, e + 4);
    }
    list.push_back({0x0000, true, profiles});
  }
  list.push_back({0x0001, true, {0, 0, 0, 1, 0, 0, 0, 0}});
  list.push_back({0x0003, true, {uint8_t(0x29 | (preventRemoval_ ? 2 : 0)), 0, 0, 0}});
  list.push_back({0x0010, p != 0, {0, 0, 8, 0, 0, uint8_t(bd ? 32 : 16), 0, 0}});
  list.push_back({0x001D, cd || dvd, {}});
  list.push_back({0x001E, cd, {0, 0, 0, 0}});
  list.push_back({0x001F, dvd, {0, 0, 0, 0}});
  list.push_back({0x0020, p == 18 || p == 67, {0, 0, 0, 0, 0, 0, 8, 0, 0, 0x10, 0, 0}});
  list.push_back({0x0021, p == 9 || p == 10 || p == 17 || p == 20 || p == 21 || p == 65,
                  {0, 0x0F, 0, 1, 0, 0, 0, 0}});
  list.push_back({0x0023, p == 19 || p == 20 || p == 26 || p == 18 || p == 67, {0, 0, 0, 0}});
  list.push_back({0x0024, p == 18 || p == 67, {0, 0, 0, 0}});
  list.push_back({0x0026, p == 19, {}});
  list.push_back({0x002A, p == 26, {1, 0, 0, 0}});
  list.push_back({0x002B, p == 27, {1, 0, 0, 0}});
  list.push_back({0x002D, p == 9 || p == 10, {0x46, 0, 0, 0}});
  list.push_back({0x002E, p == 9 || p == 10, {0x7E, 0, 0, 0}});
  list.push_back({0x002F, p == 17 || p == 19 || p == 20 || p == 21 || p == 22, {0x4E, 0, 0, 0}});
  list.push_back({0x0033, p == 22, {0, 0, 0, 1}});
  list.push_back({0x003B, p == 43, {1, 0, 0, 0}});
  list.push_back({0x0040, bd, std::vector<uint8_t>(28, 0)});
  list.push_back({0x0041, p == 65 || p == 66 || p == 67, std::vector<uint8_t>(20, 0)});
  list.push_back({0x0107, p != 0, {0x0F, 0, 0, 0}});

  std::vector<uint8_t> a(8, 0);
  PutBE16(&a[6], uint16_t(p));
  for (const Feature& f : list) {
    if (rt == 1 && !f.current) continue;
    if (f.code < startFeature) continue;
    if (rt == 2 && f.code != startFeature) continue;
    uint8_t h[4] = {uint8_t(f.code >> 8), uint8_t(f.code), uint8_t((f.code == 0 || f.code == 1 || f.code == 3 ? 2 : 0) | (f.current ? 1 : 0) | 4),
                    uint8_t(f.body.size())};
    a.insert(a.end(), h, h + 4);
    a.insert(a.end(), f.body.begin(), f.body.end());
  }
  PutBE32(&a[0], uint32_t(a.size() - 4));
  Reply(c, a);
}

// ---- mode pages ---------------------------------------------------------

std::vector<uint8_t> MmcDiscTarget::Page05() const {
  std::vector<uint8_t> p(52, 0);
  p[0] = 0x05;
  p[1] = 0x32;
  p[2] = uint8_t((bufe_ ? 0x40 : 0) | (lsValid_ ? 0x20 : 0) | (testWrite_ ? 0x10 : 0) | (writeType_ & 0x0F));
  p[3] = uint8_t((multiSession_ << 6) | (fixedPacket_ ? 0x20 : 0) | (trackMode_ & 0x0F));
  p[4] = dataBlockType_ & 0x0F;
  p[5] = linkSize_;
  p[8] = sessionFormat_;
  PutBE32(&p[10], packetSize_);
  PutBE16(&p[14], 150);
  return p;
}

std::vector<uint16_t> MmcDiscTarget::WriteSpeeds() const {
  int p = model_.profile;
  std::vector<uint16_t> all = medium::IsBd(p)    ? std::vector<uint16_t>{53940, 35960, 26970, 17980, 8990}
                              : medium::IsDvd(p) ? std::vector<uint16_t>{22160, 16620, 11080, 8310, 5540, 3324, 1385}
                                                 : std::vector<uint16_t>{8448, 7040, 5632, 4224, 2816, 1408, 704};
  // A paced recorder offers no speed beyond its pace, and its pace itself.
  const uint32_t pace = PacedWriteSpeed();
  if (pace == 0) return all;
  std::vector<uint16_t> speeds = {uint16_t(std::min<uint32_t>(pace, 0xFFFE))};
  for (uint16_t s : all)
    if (s < speeds.front()) speeds.push_back(s);
  return speeds;
}

std::vector<uint8_t> MmcDiscTarget::Page2A() const {
  std::vector<uint16_t> speeds = WriteSpeeds();
  bool canWrite = !model_.pressed && (medium::IsSequential(model_.profile) || medium::IsOverwritable(model_.profile));
  if (!canWrite) speeds.clear();
  std::vector<uint8_t> p(32 + 4 * speeds.size(), 0);
  p[0] = 0x2A;
  p[1] = uint8_t(p.size() - 2);
  p[2] = 0x3F;  // reads CD-R, CD-RW, method 2, DVD-ROM, DVD-R, DVD-RAM
  p[3] = 0x37;  // writes CD-R, CD-RW, test write, DVD-R, DVD-RAM
  p[4] = 0xF1;  // audio, Mode 2 Form 1 and 2, multisession, underrun protection
  p[5] = 0x7F;  // CD-DA commands and accuracy, R-W, C2 pointers, ISRC, UPC
  p[6] = uint8_t(0x29 | (preventRemoval_ ? 2 : 0));
  uint16_t maxRead = medium::IsBd(model_.profile) ? 53940 : medium::IsDvd(model_.profile) ? 22160 : 8448;
  uint16_t maxWrite = speeds.empty() ? 0 : speeds.front();
  uint16_t curWrite = 0;
  if (!speeds.empty()) {
    curWrite = speeds.back();
    for (uint16_t s : speeds)
      if (s <= writeSpeed_) { curWrite = s; break; }
  }
  PutBE16(&p[8], maxRead);
  PutBE16(&p[10], 256);
  PutBE16(&p[12], 4096);
  PutBE16(&p[14], std::min<uint16_t>(readSpeed_, maxRead));
  PutBE16(&p[18], maxWrite);
  PutBE16(&p[20], curWrite);
  PutBE16(&p[28], curWrite);
  PutBE16(&p[30], uint16_t(speeds.size()));
  for (size_t i = 0; i < speeds.size(); ++i) PutBE16(&p[32 + 4 * i + 2], speeds[i]);
  return p;
}

void MmcDiscTarget::ModeSense(ScsiCommand& c) {
  uint8_t page = c.cdb[2] & 0x3F;
  std::vector<uint8_t> body;
  if (page == 0x05 || page == 0x3F) {
    auto p = Page05();
    body.insert(body.end(), p.begin(), p.end());
  }
  if (page == 0x2A || page == 0x3F) {
    auto p = Page2A();
    body.insert(body.end(), p.begin(), p.end());
  }
  if (body.empty()) return Fail(c, kInvalidField);
  std::vector<uint8_t> a(8, 0);
  a.insert(a.end(), body.begin(), body.end());
  PutBE16(&a[0], uint16_t(a.size() - 2));
  Reply(c, a);
}

void MmcDiscTarget::ModeSelect(ScsiCommand& c) {
  uint32_t n = std::min<uint32_t>(BE16(c.cdb + 7), c.dataLength);
  if (c.direction != ScsiCommand::kOut || !c.data || n < 8) return Fail(c, kInvalidField);
  const uint8_t* d = c.data;
  uint32_t off = 8 + BE16(d + 6);
  if (off + 2 > n) return Fail(c, kInvalidParamField);
  const uint8_t* p = d + off;
  uint32_t pageLen = p[1] + 2u;
  if (off + pageLen > n) return Fail(c, kInvalidParamField);
  uint8_t page = p[0] & 0x3F;
  if (page == mmc::kPageCapabilities) return;  // nothing of it can be changed
  if (page != mmc::kPageWriteParameters || pageLen < 16) return Fail(c, kInvalidParamField);
  uint8_t wt = p[mmc::wp::kFlags] & 0x0F;
  uint8_t dbt = p[mmc::wp::kDataBlockType] & 0x0F;
  if (wt > 4) return Fail(c, kInvalidParamField);
  if (!(dbt <= 3 || (dbt >= 8 && dbt <= 13))) return Fail(c, kInvalidParamField);
  writeType_ = wt;
  bufe_ = p[mmc::wp::kFlags] & mmc::wp::kBufE;
  lsValid_ = p[mmc::wp::kFlags] & mmc::wp::kLinkSizeValid;
  bool test = p[mmc::wp::kFlags] & mmc::wp::kTestWrite;
  multiSession_ = p[mmc::wp::kTrack] >> 6;
  fixedPacket_ = p[mmc::wp::kTrack] & mmc::wp::kFixedPacket;
  trackMode_ = p[mmc::wp::kTrack] & 0x0F;
  dataBlockType_ = dbt;
  linkSize_ = p[mmc::wp::kLinkSize];
  sessionFormat_ = pageLen > 8 ? p[mmc::wp::kSessionFormat] : 0;
  packetSize_ = pageLen >= 14 ? BE32(p + mmc::wp::kPacketSize) : 0;
  if (test && !testWrite_) sim_ = model_;  // simulated writing starts from the disc as it is
  testWrite_ = test;
  simulating_ = test;
}

// ---- disc and track information ----------------------------------------

int MmcDiscTarget::LastTrackNumber() const {
  return model_.tracks.empty() ? 0 : model_.tracks.back().number;
}

int32_t MmcDiscTarget::LeadOutOfSession(int session) const {
  int32_t end = 0;
  for (const DiscTrack& t : model_.tracks)
    if (t.session == session) end = std::max(end, t.End());
  return end;
}

int32_t MmcDiscTarget::NextTrackStart() const {
  const DiscModel& m = simulating_ ? sim_ : model_;
  int32_t align = medium::IsBd(m.profile) ? 32 : medium::IsDvd(m.profile) ? 16 : 1;
  int open = m.closedSessions + 1;
  int32_t last = 0;
  bool openHasTracks = false;
  for (const DiscTrack& t : m.tracks) {
    last = std::max(last, t.End());
    if (t.session == open) openHasTracks = true;
  }
  if (m.tracks.empty()) return 0;
  if (openHasTracks) {
    // A new track in the same session: on CD behind the run-out and pre-gap.
    return medium::IsCd(m.profile) ? last + 2 + 150 : Align(last, align);
  }
  // The first track of a new session: behind the lead-out and the next lead-in.
  if (medium::IsCd(m.profile)) return last + (m.closedSessions == 1 ? 11400 : 6900);
  return Align(last, align);
}

DiscTrack* MmcDiscTarget::OpenTrack() {
  DiscModel& m = Active();
  for (DiscTrack& t : m.tracks)
    if (!t.closed && !t.reserved) return &t;
  return nullptr;
}

const DiscTrack* MmcDiscTarget::PregapTrack(int32_t lba) const {
  // Only the gap between two tracks of one session: the lead-out and
  // lead-in between sessions cannot be read.
  for (size_t i = 1; i < model_.tracks.size(); ++i) {
    const DiscTrack& prev = model_.tracks[i - 1];
    const DiscTrack& next = model_.tracks[i];
    if (prev.session == next.session && next.closed && prev.closed && lba >= prev.End() && lba < next.start)
      return &next;
  }
  return nullptr;
}

const DiscTrack* MmcDiscTarget::TrackAt(int32_t lba) const {
  for (const DiscTrack& t : model_.tracks)
    if (lba >= t.start && lba < t.start + std::max(t.size, t.recorded)) return &t;
  return nullptr;
}

void MmcDiscTarget::ReadDiscInformation(ScsiCommand& c) {
  if (c.cdb[1] & 7) return Fail(c, kInvalidField);
  if (!NeedMedium(c)) return;
  const DiscModel& m = model_;
  std::vector<uint8_t> a(34, 0);
  PutBE16(&a[0], 32);
  int p = m.profile;
  uint8_t status, lastState;
  int sessions, firstLast, lastLast;
  bool erasable = medium::IsBlankable(p) || medium::IsOverwritable(p);
  if (m.pressed || medium::IsOverwritable(p)) {
    bool blank = medium::IsOverwritable(p) && !m.formatted;
    status = blank ? 0 : (p == 18 || p == 67) ? 3 : 2;
    lastState = blank ? 0 : 3;
    sessions = std::max(1, m.closedSessions);
    int lastSession = sessions;
    firstLast = 99, lastLast = 1;
    for (const DiscTrack& t : m.tracks)
      if (t.session == lastSession) firstLast = std::min(firstLast, t.number), lastLast = std::max(lastLast, t.number);
    if (firstLast == 99) firstLast = 1;
  } else if (m.tracks.empty() && m.closedSessions == 0) {
    status = 0, lastState = 0, sessions = 1, firstLast = 1, lastLast = 1;
  } else if (m.finalized) {
    status = 2, lastState = 3, sessions = m.closedSessions;
    firstLast = 99, lastLast = 1;
    for (const DiscTrack& t : m.tracks)
      if (t.session == sessions) firstLast = std::min(firstLast, t.number), lastLast = std::max(lastLast, t.number);
  } else {
    status = 1;
    sessions = m.closedSessions + 1;
    int next = LastTrackNumber() + 1;
    firstLast = next;
    bool any = false;
    for (const DiscTrack& t : m.tracks)
      if (t.session == sessions) firstLast = std::min(firstLast, t.number), any = true;
    lastState = any ? 1 : 0;
    // A track being written is the last one; otherwise the invisible track.
    lastLast = NextTrackStart() < m.capacity ? next : LastTrackNumber();
    for (const DiscTrack& t : m.tracks)
      if (!t.closed && !t.reserved) lastLast = t.number;
  }
  using namespace mmc::di;
  a[kStatus] = uint8_t((erasable ? kErasable : 0) | (lastState << 2) | status);
  a[kFirstTrack] = 1;
  a[kSessionsLsb] = uint8_t(sessions);
  a[kFirstTrackLastSessionLsb] = uint8_t(firstLast);
  a[kLastTrackLastSessionLsb] = uint8_t(lastLast);
  a[kSessionsMsb] = uint8_t(sessions >> 8);
  a[kFirstTrackLastSessionMsb] = uint8_t(firstLast >> 8);
  a[kLastTrackLastSessionMsb] = uint8_t(lastLast >> 8);
  a[kFormatStatus] = uint8_t(0x20 | (p == 26 ? (m.formatted ? 3 : 0) : 0));  // unrestricted use
  a[kDiscType] = medium::IsCd(p) ? m.sessionFormat : 0;
  if (medium::IsCd(p)) {
    if (status == 0 || status == 1) PutMsf(&a[kLastSessionLeadIn], LeadInStart());
    else std::memset(&a[kLastSessionLeadIn], 0xFF, 4);
    PutMsf(&a[kLastPossibleLeadOut], m.capacity);
  } else {
    PutBE32(&a[kLastPossibleLeadOut], uint32_t(m.capacity));
  }
  Reply(c, a);
}

std::vector<uint8_t> MmcDiscTarget::TrackInfo(const DiscTrack* t, bool invisible) const {
  const DiscModel& m = model_;
  std::vector<uint8_t> a(48, 0);
  PutBE16(&a[0], 46);
  bool canAppend = !m.pressed && !m.finalized && medium::IsSequential(m.profile);
  if (invisible) {
    int number = LastTrackNumber() + 1;
    int32_t start = NextTrackStart();
    a[2] = uint8_t(number), a[32] = uint8_t(number >> 8);
    int session = m.closedSessions + 1;
    a[3] = uint8_t(session), a[33] = uint8_t(session >> 8);
    a[5] = 0x04;
    a[6] = 0x40 | 0x0F;  // blank, data mode unknown
    a[7] = 0x01;         // next writable address valid
    PutBE32(&a[8], uint32_t(start));
    PutBE32(&a[12], uint32_t(start));
    PutBE32(&a[16], uint32_t(std::max(0, m.capacity - start)));
    PutBE32(&a[24], uint32_t(std::max(0, m.capacity - start)));
    return a;
  }
  a[2] = uint8_t(t->number), a[32] = uint8_t(t->number >> 8);
  a[3] = uint8_t(t->session), a[33] = uint8_t(t->session >> 8);
  bool overwrite = medium::IsOverwritable(m.profile);
  a[5] = t->IsAudio() ? t->Control() : uint8_t((overwrite || (canAppend && !t->closed) ? 0x05 : 0x04) | (t->Control() & 0x02));
  uint8_t dataMode = t->IsAudio() ? 0x00 : IsMode2(t->mode) ? 0x02 : 0x01;
  bool writable = overwrite ? !m.pressed : (canAppend && !t->closed);
  a[6] = uint8_t(((t->recorded == 0 && !t->closed && !overwrite) ? 0x40 : 0) | (t->reserved && !t->closed ? 0x80 : 0) |
                 dataMode);
  if (overwrite) a[6] |= 0x30;  // packet, fixed
  int32_t size = (t->closed || t->reserved || overwrite) ? t->size : m.capacity - t->start;
  int32_t nwa = overwrite ? 0 : t->start + t->recorded;
  a[7] = uint8_t((writable ? 1 : 0) | (t->recorded > 0 || overwrite ? 2 : 0));
  PutBE32(&a[8], uint32_t(t->start));
  if (writable) PutBE32(&a[12], uint32_t(nwa));
  int32_t free = writable ? (overwrite ? t->size : t->start + size - nwa) : 0;
  PutBE32(&a[16], uint32_t(std::max(0, free)));
  if (overwrite) PutBE32(&a[20], medium::IsBd(m.profile) ? 32 : 16);
  PutBE32(&a[24], uint32_t(size));
  int32_t lra = overwrite ? t->start + t->size - 1 : t->start + t->recorded - 1;
  if (t->recorded > 0 || overwrite) PutBE32(&a[28], uint32_t(lra));
  return a;
}

void MmcDiscTarget::ReadTrackInformation(ScsiCommand& c) {
  if (!NeedMedium(c)) return;
  uint8_t type = c.cdb[1] & 3;
  uint32_t addr = BE32(c.cdb + 2);
  const DiscModel& m = model_;
  bool appendable = !m.pressed && !m.finalized && medium::IsSequential(m.profile) && NextTrackStart() < m.capacity;
  const DiscTrack* found = nullptr;
  bool invisible = false;
  if (type == 0) {
    found = TrackAt(int32_t(addr));
    if (!found) {
      if (appendable && int32_t(addr) >= NextTrackStart() && int32_t(addr) < m.capacity) invisible = true;
      else return Fail(c, kLbaOutOfRange);
    }
  } else if (type == 1) {
    if (addr == 0) return Fail(c, kInvalidField);
    if (addr == 0xFF) {
      // The incomplete track when one is being written, else the invisible one.
      for (const DiscTrack& t : m.tracks)
        if (!t.closed && !t.reserved) found = &t;
      if (!found && appendable) invisible = true;
      if (!found && !invisible) return Fail(c, kInvalidField);
    } else {
      for (const DiscTrack& t : m.tracks)
        if (uint32_t(t.number) == addr) found = &t;
      if (!found) {
        if (appendable && int(addr) == LastTrackNumber() + 1) invisible = true;
        else return Fail(c, kInvalidField);
      }
    }
  } else if (type == 2) {
    for (const DiscTrack& t : m.tracks)
      if (uint32_t(t.session) == addr) { found = &t; break; }
    if (!found) {
      if (appendable && int(addr) == m.closedSessions + 1) invisible = true;
      else return Fail(c, kInvalidField);
    }
  } else {
    return Fail(c, kInvalidField);
  }
  Reply(c, TrackInfo(found, invisible));
}

namespace {

void PutTocAddress(uint8_t* p, int32_t lba, bool msf) {
  if (msf) PutMsf(p, lba);
  else PutBE32(p, uint32_t(lba));
}

// One 11-byte entry of the full table of contents; `at` is given only where
// `usePoint` says the entry points at an address.
void PutFullTocEntry(std::vector<uint8_t>& a, int session, uint8_t adrCtl, uint8_t point, int32_t at, uint8_t pm,
                     uint8_t ps, uint8_t pf, bool usePoint) {
  uint8_t e[11] = {uint8_t(session), adrCtl, 0, point, 0, 0, 0, 0, pm, ps, pf};
  if (usePoint) {
    TocAddress t = LbaToTocAddress(at);
    e[7] = t.X, e[8] = t.M, e[9] = t.S, e[10] = t.F;
  }
  a.insert(a.end(), e, e + 11);
}

}  // namespace

std::vector<const DiscTrack*> MmcDiscTarget::TocTracks(int* lastSession) const {
  const DiscModel& m = model_;
  // Only closed sessions have a table of contents.
  std::vector<const DiscTrack*> tracks;
  *lastSession = medium::IsOverwritable(m.profile) || m.pressed ? std::max(1, m.closedSessions) : m.closedSessions;
  for (const DiscTrack& t : m.tracks)
    if (t.session <= *lastSession && (t.closed || medium::IsOverwritable(m.profile) || m.pressed)) tracks.push_back(&t);
  if (medium::IsOverwritable(m.profile) && !m.formatted) tracks.clear();
  return tracks;
}

bool MmcDiscTarget::FormattedToc(std::vector<uint8_t>& a, const std::vector<const DiscTrack*>& tracks,
                                 uint8_t number, bool msf) const {
  a[2] = uint8_t(tracks.front()->number);
  a[3] = uint8_t(tracks.back()->number);
  if (number > tracks.back()->number && number != 0xAA) return false;
  for (const DiscTrack* t : tracks) {
    if (t->number < number || number == 0xAA) continue;
    uint8_t e[8] = {0, uint8_t(0x10 | t->Control()), uint8_t(t->number), 0};
    PutTocAddress(e + 4, t->start, msf);
    a.insert(a.end(), e, e + 8);
  }
  uint8_t e[8] = {0, uint8_t(0x10 | tracks.back()->Control()), 0xAA, 0};
  PutTocAddress(e + 4, LeadOutOfSession(tracks.back()->session), msf);
  a.insert(a.end(), e, e + 8);
  return true;
}

void MmcDiscTarget::FullToc(std::vector<uint8_t>& a, const std::vector<const DiscTrack*>& tracks,
                            int lastSession) const {
  const DiscModel& m = model_;
  a[2] = 1;
  a[3] = uint8_t(lastSession);
  for (int s = 1; s <= lastSession; ++s) {
    const DiscTrack *first = nullptr, *last = nullptr;
    for (const DiscTrack* t : tracks)
      if (t->session == s) { if (!first) first = t; last = t; }
    if (!first) continue;
    uint8_t ctlFirst = uint8_t(0x10 | first->Control());
    uint8_t ctlLast = uint8_t(0x10 | last->Control());
    uint8_t discType = medium::IsCd(m.profile) ? m.sessionFormat : 0;
    PutFullTocEntry(a, s, ctlFirst, 0xA0, 0, uint8_t(first->number), discType, 0, false);
    PutFullTocEntry(a, s, ctlLast, 0xA1, 0, uint8_t(last->number), 0, 0, false);
    PutFullTocEntry(a, s, ctlLast, 0xA2, LeadOutOfSession(s), 0, 0, 0, true);
    for (const DiscTrack* t : tracks)
      if (t->session == s)
        PutFullTocEntry(a, s, uint8_t(0x10 | t->Control()), uint8_t(t->number), t->start, 0, 0, 0, true);
    bool more = s < lastSession || (!m.finalized && medium::IsSequential(m.profile));
    if (more && medium::IsCd(m.profile)) {
      // B0: where the next session's program area starts, and the last possible lead-out.
      uint8_t e[11] = {uint8_t(s), 0x50, 0, 0xB0, 0, 0, 0, 0, 0, 0, 0};
      int32_t nextStart = NextTrackStart();
      for (const DiscTrack* t : tracks)
        if (t->session == s + 1) { nextStart = t->start; break; }
      TocAddress n = LbaToTocAddress(nextStart), l = LbaToTocAddress(m.capacity);
      e[4] = n.M, e[5] = n.S, e[6] = n.F, e[7] = 1, e[8] = l.M, e[9] = l.S, e[10] = l.F;
      a.insert(a.end(), e, e + 11);
    }
  }
}

void MmcDiscTarget::ReadToc(ScsiCommand& c) {
  if (!NeedMedium(c)) return;
  const DiscModel& m = model_;
  bool msf = c.cdb[1] & 2;
  uint8_t format = c.cdb[2] & 0x0F;
  if (format == 0 && (c.cdb[9] >> 6)) format = c.cdb[9] >> 6;  // old-style format field
  uint8_t number = c.cdb[6];
  int lastSession = 0;
  const std::vector<const DiscTrack*> tracks = TocTracks(&lastSession);
  if (tracks.empty() && format != 5) return Fail(c, kInvalidField);
  std::vector<uint8_t> a(4, 0);
  if (format == 0) {
    if (!FormattedToc(a, tracks, number, msf)) return Fail(c, kInvalidField);
  } else if (format == 1) {
    a[2] = 1;
    a[3] = uint8_t(lastSession);
    const DiscTrack* first = nullptr;
    for (const DiscTrack* t : tracks)
      if (t->session == lastSession) { first = t; break; }
    if (!first) first = tracks.front();
    uint8_t e[8] = {0, uint8_t(0x10 | first->Control()), uint8_t(first->number), 0};
    PutTocAddress(e + 4, first->start, msf);
    a.insert(a.end(), e, e + 8);
  } else if (format == 2) {
    FullToc(a, tracks, lastSession);
  } else if (format == 5) {
    if (m.cdText.empty()) return Fail(c, kInvalidField);
    a.insert(a.end(), m.cdText.begin(), m.cdText.end());
  } else {
    return Fail(c, kInvalidField);
  }
  PutBE16(&a[0], uint16_t(a.size() - 2));
  Reply(c, a);
}

void MmcDiscTarget::ReadSubChannel(ScsiCommand& c) {
  if (!NeedMedium(c)) return;
  const bool subQ = c.cdb[2] & 0x40;
  const uint8_t format = c.cdb[3];
  const uint8_t number = c.cdb[6];
  if (format != 2 && format != 3) return Fail(c, kInvalidField);
  int lastSession = 0;
  const std::vector<const DiscTrack*> tracks = TocTracks(&lastSession);
  if (tracks.empty() || !medium::IsCd(model_.profile)) return Fail(c, kIllegalMode);
  const DiscTrack* track = nullptr;
  if (format == 3) {
    for (const DiscTrack* t : tracks)
      if (t->number == number) track = t;
    if (!track) return Fail(c, kInvalidField);
  }
  std::vector<uint8_t> a(4, 0);
  a[1] = 0x15;  // no audio status to tell
  if (subQ) {
    std::vector<uint8_t> d(20, 0);
    d[0] = format;
    if (format == 2 && !model_.mcn.empty()) {
      d[4] = 0x80;  // MCVal
      std::memcpy(&d[5], model_.mcn.data(), std::min<size_t>(13, model_.mcn.size()));
    } else if (format == 3) {
      d[1] = uint8_t(0x30 | track->Control());
      d[2] = uint8_t(track->number);
      if (!track->isrc.empty()) {
        d[4] = 0x80;  // TCVal
        std::memcpy(&d[5], track->isrc.data(), std::min<size_t>(12, track->isrc.size()));
      }
    }
    a.insert(a.end(), d.begin(), d.end());
  }
  PutBE16(&a[2], uint16_t(a.size() - 4));
  Reply(c, a);
}

void MmcDiscTarget::ReadCapacity(ScsiCommand& c) {
  if (!NeedMedium(c)) return;
  int32_t last = 0;
  if (medium::IsOverwritable(model_.profile)) {
    last = model_.formatted ? model_.capacity - 1 : 0;
  } else {
    for (const DiscTrack& t : model_.tracks)
      if (t.recorded > 0 || t.closed) last = std::max(last, t.End() - 1);
  }
  std::vector<uint8_t> a(8, 0);
  PutBE32(&a[0], uint32_t(last));
  PutBE32(&a[4], kDataSectorSize);
  Reply(c, a);
}

void MmcDiscTarget::ReadFormatCapacities(ScsiCommand& c) {
  if (!NeedMedium(c)) return;
  const DiscModel& m = model_;
  int p = m.profile;
  std::vector<uint8_t> a(4, 0);
  auto desc = [&](uint32_t blocks, uint8_t typeByte, uint32_t param) {
    uint8_t e[8];
    PutBE32(e, blocks);
    e[4] = typeByte;
    e[5] = uint8_t(param >> 16), e[6] = uint8_t(param >> 8), e[7] = uint8_t(param);
    a.insert(a.end(), e, e + 8);
  };
  uint32_t nominal = uint32_t(medium::Capacity(p));
  if (p == 26) {
    desc(uint32_t(m.capacity), m.formatted ? 2 : 1, kDataSectorSize);
    desc(nominal, 0x26 << 2, 0);
  } else if (p == 19 || p == 20) {
    desc(uint32_t(m.capacity), p == 19 && m.formatted ? 2 : 1, kDataSectorSize);
    desc(nominal, 0x00 << 2, 16);
    desc(nominal, 0x10 << 2, 16);
    desc(nominal, 0x15 << 2, 16);
    if (p == 19) desc(nominal, 0x13 << 2, 16);
  } else if (p == 18) {
    desc(uint32_t(m.capacity), 2, kDataSectorSize);
    desc(nominal, 0x00, kDataSectorSize);
  } else if (p == 67) {
    desc(uint32_t(m.capacity), m.formatted ? 2 : 1, kDataSectorSize);
    desc(uint32_t(medium::Capacity(medium::kBdRe)), 0x00, 0x3000);
    desc(uint32_t(medium::Capacity(medium::kBdR)), 0x31 << 2, 0);
  } else {
    desc(uint32_t(m.capacity), 3, kDataSectorSize);
  }
  a[3] = uint8_t(a.size() - 4);
  Reply(c, a);
}

// ---- reading ------------------------------------------------------------

bool MmcDiscTarget::ReadRaw(int32_t lba, uint8_t* raw, Mode* modeOut) {
  const DiscTrack* t = TrackAt(lba);
  if (!t) return false;
  uint8_t buf[kRawSectorSize];
  int n = ReadStored(lba, buf);
  Mode mode = t->mode;
  if (n == kRawSectorSize) {
    std::memcpy(raw, buf, kRawSectorSize);
    if (!t->IsAudio()) mode = cdsector::ModeOf(raw);
  } else {
    if (n == 0) std::memset(buf, 0, sizeof buf);
    if (t->IsAudio()) {
      std::memset(raw, 0, kRawSectorSize);
      std::memcpy(raw, buf, std::min(n, kRawSectorSize));
    } else if (n == kMode2Size) {
      mode = Mode::Mode2Formless;
      cdsector::Encode(lba, mode, buf, raw);
    } else {
      if (mode == Mode::Mode2Form2 || mode == Mode::Mode2Formless) mode = Mode::Mode2Form1;
      cdsector::Encode(lba, mode, buf, raw);
    }
  }
  if (modeOut) *modeOut = mode;
  return true;
}

bool MmcDiscTarget::ReadUser2048(int32_t lba, uint8_t* out) {
  const DiscTrack* t = TrackAt(lba);
  if (!t || t->IsAudio()) return false;
  uint8_t buf[kRawSectorSize];
  int n = ReadStored(lba, buf);
  if (n == 0) {
    std::memset(out, 0, kDataSectorSize);
    return true;
  }
  if (n == kDataSectorSize) {
    std::memcpy(out, buf, kDataSectorSize);
    return true;
  }
  if (n != kRawSectorSize) return false;
  Mode mode = cdsector::ModeOf(buf);
  if (mode != Mode::Mode1 && mode != Mode::Mode2Form1) return false;
  std::memcpy(out, buf + cdsector::UserOffset(mode), kDataSectorSize);
  return true;
}

void MmcDiscTarget::Read10(ScsiCommand& c, int32_t lba, uint32_t count) {
  if (!NeedMedium(c)) return;
  if (count == 0) return;
  if (!c.data || c.dataLength < uint64_t(count) * kDataSectorSize) return Fail(c, kInvalidField);
  const DiscModel& m = model_;
  bool overwrite = medium::IsOverwritable(m.profile);
  if (lba < 0 || int64_t(lba) + count > (overwrite ? m.capacity : INT32_MAX)) return Fail(c, kLbaOutOfRange);
  if (overwrite && !m.formatted) return Fail(c, kLbaOutOfRange);
  // A store that keeps user data gives a whole run in one read; once it
  // cannot, the rest of the command goes sector by sector.
  bool runs = true;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* out = c.data + size_t(i) * kDataSectorSize;
    int32_t at = lba + int32_t(i);
    if (overwrite) {
      if (runs && count - i > 1) {
        if (ReadStoredRun(at, out, count - i)) break;
        runs = false;
      }
      uint8_t buf[kRawSectorSize];
      int n = ReadStored(at, buf);
      if (n == kDataSectorSize) std::memcpy(out, buf, kDataSectorSize);
      else std::memset(out, 0, kDataSectorSize);
      continue;
    }
    const DiscTrack* t = TrackAt(at);
    if (!t || at >= t->start + (t->closed ? t->size : t->recorded)) {
      c.transferred = i * kDataSectorSize;
      return Fail(c, kLbaOutOfRange);
    }
    const uint32_t inTrack = std::min<uint32_t>(count - i, uint32_t(t->start + (t->closed ? t->size : t->recorded) - at));
    if (runs && inTrack > 1 && !t->IsAudio()) {
      if (ReadStoredRun(at, out, inTrack)) {
        i += inTrack - 1;
        continue;
      }
      runs = false;
    }
    if (!ReadUser2048(at, out)) {
      c.transferred = i * kDataSectorSize;
      return Fail(c, kIllegalMode);
    }
  }
  c.transferred = count * kDataSectorSize;
}

void MmcDiscTarget::ReadCd(ScsiCommand& c) {
  if (!NeedMedium(c)) return;
  if (!medium::IsCd(model_.profile)) return Fail(c, kIllegalMode);
  uint8_t expected = (c.cdb[1] >> 2) & 7;
  int32_t lba = int32_t(BE32(c.cdb + 2));
  uint32_t count = (uint32_t(c.cdb[6]) << 16) | (uint32_t(c.cdb[7]) << 8) | c.cdb[8];
  uint8_t flags = c.cdb[9];
  uint8_t sub = c.cdb[10] & 7;
  if (lba < -150 || int64_t(lba) + count > model_.capacity) return Fail(c, kLbaOutOfRange);
  // Sound with nothing beside it, as a rip asks for it: a store of whole
  // sectors gives the run in one read rather than a sector at a time.
  if ((flags & 0xF8) && ((flags >> 1) & 3) == 0 && sub == 0 && expected <= 1 && count > 1 && c.data &&
      uint64_t(count) * kRawSectorSize <= c.dataLength) {
    const DiscTrack* t = TrackAt(lba);
    if (t && t->IsAudio() && lba >= t->start &&
        int64_t(lba) + count <= int64_t(t->start) + (t->closed ? t->size : t->recorded) &&
        ReadWholeRun(lba, c.data, count)) {
      c.transferred = count * kRawSectorSize;
      return;
    }
  }
  uint32_t done = 0;
  for (uint32_t i = 0; i < count; ++i) {
    int32_t at = lba + int32_t(i);
    const DiscTrack* t = TrackAt(at);
    const DiscTrack* pregapOf = t ? nullptr : PregapTrack(at);
    if (!pregapOf && (!t || at >= t->start + (t->closed ? t->size : t->recorded))) return Fail(c, kLbaOutOfRange);
    if ((flags & 0xF8) == 0 && ((flags >> 1) & 3) == 0 && sub == 0) continue;  // nothing asked of the sector
    uint8_t raw[kRawSectorSize];
    Mode mode;
    if (pregapOf) {
      // The pre-gap (index 0) of the following track: what was written
      // there, or empty sectors of its mode, as the BIN export writes them.
      mode = pregapOf->mode;
      if (mode == Mode::Mode2Form2 || mode == Mode::Mode2Formless) mode = Mode::Mode2Form1;
      uint8_t user[kRawSectorSize] = {};
      if (ReadStored(at, raw) == kRawSectorSize) {
        if (mode != Mode::Audio) mode = cdsector::ModeOf(raw);
      } else if (mode == Mode::Audio) {
        std::memset(raw, 0, sizeof raw);
      } else {
        cdsector::Encode(at, mode, user, raw);
      }
    } else if (!ReadRaw(at, raw, &mode)) {
      return Fail(c, kLbaOutOfRange);
    }
    bool typeOk = expected == 0 || (expected == 1 && mode == Mode::Audio) || (expected == 2 && mode == Mode::Mode1) ||
                  (expected == 3 && mode == Mode::Mode2Formless) || (expected == 4 && mode == Mode::Mode2Form1) ||
                  (expected == 5 && mode == Mode::Mode2Form2);
    if (!typeOk) return Fail(c, kIllegalMode);
    std::vector<uint8_t> out;
    if (mode == Mode::Audio) {
      if (flags & 0xF8) out.assign(raw, raw + kRawSectorSize);
    } else {
      // Regions of the sector: sync, header, sub-header, user data, EDC/ECC.
      int userOff = cdsector::UserOffset(mode), userLen = cdsector::UserSize(mode);
      bool m2 = mode != Mode::Mode1;
      if (flags & 0x80) out.insert(out.end(), raw, raw + 12);
      uint8_t hdr = (flags >> 5) & 3;
      if (hdr & 1) out.insert(out.end(), raw + 12, raw + 16);
      if ((hdr & 2) && m2 && mode != Mode::Mode2Formless) out.insert(out.end(), raw + 16, raw + 24);
      if (flags & 0x10) out.insert(out.end(), raw + userOff, raw + userOff + userLen);
      if (flags & 0x08) out.insert(out.end(), raw + userOff + userLen, raw + kRawSectorSize);
    }
    uint8_t c2 = (flags >> 1) & 3;
    if (c2 == 1) out.insert(out.end(), 294, 0);
    if (c2 == 2) out.insert(out.end(), 296, 0);
    if (sub == 1 || sub == 4) out.insert(out.end(), 96, 0);
    if (sub == 2) {
      const std::array<uint8_t, 16> q = SubQ(at, t ? t : pregapOf, pregapOf != nullptr);
      out.insert(out.end(), q.begin(), q.end());
    }
    if (done + out.size() > c.dataLength) return Fail(c, kInvalidField);
    if (!out.empty()) std::memcpy(c.data + done, out.data(), out.size());
    done += uint32_t(out.size());
  }
  c.transferred = done;
}

std::array<uint8_t, 16> MmcDiscTarget::SubQ(int32_t lba, const DiscTrack* t, bool pregap) const {
  // Position data as the disc's Q channel carries it, in BCD: the track,
  // its index, the time in the track (counting down in the pre-gap) and on
  // the disc.
  std::array<uint8_t, 16> q{};
  int index = pregap ? 0 : 1;
  if (!pregap)
    for (int32_t at : t->indexes)
      if (lba >= at) ++index;
  const Msf rel = FramesToMsf(pregap ? t->start - lba : lba - t->start);
  const Msf abs = FramesToMsf(int64_t(lba) + kMsfOfLbaZero);
  q[0] = uint8_t(t->Control() << 4 | 0x01);
  q[1] = ToBcd(t->number);
  q[2] = ToBcd(index);
  q[3] = ToBcd(rel.M), q[4] = ToBcd(rel.S), q[5] = ToBcd(rel.F);
  q[7] = ToBcd(abs.M), q[8] = ToBcd(abs.S), q[9] = ToBcd(abs.F);
  return q;
}

// ---- writing ------------------------------------------------------------

bool MmcDiscTarget::StoreSectors(ScsiCommand& c, DiscTrack& t, int32_t lba, uint32_t count) {
  if (count == 0) return true;
  uint32_t block = c.dataLength / count;
  if (!c.data || block * count != c.dataLength) {
    Fail(c, kInvalidField);
    return false;
  }
  bool cd = medium::IsCd(Active().profile);
  if (!cd && block != kDataSectorSize) {
    Fail(c, kIllegalMode);
    return false;
  }
  if (cd) {
    bool ok = (t.IsAudio() && block == kRawSectorSize) ||
              (t.mode == Mode::Mode1 && (block == kDataSectorSize || block == kRawSectorSize)) ||
              (IsMode2(t.mode) && (block == kDataSectorSize || block == kForm2Size || block == 2332 ||
                                   block == kMode2Size || block == kRawSectorSize));
    if (!ok) {
      Fail(c, kIllegalMode);
      return false;
    }
  }
  if (simulating_) return true;  // nothing reaches the disc
  if (!cd || (block == kDataSectorSize && !t.IsAudio() && KeepsUserData())) {
    if (WriteStoredRun(lba, c.data, count)) return true;
    Fail(c, {3, 0x0C, 0});  // write error
    return false;
  }
  // Encoded as a whole and stored in one go: a store call per sector would
  // cost a system call per 2 KiB.
  const uint8_t* run = c.data;
  if (block != kRawSectorSize) {
    if (rawRun_.size() < size_t(count) * kRawSectorSize) rawRun_.resize(size_t(count) * kRawSectorSize);
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* in = c.data + size_t(i) * block;
      uint8_t* raw = rawRun_.data() + size_t(i) * kRawSectorSize;
      const int32_t at = lba + int32_t(i);
      if (block == 2332) cdsector::EncodeMode2Mixed(at, in, raw);
      else if (block == kMode2Size) cdsector::Encode(at, Mode::Mode2Formless, in, raw);
      else if (block == kForm2Size) cdsector::Encode(at, Mode::Mode2Form2, in, raw);
      else cdsector::Encode(at, t.mode == Mode::Mode1 ? Mode::Mode1 : Mode::Mode2Form1, in, raw);
    }
    run = rawRun_.data();
  }
  if (!WriteStoredRawRun(lba, run, count)) {
    Fail(c, {3, 0x0C, 0});  // write error
    return false;
  }
  return true;
}

void MmcDiscTarget::Write10(ScsiCommand& c, int32_t lba, uint32_t count) {
  if (!CanWrite(c)) return;
  DiscModel& m = Active();
  if (medium::IsOverwritable(m.profile)) return WriteOverwritable(c, m, lba, count);
  if (medium::IsCd(m.profile) && writeType_ == 2) return WriteCueSectors(c, lba, count);
  if (m.finalized) return Fail(c, kInvalidWriteAddress);
  // The track whose next writable address this is: the incomplete track, a
  // reserved track, or the invisible track where a new one begins.
  DiscTrack* target = nullptr;
  for (DiscTrack& t : m.tracks)
    if (!t.closed && t.start + t.recorded == lba) target = &t;
  if (!target) return WriteNewTrack(c, m, lba, count);
  int32_t limit = target->reserved ? target->start + target->size : m.capacity;
  if (int64_t(lba) + count > limit) return Fail(c, kLbaOutOfRange);
  if (!StoreSectors(c, *target, lba, count)) return;
  target->recorded += int32_t(count);
}

void MmcDiscTarget::WriteOverwritable(ScsiCommand& c, DiscModel& m, int32_t lba, uint32_t count) {
  if (lba < 0 || int64_t(lba) + count > m.capacity) return Fail(c, kLbaOutOfRange);
  DiscTrack t;
  t.mode = Mode::Mode1;
  if (!StoreSectors(c, t, lba, count)) return;
  if (!m.formatted) {  // the first write formats a new disc in the background
    m.formatted = true;
    m.tracks = {DiscTrack{1, 1, 0, m.capacity, m.capacity, Mode::Mode1, true, false}};
    m.closedSessions = 1;
    ModelChanged();
  }
}

const MmcDiscTarget::CueTrack* MmcDiscTarget::CueTrackAt(int32_t at) const {
  const CueTrack* ct = nullptr;
  for (const CueTrack& t : cue_)
    if (at >= t.pregap) ct = &t;
  return ct;
}

void MmcDiscTarget::WriteCueSectors(ScsiCommand& c, int32_t lba, uint32_t count) {
  if (!cuePending_) return Fail(c, kSequenceError);
  if (lba != cueNext_) return Fail(c, kInvalidWriteAddress);
  if (int64_t(lba) + count > cueLeadOut_) return Fail(c, kLbaOutOfRange);
  // Each sector is as long as the cue sheet's data form says; a command
  // that does not fit is refused before anything of it is kept.
  const uint32_t block = c.dataLength / std::max<uint32_t>(count, 1);
  const int32_t programStart = cue_.front().pregap;
  if (cueText_ && lba < programStart) {
    // The lead-in: R-W sub-channel only, and no command runs on past it.
    if (block != 96 || block * count != c.dataLength || int64_t(lba) + count > programStart)
      return Fail(c, kIllegalMode);
    for (uint32_t i = 0; i < count; ++i) TakeLeadIn(c.data + size_t(i) * 96);
    cueNext_ += int32_t(count);
    return;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const CueTrack* ct = CueTrackAt(lba + int32_t(i));
    if (!ct) continue;
    const uint8_t form = lba + int32_t(i) < ct->start ? ct->pregapForm : ct->form;
    const uint32_t want = (form & 0x0F) == 1 || form == 0x00 ? kRawSectorSize : form == 0x10 ? kDataSectorSize : kMode2Size;
    if (block != want || block * count != c.dataLength) return Fail(c, kIllegalMode);
  }
  // Pre-gap sectors before the first track go to the lead-in area: kept nowhere.
  for (uint32_t i = 0; i < count; ++i) {
    int32_t at = lba + int32_t(i);
    const CueTrack* ct = CueTrackAt(at);
    if (at < 0 || !ct) continue;
    ScsiCommand one = c;
    one.data = c.data + size_t(i) * block;
    one.dataLength = block;
    DiscTrack t;
    t.mode = ct->mode;
    if (!StoreSectors(one, t, at, 1)) {
      c.status = one.status;
      std::memcpy(c.sense, one.sense, sizeof c.sense);
      c.senseLength = one.senseLength;
      c.srbStatus = one.srbStatus;
      return;
    }
  }
  cueNext_ += int32_t(count);
  if (cueNext_ >= cueLeadOut_) CommitCueSheet();
}

void MmcDiscTarget::WriteNewTrack(ScsiCommand& c, DiscModel& m, int32_t lba, uint32_t count) {
  bool hasOpen = false;
  for (DiscTrack& t : m.tracks)
    if (!t.closed && !t.reserved) hasOpen = true;
  if (hasOpen || lba != NextTrackStart()) return Fail(c, kInvalidWriteAddress);
  if (int64_t(lba) + count > m.capacity) return Fail(c, kLbaOutOfRange);
  DiscTrack t;
  t.number = (m.tracks.empty() ? 0 : m.tracks.back().number) + 1;
  t.session = m.closedSessions + 1;
  t.start = lba;
  t.mode = medium::IsCd(m.profile) ? ModeFromBlockType(trackMode_, dataBlockType_) : Mode::Mode1;
  if (!StoreSectors(c, t, lba, count)) return;
  t.recorded = int32_t(count);
  if (medium::IsCd(m.profile) && !t.IsAudio() && m.tracks.empty()) m.sessionFormat = sessionFormat_;
  m.tracks.push_back(t);
  ModelChanged();
}

void MmcDiscTarget::ReserveTrack(ScsiCommand& c) {
  if (!CanWrite(c)) return;
  DiscModel& m = Active();
  if (!medium::IsSequential(m.profile) || m.finalized) return Fail(c, kNoMoreReservations);
  for (const DiscTrack& t : m.tracks)
    if (!t.closed && !t.reserved) return Fail(c, kSequenceError);  // a track is being written
  int32_t size = int32_t(BE32(c.cdb + 5));
  if (size <= 0) return Fail(c, kInvalidField);
  if (medium::IsDvd(m.profile)) size = Align(size, 16);
  if (medium::IsBd(m.profile)) size = Align(size, 32);
  int32_t start = NextTrackStart();
  if (int64_t(start) + size > m.capacity) return Fail(c, kNoMoreReservations);
  DiscTrack t;
  t.number = (m.tracks.empty() ? 0 : m.tracks.back().number) + 1;
  t.session = m.closedSessions + 1;
  t.start = start;
  t.size = size;
  t.reserved = true;
  t.mode = medium::IsCd(m.profile) ? ModeFromBlockType(trackMode_, dataBlockType_) : Mode::Mode1;
  m.tracks.push_back(t);
  ModelChanged();
}

void MmcDiscTarget::CloseOpenTracks(DiscModel& m) {
  for (auto it = m.tracks.begin(); it != m.tracks.end();) {
    if (!it->closed) {
      if (!it->reserved && it->recorded == 0) {
        it = m.tracks.erase(it);
        continue;
      }
      if (!it->reserved) it->size = it->recorded;
      it->closed = true;
    }
    ++it;
  }
}

void MmcDiscTarget::CloseTrackSession(ScsiCommand& c) {
  if (!CanWrite(c)) return;
  DiscModel& m = Active();
  uint8_t function = c.cdb[2] & 7;
  uint16_t number = BE16(c.cdb + 4);
  if (medium::IsOverwritable(m.profile)) return;  // nothing to close: stops a background format
  if (m.finalized) return Fail(c, kSequenceError);
  if (function == 1) {
    DiscTrack* t = nullptr;
    for (DiscTrack& x : m.tracks)
      if (x.number == number) t = &x;
    if (!t) {
      if (number == 0xFF || number == LastTrackNumber() + 1) {
        // The incomplete track, whatever its number.
        for (DiscTrack& x : m.tracks)
          if (!x.closed) t = &x;
        if (!t) return;
      } else {
        return Fail(c, kInvalidField);
      }
    }
    if (t->closed) return;
    if (!t->reserved && t->recorded == 0) return;
    if (!t->reserved) t->size = t->recorded;
    t->closed = true;
    ModelChanged();
    return;
  }
  if (function == 2 || function == 3 || function == 5 || function == 6) {
    bool anyInOpen = false;
    for (const DiscTrack& t : m.tracks)
      if (t.session == m.closedSessions + 1) anyInOpen = true;
    if (!anyInOpen) {
      // Closing an empty session closes the disc, when it holds anything.
      if (m.closedSessions == 0) return Fail(c, kSequenceError);
      m.finalized = true;
      ModelChanged();
      return;
    }
    CloseOpenTracks(m);
    ++m.closedSessions;
    if (function >= 5 || multiSession_ == 0 || NextTrackStart() >= m.capacity) m.finalized = true;
    ModelChanged();
    return;
  }
  Fail(c, kInvalidField);
}

void MmcDiscTarget::SyncCache(ScsiCommand& c) {
  if (!NeedMedium(c)) return;
  if (!FlushStore()) return Fail(c, {3, 0x0C, 0});
  ModelChanged();
}

void MmcDiscTarget::Blank(ScsiCommand& c) {
  if (!NeedMedium(c)) return;
  DiscModel& m = model_;
  if (m.pressed || !medium::IsBlankable(m.profile)) return Fail(c, kInvalidField);
  uint8_t type = c.cdb[1] & 7;
  if (type > 1 && type != 5 && type != 6) return Fail(c, kInvalidField);
  m.tracks.clear();
  m.closedSessions = 0;
  m.finalized = false;
  m.formatted = false;
  m.sessionFormat = 0;
  m.cdText.clear();
  m.laterCdText.clear();
  m.mcn.clear();
  if (m.profile == 19) m.profile = 20;  // a blanked DVD-RW is sequential again
  m.capacity = medium::Capacity(m.profile);
  simulating_ = false;
  cuePending_ = false;
  StoreErased();
  ModelChanged();
}

void MmcDiscTarget::FormatUnit(ScsiCommand& c) {
  if (!NeedMedium(c)) return;
  DiscModel& m = model_;
  if (!(c.cdb[1] & 0x10) || !c.data || c.dataLength < 12) return Fail(c, kInvalidField);
  const uint8_t* d = c.data;
  if (BE16(d + 2) < 8) return Fail(c, kInvalidParamField);
  uint32_t blocks = BE32(d + 4);
  uint8_t type = d[8] >> 2;
  int p = m.profile;
  int32_t nominal = medium::Capacity(p);
  if (m.pressed) return Fail(c, kCannotFormat);
  if (p == 26 && type == 0x26) {
    m.capacity = nominal;
  } else if ((p == 19 || p == 20) && (type == 0x00 || type == 0x10 || type == 0x15 || (type == 0x13 && p == 19))) {
    if (type == 0x00 || type == 0x10) StoreErased();
    m.profile = 19;
    m.capacity = nominal;
  } else if (p == 18 && type == 0x00) {
    m.capacity = nominal;
  } else if (p == 67 && (type == 0x00 || type == 0x01 || type == 0x30 || type == 0x31)) {
    const int32_t full = medium::Capacity(medium::kBdR);  // formatted without spare areas
    int32_t cap = type == 0x31 ? full : nominal;
    if (blocks != 0 && blocks != 0xFFFFFFFF && int32_t(blocks) <= full) cap = int32_t(blocks);
    m.capacity = cap;
  } else {
    return Fail(c, kCannotFormat);
  }
  m.formatted = true;
  m.finalized = false;
  m.closedSessions = 1;
  m.tracks = {DiscTrack{1, 1, 0, m.capacity, m.capacity, Mode::Mode1, true, false}};
  ModelChanged();
}

// ---- DVD structures, cue sheets, speeds ---------------------------------

void MmcDiscTarget::ReadDvdStructure(ScsiCommand& c) {
  if (!NeedMedium(c)) return;
  const DiscModel& m = model_;
  uint8_t format = c.cdb[7];
  if (!medium::IsDvd(m.profile)) return Fail(c, kIncompatibleMedium);
  const bool dl = medium::IsDualLayer(m.profile);
  std::vector<uint8_t> a(4, 0);
  if (format == 0x00) {
    std::vector<uint8_t> d(2048, 0);
    uint8_t book = 0;
    switch (m.profile) {
      case 17: case 21: case 22: book = 2; break;
      case 18: book = 1; break;
      case 19: case 20: book = 3; break;
      case 26: book = 9; break;
      case 27: book = 10; break;
      case 43: book = 14; break;
      default: book = 0;
    }
    d[0] = uint8_t(book << 4 | 1);
    d[1] = 0x02;  // 120 mm, 10.08 Mbit/s
    d[2] = uint8_t((dl ? 0x20 : 0) | (m.pressed ? 1 : 2));
    d[3] = 0x10;
    PutBE32(&d[4], 0x030000);
    PutBE32(&d[8], uint32_t(0x030000 + m.capacity - 1));
    PutBE32(&d[12], dl ? uint32_t(0x030000 + m.layer0 - 1) : 0);
    a.insert(a.end(), d.begin(), d.end());
  } else if (format == 0x20 && dl) {
    uint8_t d[8] = {uint8_t(m.tracks.empty() ? 0 : 0x80), 0, 0, 0};
    PutBE32(d + 4, uint32_t(m.layer0));
    a.insert(a.end(), d, d + 8);
  } else {
    return Fail(c, kInvalidField);
  }
  PutBE16(&a[0], uint16_t(a.size() - 2));
  Reply(c, a);
}

void MmcDiscTarget::SendDvdStructure(ScsiCommand& c) {
  if (!CanWrite(c)) return;
  DiscModel& m = Active();
  uint8_t format = c.cdb[7];
  const bool dl = medium::IsDualLayer(m.profile);
  if (!dl || !c.data || c.dataLength < 12) return Fail(c, kInvalidField);
  if (format == 0x20) {
    if (!m.tracks.empty()) return Fail(c, kSequenceError);
    int32_t l0 = int32_t(BE32(c.data + 8));
    if (l0 <= 0 || l0 > m.capacity / 2 + 16) return Fail(c, kInvalidParamField);
    m.layer0 = l0;
    ModelChanged();
    return;
  }
  if (format == 0x22 || format == 0x23 || format == 0x24) return;  // jump addresses: accepted
  Fail(c, kInvalidField);
}

void MmcDiscTarget::SendCueSheet(ScsiCommand& c) {
  if (!CanWrite(c)) return;
  DiscModel& m = Active();
  if (!medium::IsCd(m.profile) || writeType_ != 2) return Fail(c, kSequenceError);
  if (m.finalized) return Fail(c, kInvalidWriteAddress);
  uint32_t n = (uint32_t(c.cdb[6]) << 16) | (uint32_t(c.cdb[7]) << 8) | c.cdb[8];
  n = std::min(n, c.dataLength);
  if (!c.data || n < 16 || n % 8) return Fail(c, kInvalidParamField);
  // Entries: CTL/ADR, TNO, INDEX (both BCD), data form, SCMS, MIN, SEC, FRAME;
  // ADR 2 entries carry the catalogue number, ADR 3 ones a track's ISRC,
  // each in two halves.
  std::vector<CueTrack> tracks;
  int32_t leadOut = -1, lastAt = INT32_MIN;
  bool text = false;
  std::string mcn;
  std::vector<std::pair<int, std::string>> isrcs;
  for (uint32_t off = 0; off < n; off += 8) {
    const uint8_t* e = c.data + off;
    const uint8_t adr = e[0] & 0x0F;
    if (adr == 2) {
      if (!tracks.empty() || mcn.size() >= 13) return Fail(c, kInvalidParamField);
      mcn.append(reinterpret_cast<const char*>(e + 1), mcn.empty() ? 7 : 6);
      continue;
    }
    if (adr == 3) {
      const int tno = IsBcd(e[1]) ? FromBcd(e[1]) : 0;
      if (tno < 1) return Fail(c, kInvalidParamField);
      if (isrcs.empty() || isrcs.back().first != tno || isrcs.back().second.size() >= 12) isrcs.emplace_back(tno, "");
      isrcs.back().second.append(reinterpret_cast<const char*>(e + 2), 6);
      continue;
    }
    if (adr != 1) return Fail(c, kInvalidParamField);
    if (e[5] > 99 || e[6] > 59 || e[7] > 74) return Fail(c, kInvalidParamField);
    int32_t at = int32_t(MsfToFrames(e[5], e[6], e[7])) - kMsfOfLbaZero;
    if (e[1] == 0x00) {  // lead-in: 0x41 when the host sends CD-Text packs in it
      if (e[3] & 0xC0) {
        if (e[3] != 0x41) return Fail(c, kInvalidParamField);
        text = true;
      }
      continue;
    }
    if (at < lastAt) return Fail(c, kInvalidParamField);  // the sheet runs forwards
    lastAt = at;
    if (e[1] == 0xAA) {
      leadOut = at;
      break;
    }
    if (!IsBcd(e[1]) || !IsBcd(e[2])) return Fail(c, kInvalidParamField);
    int tno = FromBcd(e[1]), index = FromBcd(e[2]);
    if (tno < 1 || tno > 99) return Fail(c, kInvalidParamField);
    // The host sends every sector: audio (00), or data as user bytes (10,
    // 20, 30) or raw (11, 21, 31); an audio track takes audio only, a data
    // track data only. Forms the drive would make up itself are not taken.
    const uint8_t form = e[3] & 0x3F;
    const bool data = e[0] & 0x40;
    const bool known = form == 0x00 || form == 0x10 || form == 0x11 || form == 0x20 || form == 0x21 ||
                       form == 0x30 || form == 0x31;
    if (!known || data != (form != 0x00) || (e[3] & 0xC0)) return Fail(c, kInvalidParamField);
    Mode mode = data ? ((form >> 4) == 1 ? Mode::Mode1 : (form >> 4) == 3 ? Mode::Mode2Formless : Mode::Mode2Form1)
                     : Mode::Audio;
    if (tracks.empty() || tracks.back().number != tno) {
      if (!tracks.empty() && tno != tracks.back().number + 1) return Fail(c, kInvalidParamField);
      if (index > 1) return Fail(c, kInvalidParamField);  // a track begins at index 0 or 1
      tracks.push_back({tno, at, at, mode, form, form});
      tracks.back().start = -1;
    }
    CueTrack& t = tracks.back();
    if (index == 0) {
      if (t.start != -1 || at != t.pregap) return Fail(c, kInvalidParamField);
      t.pregapForm = form;
    } else if (index == 1) {
      if (t.start != -1) return Fail(c, kInvalidParamField);
      t.start = at;
      t.form = form;
      t.mode = mode;
      t.control = uint8_t(e[0] >> 4);
    } else {
      // Index points go up one at a time, each after the one before.
      if (t.start == -1 || index != int(t.indexes.size()) + 2 || at <= (t.indexes.empty() ? t.start : t.indexes.back()))
        return Fail(c, kInvalidParamField);
      if (form != t.form || uint8_t(e[0] >> 4) != t.control) return Fail(c, kInvalidParamField);
      t.indexes.push_back(at);
    }
  }
  for (const CueTrack& t : tracks)
    if (t.start == -1) return Fail(c, kInvalidParamField);
  if (tracks.empty() || leadOut <= tracks.back().start) return Fail(c, kInvalidParamField);
  for (size_t i = 0; i < tracks.size(); ++i) {
    const int32_t end = i + 1 < tracks.size() ? tracks[i + 1].pregap : leadOut;
    if (!tracks[i].indexes.empty() && tracks[i].indexes.back() >= end) return Fail(c, kInvalidParamField);
  }
  if (!mcn.empty() && !IsValidMcn(mcn)) return Fail(c, kInvalidParamField);
  for (const auto& [tno, code] : isrcs) {
    CueTrack* t = nullptr;
    for (CueTrack& x : tracks)
      if (x.number == tno) t = &x;
    if (!t || !t->isrc.empty() || !IsValidIsrc(code)) return Fail(c, kInvalidParamField);
    t->isrc = code;
  }
  int32_t first = m.tracks.empty() ? -150 : NextTrackStart() - 150;
  if (tracks.front().pregap != first && !(m.tracks.empty() && tracks.front().pregap == 0))
    return Fail(c, kInvalidParamField);
  if (leadOut > m.capacity) return Fail(c, kInvalidParamField);
  int expectedNumber = (m.tracks.empty() ? 0 : m.tracks.back().number) + 1;
  if (tracks.front().number != expectedNumber) return Fail(c, kInvalidParamField);
  cue_ = tracks;
  cueLeadOut_ = leadOut;
  cueMcn_ = mcn;
  cueText_ = text;
  cuePacks_.clear();
  cuePacksRepeat_ = false;
  cueNext_ = text ? LeadInStart() : tracks.front().pregap;
  cuePending_ = true;
}

void MmcDiscTarget::TakeLeadIn(const uint8_t* block) {
  // The host repeats its packs all through the lead-in; one round is the disc's.
  uint8_t packs[72];
  SubchannelToCdTextPacks(block, packs);
  for (int k = 0; k < 4 && !cuePacksRepeat_; ++k) {
    const uint8_t* p = packs + 18 * k;
    if (cuePacks_.size() >= 18 && std::equal(p, p + 18, cuePacks_.begin())) {
      cuePacksRepeat_ = true;
      break;
    }
    if (cuePacks_.size() < 18 * 255 * 8) cuePacks_.insert(cuePacks_.end(), p, p + 18);
  }
}

void MmcDiscTarget::CommitCueSheet() {
  DiscModel& m = Active();
  int session = m.closedSessions + 1;
  for (size_t i = 0; i < cue_.size(); ++i) {
    DiscTrack t;
    t.number = cue_[i].number;
    t.session = session;
    t.start = cue_[i].start;
    int32_t end = i + 1 < cue_.size() ? cue_[i + 1].pregap : cueLeadOut_;
    t.size = t.recorded = end - t.start;
    t.mode = cue_[i].mode;
    t.flags = uint8_t(cue_[i].control & 0x0B);
    t.isrc = cue_[i].isrc;
    t.indexes = cue_[i].indexes;
    t.closed = true;
    m.tracks.push_back(t);
  }
  // Trailing empty packs (a lead-in sent short of a whole round) are no text.
  while (cuePacks_.size() >= 18 && std::all_of(cuePacks_.end() - 18, cuePacks_.end(), [](uint8_t b) { return b == 0; }))
    cuePacks_.resize(cuePacks_.size() - 18);
  if (m.closedSessions == 0) {
    m.sessionFormat = sessionFormat_;
    // What a reader finds is the first session's: its lead-in texts and
    // the catalogue number its sub-channel carries.
    m.mcn = cueMcn_;
    if (cueText_) m.cdText = cuePacks_;
  } else if (cueText_ && !cuePacks_.empty()) {
    // A later session's lead-in keeps texts of its own tracks.
    m.laterCdText.emplace_back(session, cuePacks_);
  }
  ++m.closedSessions;
  if (multiSession_ == 0) m.finalized = true;
  cuePending_ = false;
  ModelChanged();
}

void MmcDiscTarget::SetCdSpeed(ScsiCommand& c) {
  readSpeed_ = BE16(c.cdb + 2);
  writeSpeed_ = BE16(c.cdb + 4);
}

void MmcDiscTarget::GetPerformance(ScsiCommand& c) {
  if (!NeedMedium(c)) return;
  uint8_t type = c.cdb[10];
  std::vector<uint8_t> a(8, 0);
  if (type == 0x00) {
    uint8_t d[16] = {};
    uint16_t maxRead = medium::IsBd(model_.profile) ? 53940 : medium::IsDvd(model_.profile) ? 22160 : 8448;
    PutBE32(d + 4, maxRead);
    PutBE32(d + 8, uint32_t(std::max(0, model_.capacity - 1)));
    PutBE32(d + 12, maxRead);
    a.insert(a.end(), d, d + 16);
  } else if (type == 0x03) {
    for (uint16_t s : WriteSpeeds()) {
      uint8_t d[16] = {};
      PutBE32(d + 4, uint32_t(std::max(0, model_.capacity - 1)));
      PutBE32(d + 8, s);
      PutBE32(d + 12, s);
      a.insert(a.end(), d, d + 16);
    }
  } else {
    return Fail(c, kInvalidField);
  }
  PutBE32(&a[0], uint32_t(a.size() - 4));
  Reply(c, a);
}

void MmcDiscTarget::ReadBufferCapacity(ScsiCommand& c) {
  std::vector<uint8_t> a(12, 0);
  PutBE16(&a[0], 10);
  PutBE32(&a[4], uint32_t(WritePacer::kBufferBytes));
  PutBE32(&a[8], uint32_t(WritePacer::kBufferBytes));
  Reply(c, a);
}
