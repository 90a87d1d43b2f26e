#pragma once
// Seconds since the process began, as the kernel counts it (in clock ticks of
// 10 ms): what the user waited since starting the program. The start report
// of the program and the window benchmarks read the same clock.

#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

inline double SecondsSinceProcessStart() {
  std::ifstream stat("/proc/self/stat");
  std::string line;
  std::getline(stat, line);
  // The fields after the command's name in brackets (which may hold spaces);
  // the start time is the 22nd field of the line.
  const size_t close = line.rfind(')');
  if (close == std::string::npos || close + 2 > line.size()) return -1;
  std::istringstream rest(line.substr(close + 2));
  std::string field;
  for (int i = 3; i <= 22 && rest >> field; ++i) {
  }
  if (field.empty()) return -1;
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9 - std::stod(field) / double(sysconf(_SC_CLK_TCK));
}
