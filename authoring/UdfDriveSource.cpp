#include "authoring/UdfDriveSource.h"

UdfDriveSource::UdfDriveSource(CDevCmdROM* drive) : drive_(drive) {
  uint32_t last = 0;
  if (drive_->ReadCapacity(last) == DEV_OK) sectors_ = uint64_t(last) + 1;
}

bool UdfDriveSource::Ready() { return drive_->TestUnitReady() == DEV_OK; }

bool UdfDriveSource::ReadSectors(uint32_t sector, uint32_t count, uint8_t* out) {
  if (sectors_ != 0 && uint64_t(sector) + count > sectors_) return false;
  // Large requests are split; a drive takes a few dozen sectors at a time.
  constexpr uint32_t kChunk = 32;
  for (uint32_t done = 0; done < count;) {
    uint32_t n = count - done < kChunk ? count - done : kChunk;
    if (drive_->ReadCD_10(out + size_t(done) * 2048, int(n * 2048), int(n), sector + done) != DEV_OK)
      return false;
    done += n;
  }
  return true;
}
