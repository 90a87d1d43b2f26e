#pragma once
// The drives the user registered beside the local ones: virtual recorders
// ("virtual:/path/name.vdisc") and remote drives ("iscsi://..."). They are
// kept in the settings file, section "Virtual", as "Count" and "Drive1" ...
// "DriveN", and appear in the device list of every window.

#include <string>
#include <vector>

std::vector<std::string> LoadRegisteredDrives();
// Adds a drive (a virtual recorder path is made absolute); false with a
// reason when it cannot be kept (too long for a setting, settings unwritable).
bool RegisterDrive(const std::string& drive, std::string* error);
// Removes a drive; false when it was not registered.
bool UnregisterDrive(const std::string& drive, std::string* error);
// Makes the device list take the registered drives.
void InstallRegisteredDrives();
// "virtual:FILE" with FILE made absolute; other forms as given.
std::string NormalizeDriveName(const std::string& drive);
