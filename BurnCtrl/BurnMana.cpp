#include "BurnCtrl/BurnMana.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "BurnCtrl/Results.h"
#include "BurnCtrl/WriteLog.h"
#include "ByteFields.h"
#include "MediumTable.h"
#include "authoring/CECMA167.h"

using namespace rec;

namespace {

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
uint32_t Round16(uint32_t v) { return (v + 15) / 16 * 16; }
uint32_t Round32(uint32_t v) { return (v + 31) / 32 * 32; }
bool LongWrite(const Sense& s) { return s.Is(2, 4, 8) || s.Is(2, 4, 7); }
bool WriteError(const Sense& s) {
  return s.key == 3 && s.asc == 0x0C && (s.ascq == 0 || (s.ascq >= 7 && s.ascq <= 0x0A));
}
constexpr int kFinalize = 6;  // close function: finalize the disc

}  // namespace

// A begin step that failed goes into the write log with the drive's sense.
#define VARNEX_LOG_STEP(message, recorder) LogStep((message), __FILE__, __LINE__, (recorder))
static void LogStep(const char* message, const char* file, int line, Recorder* r) {
  const rec::Sense s = r->LastSense();
  SenseData sense;
  sense.SenseKey = s.key;
  sense.ASC = s.asc;
  sense.ASCQ = s.ascq;
  sense.SRBStatus = s.srb;
  WriteLogEntry(message, file, line, sense);
}

std::mutex& BurnMana::SourceLock() {
  static std::mutex lock;
  return lock;
}

BurnMana::BurnMana(Recorder* recorder, BurnFile* source, const BurnOptions& options)
    : recorder_(recorder), source_(source), options_(options), outputFile_(options.outputFile) {
  // Write-to-file mode: an old output file goes.
  if (!outputFile_.empty()) std::remove(outputFile_.c_str());
}

BurnMana::~BurnMana() {
  StopBurn();
  JoinThreads();
}

void BurnMana::JoinThreads() {
  if (producer_.joinable()) producer_.join();
  if (writer_.joinable()) writer_.join();
}

// ------------------------------------------------------------ preparation

bool BurnMana::PrepareImageTrack(int session, int track) {
  return PrepareProjectTrack(session, track, IsCd(recorder_->GetMediumType()) ? 1 : 2, 0);
}

bool BurnMana::PrepareProjectTrack(int session, int track, int discKind, uint32_t sessionStart, uint32_t layer0,
                                   uint32_t lastTrack) {
  JoinThreads();
  session_ = session;
  track_ = track;
  discKind_ = discKind;
  sessionStart_ = sessionStart;
  layer0_ = layer0;
  lastTrackValue_ = lastTrack;
  source_->SetLayerValues(layer0, lastTrack);
  if (!source_->OpenSession(session)) return false;
  mediumType_ = recorder_->GetMediumType();
  uint32_t address = sessionStart;
  if (!::medium::IsOverwritable(mediumType_) && outputFile_.empty()) {
    uint32_t next = 0;
    if (recorder_->GetNextWriteAdd(next) == 0) address = next;
  }
  nextWriteAddress_ = address;
  // A CD track is closed by its number on the disc, which on an appendable
  // disc is not the project's own: the track about to be written.
  discTrack_ = track;
  rec::DiscInfo info;
  if (IsCd(mediumType_) && recorder_->ReadDiscInfo(info) == 0 && info.lastTrackLastSession != 0)
    discTrack_ = info.lastTrackLastSession;
  if (!source_->OpenTrack(track, address)) return false;
  sectorSize_ = source_->SectorSize();
  trackSectorBytes_ = sectorSize_;
  trackLength_ = source_->GetTrackLength();
  exactEnd_ = source_->GetTrackKind() == BurnFile::kAudio;
  bufferFill_ = options_.multiRecorder ? -1 : 0;
  lastTrack_ = std::max(1, source_->LastTrack());
  const int m = mediumType_;
  if (m == kCdR || m == kCdRw || m == kNone)
    sectorsPerWrite_ = 16;
  else if (options_.multiSession && (m == kDvdRDl || m == kDvdRDlJump))
    sectorsPerWrite_ = 16;
  else if (options_.multiSession && IsDvdRw(m) && sessionStart != 0)
    sectorsPerWrite_ = 16;
  else
    sectorsPerWrite_ = 32;
  // Several recorders write from the run's cache or its shared reader; the
  // ring of the one-recorder path would only be zeroed and dropped.
  if (!options_.multiRecorder &&
      !buffer_.Init(uint64_t(sectorSize_) * kBufferSectors, uint64_t(trackLength_) * sectorSize_))
    return false;
  // A volume that begins at the start of an overwritable disc replaces what
  // is there: its head goes out last (kHeadSectors). An appended session
  // becomes visible through the anchor rewritten at its end instead.
  headSectors_ = headHeld_ = 0;
  head_.clear();
  if (::medium::IsOverwritable(m) && outputFile_.empty() && sessionStart == 0 && track == source_->FirstTrack())
    headSectors_ = std::min(trackLength_.load(), kHeadSectors);
  stop_ = false;
  written_ = 0;
  return true;
}

