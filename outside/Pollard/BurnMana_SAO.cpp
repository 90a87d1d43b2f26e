#include "BurnMana_SAO.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "MediumTable.h"

namespace {

constexpr int kCdPiece = 26;   // 26 raw sectors: under 64 KiB a command
constexpr int kDvdPiece = 32;

// Data form of the cue sheet: what the host sends for each sector.
uint8_t DataForm(const SourceTrack& t) {
  if (t.IsAudio()) return 0x00;                       // CD-DA, 2352 bytes
  if (t.form == MODE_FORM_MODE1) return 0x11;         // Mode 1, raw 2352
  if (t.form == MODE_FORM_MODE2_FORMLESS) return 0x31;  // Mode 2, raw 2352
  return 0x21;                                        // CD-ROM XA, raw 2352
}

void PutEntry(std::vector<uint8_t>& cue, const SourceTrack& t, uint8_t tno, uint8_t index, int32_t lba) {
  const Msf a = FramesToMsf(int64_t(lba) + kMsfOfLbaZero);
  cue.insert(cue.end(), {uint8_t((t.control << 4) | 0x01), tno, index, DataForm(t), 0, uint8_t(a.M), uint8_t(a.S),
                         uint8_t(a.F)});
}

}  // namespace

BurnManaBase::~BurnManaBase() = default;

int BurnManaBase::GetBurnProgress() const {
  int64_t total = total_, done = done_;
  return total > 0 ? int(std::clamp<int64_t>(done * 100 / total, 0, 100)) : 0;
}

void BurnManaBase::GetCurrBurnFile(char* text, int size) const {
  if (!text || size <= 0) return;
  std::lock_guard<std::mutex> hold(textLock_);
  std::snprintf(text, size_t(size), "%s", item_.c_str());
}

std::string BurnManaBase::GetLastError() const {
  std::lock_guard<std::mutex> hold(textLock_);
  return error_;
}

void BurnManaBase::SetItem(const std::string& text) {
  {
    std::lock_guard<std::mutex> hold(textLock_);
    item_ = text;
  }
  Report(true);
}

void BurnManaBase::Report(bool force) {
  if (!hook_) return;
  const int percent = GetBurnProgress();
  if (!force && percent == reported_) return;
  reported_ = percent;
  std::string item;
  {
    std::lock_guard<std::mutex> hold(textLock_);
    item = item_;
  }
  hook_(percent, item);
}

bool BurnManaBase::Fail(const std::string& why) {
  std::lock_guard<std::mutex> hold(textLock_);
  if (error_.empty()) error_ = why;
  return false;
}

BurnMana_SAO::BurnMana_SAO(DataSource* source, CDevCmdRW* target, int session, bool keepOpen, long startAddress)
    : source_(source), target_(target), session_(session), keepOpen_(keepOpen), startAddress_(startAddress) {}

BurnMana_SAO::~BurnMana_SAO() {
  if (worker_.joinable()) {
    stop_ = true;
    worker_.join();
  }
}

int BurnMana_SAO::Refused(const char* what) {
  Fail(std::string("the recorder refused ") + what + " (" + SenseText(target_->GetLastSense()) + ")");
  return BURN_REFUSED;
}

bool BurnMana_SAO::WritesLeadIn() const {
  return source_ && !source_->Layout().LeadInText(session_).empty();
}

long BurnMana_SAO::ProgramStart() const {
  // A later session's program area begins with its first track's pre-gap,
  // behind the lead-in the recorder names.
  return session_ == 1 || !layout_ || layout_->tracks.empty() ? startAddress_ : layout_->tracks.front().pregapStart;
}

