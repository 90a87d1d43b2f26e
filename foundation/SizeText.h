#pragma once
// Sizes as people read them: bytes with a unit (KB, MB, GB; 1024-based, as
// file managers show them), with enough digits to tell sizes apart.

#include <cstdint>
#include <string>

std::string FormatSize(uint64_t bytes);
