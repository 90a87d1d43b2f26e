#include "foundation/LangText.h"

#include "foundation/ProfileIni.h"
#include "foundation/ProgramDir.h"

namespace {

std::string LangIniPath() { return GetProgramDir() + "Lang/lang.ini"; }

std::string LanguageKey(const std::string& prefix) {
  std::string sel = ini::GetString(SettingsFilePath(), "Language Set", "langsel", "1");
  return prefix + sel;
}

}  // namespace

std::string SettingsFilePath() {
  // A portable install keeps its settings beside the program; otherwise the
  // user's own copy, seeded from the one shipped beside the program.
  std::string own = GetWritableDir() + "SoftSet.ini";
  if (!FileExists(own) && FileExists(GetProgramDir() + "SoftSet.ini"))
    return GetProgramDir() + "SoftSet.ini";
  return own;
}

std::string GetLanguageFile() {
  return ini::GetString(LangIniPath(), "Language", LanguageKey("LanFile"), "");
}

std::string GetLanguageFont() {
  return ini::GetString(LangIniPath(), "Language", LanguageKey("Font"), "");
}

std::string GetLanguageSubdir() {
  std::string lang = GetLanguageFile();
  return lang.empty() ? std::string() : lang + "/";
}

std::string LoadLangText(const std::string& section, int id) {
  std::string lang = GetLanguageFile();
  if (lang.empty()) return {};
  return ini::GetString(GetProgramDir() + "Lang/" + lang + ".ini", section, ini::KeyOf(id), "");
}

std::string LoadErrorText(int code) {
  std::string text = LoadLangText("Error", code);
  if (!text.empty()) return text;
  return LoadLangText("Error", kErrorPrefixKey) + std::to_string(code);
}
