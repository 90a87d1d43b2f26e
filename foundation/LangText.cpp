#include "foundation/LangText.h"

#include <fstream>
#include <sstream>

#include "OutputFile.h"
#include "foundation/ProfileIni.h"
#include "foundation/ProgramDir.h"

namespace {

std::string LangIniPath() { return GetProgramDir() + "Lang/lang.ini"; }

std::string LanguageKey(const std::string& prefix) {
  std::string sel = ini::GetString(SettingsFilePath(), "Language Set", "langsel", "1");
  return prefix + sel;
}

// Copies `from` to `to` through the output file, so that a run that stops
// half way leaves no settings file at all; when another run seeded it first,
// its copy stays.
void SeedSettings(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return;
  OutputFile out;
  if (out.Open(to, Existing::kKeep, 0600) && out.Write(text.str())) out.Commit();
}

}  // namespace

std::string SettingsFilePath() {
  // Settings are read and written in the writable folder only. A settings
  // file beside the program (shipped defaults, or one an earlier version
  // wrote into a build tree, with its registered recorders) seeds the user's
  // own copy once; the program folder itself is never written.
  const std::string own = GetWritableDir() + "SoftSet.ini";
  const std::string beside = GetProgramDir() + "SoftSet.ini";
  if (own != beside && !FileExists(own) && FileExists(beside)) SeedSettings(beside, own);
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
