#pragma once
// The machine-wide settings ("path", "WriteType", "TempFile"): section
// [Varnex] of /etc/varnex/varnex.conf, or of the file VARNEX_SYSTEM_CONF names.
// Unreadable or missing: the given default.

#include <string>

std::string SystemSettingsPath();
std::string ReadSystemSetting(const std::string& name, const std::string& fallback = "");

// The file that write-to-file mode ("WriteType" 1) writes instead of the
// disc ("TempFile"); "" when the mode is off.
std::string WriteToFileTarget();
