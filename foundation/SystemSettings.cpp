#include "foundation/SystemSettings.h"

#include <cstdlib>

#include "foundation/ProfileIni.h"

std::string SystemSettingsPath() {
  if (const char* over = std::getenv("VARNEX_SYSTEM_CONF"); over && *over) return over;
  return "/etc/varnex/varnex.conf";
}

std::string ReadSystemSetting(const std::string& name, const std::string& fallback) {
  return ini::GetString(SystemSettingsPath(), "Varnex", name, fallback);
}

std::string WriteToFileTarget() {
  if (ReadSystemSetting("WriteType", "0") != "1") return "";
  return ReadSystemSetting("TempFile", "");
}
