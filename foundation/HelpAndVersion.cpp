#include "foundation/HelpAndVersion.h"

#include "foundation/LangText.h"
#include "foundation/ProgramDir.h"

std::string ChooseHelpFile() {
  std::string folder = GetProgramDir() + "lang/";
  std::string own = folder + "Varnex-" + GetLanguageFile() + ".html";
  if (FileExists(own)) return own;
  return folder + "Varnex-en.html";
}

std::string VersionFromFileVersion(const std::string& fileVersion) {
  std::string v;
  for (char c : fileVersion) {
    if (c == ' ') continue;
    v += (c == ',') ? '.' : c;
  }
  size_t cut = v.find(".0");
  return cut == std::string::npos ? std::string() : v.substr(0, cut);
}

std::string CompiledFileVersion() {
  return std::to_string(VARNEX_VERSION_MAJOR) + ", " + std::to_string(VARNEX_VERSION_MINOR) + ", " +
         std::to_string(VARNEX_VERSION_PATCH) + ", 0";
}

std::string VersionLabel() {
  return LoadLangText("UIText", 102) + " " + VersionFromFileVersion(CompiledFileVersion());
}