// ------------------------------------------------------------ begin

int BurnMana::SetParam(const rec::WriteParam& p, const char* step) {
  if (recorder_->SetWriteParam(p) == 0) return 0;
  return StepFailed(step, "MODE SELECT (write parameters)");
}

int BurnMana::StepFailed(const char* step, const char* command) {
  VARNEX_LOG_STEP(step, recorder_);
  NoteFailure(command);
  return result::kBeginLayerFailed;
}

// The user is shown the first failure; the write log keeps every one.
void BurnMana::NoteFailure(const std::string& command) {
  const std::string text = recorder_->Name() + ": " + command + " failed (" + recorder_->LastSense().Text() + ")";
  VARNEX_LOG_STEP(text.c_str(), recorder_);
  std::lock_guard<std::mutex> hold(itemLock_);
  if (failure_.empty()) failure_ = text;
}

std::string BurnMana::GetFailure() const {
  std::lock_guard<std::mutex> hold(itemLock_);
  return failure_;
}

bool BurnMana::WaitReady(int periodMs, int polls) {
  for (int i = 0; i < polls; ++i) {
    if (recorder_->TestUnitReady() == 0) return true;
    if (stop_) return false;
    Sleep(periodMs);
  }
  return false;
}

void BurnMana::WaitWhileBusy(int periodMs) {
  for (int i = 0; i < kReadyPolls; ++i) {
    if (recorder_->TestUnitReady() == 0 || !LongWrite(recorder_->LastSense())) break;
    Sleep(periodMs);
  }
  DiscInfo info;
  for (int i = 0; i < kReadyPolls; ++i) {
    if (recorder_->ReadDiscInfo(info) == 0 || !LongWrite(recorder_->LastSense())) break;
    Sleep(periodMs);
  }
}

int BurnMana::BurnBegin() {
  if (recorder_->TestUnitReady() != 0) return result::kBeginFailed;
  SetItem("Processing...");
  mediumType_ = recorder_->GetMediumType();
  int r;
  switch (mediumType_) {
    case kNone: case kCdR: case kCdRw:
      r = BeginCd();
      break;
    case kDvdR: case kDvdRwRo: case kDvdRwSeq: case kDvdRwUnknown:
      r = BeginDvdMinus();
      break;
    case kDvdRDl: case kDvdRDlJump: case kDvdRwDl:
      r = BeginDvdMinusRDl();
      break;
    case kDvdPlusRDl:
      r = BeginDvdPlusRDl();
      break;
    case kDvdPlusRw: case kDvdPlusR:
      r = BeginDvdPlus();
      break;
    case kDvdRam:
      nextWriteAddress_ = sessionStart_;
      r = 0;
      break;
    case kBdRe: {
      uint32_t capacity = 0;
      if (!recorder_->JudgeIsFormated(capacity) && recorder_->FormatUnit(capacity, 0, 2048) != 0)
        return StepFailed("BurnBegin_BDRE()-FormatUnit", "FORMAT UNIT");
      nextWriteAddress_ = sessionStart_;
      r = 0;
      break;
    }
    case kBdRSrm: case kBdRRrm: {
      // Whether the disc stays open is told the drive the same way as for
      // the other write-once media; a drive without the page ignores it.
      rec::WriteParam p;
      p.trackMode = 4;
      p.bufE = 1;
      p.multiSession = options_.multiSession;
      p.dataBlockType = 8;
      // A drive without the page closes as it always does; only a disc that
      // must stay open cannot do without it.
      if (recorder_->SetWriteParam(p) != 0 && options_.multiSession)
        return StepFailed("BurnBegin_BDR()-SetWriteParam", "MODE SELECT (write parameters)");
      r = int(recorder_->GetNextWriteAdd(nextWriteAddress_));
      break;
    }
    default:
      return result::kBeginTrackFailed;
  }
  if (r != 0) return r;
  if (int cleared = ClearOldVolume()) return cleared;
  // Another program writing the same drive meanwhile would spoil both discs.
  if (recorder_->LockVolumn(true) != 0) return StepFailed("BurnBegin()-LockVolumn", "taking the drive for this burn");
  return 0;
}

