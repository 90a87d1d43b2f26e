#pragma once
// Names on disc in 16-bit characters (Joliet, UDF). Characters of the basic
// plane map one to one; others become surrogate pairs.

#include <cstdint>
#include <string>

// False when `utf8` is not valid UTF-8 (such a name cannot be converted).
bool Utf8ToUtf16(const std::string& utf8, std::u16string* out);
std::string Utf16ToUtf8(const std::u16string& text);

// Big-endian bytes of 16-bit characters.
std::string Utf16ToBigEndianBytes(const std::u16string& text);
std::u16string BigEndianBytesToUtf16(const uint8_t* p, size_t byteCount);
