#pragma once
#include <string>

// The help file of the current language in the program's "lang" folder, or the
// English one when that is missing.
std::string ChooseHelpFile();

// "4, 1, 9, 0" -> "4.1.9": commas become dots, blanks go, and the text before
// the first ".0" is kept (empty when ".0" does not occur).
std::string VersionFromFileVersion(const std::string& fileVersion);

// The version compiled into the program, in the "4, 1, 9, 0" form.
std::string CompiledFileVersion();

// UIText 102 followed by a blank and the version.
std::string VersionLabel();
