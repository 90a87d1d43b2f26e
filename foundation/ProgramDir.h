#pragma once
#include <string>

// The folder of the program's read-only data (Lang/, Skin/, resources,
// help), always ending in "/": the folder of the running program when the
// data lies beside it (a build tree or a portable copy), otherwise
// "../share/varnex/" relative to it (an installed program). VARNEX_PROGRAM_DIR
// names another folder (used by tests and by portable copies run from
// elsewhere).
std::string GetProgramDir();

// The running program's own file ("/usr/bin/Varnex"), for file associations.
std::string GetProgramFile();

// Which of the two places holds the data, for a program in `exeFolder`.
std::string DataFolderFor(const std::string& exeFolder);

// The folder the program writes its own files to (SoftSet.ini, showinfo/,
// update/, Record.log, registered virtual recorders): $XDG_CONFIG_HOME/varnex/
// (~/.config/varnex/ by default, created on demand), also for a build tree;
// only a portable copy, marked by a file "portable" in its program folder,
// keeps them there. Ends in "/".
std::string GetWritableDir();

// Where a disc copy keeps its copy file unless the user names another:
// "Temp.bcl" in the work folder root (TempFiles.h: the candidate root with
// the most free bytes, the user's cache folder among them), or in the
// temporary folder when no root can be written. Never the program folder,
// which an installed program cannot write.
std::string DefaultCopyFile();

// Trims blanks; false for an empty string, otherwise whether the path exists.
bool FileExists(const std::string& path);

std::string TrimBlanks(const std::string& text);
