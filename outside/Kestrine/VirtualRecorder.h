#pragma once
// The virtual recorder: a recorder with a disc in it, kept in a state file
// ("name.vdisc") and a sector file beside it ("name.vdisc.sectors"). The disc
// survives across runs; several programs may look at it, one at a time may
// change it.

#include <mutex>
#include <functional>
#include <string>
#include <vector>

#include "MmcDiscTarget.h"
#include "OutputFile.h"
#include "WritePacer.h"

struct VirtualFaults {
  // A write that fails: the Nth WRITE command counted from arming fails with
  // the given sense, `writeFailCount` times in a row.
  int writeFailAt = 0;
  int writeFailCount = 0;
  uint8_t writeKey = 3, writeAsc = 0x0C, writeAscq = 0;
  int writesSeen = 0;
  int notReadyPolls = 0;   // TEST UNIT READY answers 2/04/01 this many times
  int longWritePolls = 0;  // answers 2/04/08 this many times
  bool cannotErase = false;
  // READ CD answers 5/20/00 (invalid command), as some emulated and USB
  // drives do; READ (10) still reads the user data.
  bool refuseReadCd = false;
  // The Nth WRITE counted from arming waits before it is carried out: the
  // recorder makes the file "STATE.held" and goes on once it is removed, so
  // that another program can act while a burn is certainly under way.
  int holdAt = 0;
  int holdSeen = 0;
  // The Nth sector stored counted from arming is stored with one byte
  // changed and no error, as a marginal disc takes it.
  int64_t corruptAt = 0;
  int64_t corruptSeen = 0;
  // Reads that touch one of these ranges (first and last LBA) fail with a
  // medium error, 3/11/00.
  std::vector<std::pair<int32_t, int32_t>> unreadable;
  // Reads that touch one of these ranges are slow (see SetReadPace).
  std::vector<std::pair<int32_t, int32_t>> slowRead;
  // The drive writes at this multiple of 1x (CD, DVD or BD by the disc in
  // it), with a drive buffer that can run dry; 0 writes as fast as the
  // machine can.
  int speed = 0;
};

class VirtualRecorder : public MmcDiscTarget {
 public:
  ~VirtualRecorder() override;

  // Opens an existing virtual recorder; false with a reason when the state
  // file is missing or damaged.
  bool Open(const std::string& statePath, std::string* error);

  // Media names: cd-r cd-rw dvd-r dvd-rw dvd+r dvd+rw dvd-ram dvd-r-dl
  // dvd+r-dl bd-r bd-re. A blank disc of that kind.
  // `speed` as VirtualFaults::speed.
  static bool Create(const std::string& statePath, const std::string& medium, std::string* error, int speed = 0);
  // The speeds a drive can be given ("16x"), as multiples of 1x.
  static constexpr int kMaxSpeed = 64;
  // A pressed CD-ROM or DVD-ROM holding an ISO image ("cd-rom", "dvd-rom").
  static bool CreatePressedData(const std::string& statePath, const std::string& medium,
                                const std::string& isoPath, std::string* error);
  struct AudioTrack {
    std::string wavPath;
    std::string title, performer;
  };
  // A pressed audio CD from WAV files (44.1 kHz, 16-bit, stereo) with CD-Text.
  static bool CreatePressedAudio(const std::string& statePath, const std::vector<AudioTrack>& tracks,
                                 const std::string& albumTitle, const std::string& albumPerformer,
                                 std::string* error);

  // A pressed CD exactly as a CUE sheet (or another CD image) describes it:
  // its sectors, pre-gaps, flags, index points, ISRCs, catalogue number and
  // CD-Text.
  static bool CreatePressedImage(const std::string& statePath, const std::string& sheetPath, std::string* error);

  // The user data of every recorded data sector, LBA n at byte n * 2048.
  // Nothing at the place is replaced unless `existing` allows it.
  bool ExportIso(const std::string& isoPath, std::string* error, Existing existing = Existing::kKeep);
  // The whole disc as raw 2352-byte sectors with a CUE sheet; the BIN file is
  // the CUE's path with the extension ".bin".
  bool ExportBinCue(const std::string& cuePath, std::string* error, Existing existing = Existing::kKeep);
  // The same BIN file with a TOC file instead (one session only: the format
  // has no sessions).
  bool ExportBinToc(const std::string& tocPath, std::string* error, Existing existing = Existing::kKeep);

