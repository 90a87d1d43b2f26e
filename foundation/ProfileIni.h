#pragma once
// Private-profile INI files with the semantics the settings and language files
// rely on: sections and keys match case-insensitively, the first match wins,
// values come back through a 260-byte buffer (at most 259 bytes), and writing a
// key keeps every other line of the file as it stands.

#include <string>

namespace ini {

constexpr size_t kValueBuffer = 260;

// The value of `key` in `section`, or `fallback` when the file, the section or
// the key is missing. Surrounding blanks and one pair of matching quotes are
// removed. The result is cut to kValueBuffer - 1 bytes.
std::string GetString(const std::string& path, const std::string& section,
                      const std::string& key, const std::string& fallback);

// The decimal number at the start of the value (atoi), or `fallback`.
int GetInt(const std::string& path, const std::string& section, const std::string& key,
           int fallback);

// Sets `key` in `section`, creating the file, the section or the key as needed.
bool WriteString(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& value);

// Keys are decimal integers written with "%d", so negative keys occur.
std::string KeyOf(int id);

}  // namespace ini
