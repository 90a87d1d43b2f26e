#pragma once
// Shared by the commands that stage files: a staging root that goes away with
// the command, and a listener that prints what was left out.

#include <cstdio>
#include <string>
#include <vector>

#include "authoring/CFileManager.h"
#include "authoring/ElTorito.h"
#include "cli/CliText.h"
#include "foundation/LangText.h"

// Checks a volume label given on the command line: control characters are
// refused (false, with the reason in `notice`); a label longer than the 32
// bytes of a volume identifier is cut at a character boundary, with a notice.
bool CheckVolumeLabel(std::string* label, std::string* notice);

class StagingRoot {
 public:
  StagingRoot();
  ~StagingRoot();
  StagingRoot(const StagingRoot&) = delete;
  StagingRoot& operator=(const StagingRoot&) = delete;
  const std::string& path() const { return path_; }
  bool ok() const { return !path_.empty(); }

 private:
  std::string path_;
};

class PrintingListener : public FileManagerListener {
 public:
  void Refused(const std::string& path, AddRefusal reason) override {
    std::fprintf(stderr, "varnex-cli: left out \"%s\": %s\n", ShownText(path).c_str(),
                 LoadLangText("Message", static_cast<int>(reason)).c_str());
    ++refused;
  }
  void Renamed(const std::string& path, const std::string& discName, AddRenaming reason) override {
    std::fprintf(stderr, "varnex-cli: \"%s\" goes onto the disc as \"%s\": %s\n", ShownText(path).c_str(),
                 ShownText(discName).c_str(), LoadLangText("Message", static_cast<int>(reason)).c_str());
  }
  int refused = 0;
};

// Stages the paths at the root of the project (every path kept: folders of
// one name merged, files of one name numbered) or loads the project file,
// then checks every source and a label taken from the project. Returns 1,
// or a failure code after printing what failed.
int StageProject(CFileManager* manager, const std::string& root, const std::string& projectFile,
                 const std::vector<std::string>& paths, std::string* label);

// The disc options of a project after the command line's "--no-rock" and
// "--rock-normalised" (`current` holds what the project file kept).
uint8_t CliDiscOptions(bool noRock, bool normalised, uint8_t current);

class CliOptions;

// The options that make a data disc bootable, for the commands that take them.
inline const std::vector<std::string> kBootValueOptions = {"--boot", "--boot-load-size", "--efi", "--hybrid"};
// Reads them and checks the files before anything is written; 0, or the exit
// status after a message.
int CliBootOptions(const CliOptions& opt, bool udfOnly, bool appended, eltorito::BootOptions* boot);
// Without boot options on the command line, those a loaded project file
// keeps, checked the same way; 0, or the exit status after a message.
int CliProjectBoot(const CFileManager& manager, bool udfOnly, bool appended, eltorito::BootOptions* boot);