// Before a new volume is written over an old one, the old one stops being a
// volume: its anchor first (without it no reader finds the rest), then the
// descriptor sequences it names, then the rest of the disc's head. Whatever
// happens to the burn afterwards, no reader takes the old tree for the disc's
// content while the new data is written over its files. Blocks that already
// read as zeros are left alone, so a blank disc is not written twice.
int BurnMana::ClearOldVolume() {
  if (headSectors_ == 0) return 0;
  constexpr uint32_t kBlock = 32, kAnchorAt = 256, kMostDescriptors = 32;
  const uint32_t start = nextWriteAddress_;
  const uint32_t headEnd = start + (kHeadSectors + kBlock - 1) / kBlock * kBlock;
  struct Run { uint32_t from, count; };
  std::vector<Run> runs{{start + kAnchorAt / kBlock * kBlock, kBlock}};
  std::vector<uint8_t> block(size_t(kBlock) * 2048);
  if (recorder_->ReadCD_Data(start + kAnchorAt, block.data(), 1) == 0 &&
      bytes::LE16(block.data()) == udf::kTagAnchor) {
    for (uint32_t at : {16u, 24u}) {  // main and reserve sequence: length, location
      const uint32_t length = std::min(bytes::LE32(block.data() + at) / 2048, kMostDescriptors);
      const uint32_t where = bytes::LE32(block.data() + at + 4);
      if (length > 0 && (where < start || where >= headEnd)) runs.push_back({where, length});
    }
  }
  for (uint32_t at = start; at < headEnd; at += kBlock)
    if (at != runs.front().from) runs.push_back({at, kBlock});
  std::vector<uint8_t> zeros(block.size(), 0);
  bool wrote = false;
  for (const Run& run : runs) {
    const bool read = recorder_->ReadCD_Data(run.from, block.data(), run.count) == 0;
    if (read && std::all_of(block.begin(), block.begin() + size_t(run.count) * 2048, [](uint8_t b) { return b == 0; }))
      continue;
    // A block that cannot be read may hold anything: it is cleared as well.
    if (!WriteBlock(run.from, zeros.data(), run.count)) {
      VARNEX_LOG_STEP("BurnBegin()-ClearOldVolume", recorder_);
      NoteFailure("WRITE at sector " + std::to_string(run.from) + " (clearing the disc's old volume)");
      return result::kBeginLayerFailed;
    }
    wrote = true;
  }
  if (wrote && recorder_->SynCache() != 0) return StepFailed("BurnBegin()-ClearOldVolume", "SYNCHRONIZE CACHE");
  return 0;
}

int BurnMana::BeginCd() {
  const bool data = source_->GetTrackKind() != BurnFile::kAudio;
  rec::WriteParam p;
  p.writeType = 1;
  p.trackMode = data ? 4 : 0;
  p.dataBlockType = data ? 8 : 0;
  p.testWrite = options_.testWrite;
  p.bufE = 1;
  p.multiSession = options_.multiSession;
  if (int r = SetParam(p, "BurnBegin_CDRW()")) return r;
  return int(recorder_->GetNextWriteAdd(nextWriteAddress_));
}

int BurnMana::BeginDvdMinus() {
  const int m = mediumType_;
  const bool multi = options_.multiSession;
  if (m == kDvdR && multi && trackLength_ != 0 && recorder_->GetNextWriteAdd(nextWriteAddress_) == 0) {
    rec::WriteParam p;
    p.writeType = 0;
    p.trackMode = 5;
    p.linkSize = 16;
    p.testWrite = options_.testWrite;
    p.bufE = p.multiSession = p.linkSizeValid = 1;
    p.dataBlockType = 8;
    if (recorder_->SetWriteParam(p) != 0) {
      VARNEX_LOG_STEP("BurnBegin_DVDMinusRW()-SetWriteParam", recorder_);
    } else if (recorder_->ReserveTrack(Round32(trackLength_)) == 0) {
      if (WaitReady(500, 40)) return 0;
      VARNEX_LOG_STEP("BurnBegin_DVDMinusR()-ReserveTrack", recorder_);
      return result::kBeginLayerFailed;
    }
  }
  if (multi) {
    rec::WriteParam p;
    p.linkSize = 16;
    p.bufE = p.multiSession = p.linkSizeValid = 1;
    p.dataBlockType = 8;
    uint32_t capacity = 0;
    const bool formatted = recorder_->JudgeIsFormated(capacity);
    // Only a DVD-RW takes these formats; a DVD-R that comes this way is
    // written as it is.
    if (recorder_->FormatUnit(0, formatted ? 19 : 21, 16) != 0 && IsDvdRw(m))
      return StepFailed("BurnBegin_DVDMinusRW()-FormatUnit", "FORMAT UNIT");
    p.trackMode = formatted ? 5 : 4;
    p.fixedPacket = formatted ? 1 : 0;
    p.writeType = 0;
    if (int r = SetParam(p, "BurnBegin_DVDMinusRW()-SetWriteParam")) return r;
    nextWriteAddress_ = sessionStart_;
    // A sequential disc is written where the drive says; the session start
    // is only right on restricted overwrite.
    if (m != kDvdRwRo && recorder_->GetNextWriteAdd(nextWriteAddress_) != 0)
      return StepFailed("BurnBegin_DVDMinusRW()-GetNextWriteAdd", "READ TRACK INFORMATION");
    return 0;
  }
  rec::WriteParam p;
  p.writeType = 2;
  p.trackMode = (m == kDvdR || recorder_->GetDevType() == 5 || recorder_->GetDevType() == 8 ||
                 recorder_->GetDevType() == 9)
                    ? 5
                    : 7;
  p.testWrite = options_.testWrite;
  p.bufE = 1;
  if (m != kDvdR) p.linkSize = 16, p.linkSizeValid = 1;
  p.dataBlockType = 8;
  if (int r = SetParam(p, "BurnBegin_DVDMinusRW()-SetWriteParam")) return r;
  // The reserved track starts at 0 only on a blank disc; a disc with earlier
  // sessions is closed with a track behind them.
  uint32_t trackStart = 0;
  if (recorder_->GetNextWriteAdd(trackStart) != 0)
    return StepFailed("BurnBegin_DVDMinusRW()-GetNextWriteAdd", "READ TRACK INFORMATION");
  // A restricted-overwrite disc has no tracks to reserve: its drive refuses.
  if (recorder_->ReserveTrack(Round32(trackLength_)) != 0 && m != kDvdRwRo)
    return StepFailed("BurnBegin_DVDMinusRW()-ReserveTrack", "RESERVE TRACK");
  if (recorder_->SynCache() != 0) return StepFailed("BurnBegin_DVDMinusRW()-SynCache", "SYNCHRONIZE CACHE");
  if (!WaitReady(500, 40)) {
    VARNEX_LOG_STEP("BurnBegin_DVDMinusRW()-TestUnitReady", recorder_);
    return result::kBeginLayerFailed;
  }
  nextWriteAddress_ = trackStart;
  return 0;
}