std::vector<uint8_t> BurnMana_SAO::CueSheet() const {
  std::vector<uint8_t> cue;
  if (!layout_ || layout_->tracks.empty()) return cue;
  const SourceTrack& first = layout_->tracks.front();
  PutEntry(cue, first, 0x00, 0x00, -150);  // lead-in
  if (WritesLeadIn()) cue[3] = 0x41;        // with the CD-Text packs as R-W sub-channel
  const std::string& mcn = source_->Layout().mcn;
  if (session_ == 1 && !mcn.empty()) {
    // The catalogue number in two entries: 7 digits, then 6 and a zero.
    const uint8_t adr = uint8_t((first.control << 4) | 0x02);
    cue.push_back(adr);
    cue.insert(cue.end(), mcn.begin(), mcn.begin() + 7);
    cue.push_back(adr);
    cue.insert(cue.end(), mcn.begin() + 7, mcn.begin() + 13);
    cue.push_back(0);
  }
  for (const SourceTrack& t : layout_->tracks) {
    if (!t.isrc.empty()) {
      // The ISRC before the track's first entry, six characters an entry.
      for (int half = 0; half < 2; ++half) {
        cue.push_back(uint8_t((t.control << 4) | 0x03));
        cue.push_back(ToBcd(t.number));
        cue.insert(cue.end(), t.isrc.begin() + 6 * half, t.isrc.begin() + 6 * half + 6);
      }
    }
    if (t.pregapStart < t.start) PutEntry(cue, t, ToBcd(t.number), 0x00, t.pregapStart);
    PutEntry(cue, t, ToBcd(t.number), 0x01, t.start);
    for (size_t k = 0; k < t.indexes.size(); ++k) PutEntry(cue, t, ToBcd(t.number), ToBcd(int(k) + 2), t.indexes[k]);
  }
  PutEntry(cue, layout_->tracks.back(), 0xAA, 0x01, layout_->LeadOut());
  return cue;
}

int BurnMana_SAO::BurnBegin() {
  if (!source_ || !target_) {
    Fail("no source or no recorder");
    return BURN_NOT_READY;
  }
  const DiscLayout& disc = source_->Layout();
  if (session_ < 1 || session_ > int(disc.sessions.size())) {
    Fail("the source has no session " + std::to_string(session_));
    return BURN_SOURCE_FAILED;
  }
  layout_ = &disc.sessions[size_t(session_) - 1];
  if (target_->TestUnitReady() != DEV_OK) {
    Fail("the recorder is not ready (" + SenseText(target_->GetLastSense()) + ")");
    return BURN_NOT_READY;
  }
  const int profile = target_->GetMediumType();
  const bool cdTarget = medium::IsCd(profile);
  const bool writable = medium::IsWriteOnce(profile) || medium::IsBlankable(profile) || medium::IsOverwritable(profile);
  if (cdTarget != (disc.discType == CD_TYPE_CD) || !writable) {
    Fail(std::string("a copy of this ") + (disc.discType == CD_TYPE_CD ? "CD" : "disc") + " cannot be written on " +
         (medium::Name(profile) ? medium::Name(profile) : "this medium"));
    return BURN_WRONG_MEDIUM;
  }
  int64_t total = 0;
  for (const SourceTrack& t : layout_->tracks) total += int64_t(t.End()) - t.pregapStart;
  total_ = total;
  done_ = 0;
  int r = cdTarget ? BeginCd() : BeginDvd();
  begun_ = r == BURN_OK;
  return r;
}

