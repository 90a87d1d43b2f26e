#pragma once
#include <string>

// The folder of the running program, always ending in "/". Read-only data
// (Lang/, Skin/, resources, help) is found there. VARNEX_PROGRAM_DIR names
// another folder (used by tests and by portable installs run from elsewhere).
std::string GetProgramDir();

// The folder the program writes its own files to (SoftSet.ini, showinfo/,
// update/, Record.log): the program folder when it is writable, otherwise
// $XDG_CONFIG_HOME/varnex/ (created on demand). Ends in "/".
std::string GetWritableDir();

// Trims blanks; false for an empty string, otherwise whether the path exists.
bool FileExists(const std::string& path);

std::string TrimBlanks(const std::string& text);