int BurnMana::BeginDvdMinusRDl() {
  if (recorder_->GetNextWriteAdd(nextWriteAddress_) != 0)
    return StepFailed("BurnBegin_DVDMinusRDL()-GetNextWriteAdd", "READ TRACK INFORMATION");
  if (!options_.multiSession) {
    rec::WriteParam p;
    p.writeType = 2;
    p.trackMode = 5;
    p.linkSize = 16;
    p.bufE = p.linkSizeValid = 1;
    p.dataBlockType = 8;
    if (int r = SetParam(p, "BurnBegin_DVDMinusRDL()")) return r;
    if (recorder_->ReserveTrack(trackLength_.load()) != 0)
      return StepFailed("BurnBegin_DVDMinusRDL()-ReserveTrack", "RESERVE TRACK");
    if (recorder_->SynCache() != 0) return StepFailed("BurnBegin_DVDMinusRDL()-SynCache", "SYNCHRONIZE CACHE");
    WaitReady(500);
    return 0;
  }
  rec::WriteParam p;
  p.writeType = 4;
  p.trackMode = 5;
  p.bufE = p.multiSession = p.linkSizeValid = 1;
  p.dataBlockType = 8;
  if (int r = SetParam(p, "BurnBegin_DVDMinusRDL()")) return r;
  const uint32_t L = layer0_, R = Round16(lastTrackValue_), T = trackLength_, N = nextWriteAddress_;
  jumpAddress_ = N != 0 ? N + T / 2 : Round16((Round16(2 * L - R) + T) / 2);
  remapBase_ = 2 * L - jumpAddress_;
  uint8_t jump[8] = {};
  bytes::PutBE32(jump + 4, jumpAddress_ - 1);
  if (recorder_->SendDVDStruct(0x23, jump, sizeof jump) != 0) {
    // 3/02/00: the drive is still busy with the jump; anything else is a
    // jump it did not take, and the second layer would be written wrong.
    if (!recorder_->LastSense().Is(3, 2, 0))
      return StepFailed("BurnBegin_DVDMinusRDL()-SendDVDStruct", "SEND DVD STRUCTURE (layer jump)");
    for (int i = 0; i < kReadyPolls && recorder_->TestUnitReady() != 0; ++i) Sleep(400);
  }
  return 0;
}

int BurnMana::BeginDvdPlusRDl() {
  if (!options_.multiSession) {
    std::vector<uint8_t> s(2048);
    if (recorder_->ReadDVDStruct(0x20, s.data(), uint32_t(s.size())) != 0) return result::kBeginLayerFailed;
    if (!(s[0] & 0x80)) {
      uint32_t capacity = bytes::BE32(&s[4]) / 16 * 16 - 16;
      uint8_t set[8] = {};
      bytes::PutBE32(set + 4, capacity);
      if (recorder_->SendDVDStruct(0x20, set, sizeof set) != 0)
        return StepFailed("BurnBegin_DVDPlusRDL()-SendDVDStruct", "SEND DVD STRUCTURE (layer break)");
      for (int i = 0; i < kReadyPolls && recorder_->TestUnitReady() != 0; ++i) Sleep(400);
      if (recorder_->ReadDVDStruct(0x20, s.data(), uint32_t(s.size())) != 0 || bytes::BE32(&s[4]) != capacity)
        return result::kBeginLayerFailed;
    }
    rec::WriteParam p;
    p.writeType = 2;
    p.trackMode = 4;
    p.testWrite = options_.testWrite;
    p.bufE = 1;
    p.dataBlockType = 8;
    if (int r = SetParam(p, "BurnBegin_DVDPlusRDL()")) return r;
    WaitReady(500);
    nextWriteAddress_ = 0;
    return 0;
  }
  if (recorder_->GetNextWriteAdd(nextWriteAddress_) != 0)
    return StepFailed("BurnBegin_DVDPlusR()-GetNextWriteAdd", "READ TRACK INFORMATION");
  rec::WriteParam p;
  p.writeType = 2;
  p.trackMode = 7;
  p.testWrite = options_.testWrite;
  p.bufE = p.multiSession = 1;
  p.dataBlockType = 8;
  if (int r = SetParam(p, "BurnBegin_DVDPlusRDL()")) return r;
  WaitReady(500);
  return 0;
}