int BurnMana_SAO::BeginCd() {
  const SourceTrack& first = layout_->tracks.front();
  if (medium::IsOverwritable(target_->GetMediumType())) {
    Fail("this CD cannot be written a session at once");
    return BURN_WRONG_MEDIUM;
  }
  long nwa = -1;
  if (target_->GetNextWriteAdd(nwa) != DEV_OK) {
    Fail("the disc in the recorder takes nothing more (" + SenseText(target_->GetLastSense()) + ")");
    return BURN_WRONG_MEDIUM;
  }
  if (nwa != first.start || (session_ == 1 && first.pregapStart != startAddress_)) {
    Fail("session " + std::to_string(session_) + " of the source starts at sector " + std::to_string(first.start) +
         ", but the disc in the recorder continues at sector " + std::to_string(nwa));
    return BURN_WRONG_MEDIUM;
  }
  bool mode2 = false;
  for (const SourceTrack& t : layout_->tracks) mode2 = mode2 || (!t.IsAudio() && t.form != MODE_FORM_MODE1);
  WriteParam wp;
  wp.WriteType = 2;  // session at once
  wp.TrackMode = uint8_t(first.control & 0x0F);
  wp.DataBlockType = mode2 ? 10 : 8;  // a Mode 2 session is a CD-ROM XA session
  wp.BufE = 1;
  wp.TestWrite = testWrite_ ? 1 : 0;
  wp.MultiSession = keepOpen_ ? 1 : 0;
  if (target_->SetWriteParam(wp) != DEV_OK) return Refused("the write parameters");
  if (WritesLeadIn()) {
    // The lead-in is written from where the recorder says it starts.
    DISC_INFO di;
    if (target_->ReadDiscInfo(di) != DEV_OK) return Refused("to tell where the lead-in starts");
    const uint8_t* at = di.Raw + 16;
    const int32_t leadIn = TocAddressToLba(TocAddress{at[0], at[1], at[2], at[3]});
    if (leadIn >= ProgramStart() || leadIn < ProgramStart() - 12000) {
      Fail("the recorder names no lead-in for the CD-Text");
      return BURN_REFUSED;
    }
    leadInStart_ = leadIn;
    total_ += ProgramStart() - leadIn;
  }
  std::vector<uint8_t> cue = CueSheet();
  if (target_->SendCueSheet(cue.data(), int(cue.size())) != DEV_OK) return Refused("the cue sheet");
  return BURN_OK;
}

int BurnMana_SAO::BeginDvd() {
  const int profile = target_->GetMediumType();
  overwritable_ = medium::IsOverwritable(profile);
  if (overwritable_) return BURN_OK;  // written in place: nothing to open
  long nwa = -1;
  if (target_->GetNextWriteAdd(nwa) != DEV_OK) {
    Fail("the disc in the recorder takes nothing more (" + SenseText(target_->GetLastSense()) + ")");
    return BURN_WRONG_MEDIUM;
  }
  if (nwa != layout_->tracks.front().start) {
    Fail("session " + std::to_string(session_) + " of the source starts at sector " +
         std::to_string(layout_->tracks.front().start) + ", but the disc in the recorder continues at sector " +
         std::to_string(nwa));
    return BURN_WRONG_MEDIUM;
  }
  WriteParam wp;
  wp.WriteType = 0;
  wp.TrackMode = 5;
  wp.DataBlockType = 8;
  wp.BufE = 1;
  wp.TestWrite = testWrite_ ? 1 : 0;
  wp.MultiSession = keepOpen_ ? 1 : 0;
  if (target_->SetWriteParam(wp) != DEV_OK) return Refused("the write parameters");
  return BURN_OK;
}

bool BurnMana_SAO::Burn() {
  if (!begun_ || worker_.joinable()) return Fail("the burn was not begun");
  over_ = false;
  worker_ = std::thread([this] { Run(); });
  return true;
}

void BurnMana_SAO::Run() {
  const bool cd = source_->GetDiscType() == CD_TYPE_CD;
  int r = BURN_OK;
  if (cd && WritesLeadIn()) r = WriteLeadIn();
  for (const SourceTrack& t : layout_->tracks) {
    if (r != BURN_OK) break;
    r = WriteTrack(t, cd);
    if (r != BURN_OK) break;
  }
  if (r == BURN_OK && target_->SynCache() != DEV_OK) r = (Refused("to flush its cache"), BURN_WRITE_FAILED);
  if (r == BURN_OK && !cd && !overwritable_) r = CloseDvd();
  source_->CloseTrack();
  result_ = r;
  SetItem("");
  over_ = true;
}

