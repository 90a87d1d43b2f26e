#pragma once
// A drive, one method per MMC command. Device commands return 0 on success,
// or a failure status (DevTypes.h) with the sense data of the failed command
// kept for the caller (GetLastSense).

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DevTypes.h"
#include "ScsiTransport.h"

// Told of every command a drive executes (the activity light of the windows).
class DevActivityListener {
 public:
  virtual ~DevActivityListener() = default;
  virtual void OnDeviceActivity(int deviceId) = 0;
};

class CDevCmdROM {
 public:
  // A free-standing device: no drive until SetImageFile.
  CDevCmdROM();
  CDevCmdROM(std::unique_ptr<ScsiTransport> transport, int deviceId);
  virtual ~CDevCmdROM();
  CDevCmdROM(const CDevCmdROM&) = delete;
  CDevCmdROM& operator=(const CDevCmdROM&) = delete;

  // Reads an image file as a disc, or writes one (a missing or empty file).
  bool SetImageFile(const char* path);
  std::string GetLastOpenError() const { return openError_; }

  // ---- status ----
  [[nodiscard]] uint32_t TestUnitReady();                        // TEST UNIT READY
  int GetMediumType();                             // GET CONFIGURATION: current profile
  int GetDiscType();                               // 1 CD, 2 DVD, 3 BD, 0 none
  int GetDevType();                                // CD_DEV_TYPE from the features
  int GetDeviceID() const { return deviceId_; }    // drive index; 0: the image device
  [[nodiscard]] uint32_t Inquiry(uint8_t* buffer, int size);     // INQUIRY
  [[nodiscard]] uint32_t Inquiry(INQUIRYDATA& data);
  [[nodiscard]] uint32_t ReadDiscInfo(DISC_INFO& info);          // READ DISC INFORMATION
  [[nodiscard]] uint32_t ReadTrackInfo(TRACK_INFO& info, int track);  // READ TRACK INFORMATION by number
  [[nodiscard]] uint32_t ReadTrackInfoEx(TRACK_INFO& info, int type, uint32_t address);
  [[nodiscard]] uint32_t ReadToc(uint8_t* buffer, int size, int format, int track);  // READ TOC/PMA/ATIP
  [[nodiscard]] uint32_t GetTocData(TocData& toc);               // format 0, parsed
  [[nodiscard]] uint32_t GetSessionInfo(SessionInfo& info);      // format 2, parsed
  [[nodiscard]] uint32_t GetCDText(FS_CDTEXT_INFO& text);        // format 5, parsed
  // Format 5 as the disc has it: the packs, 18 bytes each, without the
  // header. A disc without CD-Text gives DEV_OK and no packs.
  [[nodiscard]] uint32_t ReadCdTextPacks(std::vector<uint8_t>& packs);
  // READ SUB-CHANNEL with the Q data (format 2 catalogue number, 3 ISRC of
  // `track`): the answer, header included.
  [[nodiscard]] uint32_t ReadSubChannel(uint8_t* buffer, int size, int format, int track);
  // The disc's media catalogue number and a track's ISRC; "" (and DEV_OK)
  // when the disc has none or the drive keeps it to itself.
  [[nodiscard]] uint32_t ReadMediaCatalog(std::string& mcn);
  [[nodiscard]] uint32_t ReadTrackIsrc(int track, std::string& isrc);
  int JudgeFileSystem(uint32_t lba);               // 0 none, 1 ISO 9660, 2 UDF, 3 both
  // MODE SENSE(10): the page from its code byte on (header and block
  // descriptors removed), at most `size` bytes.
  [[nodiscard]] uint32_t ModeSense(uint8_t* page, int size, int pageCode);
  // The same; `sense` (when given) receives key, ASC, ASCQ and SRB status.
  [[nodiscard]] uint32_t GetParamPage(uint8_t* page, int size, int deviceId, uint8_t* sense, int pageCode);
  [[nodiscard]] uint32_t GetConfig(uint8_t* buffer, int size);   // GET CONFIGURATION, all features
  // READ DVD STRUCTURE: the structure without its 4-byte header.
  [[nodiscard]] uint32_t ReadDVDStruct(uint8_t* buffer, int size, int format, int layer = 0, uint32_t address = 0);
  [[nodiscard]] uint32_t ReadCapacity(uint32_t& lastLba);        // READ CAPACITY

  // ---- reading ----
  [[nodiscard]] uint32_t ReadCD_10(uint8_t* buffer, int bufferSize, int count, uint32_t lba);    // READ(10), 2048 bytes
  [[nodiscard]] uint32_t ReadCD_Data(uint8_t* buffer, int bufferSize, int count, uint32_t lba);  // READ CD, user data
  [[nodiscard]] uint32_t ReadCD_All(uint8_t* buffer, int bufferSize, int count, uint32_t lba);   // READ CD, 2352 bytes
  // READ CD of CD-DA sectors only (2352 bytes of PCM each); a drive refuses
  // a data sector with ILLEGAL MODE FOR THIS TRACK.
  [[nodiscard]] uint32_t ReadCD_Audio(uint8_t* buffer, int bufferSize, int count, uint32_t lba);
  uint32_t LastTransferred() const { return lastTransferred_; }

  // ---- tray ----
  [[nodiscard]] uint32_t Eject(bool open);       // START STOP UNIT: open (true) or close the tray
  [[nodiscard]] uint32_t Lock(bool lock);        // PREVENT ALLOW MEDIUM REMOVAL
  [[nodiscard]] uint32_t LockVolumn(bool lock);  // this program alone may use the drive
  bool HoldForJob(bool hold) { return !transport_ || transport_->HoldForJob(hold); }
  bool JobEnded(bool complete) {
    std::lock_guard<std::mutex> lock(mutex_);
    return !transport_ || transport_->JobEnded(complete);
  }

  // ---- remote drives ----
  bool ConnectServerDevice();
  void CloseServerDevice();

  void SetMainHWnd(DevActivityListener* listener) { listener_ = listener; }

  // ---- the last failed command ----
  SenseData GetLastSense() const;
  uint8_t GetSenseKey() const { return GetLastSense().SenseKey; }
  uint8_t GetASC() const { return GetLastSense().ASC; }
  uint8_t GetASCQ() const { return GetLastSense().ASCQ; }
  uint8_t GetSRBStatus() const { return GetLastSense().SRBStatus; }

  // Polls TEST UNIT READY every `pollMs` until it answers 0, at most `maxMs`:
  // 0 when ready, else the last status (the sense says why).
  [[nodiscard]] uint32_t WaitUntilReady(int pollMs, int maxMs);

  std::string GetDevicePath() const;
  bool HasDrive() const { return transport_ != nullptr; }

 protected:
  // Executes one command and keeps its sense when it fails.
  [[nodiscard]] uint32_t Run(ScsiCommand& cmd);
  [[nodiscard]] uint32_t Run(const uint8_t* cdb, int cdbLength, ScsiCommand::Direction dir, uint8_t* data, uint32_t length,
               int timeoutMs, uint32_t* transferred = nullptr);
  [[nodiscard]] uint32_t Refuse(uint32_t status, uint8_t srb);  // a failure found by the library itself

  std::unique_ptr<ScsiTransport> transport_;
  int deviceId_ = 0;

 private:
  mutable std::mutex mutex_;
  SenseData lastSense_;
  uint32_t lastTransferred_ = 0;
  DevActivityListener* listener_ = nullptr;
  int connectDepth_ = 0;
  std::string openError_;
};