  bool SetFaults(const VirtualFaults& faults, std::string* error);
  // How a read of the slow ranges takes its time: called with the sectors
  // of every read command, `slow` when it touches a slow range. By default a
  // slow read takes kSlowSectorMs per sector; tests put a clock of their own
  // here instead of waiting. Empty restores the default.
  using ReadPace = std::function<void(int32_t lba, uint32_t count, bool slow)>;
  static void SetReadPace(ReadPace pace);
  static constexpr int kSlowSectorMs = 2;
  const VirtualFaults& Faults() const { return faults_; }
  // The clock the write pace runs on; tests give one of their own.
  void SetPaceClock(PaceClock* clock) { pacer_.SetClock(clock); }
  const WritePacer& Pacer() const { return pacer_; }

  std::string Path() const override { return "virtual:" + statePath_; }
  bool LockExclusive(bool lock) override;
  bool HoldForJob(bool hold) override;
  static const std::vector<std::string>& MediaNames();
  // The file a held write waits on (see VirtualFaults::holdAt).
  static std::string HeldPath(const std::string& statePath) { return statePath + ".held"; }

 protected:
  int ReadStored(int32_t lba, uint8_t* buf) override;
  bool ReadStoredRun(int32_t lba, uint8_t* out, uint32_t count) override;
  bool ReadWholeRun(int32_t lba, uint8_t* out, uint32_t count) override;
  bool WriteStored(int32_t lba, const uint8_t* buf, int size) override;
  bool WriteStoredRun(int32_t lba, const uint8_t* buf, uint32_t count) override;
  bool WriteStoredRawRun(int32_t lba, const uint8_t* raw, uint32_t count) override;
  bool FlushStore() override;
  void ModelChanged() override;
  bool Intercept(ScsiCommand& cmd) override;
  void StoreErased() override;
  const char* Product() const override { return "Virtual Recorder"; }

 private:
  bool Load(std::string* error);
  bool Save(std::string* why = nullptr);
  void ReloadIfChanged();
  int SlotSize() const { return medium::IsCd(model_.profile) ? 2352 : 2048; }
  bool OpenSectors(std::string* error);
  void ReopenIfReplaced();
  bool SetLock(bool* which, bool on);
  bool WriteBinTrackData(int fd, const DiscTrack& t, int32_t count, bool cd);
  bool ExportBinSheet(const std::string& sheetPath, bool toc, std::string* error, Existing existing);
  void HoldUntilReleased();
  // Counts a stored sector against the corrupt-write fault; true when this
  // is the one to spoil.
  bool SpoilsNextSector();
  // True when the spoiled write of a fault falls within the next `count`.
  bool SpoilsWithin(uint32_t count) const;
  // `count` whole slots of the sector file in one write.
  bool StoreSlots(int32_t lba, const uint8_t* data, uint32_t count);
  static void PaceRead(int32_t lba, uint32_t count, bool slow);
  // Paces a read and fails it when it touches an unreadable range (true:
  // answered).
  bool ReadFault(ScsiCommand& c);
  // Paces a write at the drive's speed; true when it is answered (an
  // underrun that spoiled the track).
  bool PaceWrite(ScsiCommand& c);
  void SetPace();
  uint32_t PacedWriteSpeed() const override;
  // Hands every 2048-byte sector of [start, start + count) that the sector
  // file holds to `put`; false as soon as `put` fails.
  bool ExportStoredRuns(int32_t start, int32_t count, const std::function<bool(int32_t, const uint8_t*)>& put);

  std::string statePath_;
  std::string medium_;
  VirtualFaults faults_;
  WritePacer pacer_;
  int sectorFd_ = -1;
  bool dirty_ = false;  // sectors written since the state was last saved
  // The lock file is held while a burn or an erase has the drive
  // (`volumeLock_`) or while a whole job of ours does (`jobLock_`).
  std::mutex lockMutex_;
  int lockFd_ = -1;
  bool volumeLock_ = false, jobLock_ = false;
  // What the state file looked like when we last read or wrote it.
  long long stamp_[3] = {0, 0, 0};
};
