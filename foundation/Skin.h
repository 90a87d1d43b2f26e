#pragma once
#include <cstdint>
#include <string>

// Colours are held as 0x00BBGGRR (red in the low byte).
constexpr uint32_t kDefaultSkinColour = 0x00AFA19D;  // RGB(157,161,175)

// Reads red, green and blue from the first three lines of RGB.txt (atoi, masked
// to 8 bits). A missing file or one of fewer than three lines gives the default.
uint32_t ReadSkinColour(const std::string& rgbTxtPath);
uint32_t ReadSkinColour();  // Skin/RGB.txt beside the program
