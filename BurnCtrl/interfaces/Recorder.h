#pragma once
// The recorder as the burn manager and the recorder command layer see it: one
// operation per drive command they use, each returning 0 on success or a
// failure status whose sense data stays readable through LastSense(). A
// device-library drive, the image-file target and test drives implement it.

#include <cstdint>
#include <string>

#include "MediumTable.h"
#include "SenseText.h"

namespace rec {

// Medium types: the profiles of the medium table.
using enum medium::Profile;

// A drive that reports no medium is written as a CD, as the begin table says.
inline bool IsCd(int m) { return m == kNone || medium::IsCd(m); }
inline bool IsDvdRw(int m) { return m == kDvdRwRo || m == kDvdRwSeq || m == kDvdRwUnknown; }

struct Sense {
  uint8_t key = 0, asc = 0, ascq = 0, srb = 1;
  bool Is(uint8_t k, uint8_t a, uint8_t q) const { return key == k && asc == a && ascq == q; }
  std::string Text() const { return SenseText(key, asc, ascq); }
};

// Mode page 05 as the burn manager fills it: write type (0 incremental,
// 1 track-at-once, 2 session-at-once, 4 layer jump) and eight bytes.
struct WriteParam {
  int32_t writeType = 0;
  uint8_t trackMode = 0;      // b0
  uint8_t linkSize = 0;       // b1
  uint8_t testWrite = 0;      // b2
  uint8_t bufE = 0;           // b3
  uint8_t multiSession = 0;   // b4
  uint8_t fixedPacket = 0;    // b5
  uint8_t linkSizeValid = 0;  // b6
  uint8_t dataBlockType = 0;  // b7
  int32_t reserved = 0;
};
static_assert(sizeof(WriteParam) == 16);

struct DiscInfo {
  uint8_t discStatus = 0;        // 0 empty, 1 appendable, 2 complete, 3 other
  uint8_t lastSessionState = 0;  // 0 empty, 1 incomplete, 3 complete
  uint16_t sessionCount = 0;
  uint16_t firstTrackLastSession = 0;
  uint16_t lastTrackLastSession = 0;
  bool erasable = false;
};

struct TrackInfo {
  uint16_t trackNumber = 0;
  uint16_t sessionNumber = 0;
  uint8_t trackMode = 0;  // control nibble: below 4 audio
  bool blank = false;
  bool nwaValid = false;
  uint32_t trackStart = 0;
  uint32_t nextWritable = 0;
  uint32_t freeBlocks = 0;
  uint32_t trackSize = 0;
  uint32_t lastRecorded = 0;
};

// Failure statuses that never reached a medium.
constexpr uint32_t kCheckCondition = 2;
constexpr uint32_t kNotAvailable = 0x103;

}  // namespace rec

class CDevCmdRW;

class Recorder {
 public:
  virtual ~Recorder() = default;

  // The device-library drive behind the recorder, for the writers that speak
  // to it directly (session at once, disc copy, analysis); nullptr for a
  // target that is no drive.
  virtual CDevCmdRW* Device() const { return nullptr; }

  // What the user sees: "virtual:/x.vdisc", "image:/out.iso", "/dev/sr0".
  virtual std::string Name() const = 0;
  // Drive index; 0 is the image-file target.
  virtual int GetDeviceID() const = 0;
  virtual int GetDevType() = 0;  // kinds 0 and 2 cannot erase
  virtual int GetMediumType() = 0;
  virtual rec::Sense LastSense() const = 0;

  // Remote drives are connected around every operation.
  virtual bool ConnectServerDevice() { return true; }
  virtual void CloseServerDevice() {}

  [[nodiscard]] virtual uint32_t TestUnitReady() = 0;
  [[nodiscard]] virtual uint32_t ReadDiscInfo(rec::DiscInfo& info) = 0;
  [[nodiscard]] virtual uint32_t ReadTrackInfo(int track, rec::TrackInfo& info) = 0;
  [[nodiscard]] virtual uint32_t GetBlackDiscCapacity(uint32_t& sectors) = 0;
  virtual bool JudgeIsFormated(uint32_t& capacity) = 0;
  // 0 none, 1 ISO 9660, 2 or more UDF.
  virtual int JudgeFileSystem(uint32_t lba) = 0;
  [[nodiscard]] virtual uint32_t ReadCD_Data(uint32_t lba, uint8_t* buffer, uint32_t sectors) = 0;
  // Raw 2352-byte sectors (audio PCM as it stands on the disc).
  [[nodiscard]] virtual uint32_t ReadCD_All(uint8_t* buffer, uint32_t bufferSize, uint32_t sectors, uint32_t lba) = 0;
  [[nodiscard]] virtual uint32_t ModeSense(uint8_t page, uint8_t* buffer, uint32_t size) = 0;

  [[nodiscard]] virtual uint32_t SetWriteParam(const rec::WriteParam& param) = 0;
  // Kilobytes per second; 0xFFFF: the fastest the drive and disc allow.
  [[nodiscard]] virtual uint32_t SetWriteSpeed(uint16_t kbPerSecond) { (void)kbPerSecond; return 0; }
  [[nodiscard]] virtual uint32_t GetNextWriteAdd(uint32_t& lba) = 0;
  [[nodiscard]] virtual uint32_t ReserveTrack(uint32_t sectors) = 0;
  [[nodiscard]] virtual uint32_t Write(uint32_t lba, const uint8_t* buffer, uint32_t bytes, uint32_t sectors) = 0;
  [[nodiscard]] virtual uint32_t SynCache() = 0;
  [[nodiscard]] virtual uint32_t SynCacheEx(bool immediate) { (void)immediate; return SynCache(); }
  [[nodiscard]] virtual uint32_t CloseTrack(int track) = 0;
  // Close function 2 closes the session; 1 a track; 3 the DVD+RW variant.
  [[nodiscard]] virtual uint32_t CloseSession(int function = 2, int track = 0) = 0;
  [[nodiscard]] virtual uint32_t Blank(int blankType) = 0;
  [[nodiscard]] virtual uint32_t FormatUnit(uint32_t blocks, int formatType, uint32_t parameter) = 0;
  // DVD structures without the 4-byte header of the answer / parameter list.
  [[nodiscard]] virtual uint32_t ReadDVDStruct(uint8_t format, uint8_t* buffer, uint32_t size) = 0;
  [[nodiscard]] virtual uint32_t SendDVDStruct(uint8_t format, const uint8_t* buffer, uint32_t size) = 0;

  [[nodiscard]] virtual uint32_t Eject(bool open) = 0;
  // The job that wrote the disc is over; `complete` when it wrote all it
  // meant to. A drive has nothing more to do; a file standing for a disc is
  // put in place only after a complete job. Nonzero when it could not be.
  [[nodiscard]] virtual uint32_t JobEnded(bool complete) { (void)complete; return 0; }
  [[nodiscard]] virtual uint32_t Lock(bool lock) = 0;
  [[nodiscard]] virtual uint32_t LockVolumn(bool lock) = 0;
  // Keeps other programs of ours from the drive for a whole job; false when
  // one of them holds it.
  virtual bool HoldForJob(bool hold) { (void)hold; return true; }
};
