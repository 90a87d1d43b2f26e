// Drive answers: a drive that answers every command with the fuzzer's bytes,
// queried through the whole command layer, and the response parsers alone.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "CDevCmdRW.h"

namespace {

class FuzzDrive : public ScsiTransport {
 public:
  FuzzDrive(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Execute(ScsiCommand& c) override {
    // The first byte of each answer decides its fate, the rest is its data.
    if (pos_ >= size_) return c.status = 0, true;
    uint8_t how = data_[pos_++];
    if ((how & 7) == 0) {
      c.srbStatus = SRB_TIMEOUT;
      return false;
    }
    if ((how & 7) == 1) {
      c.SetSense(data_[pos_ % size_], how, uint8_t(pos_));
      return true;
    }
    size_t n = std::min<size_t>({size_t(how) * 16, size_ - pos_, c.dataLength});
    if (c.direction == ScsiCommand::kIn && c.data) std::memcpy(c.data, data_ + pos_, n), c.transferred = uint32_t(n);
    pos_ += n;
    c.status = 0;
    return true;
  }
  std::string Path() const override { return "fuzz"; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    DISC_INFO di;
    di.Parse(data, size);
    TRACK_INFO ti;
    ti.Parse(data, size);
    INQUIRYDATA inq;
    inq.Parse(data, size);
    SessionInfo si;
    ParseFullToc(data, size, si);
    TocData toc;
    ParseFormattedToc(data, size, toc);
    auto text = std::make_unique<FS_CDTEXT_INFO>();
    ParseCdTextPacks(data, size, *text);
    HasFeature(data, size, 0x002F);
  }
  CDevCmdRW d(std::make_unique<FuzzDrive>(data, size), 3);
  d.GetMediumType();
  d.GetDevType();
  DISC_INFO di;
  d.ReadDiscInfo(di);
  TRACK_INFO ti;
  d.ReadTrackInfo(ti, 1);
  TocData toc;
  d.GetTocData(toc);
  SessionInfo si;
  d.GetSessionInfo(si);
  auto text = std::make_unique<FS_CDTEXT_INFO>();
  d.GetCDText(*text);
  d.JudgeFileSystem(0);
  std::vector<uint8_t> page(1024);
  if (d.ModeSense(page.data(), int(page.size()), 0x2A) == DEV_OK) {
    CAPABILITIES_PAGE caps;
    if (caps.Parse(page.data(), page.size())) (void)caps.WriteSpeedChoice(176);
  }
  uint8_t small[26];
  d.GetParamPage(small, sizeof small, 3, nullptr, 0x2A);
  uint8_t dvd[8];
  d.ReadDVDStruct(dvd, sizeof dvd, 0x20);
  uint32_t capacity = 0;
  d.JudgeIsFormated(capacity);
  d.GetBlackDiscCapacity(capacity);
  long nwa = 0;
  d.GetNextWriteAdd(nwa);
  WriteParam wp;
  d.SetWriteParam(wp);
  INQUIRYDATA inq;
  d.Inquiry(inq);
  return 0;
}
