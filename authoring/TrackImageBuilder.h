#pragma once
// What a data-track layout offers the burn source: the track's length and its
// sectors, one 2048-byte sector per call, in order from sector 0. CDataFile
// (ISO 9660 with Joliet) and CDataFileUDF (UDF) both implement it; the burn
// source knows nothing else of them.

#include <cstdint>
#include <cstring>
#include <string>

constexpr uint32_t kSectorSize = 2048;

// Told when a source file cannot be read while its sectors are served: the
// sectors stay zero and serving goes on. (Stands for the burn window's
// notification 600.)
class TrackSourceListener {
 public:
  virtual ~TrackSourceListener() = default;
  virtual void SourceUnreadable(const std::string& path) = 0;
};

class TrackImageBuilder {
 public:
  virtual ~TrackImageBuilder() = default;

  virtual uint32_t GetTrackLength() const = 0;
  // Fills `buffer` (zero-filled by the caller, `byteCount` bytes, normally
  // 2048) with the next sector. Returns 0; -1 when the layout's own
  // temporary data could not be read back (the listener is told).
  virtual int GetSectorData(uint8_t* buffer, uint32_t byteCount) = 0;
  // The next `count` whole sectors into `out` (no need to clear it first):
  // the same bytes as `count` calls of GetSectorData. Layouts may serve runs
  // of file data straight into `out`.
  virtual void GetSectors(uint8_t* out, uint32_t count) {
    std::memset(out, 0, size_t(count) * kSectorSize);
    for (uint32_t i = 0; i < count; ++i) GetSectorData(out + size_t(i) * kSectorSize, kSectorSize);
  }
  virtual std::string GetCurrentSourceFile() const = 0;

  // Why the last Build failed, naming the file or folder concerned.
  const std::string& LastError() const { return lastError_; }
  void SetSourceListener(TrackSourceListener* listener) { listener_ = listener; }

 protected:
  std::string lastError_;
  TrackSourceListener* listener_ = nullptr;
};
