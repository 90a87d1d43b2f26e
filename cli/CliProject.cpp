#include "cli/CliProject.h"

#include "BurnCtrl/Results.h"
#include "app/ProgramDir.h"
#include "authoring/StagingFolder.h"
#include "authoring/TempFiles.h"
#include "cli/CliCommand.h"

StagingRoot::StagingRoot() : path_(MakeStagingRoot()) {}
StagingRoot::~StagingRoot() { RemoveTree(path_); }

int StageProject(CFileManager* manager, const std::string& root, const std::string& projectFile,
                 const std::vector<std::string>& paths, std::string* label) {
  manager->SetStagingRoot(root);
  if (!projectFile.empty()) {
    std::string error, projectLabel;
    if (!manager->LoadDataProject(nullptr, projectFile, &projectLabel, &error))
      return CliFail(result::kProjectUnreadable, error), result::kProjectUnreadable;
    if (label && label->empty()) *label = projectLabel;
    return result::kSuccess;
  }
  for (const std::string& p : paths) {
    if (!FileExists(p)) return CliFail(result::kSourceMissing, p), result::kSourceMissing;
    manager->AddPath(nullptr, nullptr, p, root);
  }
  return result::kSuccess;
}
