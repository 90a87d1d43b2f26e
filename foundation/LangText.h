#pragma once
// Visible texts, looked up by section and decimal key in the language file
// chosen by SoftSet.ini [Language Set] "langsel" and Lang/lang.ini. Nothing
// is cached: a changed settings file takes effect for the next lookup.

#include <string>

std::string SettingsFilePath();  // SoftSet.ini in GetWritableDir()
std::string GetLanguageFile();
std::string GetLanguageFont();
std::string GetLanguageSubdir();  // "<language>/" or empty
std::string LoadLangText(const std::string& section, int id);
// The "Error" key whose text leads the number of a code that has no text of
// its own; it names no result.
constexpr int kErrorPrefixKey = -10000;
std::string LoadErrorText(int code);
