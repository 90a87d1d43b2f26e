#include "foundation/Skin.h"

#include <cstdlib>
#include <fstream>

#include "foundation/ProgramDir.h"

uint32_t ReadSkinColour(const std::string& rgbTxtPath) {
  std::ifstream in(rgbTxtPath);
  if (!in) return kDefaultSkinColour;
  int parts[3];
  std::string line;
  for (int i = 0; i < 3; ++i) {
    if (!std::getline(in, line)) return kDefaultSkinColour;
    parts[i] = std::atoi(line.c_str()) & 0xFF;
  }
  return uint32_t(parts[0]) | (uint32_t(parts[1]) << 8) | (uint32_t(parts[2]) << 16);
}

uint32_t ReadSkinColour() { return ReadSkinColour(GetProgramDir() + "Skin/RGB.txt"); }
