#pragma once
// A recorder: the writing commands on top of the reading ones.

#include <functional>
#include <memory>
#include <mutex>

#include "CDevCmdROM.h"

class CDevCmdRW : public virtual CDevCmdROM {
 public:
  CDevCmdRW();
  CDevCmdRW(std::unique_ptr<ScsiTransport> transport, int deviceId);

  [[nodiscard]] uint32_t SetWriteParam(const WriteParam& param);   // MODE SELECT page 05
  [[nodiscard]] uint32_t SetWriteSpeed(int kBytesPerSecond);       // SET CD SPEED, else SET STREAMING
  [[nodiscard]] uint32_t GetNextWriteAdd(long& lba);               // READ TRACK INFORMATION of the last track
  [[nodiscard]] uint32_t ReserveTrack(uint32_t sectors);           // RESERVE TRACK
  [[nodiscard]] uint32_t Write(uint32_t lba, const uint8_t* buffer, uint32_t bytes, uint32_t sectors);  // WRITE(10)
  [[nodiscard]] uint32_t SynCache();                               // SYNCHRONIZE CACHE
  [[nodiscard]] uint32_t SynCacheEx(bool immediate);
  [[nodiscard]] uint32_t CloseTrack(int track);                    // CLOSE TRACK/SESSION, function 1
  [[nodiscard]] uint32_t CloseSession();                           // function 2
  [[nodiscard]] uint32_t CloseSession(int function);
  [[nodiscard]] uint32_t CloseSession(int function, int track);
  [[nodiscard]] uint32_t Blank(int blankType);                     // BLANK (BLANK_TYPE)
  [[nodiscard]] uint32_t FormatUnit(uint32_t blocks, int formatType, uint32_t parameter);  // FORMAT UNIT
  // READ FORMAT CAPACITIES: whether the disc is formatted; `capacity` gets the
  // current (or largest formattable) number of blocks.
  bool JudgeIsFormated(uint32_t& capacity);
  // Sectors still free for writing: the free blocks of the track being
  // written, or the formatted size of an overwritable disc.
  [[nodiscard]] uint32_t GetBlackDiscCapacity(uint32_t& sectors);
  [[nodiscard]] uint32_t SendDVDStruct(const uint8_t* buffer, int size, int format);  // SEND DVD STRUCTURE
  [[nodiscard]] uint32_t SendCueSheet(const uint8_t* sheet, int size);               // SEND CUE SHEET

  // Told of every WRITE the drive took without an error, with what it
  // carried: what a read-back compares the disc with, seen where every
  // writer's data passes. One watcher at a time; nullptr for none.
  using WriteWatcher = std::function<void(uint32_t lba, const uint8_t* data, uint32_t bytes, uint32_t sectors)>;
  void SetWriteWatcher(WriteWatcher watcher);

 private:
  std::mutex watchMutex_;
  std::shared_ptr<const WriteWatcher> watcher_;
};
