#include "app/SpeedList.h"

#include <algorithm>

#include "app/RecorderService.h"
#include "BurnCtrl/Results.h"

int UnitSpeedOf(RecorderService& service, uint8_t drive) {
  if (service.TestUnitReady(drive) != 0) return kCdUnitSpeed;
  DiscInfo info;
  if (service.GetDiscInfoEx(drive, &info) != result::kSuccess) return kCdUnitSpeed;
  return medium::IsCd(info.mediumType) ? kCdUnitSpeed : kDvdUnitSpeed;
}

std::vector<int> WriteSpeedFactors(RecorderService& service, uint8_t drive, int* unitOut) {
  const int unit = UnitSpeedOf(service, drive);
  if (unitOut) *unitOut = unit;
  std::vector<int> speeds;
  int current = 0;
  if (!service.ReadWriteSpeeds(drive, &speeds, &current)) return {};
  std::vector<int> factors;
  auto add = [&](int factor) {
    if (factor > 0 && std::find(factors.begin(), factors.end(), factor) == factors.end()) factors.push_back(factor);
  };
  for (int speed : speeds) {
    int factor = speed / unit;
    if (factor < 101 && factor % 2 == 0) add(factor);
  }
  if (factors.empty()) {
    for (int candidate : {4, 8, 12, 16, 20, 32, 40, 48}) {
      service.SetWriteSpeed(drive, candidate * unit);
      if (!service.ReadWriteSpeeds(drive, &speeds, &current)) break;
      add(current / unit);
    }
  }
  if (factors.empty()) factors = unit == kCdUnitSpeed ? std::vector<int>{4, 8, 12} : std::vector<int>{1};
  std::sort(factors.begin(), factors.end());
  return factors;
}
