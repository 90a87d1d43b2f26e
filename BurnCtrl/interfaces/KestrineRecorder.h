#pragma once
// A drive of the device library seen as a Recorder.

#include <memory>

#include "BurnCtrl/interfaces/Recorder.h"
#include "CDevCmdRW.h"

class KestrineRecorder : public Recorder {
 public:
  explicit KestrineRecorder(std::unique_ptr<CDevCmdRW> device) : owned_(std::move(device)), dev_(owned_.get()) {}
  // A drive of the device list, which keeps it.
  explicit KestrineRecorder(CDevCmdRW* device) : dev_(device) {}
  CDevCmdRW* Device() const override { return dev_; }

  std::string Name() const override { return dev_->GetDevicePath(); }
  int GetDeviceID() const override { return dev_->GetDeviceID(); }
  int GetDevType() override { return dev_->GetDevType(); }
  int GetMediumType() override { return dev_->GetMediumType(); }
  rec::Sense LastSense() const override;
  bool ConnectServerDevice() override { return dev_->ConnectServerDevice(); }
  void CloseServerDevice() override { dev_->CloseServerDevice(); }

  uint32_t TestUnitReady() override { return dev_->TestUnitReady(); }
  uint32_t ReadDiscInfo(rec::DiscInfo& info) override;
  uint32_t ReadTrackInfo(int track, rec::TrackInfo& info) override;
  uint32_t GetBlackDiscCapacity(uint32_t& sectors) override { return dev_->GetBlackDiscCapacity(sectors); }
  bool JudgeIsFormated(uint32_t& capacity) override { return dev_->JudgeIsFormated(capacity); }
  int JudgeFileSystem(uint32_t lba) override { return dev_->JudgeFileSystem(lba); }
  uint32_t ReadCD_Data(uint32_t lba, uint8_t* buffer, uint32_t sectors) override;
  uint32_t ReadCD_All(uint8_t* buffer, uint32_t bufferSize, uint32_t sectors, uint32_t lba) override;
  uint32_t ModeSense(uint8_t page, uint8_t* buffer, uint32_t size) override;

  uint32_t SetWriteParam(const rec::WriteParam& param) override;
  uint32_t SetWriteSpeed(uint16_t kbPerSecond) override { return dev_->SetWriteSpeed(kbPerSecond); }
  uint32_t GetNextWriteAdd(uint32_t& lba) override;
  uint32_t ReserveTrack(uint32_t sectors) override { return dev_->ReserveTrack(sectors); }
  uint32_t Write(uint32_t lba, const uint8_t* buffer, uint32_t bytes, uint32_t sectors) override {
    return dev_->Write(lba, buffer, bytes, sectors);
  }
  uint32_t SynCache() override { return dev_->SynCache(); }
  uint32_t SynCacheEx(bool immediate) override { return dev_->SynCacheEx(immediate); }
  uint32_t CloseTrack(int track) override { return dev_->CloseTrack(track); }
  uint32_t CloseSession(int function = 2, int track = 0) override;
  uint32_t Blank(int blankType) override { return dev_->Blank(blankType); }
  uint32_t FormatUnit(uint32_t blocks, int formatType, uint32_t parameter) override {
    return dev_->FormatUnit(blocks, formatType, parameter);
  }
  uint32_t ReadDVDStruct(uint8_t format, uint8_t* buffer, uint32_t size) override {
    return dev_->ReadDVDStruct(buffer, int(size), format);
  }
  uint32_t SendDVDStruct(uint8_t format, const uint8_t* buffer, uint32_t size) override {
    return dev_->SendDVDStruct(buffer, int(size), format);
  }
  uint32_t Eject(bool open) override { return dev_->Eject(open); }
  uint32_t Lock(bool lock) override { return dev_->Lock(lock); }
  uint32_t LockVolumn(bool lock) override { return dev_->LockVolumn(lock); }
  bool HoldForJob(bool hold) override { return dev_->HoldForJob(hold); }
  uint32_t JobEnded(bool complete) override { return dev_->JobEnded(complete) ? 0 : rec::kCheckCondition; }

 private:
  std::unique_ptr<CDevCmdRW> owned_;
  CDevCmdRW* dev_;
};