int BurnMana::BeginDvdPlus() {
  const bool plusRw = mediumType_ == kDvdPlusRw;
  if (options_.multiSession) {
    if (plusRw) {
      uint32_t capacity = 0;
      if (!recorder_->JudgeIsFormated(capacity)) {
        if (recorder_->FormatUnit(capacity, 38, 0) != 0)
          return StepFailed("BurnBegin_DVDPlusRW()-FormatUnit", "FORMAT UNIT");
        WaitReady(200);
      }
      nextWriteAddress_ = sessionStart_;
      return 0;
    }
    if (uint32_t st = recorder_->GetNextWriteAdd(nextWriteAddress_)) return int(st);
    rec::WriteParam p;
    p.writeType = 2;
    p.multiSession = 1;
    p.trackMode = nextWriteAddress_ != 0 ? 0 : 7;
    p.dataBlockType = nextWriteAddress_ != 0 ? 3 : 8;
    return SetParam(p, "BurnBegin_DVDPlusR()");
  }
  if (plusRw && recorder_->FormatUnit(0xFFFFFFFF, 38, 0) != 0)
    return StepFailed("BurnBegin_DVDPlusRW()-FormatUnit", "FORMAT UNIT");
  rec::WriteParam p;
  p.writeType = 2;
  p.trackMode = 4;
  p.testWrite = options_.testWrite;
  p.bufE = 1;
  p.dataBlockType = 8;
  if (int r = SetParam(p, plusRw ? "BurnBegin_DVDPlusRW()" : "BurnBegin_DVDPlusR()")) return r;
  // A DVD+RW is written where its volume was laid out; a DVD+R burnt closed
  // still starts where the drive says (an appendable disc that is now being
  // closed).
  nextWriteAddress_ = plusRw ? sessionStart_ : 0;
  if (!plusRw && recorder_->GetNextWriteAdd(nextWriteAddress_) != 0)
    return StepFailed("BurnBegin_DVDPlusR()-GetNextWriteAdd", "READ TRACK INFORMATION");
  return 0;
}

// ------------------------------------------------------------ writing

void BurnMana::StartBurn() {
  JoinThreads();
  splitWrites_ = false;
  status_ = 1;
  if (options_.multiRecorder) {
    RunCachePath();
    return;
  }
  producer_ = std::thread([this] { Produce(); });
  if (!stop_) writer_ = std::thread([this] { WriteOut(); });
}

bool BurnMana::IsBurnOver() const { return stop_ || written_ >= trackLength_; }

void BurnMana::WaitUntilBurnOver() {
  std::unique_lock<std::mutex> hold(overLock_);
  overCv_.wait(hold, [this] { return IsBurnOver(); });
}

// Taking the lock orders the change before a waiter's next look.
void BurnMana::NoteMoved() {
  std::lock_guard<std::mutex> hold(overLock_);
  overCv_.notify_all();
}

void BurnMana::StopBurn() {
  bool wasRunning = !stop_.exchange(true);
  buffer_.SetStop(true);
  int expected = 1;
  if (wasRunning && written_ < trackLength_) status_.compare_exchange_strong(expected, result::kBurnStopped);
  NoteMoved();
}

void BurnMana::Fail(int result) {
  int expected = 1;
  status_.compare_exchange_strong(expected, result);
  stop_ = true;
  buffer_.SetStop(true);
  NoteMoved();
}

void BurnMana::SetItem(const std::string& text) {
  std::lock_guard<std::mutex> hold(itemLock_);
  item_ = text;
}

std::string BurnMana::GetCurrentItem() const {
  std::lock_guard<std::mutex> hold(itemLock_);
  return item_;
}

int BurnMana::GetProgress() const {
  const uint32_t length = trackLength_;
  const int track = track_, last = lastTrack_;
  if (length == 0) return 0;
  double part = double(std::min(written_.load(), length)) * 100.0 / length;
  int p = int(part / last + (track * 100.0 - 100.0) / last);
  return std::clamp(p, 0, 100);
}

void BurnMana::Produce() {
  // Runs of sectors read straight into the ring buffer, so that file data
  // reaches it in large reads and without a copy of its own.
  std::string shown;
  for (uint32_t i = 0; i < trackLength_ && !stop_;) {
    uint8_t* at = nullptr;
    const uint64_t room = buffer_.Reserve(uint64_t(std::min(kProducerRun, trackLength_ - i)) * sectorSize_, &at);
    const uint32_t n = uint32_t(room / sectorSize_);
    if (n == 0) break;  // stopped, or the writer has taken the whole track
    source_->ReadSectors(at, n);
    buffer_.Commit(uint64_t(n) * sectorSize_);
    i += n;
    std::string item = source_->CurrentItem();
    if (item != shown) SetItem(shown = item);
  }
}

