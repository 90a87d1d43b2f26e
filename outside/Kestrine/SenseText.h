#pragma once
// How the drive's answer to a failed command is named to users: one form for
// every message, log and test.

#include <cstdint>
#include <string>

// "3/0C/00": key, code and qualifier as users and drive manuals write them.
std::string SenseCodes(uint8_t key, uint8_t asc, uint8_t ascq);
// "sense 3/0C/00": how a failure names the drive's answer in messages.
inline std::string SenseText(uint8_t key, uint8_t asc, uint8_t ascq) { return "sense " + SenseCodes(key, asc, ascq); }
