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

#define VARNEX_TEXT_OF(x) #x
#define VARNEX_TEXT(x) VARNEX_TEXT_OF(x)

// Every program carries its version in its file behind this mark, so that the
// updater can compare an installed program with the update list without
// running it (FileVersionOf).
[[gnu::used]] static const char kFileVersionMark[] =
    "VARNEX-FILEVERSION:" VARNEX_TEXT(VARNEX_VERSION_MAJOR) ", " VARNEX_TEXT(VARNEX_VERSION_MINOR) ", " VARNEX_TEXT(
        VARNEX_VERSION_PATCH) ", 0";

std::string CompiledFileVersion() { return kFileVersionMark + sizeof("VARNEX-FILEVERSION:") - 1; }

std::string VersionLabel() {
  return LoadLangText("UIText", 102) + " " + VersionFromFileVersion(CompiledFileVersion());
}