void BurnMana::WriteOut() {
  std::vector<uint8_t> block(size_t(sectorSize_) * sectorsPerWrite_);
  uint32_t address = trackStart_ = nextWriteAddress_;
  // Sectors taken from the buffer; the held-back head counts as written
  // only once it is on the disc.
  uint32_t taken = 0;
  while (taken < trackLength_ && !stop_) {
    const uint32_t sectors = exactEnd_ ? std::min(sectorsPerWrite_, trackLength_ - taken) : sectorsPerWrite_;
    const uint32_t blockBytes = sectorSize_ * sectors;
    // What the producer is ahead by, as the recorder asks for the next block.
    const uint64_t produced = buffer_.Produced(), consumed = buffer_.Consumed();
    if (buffer_.Capacity() > 0)
      bufferFill_ = int(std::min<uint64_t>(100, (produced > consumed ? produced - consumed : 0) * 100 / buffer_.Capacity()));
    // A whole block that lies in one piece goes to the drive from the ring
    // buffer itself; one that wraps, and the short last block, are copied.
    const uint8_t* data = nullptr;
    const uint64_t ready = buffer_.Peek(blockBytes, &data);
    if (ready == 0) break;  // stopped
    const bool inPlace = ready == blockBytes;
    if (!inPlace) {
      const uint64_t got = buffer_.Take(block.data(), blockBytes);
      if (got == 0) break;  // stopped
      std::memset(block.data() + got, 0, blockBytes - got);  // a short last block goes out padded
      data = block.data();
    }
    if (!SendOrHold(address, data, sectors)) return;
    if (inPlace) buffer_.Release(blockBytes);
    taken += sectors;
    address += sectors;
  }
  if (taken >= trackLength_) WriteHead();
}

// A block of the held-back head is kept; any other goes to the disc.
bool BurnMana::SendOrHold(uint32_t address, const uint8_t* data, uint32_t count) {
  const uint32_t offset = address - trackStart_;
  if (offset < headSectors_) {
    const size_t end = size_t(offset + count) * sectorSize_;
    if (head_.size() < end) head_.resize(end, 0);
    std::memcpy(head_.data() + size_t(offset) * sectorSize_, data, size_t(count) * sectorSize_);
    headHeld_ = std::max(headHeld_, offset + count);
    return true;
  }
  if (!WriteBlock(address, data, count)) {
    if (!stop_) NoteFailure("WRITE at sector " + std::to_string(address));
    Fail(result::kWriteFailed);
    return false;
  }
  written_ += count;
  NoteMoved();
  return true;
}

// The head goes out once the rest of the track is on the disc, and within it
// what makes the volume recognisable comes last: the block of the anchor at
// 256 after the descriptor sequences it points to, and the block of the
// recognition sequence (or ISO 9660 primary descriptor) at 16 after all.
bool BurnMana::WriteHead() {
  if (headHeld_ == 0) return true;
  const uint32_t block = sectorsPerWrite_;
  std::vector<uint32_t> order;
  for (uint32_t at = 0; at < headHeld_; at += block)
    if (at / block != 256 / block && at / block != 16 / block) order.push_back(at);
  for (uint32_t last : {256u / block * block, 16u / block * block})
    if (last < headHeld_) order.push_back(last);
  for (uint32_t at : order) {
    if (stop_) return false;
    const uint32_t count = std::min(block, headHeld_ - at);
    if (!WriteBlock(trackStart_ + at, head_.data() + size_t(at) * sectorSize_, count)) {
      if (!stop_) NoteFailure("WRITE at sector " + std::to_string(trackStart_ + at));
      Fail(result::kWriteFailed);
      return false;
    }
    written_ += count;
    NoteMoved();
  }
  return true;
}

// Several recorders: the source is read in turns under the source lock, and
// each recorder writes from a cache of its own meanwhile.
void BurnMana::RunCachePath() {
  if (SharedReader* shared = SharedReader::ForDrive(recorder_->GetDeviceID())) return RunSharedPath(*shared);
  const uint64_t capacity = kCacheBytes / sectorSize_ * sectorSize_;
  std::vector<uint8_t> cache(capacity);
  uint32_t address = trackStart_ = nextWriteAddress_;
  uint64_t fill = 0;
  auto flush = [&]() {
    // The last piece goes out cut to whole writes; what it carries beyond the
    // track's end is zeros.
    uint32_t sectors = uint32_t((fill + sectorSize_ - 1) / sectorSize_);
    uint32_t rounded = exactEnd_ ? sectors : (sectors + sectorsPerWrite_ - 1) / sectorsPerWrite_ * sectorsPerWrite_;
    std::memset(cache.data() + fill, 0, uint64_t(rounded) * sectorSize_ - fill);
    for (uint32_t done = 0; done < rounded && !stop_;) {
      uint32_t n = std::min(kCacheChunk, rounded - done);
      if (!SendOrHold(address, cache.data() + uint64_t(done) * sectorSize_, n)) return false;
      done += n;
      address += n;
    }
    fill = 0;
    return !stop_;
  };
  std::unique_lock<std::mutex> hold(SourceLock());
  std::string shown;
  for (uint32_t i = 0; i < trackLength_ && !stop_;) {
    const uint32_t room = uint32_t((capacity - fill) / sectorSize_);
    const uint32_t n = std::min({kProducerRun, room, trackLength_ - i});
    source_->ReadSectors(cache.data() + fill, n);  // straight into the cache
    fill += uint64_t(n) * sectorSize_;
    i += n;
    std::string item = source_->CurrentItem();
    if (item != shown) SetItem(shown = item);
    if (fill == capacity) {
      hold.unlock();
      if (!flush()) return;
      hold.lock();
    }
  }
  hold.unlock();
  if (fill > 0 && !stop_ && !flush()) return;
  if (!stop_) WriteHead();
}

