#pragma once
// A test recorder whose disc is a file: sector N of the disc is stored at N
// times the slot size. It keeps the rules of the medium it stands for
// (sequential media are written at the next writable address only, a closed
// disc takes nothing more, a disc is never written past its capacity) and
// answers the engine's commands directly, so that tests can make any of them
// fail on purpose (see the fault hooks).

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "BurnCtrl/interfaces/Recorder.h"
#include "OutputFile.h"

class FileDiscRecorder : public Recorder {
 public:
  enum class Command { kSynCache, kReserveTrack, kFormatUnit, kSendDvdStruct, kReadDiscInfo, kCloseTrack,
                       kCloseSession, kBlank, kCapacity };

  // `slotSize` 2048 makes the file a plain image of 2048-byte sectors; 2352
  // keeps audio sectors whole (data sectors then take the slot's start).
  // `capacity` 0: the free space of the file system holding `path`.
  FileDiscRecorder(std::string path, int medium, uint32_t capacity = 0, int index = 0,
                    uint32_t slotSize = 2048);
  ~FileDiscRecorder() override;

  // Starts from a blank disc. The disc is written into "<path>.part" (made
  // exclusively, never through a link) and put in place only when the job
  // that wrote it ends complete (JobEnded); until then `path` is left as it
  // was, and a job that fails or is stopped removes its partial file. Any
  // existing entry at `path` is refused, and with `replace` a regular file is
  // replaced (a link or a folder never is). False with `why` set when refused
  // or when the file cannot be created.
  bool CreateBlank(bool replace = false, std::string* why = nullptr);
  const std::string& Path() const { return path_; }
  // True once the disc has been renamed into place.
  bool Published() const;
  // A complete job puts the image in place; an incomplete one leaves the
  // place as it was and the recorder without a disc.
  uint32_t JobEnded(bool complete) override;
  // The file the disc is written into: "<path>.part" until it is published.
  std::string WritingPath() const;
  // Flushes and closes the file; false when either failed (the image is
  // then not to be trusted). The recorder holds no disc afterwards.
  bool Close();

  std::string Name() const override { return "image:" + path_; }
  int GetDeviceID() const override { return index_; }
  int GetDevType() override { return devType_; }
  int GetMediumType() override;
  rec::Sense LastSense() const override;

  uint32_t TestUnitReady() override;
  uint32_t ReadDiscInfo(rec::DiscInfo& info) override;
  uint32_t ReadTrackInfo(int track, rec::TrackInfo& info) override;
  uint32_t GetBlackDiscCapacity(uint32_t& sectors) override;
  bool JudgeIsFormated(uint32_t& capacity) override;
  int JudgeFileSystem(uint32_t lba) override;
  uint32_t ReadCD_Data(uint32_t lba, uint8_t* buffer, uint32_t sectors) override;
  uint32_t ReadCD_All(uint8_t* buffer, uint32_t bufferSize, uint32_t sectors, uint32_t lba) override;
  uint32_t ModeSense(uint8_t page, uint8_t* buffer, uint32_t size) override;

  uint32_t SetWriteParam(const rec::WriteParam& param) override;
  uint32_t GetNextWriteAdd(uint32_t& lba) override;
  uint32_t ReserveTrack(uint32_t sectors) override;
  uint32_t Write(uint32_t lba, const uint8_t* buffer, uint32_t bytes, uint32_t sectors) override;
  uint32_t SynCache() override;
  uint32_t CloseTrack(int track) override;
  uint32_t CloseSession(int function = 2, int track = 0) override;
  uint32_t Blank(int blankType) override;
  uint32_t FormatUnit(uint32_t blocks, int formatType, uint32_t parameter) override;
  uint32_t ReadDVDStruct(uint8_t format, uint8_t* buffer, uint32_t size) override;
  uint32_t SendDVDStruct(uint8_t format, const uint8_t* buffer, uint32_t size) override;
  uint32_t Eject(bool open) override;
  uint32_t Lock(bool lock) override;
  uint32_t LockVolumn(bool lock) override;

  // What the disc holds, for checks.
  struct Track {
    int number = 1, session = 1;
    uint32_t start = 0, size = 0;
    bool closed = false, audio = false;
  };
  std::vector<Track> Tracks() const;
  bool Finalized() const;
  int ClosedSessions() const;
  void SetDevType(int type) { devType_ = type; }

 protected:
  // Fault hooks: a non-zero status (with the sense set) refuses the command.
  // Test drives refuse commands by these names.
  virtual uint32_t BeforeWrite(uint32_t lba, uint32_t sectors) { (void)lba, (void)sectors; return 0; }
  virtual uint32_t BeforeReady() { return 0; }
  virtual uint32_t BeforeCommand(Command command) { (void)command; return 0; }
  uint32_t Refuse(uint8_t key, uint8_t asc, uint8_t ascq);

  mutable std::mutex lock_;
  rec::Sense sense_;

 private:
  bool Sequential() const;
  uint32_t NextWritable() const;
  uint32_t Ok();
  Track* OpenTrack();
  bool Written() const { return !tracks_.empty() || highestWritten_ > 0; }
  uint32_t Publish();
  bool StartPartial(std::string* why);

  std::string path_;
  int medium_;
  uint32_t capacity_;
  int index_;
  uint32_t slotSize_;
  int devType_ = 9;
  int fd_ = -1;  // the partial file's until published, then the image's own
  OutputFile out_;
  Existing existing_ = Existing::kKeep;
  bool published_ = false;
  std::vector<Track> tracks_;
  int closedSessions_ = 0;
  bool finalized_ = false;
  bool formatted_ = false;
  uint32_t highestWritten_ = 0;
  rec::WriteParam param_;
  uint32_t reserved_ = 0;  // a reserved track's size
};
