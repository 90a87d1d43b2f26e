#pragma once
// The write speeds offered for a recorder, as multiples of the medium's unit
// speed (176 kB/s for CD media, 1385 kB/s otherwise), in ascending order.

#include <cstdint>
#include <vector>

class RecorderService;

constexpr int kCdUnitSpeed = 176;
constexpr int kDvdUnitSpeed = 1385;

// The unit speed of the disc in the drive: the DVD unit when the drive is
// ready and holds neither a CD-R nor a CD-RW.
int UnitSpeedOf(RecorderService& service, uint8_t drive);

// The even factors below 101 that the drive reports; when it reports none,
// the factors it takes when asked for 4X to 48X; when still none, 4X, 8X and
// 12X for CD and 1X for DVD. Empty when the capabilities cannot be read.
std::vector<int> WriteSpeedFactors(RecorderService& service, uint8_t drive, int* unit);