// One reader for all recorders of the job: each block comes from the
// shared ring, read once from one source for every recorder of the round.
void BurnMana::RunSharedPath(SharedReader& shared) {
  BurnFile* src = source_;
  const SharedReader::Key key{session_,     track_,       discKind_, source_->GetTrackKind(), nextWriteAddress_,
                              trackLength_, sectorSize_, source_->ContentDigest()};
  auto cursor = shared.Join(recorder_->GetDeviceID(), key,
                            {[src](uint8_t* out, uint32_t n) {
                               src->ReadSectors(out, n);
                               return src->CurrentItem();
                             },
                             [src] { return src->UnreadableSources(); }});
  std::vector<uint8_t> block(size_t(sectorSize_) * sectorsPerWrite_);
  uint32_t address = trackStart_ = nextWriteAddress_;
  uint32_t taken = 0;
  std::string shown;
  while (taken < trackLength_ && !stop_) {
    const uint32_t sectors = exactEnd_ ? std::min(sectorsPerWrite_, trackLength_ - taken) : sectorsPerWrite_;
    const uint32_t real = std::min(sectors, trackLength_ - taken);
    if (!cursor->Read(block.data(), real, stop_)) break;
    // The last block goes out whole; what it carries beyond the track is zeros.
    std::memset(block.data() + size_t(real) * sectorSize_, 0, size_t(sectors - real) * sectorSize_);
    std::string item = cursor->Item();
    if (item != shown) SetItem(shown = item);
    if (!SendOrHold(address, block.data(), sectors)) break;
    taken += sectors;
    address += sectors;
  }
  for (const std::string& path : cursor->Unreadable()) source_->NoteUnreadable(path);
  cursor.reset();
  if (taken >= trackLength_ && !stop_) WriteHead();
}

bool BurnMana::WriteBlock(uint32_t address, const uint8_t* data, uint32_t count) {
  if (count > 16) {
    if (!splitWrites_) {
      if (WriteWithRetry(address, data, count)) return true;
      if (stop_) return false;
      splitWrites_ = true;
    }
    return WriteWithRetry(address, data, 16) &&
           WriteWithRetry(address + 16, data + size_t(16) * sectorSize_, count - 16);
  }
  return WriteWithRetry(address, data, count);
}

