// The MMC target behind the virtual recorder and the image-file device,
// given any sequence of command blocks and parameter data: a caller with
// bugs must get refusals, never a crash.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "MmcDiscTarget.h"

namespace {

class MemoryDisc : public MmcDiscTarget {
 public:
  explicit MemoryDisc(uint16_t profile) {
    model_.profile = profile;
    model_.capacity = medium::Capacity(profile) ? medium::Capacity(profile) : 1000;
    model_.formatted = profile == 18;
    if (profile == 18) model_.tracks = {DiscTrack{1, 1, 0, model_.capacity, model_.capacity, cdsector::Mode::Mode1, true, false}};
  }
  std::string Path() const override { return "memory"; }

 protected:
  int ReadStored(int32_t lba, uint8_t* buf) override {
    auto it = sectors_.find(lba);
    if (it == sectors_.end()) return 0;
    std::memcpy(buf, it->second.data(), it->second.size());
    return int(it->second.size());
  }
  bool WriteStored(int32_t lba, const uint8_t* buf, int size) override {
    if (sectors_.size() > 4096) return false;  // keep the fuzzer's memory small
    sectors_[lba].assign(buf, buf + size);
    return true;
  }
  const char* Product() const override { return "Memory"; }

 private:
  std::map<int32_t, std::vector<uint8_t>> sectors_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const uint16_t kProfiles[] = {9, 10, 17, 18, 20, 21, 26, 27, 43, 65, 67, 8};
  if (size < 1) return 0;
  MemoryDisc disc(kProfiles[data[0] % 12]);
  size_t pos = 1;
  std::vector<uint8_t> buffer;
  // Each command: 12 CDB bytes, a direction byte, a 16-bit length, then for
  // data-out commands that many bytes.
  while (pos + 15 <= size) {
    ScsiCommand c;
    std::memcpy(c.cdb, data + pos, 12);
    c.cdbLength = 12;
    uint8_t dir = data[pos + 12] % 3;
    uint32_t len = (uint32_t(data[pos + 13]) << 8 | data[pos + 14]) % 70000;
    pos += 15;
    buffer.assign(len, 0);
    if (dir == 2) {
      size_t n = std::min<size_t>(len, size - pos);
      if (n) std::memcpy(buffer.data(), data + pos, n);
      pos += n;
    }
    c.direction = dir == 0 ? ScsiCommand::kNone : dir == 1 ? ScsiCommand::kIn : ScsiCommand::kOut;
    c.data = len ? buffer.data() : nullptr;
    c.dataLength = len;
    disc.Execute(c);
    if (c.transferred > len) __builtin_trap();  // an answer must fit the buffer
  }
  return 0;
}
