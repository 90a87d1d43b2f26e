#include "app/SystemSettings.h"

#include <cstdlib>

#include "app/ProfileIni.h"

std::string SystemSettingsPath() {
  if (const char* over = std::getenv("VARNEX_SYSTEM_CONF"); over && *over) return over;
  return "/etc/varnex/varnex.conf";
}

std::string ReadSystemSetting(const std::string& name, const std::string& fallback) {
  return ini::GetString(SystemSettingsPath(), "Varnex", name, fallback);
}
