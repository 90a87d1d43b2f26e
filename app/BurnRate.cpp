#include "app/BurnRate.h"

#include <cmath>

#include "app/RecorderService.h"

double UnitSpeed(int type) {
  if (medium::IsCd(type)) return 150.0 * 1024;
  if (medium::IsBd(type)) return 4.5e6;
  return 1385.0 * 1000;
}

void BurnRate::Add(int64_t ms, uint64_t bytesWritten) {
  if (!readings_.empty() && (bytesWritten < readings_.back().second || ms < readings_.back().first))
    readings_.clear();
  readings_.emplace_back(ms, bytesWritten);
  // Keep one reading at or before the window's start, so the span covers it.
  while (readings_.size() > 2 && readings_[1].first <= ms - kWindowMs) readings_.pop_front();
}

double BurnRate::BytesPerSecond() const {
  if (readings_.size() < 2) return 0;
  const auto& first = readings_.front();
  const auto& last = readings_.back();
  if (last.first <= first.first) return 0;
  return double(last.second - first.second) * 1000.0 / double(last.first - first.first);
}

int64_t BurnRate::SecondsLeft(uint64_t total) const {
  if (readings_.empty() || readings_.back().second == 0) return -1;
  const uint64_t written = readings_.back().second;
  if (written >= total) return 0;
  const double speed = BytesPerSecond();
  if (speed <= 0) return -1;
  return int64_t(std::ceil(double(total - written) / speed));
}
