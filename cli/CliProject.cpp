#include "cli/CliProject.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "BurnCtrl/Results.h"
#include "foundation/ProgramDir.h"
#include "authoring/ProjectFile.h"
#include "authoring/SourceCheck.h"
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

namespace {

// Every source is checked before a disc, an image or a project is begun: a
// burn would otherwise spend a write-once disc without the file.
int CheckSources(const std::string& root) {
  const std::vector<SourceProblem> problems = CheckStagedSources(root);
  for (const SourceProblem& p : problems)
    std::fprintf(stderr, "varnex-cli: \"%s\" %s\n", ShownText(p.path).c_str(), p.reason.c_str());
  if (problems.empty()) return result::kSuccess;
  CliFail(result::kSourceNotUsable, std::to_string(problems.size()) + (problems.size() == 1 ? " file" : " files"));
  return result::kSourceNotUsable;
}

}  // namespace

int StageProject(CFileManager* manager, const std::string& root, const std::string& projectFile,
                 const std::vector<std::string>& paths, std::string* label) {
  manager->SetStagingRoot(root);
  if (!projectFile.empty()) {
    std::string error, projectLabel;
    if (!manager->LoadDataProject(nullptr, projectFile, &projectLabel, &error))
      return CliFail(result::kProjectUnreadable, ShownText(error)), result::kProjectUnreadable;
    if (label && label->empty()) {
      // A project's label gets the command line's check.
      std::string notice;
      if (!CheckVolumeLabel(&projectLabel, &notice))
        return CliFail(result::kBadArguments, projectFile + ": " + notice), result::kBadArguments;
      if (!notice.empty()) std::fprintf(stderr, "varnex-cli: %s\n", ShownText(notice).c_str());
      *label = projectLabel;
    }
    return CheckSources(root);
  }
  manager->SetKeepEveryPath(true);
  for (const std::string& p : paths) {
    if (!FileExists(p)) return CliFail(result::kSourceMissing, ShownText(p)), result::kSourceMissing;
    // Projects keep where their files are, whatever folder they are opened from.
    std::string full = std::filesystem::absolute(p).lexically_normal().string();
    while (full.size() > 1 && full.back() == '/') full.pop_back();
    manager->AddPath(nullptr, nullptr, full, root);
  }
  return CheckSources(root);
}

int CliBootOptions(const CliOptions& opt, bool udfOnly, bool appended, eltorito::BootOptions* boot) {
  boot->biosImage = opt.Value("--boot");
  boot->efiImage = opt.Value("--efi");
  boot->mbrTemplate = opt.Value("--hybrid");
  if (opt.Has("--boot-load-size")) {
    const std::string text = opt.Value("--boot-load-size");
    char* end = nullptr;
    const unsigned long n = text.empty() || text[0] == '-' ? 0 : std::strtoul(text.c_str(), &end, 10);
    if (n == 0 || n > 0xFFFF || !end || *end)
      return CliFail(result::kBadArguments, "--boot-load-size needs a count of 512-byte sectors from 1 to 65535");
    boot->loadSectors = uint16_t(n);
  }
  std::string why;
  if (!eltorito::CheckBootOptions(*boot, udfOnly, appended, &why)) return CliFail(result::kBadArguments, why);
  return 0;
}

int CliProjectBoot(const CFileManager& manager, bool udfOnly, bool appended, eltorito::BootOptions* boot) {
  if (boot->Any() || !manager.Boot().Any()) return 0;
  *boot = manager.Boot();
  std::string why;
  if (!eltorito::CheckBootOptions(*boot, udfOnly, appended, &why))
    return CliFail(result::kBadArguments, "the project's boot images: " + why);
  return 0;
}

uint8_t CliDiscOptions(bool noRock, bool normalised, uint8_t current) {
  if (noRock) current |= project::kNoRockRidge;
  if (normalised) current |= project::kRockNormalised;
  return current;
}
