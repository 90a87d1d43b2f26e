#pragma once
// Time on a CD and the binary-coded decimal its tables carry it in. Kept
// apart from the other value types so that sector code can have it alone.

#include <cstdint>
#include <string>

// Binary-coded decimal (0..99), as tables of contents, cue sheets and
// sector headers carry their numbers.
uint8_t ToBcd(int v);
int FromBcd(uint8_t b);
bool IsBcd(uint8_t b);

// CD time: 75 frames a second, and LBA 0 stands at 00:02:00.
constexpr int32_t kFramesPerSecond = 75;
constexpr int32_t kMsfOfLbaZero = 150;
struct Msf {
  int32_t M = 0, S = 0, F = 0;
};
Msf FramesToMsf(int64_t frames);  // below 0 counts as 0
int64_t MsfToFrames(int64_t m, int64_t s, int64_t f);
// "MM:SS:FF", as cue sheets and players show a time.
std::string MsfText(int64_t frames);
