#pragma once
// When a process started, as the kernel counts it (clock ticks since boot,
// field 22 of /proc/PID/stat), or "" when there is no such process. With the
// process id it names one run of a program, so that a recycled process id is
// not taken for the owner of something an earlier run left.

#include <sys/types.h>

#include <fstream>
#include <sstream>
#include <string>

inline std::string ProcessStartTime(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return {};
  size_t close = line.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  // Fields after the command name start with the state (field 3).
  for (int i = 3; i <= 22 && (fields >> field); ++i)
    if (i == 22) return field;
  return {};
}
