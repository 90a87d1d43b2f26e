#pragma once
// The sources of a project, checked before anything is written: a
// write-once disc is spent by a burn that finds a file gone, turned into a
// folder, a pipe or a device, or unreadable. The command line and the
// windows ask the same question here.

#include <string>
#include <vector>

struct SourceProblem {
  std::string path;    // the source as the project names it
  std::string reason;  // "does not exist", "is a folder, not a file", ...
};

// Whether `path` is a plain file that can be opened for reading (links
// followed); "" when it is, else why not. Never waits on a pipe.
std::string SourceFileProblem(const std::string& path);

// Every source file named below a staging root (entries imported from a
// disc are on the disc already and are not checked).
std::vector<SourceProblem> CheckStagedSources(const std::string& stagingRoot);

// Each of `paths` as a source file (the rows of an audio project).
std::vector<SourceProblem> CheckSourceFiles(const std::vector<std::string>& paths);
