#pragma once
// A RecorderService over the image-file device and virtual recorders kept in
// files, for running the program and its windows without hardware.
//
// A virtual recorder is a small settings file ("name.vdisc") describing the
// disc in it, with the written sectors in "name.vdisc.data":
//
//   [Disc]
//   Medium=9          medium type (MMC profile number)
//   Capacity=359847   sectors of 2048 bytes
//   Used=0            sectors written so far
//   Closed=0          1 when no more sessions can be added
//   Tray=0            1 while the tray is open
//   ReloadBlank=0     1: closing the tray again loads a fresh blank disc
//   NotReady=0        the next N readiness checks answer "not ready"
//   FailWrite=0       the Nth write from now fails (1 = the next one)
//   BlockDelayMs=0    a pause after every 32 sectors written
//   Speeds=           write speeds in kB/s, separated by ","; "none" for a
//                     drive that reports none
//
// The disc survives between program runs. Writing lays the data project out
// as an ISO 9660 volume with Joliet names and stores its sectors after the
// sectors already used, so that an appended session follows the last one.

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "app/RecorderService.h"

class VirtualRecorders : public RecorderService {
 public:
  VirtualRecorders();
  ~VirtualRecorders() override;

  // Adds a recorder for a state file (created with a blank disc of `medium`
  // when it does not exist). Returns its drive index, or -1.
  int AddRecorder(const std::string& stateFile, int medium = medium::kCdRw);
  // "virtual:PATH[:MEDIUM]" arguments, as the command line gives them.
  int AddRecorderFromArgument(const std::string& argument);
  static int MediumFromName(const std::string& name);  // "cdrw", "dvd+r", ... ; 0 when unknown
  static uint32_t CapacityOf(int medium);               // sectors of a blank disc

  std::string StateFile(uint8_t drive) const;

  std::vector<DriveEntry> Drives() override;
  int Start(uint8_t drive) override;
  int TestUnitReady(uint8_t drive) override;
  bool TrayOpen(uint8_t drive) override;
  int GetDiscInfoEx(uint8_t drive, DiscInfo* info) override;
  bool ReadWriteSpeeds(uint8_t drive, std::vector<int>* speeds, int* current) override;
  int SetWriteSpeed(uint8_t drive, int kBps) override;
  int SetImageFile(uint8_t drive, const std::string& path) override;
  int WriteCd(uint8_t drive, const std::string& stagingRoot, const std::string& label,
              bool multisession, bool mp3, uint8_t discOptions = 0) override;
  // The disc options of the last WriteCd.
  uint8_t LastDiscOptions() const { return lastDiscOptions_; }
  // The boot images the window set for its burns.
  void SetBootOptions(const eltorito::BootOptions& boot) override { boot_ = boot; }
  const eltorito::BootOptions& LastBoot() const { return boot_; }
  int WriteImageToCD(uint8_t drive, const std::string& imagePath, bool testWrite) override;
  int WriteAudioCd(uint8_t drive, const std::vector<std::string>& wavTracks, bool testWrite) override;
  // The sound as WriteAudioCd writes it; the files of the disc, as staged
  // for the burn, are only noted (LastAudioFiles): the engine's own tests
  // write them.
  int WriteAudioDisc(uint8_t drive, const AudioDisc& disc, bool testWrite,
                     std::vector<std::string>* notices) override;
  struct AudioFiles {
    AudioDiscFiles::Place place = AudioDiscFiles::kNone;
    std::string label;
    std::vector<std::string> staged;  // "path: what the file says" below the staging folder, sorted
  };
  const AudioFiles& LastAudioFiles() const { return lastAudioFiles_; }
  int GetDriveProgress(uint8_t drive) override;
  std::string GetDriveItem(uint8_t drive) override;
  bool GetBurnFigures(uint8_t drive, BurnFigures* figures) override;
  std::string LastError(uint8_t drive) override;
  void AbortWrite(uint8_t drive) override;
  void ResetBurn(uint8_t drive) override;
  void DeleteTempFiles() override;
  int BlankDisc(uint8_t drive) override;
  int Eject(uint8_t drive, bool open) override;
  int Lock(uint8_t drive, bool lock) override;

 private:
  AudioFiles lastAudioFiles_;
  uint8_t lastDiscOptions_ = 0;
  eltorito::BootOptions boot_;
  struct Drive;
  Drive* Find(uint8_t drive);
  int WriteSectors(Drive* d, class TrackSectorSource* source, uint32_t length, bool close);

  mutable std::mutex lock_;
  std::map<uint8_t, std::unique_ptr<Drive>> drives_;
  std::string imageFile_;
  std::atomic<int> current_{-1};
};
