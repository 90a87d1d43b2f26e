#include "analysis/DevInfo.h"

namespace {

constexpr uint16_t kFeatureDvdPlusRw = 0x002A;
constexpr uint16_t kFeatureDvdRWrite = 0x002F;
constexpr uint16_t kFeatureBdRead = 0x0040;
constexpr uint16_t kFeatureBdRWriteSrm = 0x0041;
constexpr uint16_t kFeatureBdRWriteRrm = 0x0042;
constexpr uint16_t kFeatureBdReWrite = 0x0043;
constexpr int kCapabilitiesPage = 0x2A;
constexpr int kPageBytes = 26;

}  // namespace

std::vector<DevInfoRow> DeviceInfoRows(const uint8_t* page, size_t pageSize, const uint8_t* config, size_t configSize) {
  std::vector<DevInfoRow> rows;
  if (!page || pageSize < 6) return rows;
  const bool f2a = config && HasFeature(config, configSize, kFeatureDvdPlusRw);
  const bool f2f = config && HasFeature(config, configSize, kFeatureDvdRWrite);
  // Blu-ray is known from the feature list only; the capabilities page
  // predates it.
  auto feature = [&](uint16_t code) { return config && HasFeature(config, configSize, code); };
  const bool bdRead = feature(kFeatureBdRead);
  const bool bdRWrite = feature(kFeatureBdRWriteSrm) || feature(kFeatureBdRWriteRrm);
  const bool bdReWrite = feature(kFeatureBdReWrite);
  auto bit = [&](int byte, int b) { return (page[byte] >> b) & 1; };
  auto row = [&](int yes, int key) {
    DevInfoRow r;
    r.support = yes ? DevInfoRow::kYes : DevInfoRow::kNo;
    r.nameKey = key;
    rows.push_back(r);
  };
  auto heading = [&](int key) {
    DevInfoRow r;
    r.nameKey = key;
    rows.push_back(r);
  };
  heading(29);
  row(bit(5, 4), 32);
  row(bit(5, 1), 33);
  row(bit(5, 0), 34);
  row(bit(5, 5), 35);
  row(bit(4, 4), 36);
  row(bit(4, 5), 37);
  row(bit(5, 3), 38);
  row(bit(5, 2), 39);
  row(bit(5, 6), 40);
  heading(0);
  heading(41);
  row(bit(2, 0), 42);
  row(bit(2, 1), 43);
  row(f2a, 44);
  row(f2a, 45);
  row(bit(2, 4), 46);
  row(f2f, 47);
  row(bit(2, 5), 48);
  row(bit(2, 3), 49);
  heading(0);
  heading(50);
  row(bit(3, 0), 51);
  row(bit(3, 1), 52);
  row(f2a, 53);
  row(f2a, 54);
  row(bit(3, 4), 55);
  row(f2f, 56);
  row(bit(3, 5), 57);
  // Blu-ray after the rows of old, which keep their places.
  heading(0);
  heading(99);
  row(bdRead, 93);
  row(bdRead, 94);
  row(bdRead, 96);
  row(bdRWrite, 97);
  row(bdReWrite, 98);
  return rows;
}

bool ReadDeviceInfo(CDevCmdROM& drive, std::vector<DevInfoRow>* rows) {
  rows->clear();
  std::vector<uint8_t> config(2048);
  size_t configSize = drive.GetConfig(config.data(), int(config.size())) == DEV_OK ? config.size() : 0;
  uint8_t page[kPageBytes] = {kCapabilitiesPage};
  uint8_t sense[4] = {};
  if (drive.GetParamPage(page, kPageBytes, drive.GetDeviceID(), sense, kCapabilitiesPage) != DEV_OK) return false;
  *rows = DeviceInfoRows(page, kPageBytes, configSize ? config.data() : nullptr, configSize);
  return !rows->empty();
}
