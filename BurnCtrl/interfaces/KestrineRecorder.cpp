#include "BurnCtrl/interfaces/KestrineRecorder.h"

#include <cstring>
#include <vector>

rec::Sense KestrineRecorder::LastSense() const {
  SenseData s = dev_->GetLastSense();
  return rec::Sense{s.SenseKey, s.ASC, s.ASCQ, s.SRBStatus};
}

uint32_t KestrineRecorder::ReadDiscInfo(rec::DiscInfo& info) {
  DISC_INFO d;
  uint32_t st = dev_->ReadDiscInfo(d);
  if (st != 0) return st;
  info.discStatus = d.DiscStatus;
  info.lastSessionState = d.LastSessionState;
  info.sessionCount = d.SessionCount;
  info.firstTrackLastSession = d.FirstTrackLastSession;
  info.lastTrackLastSession = d.LastTrackLastSession;
  info.erasable = d.Erasable;
  return 0;
}

uint32_t KestrineRecorder::ReadTrackInfo(int track, rec::TrackInfo& info) {
  TRACK_INFO t;
  uint32_t st = dev_->ReadTrackInfo(t, track);
  if (st != 0) return st;
  info.trackNumber = t.TrackNumber;
  info.sessionNumber = t.SessionNumber;
  info.trackMode = t.TrackMode;
  info.blank = t.Blank;
  info.nwaValid = t.NWA_V;
  info.trackStart = t.TrackStart;
  info.nextWritable = t.NextWritable;
  info.freeBlocks = t.FreeBlocks;
  info.trackSize = t.TrackSize;
  info.lastRecorded = t.LastRecorded;
  return 0;
}

uint32_t KestrineRecorder::ReadCD_Data(uint32_t lba, uint8_t* buffer, uint32_t sectors) {
  // READ(10) reads user data on every data disc, CD or not.
  return dev_->ReadCD_10(buffer, int(sectors * 2048), int(sectors), lba);
}

uint32_t KestrineRecorder::ReadCD_All(uint8_t* buffer, uint32_t bufferSize, uint32_t sectors, uint32_t lba) {
  return dev_->ReadCD_All(buffer, int(bufferSize), int(sectors), lba);
}

uint32_t KestrineRecorder::ModeSense(uint8_t page, uint8_t* buffer, uint32_t size) {
  // Callers read the page behind the 8-byte mode parameter header.
  if (size < 8) return DEV_BAD_ARGUMENT;
  std::memset(buffer, 0, size);
  return dev_->ModeSense(buffer + 8, int(size - 8), page);
}

uint32_t KestrineRecorder::SetWriteParam(const rec::WriteParam& p) {
  WriteParam w;
  w.WriteType = p.writeType;
  w.TrackMode = p.trackMode;
  w.LinkSize = p.linkSize;
  w.TestWrite = p.testWrite;
  w.BufE = p.bufE;
  w.MultiSession = p.multiSession;
  w.FixedPacket = p.fixedPacket;
  w.LinkSizeValid = p.linkSizeValid;
  w.DataBlockType = p.dataBlockType;
  return dev_->SetWriteParam(w);
}

uint32_t KestrineRecorder::GetNextWriteAdd(uint32_t& lba) {
  long next = 0;
  uint32_t st = dev_->GetNextWriteAdd(next);
  if (st == 0) lba = uint32_t(next);
  return st;
}

uint32_t KestrineRecorder::CloseSession(int function, int track) {
  if (function == 2 && track == 0) return dev_->CloseSession();
  if (track == 0) return dev_->CloseSession(function);
  return dev_->CloseSession(function, track);
}
