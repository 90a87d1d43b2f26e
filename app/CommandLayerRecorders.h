#pragma once
// The RecorderService of the program: the recorder command layer with the
// device list of the device library (local drives, registered virtual
// recorders and remote drives) and the image-file target at index 0.

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "app/RecorderService.h"

class CDevCmdROM;
class CDevCmdRW;

class CommandLayerRecorders : public RecorderService {
 public:
  CommandLayerRecorders();

  std::vector<DriveEntry> Drives() override;
  int Start(uint8_t drive) override;
  int TestUnitReady(uint8_t drive) override;
  bool TrayOpen(uint8_t drive) override;
  void SetVerifyAfterBurn(bool on) override { verify_ = on; }
  void SetBootOptions(const eltorito::BootOptions& boot) override;
  int VerifyPercent(uint8_t drive) override;
  std::string VerifyResult(uint8_t drive) override;
  int GetDiscInfoEx(uint8_t drive, DiscInfo* info) override;
  bool ReadWriteSpeeds(uint8_t drive, std::vector<int>* speeds, int* current) override;
  int SetWriteSpeed(uint8_t drive, int kBps) override;
  int SetImageFile(uint8_t drive, const std::string& path) override;
  int WriteCd(uint8_t drive, const std::string& stagingRoot, const std::string& label, bool multisession,
              bool mp3, uint8_t discOptions = 0) override;
  int WriteImageToCD(uint8_t drive, const std::string& imagePath, bool testWrite) override;
  int WriteAudioCd(uint8_t drive, const std::vector<std::string>& wavTracks, bool testWrite) override;
  int WriteAudioDisc(uint8_t drive, const AudioDisc& disc, bool testWrite,
                     std::vector<std::string>* notices) override;
  int GetDriveProgress(uint8_t drive) override;
  std::string GetDriveItem(uint8_t drive) override;
  bool GetBurnFigures(uint8_t drive, BurnFigures* figures) override;
  void AbortWrite(uint8_t drive) override;
  void ResetBurn(uint8_t drive) override;
  std::string LastError(uint8_t drive) override;
  void DeleteTempFiles() override;
  void SetActivityCallback(std::function<void(int drive)> callback) override;
  int BlankDisc(uint8_t drive) override;
  int Eject(uint8_t drive, bool open) override;
  int Lock(uint8_t drive, bool lock) override;
  CDevCmdROM* ReadingDevice(uint8_t drive) override;
  int DiscCopy(int source, uint8_t target, const std::string& path) override;
  int WriteVideoDisc(uint8_t drive, CVideoDiscProject& project, const std::atomic<bool>* stop) override;
  int GetCopyProgress() override;
  std::string GetCopyItem() override;
  void StopCopy() override;
  std::string LastCopyError() override;
  std::string CopyFilePath() override;
  int CopyTracks(int drive, const std::string& file, std::vector<CopyTrack>* rows, std::string* why) override;

 private:
  std::mutex bootLock_;
  eltorito::BootOptions boot_;  // set before a burn starts, read by the burns
  std::mutex lock_;  // the device list is filled from one thread at a time
  // Drives taken from the device list, by index: when the list no longer
  // holds that object under that index, the drive went away.
  std::map<int, CDevCmdRW*> fromDeviceList_;
  // Hands the drives' activity on to the window's callback.
  class Activity;
  std::shared_ptr<Activity> activity_;
  // Verifying: the setting, and each drive's last verdict.
  std::atomic<bool> verify_{false};
  std::mutex verdictLock_;
  std::map<int, std::string> verdicts_;
  // `burn` on `drive`, then the read-back when verifying is on.
  int Verified(uint8_t drive, const std::function<int()>& burn);
};

// Adds a virtual recorder of the device library for "virtual:PATH[:MEDIUM]"
// (PATH alone works too), creating a blank disc of MEDIUM ("cd-rw" unless
// named: cd-r, dvd-r, dvd+rw, bd-re, ...) when the state file does not exist.
bool OpenVirtualRecorder(const std::string& argument, std::string* error);
