#include "CdDaReader.h"

#include <cstring>

#include "CDevCmdROM.h"

namespace {
// ILLEGAL REQUEST / ILLEGAL MODE FOR THIS TRACK: the sector is not audio.
bool IsNotAudio(uint8_t key, uint8_t asc) { return key == 5 && (asc == 0x64 || asc == 0x30); }
}  // namespace

bool CdDaReader::Read(uint32_t lba, int count, uint8_t* out, const std::atomic<bool>& stop, Outcome& why) {
  const int bytes = count * kSectorBytes;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (stop.load()) {
      why = kStopped;
      return false;
    }
    if (drive_.ReadCD_Audio(out, bytes, count, lba) == DEV_OK && drive_.LastTransferred() == uint32_t(bytes)) return true;
    SenseData s = drive_.GetLastSense();
    badSense_ = SenseCodes(s);
    if (IsNotAudio(s.SenseKey, s.ASC)) {
      why = kNotAudio;
      return false;
    }
  }
  why = kUnreadable;
  return false;
}

CdDaReader::Outcome CdDaReader::ReadSector(uint32_t lba, uint8_t* out, const std::atomic<bool>& stop) {
  std::vector<std::vector<uint8_t>> copies;
  std::vector<uint8_t> copy(kSectorBytes);
  for (int n = 0; n < kCompareAttempts; ++n) {
    Outcome why = kOk;
    if (!Read(lba, 1, copy.data(), stop, why)) {
      badSector_ = lba;
      return why;
    }
    for (const auto& earlier : copies) {
      if (earlier == copy) {
        std::memcpy(out, copy.data(), kSectorBytes);
        if (copies.size() > 1) ++corrected_;
        return kOk;
      }
    }
    copies.push_back(copy);
  }
  badSector_ = lba;
  badSense_.clear();
  return kUnstable;
}

CdDaReader::Outcome CdDaReader::ReadBlock(uint32_t lba, int count, std::vector<uint8_t>& out,
                                          const std::atomic<bool>& stop) {
  const size_t bytes = size_t(count) * kSectorBytes;
  out.resize(bytes);
  std::vector<uint8_t> second(bytes);
  Outcome why = kOk;
  // The quick way: the whole block twice, equal.
  if (Read(lba, count, out.data(), stop, why) && Read(lba, count, second.data(), stop, why) && out == second)
    return kOk;
  if (why == kStopped) return why;
  // Otherwise sector by sector, so that the address of a bad one is known.
  for (int i = 0; i < count; ++i) {
    Outcome o = ReadSector(lba + uint32_t(i), out.data() + size_t(i) * kSectorBytes, stop);
    if (o != kOk) return o;
  }
  return kOk;
}
