#include "BurnCtrl/interfaces/RegisteredDrives.h"

#include <algorithm>
#include <filesystem>

#include "DevDeque.h"
#include "foundation/LangText.h"
#include "foundation/ProfileIni.h"

namespace {
constexpr const char* kSection = "Virtual";

bool Save(const std::vector<std::string>& list, std::string* error) {
  std::string path = SettingsFilePath();
  int oldCount = ini::GetInt(path, kSection, "Count", 0);
  bool ok = ini::WriteString(path, kSection, "Count", std::to_string(list.size()));
  for (size_t i = 0; i < list.size() && ok; ++i)
    ok = ini::WriteString(path, kSection, "Drive" + std::to_string(i + 1), list[i]);
  for (int i = int(list.size()); i < oldCount && ok; ++i)
    ok = ini::WriteString(path, kSection, "Drive" + std::to_string(i + 1), "");
  if (!ok && error) *error = "cannot write the settings file " + path;
  return ok;
}
}  // namespace

std::string NormalizeDriveName(const std::string& drive) {
  if (drive.rfind("virtual:", 0) != 0) return drive;
  std::error_code ec;
  auto abs = std::filesystem::absolute(drive.substr(8), ec);
  return ec ? drive : "virtual:" + abs.lexically_normal().string();
}

std::vector<std::string> LoadRegisteredDrives() {
  std::string path = SettingsFilePath();
  int count = std::clamp(ini::GetInt(path, kSection, "Count", 0), 0, 1000);
  std::vector<std::string> list;
  for (int i = 1; i <= count; ++i) {
    std::string v = ini::GetString(path, kSection, "Drive" + std::to_string(i), "");
    if (!v.empty() && std::find(list.begin(), list.end(), v) == list.end()) list.push_back(v);
  }
  return list;
}

bool RegisterDrive(const std::string& drive, std::string* error) {
  std::string s = NormalizeDriveName(drive);
  if (s.size() >= ini::kValueBuffer) {
    if (error) *error = "the drive name is longer than a setting can hold (" + std::to_string(ini::kValueBuffer - 1) + " bytes): " + s;
    return false;
  }
  auto list = LoadRegisteredDrives();
  if (std::find(list.begin(), list.end(), s) != list.end()) return true;
  list.push_back(s);
  return Save(list, error);
}

bool UnregisterDrive(const std::string& drive, std::string* error) {
  std::string s = NormalizeDriveName(drive);
  auto list = LoadRegisteredDrives();
  auto it = std::find(list.begin(), list.end(), s);
  if (it == list.end()) {
    if (error) *error = s + " is not registered";
    return false;
  }
  list.erase(it);
  return Save(list, error);
}

void InstallRegisteredDrives() { DevDeque::SetRegisteredDriveSource(&LoadRegisteredDrives); }