int BurnMana_SAO::WriteLeadIn() {
  SetItem("Lead-in (CD-Text)");
  const std::vector<uint8_t>& packs = source_->Layout().LeadInText(session_);
  const size_t count = packs.size() / 18;
  constexpr int kPiece = 128;  // sectors of 96 bytes a command
  std::vector<uint8_t> buffer(size_t(kPiece) * 96);
  size_t next = 0;  // the packs go round and round until the program area
  const int32_t programStart = int32_t(ProgramStart());
  for (int32_t at = leadInStart_; at < programStart;) {
    if (stop_) return (Fail("stopped"), BURN_STOPPED);
    const int n = std::min<int32_t>(kPiece, programStart - at);
    for (int i = 0; i < n; ++i) {
      uint8_t four[72];
      for (int k = 0; k < 4; ++k, next = (next + 1) % count) std::memcpy(four + 18 * k, &packs[next * 18], 18);
      CdTextPacksToSubchannel(four, buffer.data() + size_t(i) * 96);
    }
    if (target_->Write(uint32_t(at), buffer.data(), uint32_t(n * 96), uint32_t(n)) != DEV_OK) {
      Fail("writing the lead-in at sector " + std::to_string(at) + " failed (" + SenseText(target_->GetLastSense()) + ")");
      return BURN_WRITE_FAILED;
    }
    at += n;
    done_ += n;
    Report();
  }
  return BURN_OK;
}

int BurnMana_SAO::WriteTrack(const SourceTrack& t, bool cd) {
  char item[96];
  if (!source_->OpenTrack(t.number)) return (Fail(source_->GetLastError()), BURN_SOURCE_FAILED);
  source_->GetCurrBurnFile(item, sizeof item);
  SetItem(item);
  const int size = source_->GetSectorSize();
  const int piece = cd ? kCdPiece : kDvdPiece;
  if (!cd && !overwritable_) {
    // A reservation is rounded up to whole blocks by the drive; a track of
    // another length is written on the open track, so that its size stays.
    const int32_t block = medium::IsBd(target_->GetMediumType()) ? 32 : 16;
    long nwa = -1;
    if (target_->GetNextWriteAdd(nwa) != DEV_OK || nwa != t.start)
      return (Fail("track " + std::to_string(t.number) + " cannot be placed where the source has it"), BURN_WRITE_FAILED);
    if (t.length % block == 0 && target_->ReserveTrack(uint32_t(t.length)) != DEV_OK)
      return (Refused("to reserve the track"), BURN_WRITE_FAILED);
  }
  if (!source_->SetStartAdd(t.pregapStart)) return (Fail(source_->GetLastError()), BURN_SOURCE_FAILED);
  std::vector<uint8_t> buffer(size_t(piece) * size_t(size));
  for (int32_t at = t.pregapStart; at < t.End();) {
    if (stop_) return (Fail("stopped"), BURN_STOPPED);
    int n = std::min<int32_t>(piece, t.End() - at);
    if (!source_->GetSectorData(buffer.data(), n)) return (Fail(source_->GetLastError()), BURN_SOURCE_FAILED);
    if (target_->Write(uint32_t(at), buffer.data(), uint32_t(n * size), uint32_t(n)) != DEV_OK) {
      Fail("writing sector " + std::to_string(at) + " failed (" + SenseText(target_->GetLastSense()) + ")");
      return BURN_WRITE_FAILED;
    }
    at += n;
    done_ += n;
    Report();
  }
  if (!cd && !overwritable_) {
    if (target_->SynCache() != DEV_OK) return (Refused("to flush its cache"), BURN_WRITE_FAILED);
    if (target_->CloseTrack(t.number) != DEV_OK) return (Refused("to close the track"), BURN_WRITE_FAILED);
  }
  return BURN_OK;
}

int BurnMana_SAO::CloseDvd() {
  SetItem("Closing the session");
  const int profile = target_->GetMediumType();
  // DVD+R and BD-R are finalized by a function of their own; on DVD-R the
  // multi-session field of the write parameters decides.
  int function = 2;
  if (!keepOpen_ && (profile == medium::kDvdPlusR || profile == medium::kDvdPlusRDl)) function = 5;
  if (!keepOpen_ && medium::IsBd(profile)) function = 6;
  if (target_->CloseSession(function) != DEV_OK) return (Refused("to close the session"), BURN_WRITE_FAILED);
  return BURN_OK;
}

int BurnMana_SAO::BurnEnd() {
  if (worker_.joinable()) worker_.join();
  if (!begun_) return BURN_NOT_READY;
  return result_;
}