bool BurnMana::AppendToOutput(const uint8_t* data, uint32_t bytes) {
  // Never through a link planted where the output file belongs.
  const int fd = ::open(outputFile_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  for (uint32_t done = 0; ok && done < bytes;) {
    const ssize_t n = ::write(fd, data + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += uint32_t(n);
  }
  return (::close(fd) == 0) && ok;
}

bool BurnMana::WriteWithRetry(uint32_t address, const uint8_t* data, uint32_t count) {
  const uint32_t bytes = count * sectorSize_;
  if (!outputFile_.empty()) return AppendToOutput(data, bytes);
  if (options_.multiSession && (mediumType_ == kDvdRDl || mediumType_ == kDvdRDlJump) && jumpAddress_ != 0 &&
      address > jumpAddress_ - count)
    address = address + remapBase_ - jumpAddress_;
  if (recorder_->Write(address, data, bytes, count) == 0) return true;
  Sense sense = recorder_->LastSense();
  for (int polls = 0; LongWrite(sense); ++polls) {
    if (stop_ || polls >= kLongWritePolls) return false;
    Sleep(kLongWritePollMs);
    if (recorder_->Write(address, data, bytes, count) == 0) return true;
    sense = recorder_->LastSense();
  }
  for (int tries = 0; tries < kWriteErrorRetries && WriteError(sense); ++tries) {
    if (recorder_->Write(address, data, bytes, count) == 0) return true;
    sense = recorder_->LastSense();
  }
  return false;
}

// ------------------------------------------------------------ end

int BurnMana::BurnEnd() {
  JoinThreads();
  source_->CloseTrack();
  if (outputFile_.empty()) FlushTrack();
  if (track_ < lastTrack_) {
    SetItem("");
    return 0;
  }
  source_->CloseSession();
  if (outputFile_.empty()) CloseSessionOnDisc();
  SetItem("");
  if (closeFailed_) {
    int expected = 1;
    status_.compare_exchange_strong(expected, result::kWriteFailed);
  }
  return 0;
}

void BurnMana::FlushTrack() {
  const int m = mediumType_;
  // What the drive still holds in its cache is only on the disc once the
  // flush succeeded.
  const uint32_t flushed = (m == kDvdR || IsDvdRw(m) || m == kBdRe) ? recorder_->SynCacheEx(true)
                                                                     : recorder_->SynCache();
  if (flushed != 0) {
    NoteFailure("SYNCHRONIZE CACHE");
    closeFailed_ = true;
  }
  WaitReady(1000);
  RewriteUdfAnchor();
  if (IsCd(m) && recorder_->CloseTrack(discTrack_) != 0) {
    NoteFailure("CLOSE TRACK");
    closeFailed_ = true;
  }
}

void BurnMana::CloseSessionOnDisc() {
  DiscInfo info;
  // A session whose data the drive did not confirm is not closed over it;
  // and without the disc's own numbers the closing commands would name
  // tracks that do not exist. Either way the session is left as it is and
  // the burn fails.
  bool known = false;
  if (!closeFailed_) {
    known = recorder_->ReadDiscInfo(info) == 0;
    if (!known) {
      NoteFailure("READ DISC INFORMATION");
      closeFailed_ = true;
    }
  }
  if (known) SendClosingCommands(info.lastTrackLastSession);
  WaitWhileBusy(600);
  // The disc is written and closed: a drive that stays locked or does
  // not eject changes nothing about it.
  (void)recorder_->Lock(false);
  (void)recorder_->LockVolumn(false);
  (void)recorder_->Eject(options_.eject);
}

// Each kind of medium closes its track and session with commands of its own.
void BurnMana::SendClosingCommands(int lastInSession) {
  const int m = mediumType_;
  const bool multi = options_.multiSession;
  auto check = [&](uint32_t status) {
    if (status != 0) {
      NoteFailure("closing the track or session");
      closeFailed_ = true;
    }
  };
  if (m == kDvdPlusR)
    check(recorder_->CloseTrack(multi ? lastInSession : 255));
  else if (m == kDvdPlusRDl && !multi)
    check(recorder_->CloseTrack(1));
  else if (multi && (m == kDvdRDl || m == kDvdRDlJump || m == kDvdPlusRDl || m == kBdRSrm || m == kBdRRrm))
    check(recorder_->CloseTrack(lastInSession));
  WaitReady(500);
  if ((m == kBdRSrm || m == kBdRRrm) && !multi) {
    check(recorder_->CloseSession(kFinalize));  // a BD-R burnt closed is finalized
  } else if ((IsDvdRw(m) && multi) || m == kDvdRDl || m == kDvdRDlJump || m == kDvdPlusRDl || m == kBdRSrm ||
             m == kBdRRrm) {
    check(recorder_->CloseSession());
  } else if (m == kDvdR) {
    if (multi) {
      check(recorder_->CloseSession(1, lastInSession - 1));
      check(recorder_->CloseSession(2, lastInSession + 1));
    } else {
      check(recorder_->CloseTrack(1));
      check(recorder_->CloseSession());
    }
  } else if (m == kDvdPlusRw && multi) {
    check(recorder_->CloseSession(3));
  } else if (m != kDvdRam && m != kBdRe) {
    check(recorder_->CloseSession());
  }
}

// On overwritable media a new session's UDF volume is only found through the
// anchor at sector 256: point it at the new session's descriptor sequences.
void BurnMana::RewriteUdfAnchor() {
  const int m = mediumType_;
  if (!options_.multiSession || sessionStart_ == 0 || discKind_ != 2) return;
  if (m != kDvdPlusRw && !IsDvdRw(m) && m != kBdRe && m != kDvdRam) return;
  constexpr uint32_t kAnchorAt = 256, kBlock = 16;
  std::vector<uint8_t> block(size_t(kBlock) * 2048);
  if (recorder_->ReadCD_Data(kAnchorAt, block.data(), kBlock) != 0) std::fill(block.begin(), block.end(), 0);
  uint8_t* anchor = block.data();
  uint32_t mainLength = bytes::LE32(anchor + 16), reserveLength = bytes::LE32(anchor + 24);
  if (bytes::LE16(anchor) != udf::kTagAnchor || mainLength == 0) mainLength = reserveLength = 16 * 2048;
  std::memset(anchor, 0, 2048);
  bytes::PutLE32(anchor + 16, mainLength);
  bytes::PutLE32(anchor + 20, sessionStart_ + 32);
  bytes::PutLE32(anchor + 24, reserveLength);
  bytes::PutLE32(anchor + 28, sessionStart_ + 48);
  CECMA167::MakeTag(udf::kTagAnchor, anchor, 512, kAnchorAt);
  const uint32_t count = (m == kDvdRam || m == kDvdPlusRw) ? 1 : kBlock;
  if (recorder_->Write(kAnchorAt, block.data(), count * 2048, count) != 0) {
    NoteFailure("WRITE of the volume anchor");
    closeFailed_ = true;
  }
  if (recorder_->SynCache() != 0) {
    NoteFailure("SYNCHRONIZE CACHE");
    closeFailed_ = true;
  }
  WaitReady(1000);
}
