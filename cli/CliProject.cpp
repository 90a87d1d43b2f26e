#include "cli/CliProject.h"

#include <cstdint>
#include <filesystem>

#include "BurnCtrl/Results.h"
#include "foundation/ProgramDir.h"
#include "authoring/StagingFolder.h"
#include "foundation/TempFiles.h"
#include "cli/CliCommand.h"

bool CheckVolumeLabel(std::string* label, std::string* notice) {
  constexpr size_t kVolumeIdentifier = 32;
  notice->clear();
  for (unsigned char c : *label)
    if (c < 0x20 || c == 0x7F) {
      *notice = "the label holds a control character; a volume name cannot";
      return false;
    }
  if (label->size() > kVolumeIdentifier) {
    size_t cut = kVolumeIdentifier;
    while (cut > 0 && (uint8_t((*label)[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    *notice = "the label was cut to \"" + label->substr(0, cut) + "\": a volume name holds " +
              std::to_string(kVolumeIdentifier) + " bytes";
    label->resize(cut);
  }
  return true;
}

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
    // Projects keep where their files are, whatever folder they are opened from.
    std::string full = std::filesystem::absolute(p).lexically_normal().string();
    while (full.size() > 1 && full.back() == '/') full.pop_back();
    manager->AddPath(nullptr, nullptr, full, root);
  }
  return result::kSuccess;
}
