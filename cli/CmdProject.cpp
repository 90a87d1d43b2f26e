// varnex-cli project: saves files and folders as a project file, and shows
// what a project file holds.

#include <cstdio>

#include "BurnCtrl/Results.h"
#include "jobs/CVideoDiscProject.h"
#include "authoring/FileList.h"
#include "authoring/ProjectFile.h"
#include "authoring/StagingFolder.h"
#include "cli/CliCommand.h"
#include "cli/CliProject.h"


namespace {

const char* KindName(int kind) {
  switch (kind) {
    case project::kAudioCD: return "audio CD";
    case project::kDataDisc: return "data disc";
    case project::kMp3Disc: return "MP3 disc";
    case project::kVideoCD: return "Video CD";
    case project::kSuperVideoCD: return "Super Video CD";
    case project::kDvdVideo: return "DVD-Video";
    default: return "unknown";
  }
}

// Prints the disc tree below a staging folder: folders as "\a\b\", files as
// "\a\b\name  <-  source".
void PrintTree(const std::string& folder, const std::string& discPath) {
  for (const StagingEntry& entry : EnumerateStagingFolder(folder)) {
    std::string path = folder + "/" + entry.name;
    if (entry.kind == StagingEntry::kFolder) {
      std::printf("%s%s\\\n", ShownText(discPath).c_str(), ShownText(entry.name).c_str());
      PrintTree(path, discPath + entry.name + "\\");
      continue;
    }
    FileListReader reader(path);
    FileListEntry e;
    while (reader.Next(&e))
      std::printf("%s%s  <-  %s\n", ShownText(discPath).c_str(), ShownText(e.discName).c_str(),
                  ShownText(e.sourcePath).c_str());
  }
}

int Save(const CliArgs& args) {
  CliOptions opt(args, {"-o", "--label"}, {"--mp3", "--replace"});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  std::string out = opt.Value("-o");
  if (out.empty() || opt.Operands().empty())
    return CliFail(result::kBadArguments, "usage: project save -o FILE.bcd [--replace] [--mp3] [--label LABEL] PATH...");
  if (int st = CliOutputRefused(out, CliExisting(opt))) return st;
  StagingRoot root;
  CFileManager manager;
  PrintingListener listener;
  manager.SetListener(&listener);
  manager.SetMode(opt.Has("--mp3") ? CFileManager::kModeMp3 : CFileManager::kModeData);
  if (StageProject(&manager, root.path(), "", opt.Operands(), nullptr) != result::kSuccess) return 1;
  std::string error;
  std::string label = opt.Value("--label", "DataCD"), notice;
  if (!CheckVolumeLabel(&label, &notice)) return CliFail(result::kBadArguments, notice);
  if (!notice.empty()) std::fprintf(stderr, "varnex-cli: %s\n", notice.c_str());
  if (!manager.SaveDataProject(root.path(), out, label, &error, CliExisting(opt)))
    return CliFail(result::kProjectNotWritten, error);
  return listener.refused ? CliFail(result::kFilesLeftOut, "the project was saved without them") : 0;
}

int Show(const CliArgs& args) {
  if (args.size() != 1) return CliFail(result::kBadArguments, "usage: project show FILE.bcd");
  const std::string& file = args[0];
  int kind = ReadProjectKind(file);
  if (kind == 0) return CliFail(result::kProjectUnreadable, file);
  std::printf("kind: %s (%d)\n", KindName(kind), kind);
  if (kind == project::kAudioCD) {
    std::vector<std::string> rows;
    std::string error;
    if (!LoadAudioProject(file, &rows, &error)) return CliFail(result::kProjectUnreadable, error);
    for (size_t i = 0; i < rows.size(); ++i) std::printf("track %zu: %s\n", i + 1, ShownText(rows[i]).c_str());
    return 0;
  }
  if (kind == project::kVideoCD || kind == project::kSuperVideoCD || kind == project::kDvdVideo) {
    int videoKind = 0;
    std::string label, error;
    std::vector<std::string> items;
    if (!CVideoDiscProject::ReadVideoProject(file, &videoKind, &label, &items, &error))
      return CliFail(result::kProjectUnreadable, error);
    std::printf("label: %s\n", ShownText(label).c_str());
    for (size_t i = 0; i < items.size(); ++i) std::printf("video %zu: %s\n", i + 1, ShownText(items[i]).c_str());
    return 0;
  }
  if (kind != project::kDataDisc && kind != project::kMp3Disc) return 0;
  StagingRoot root;
  CFileManager manager;
  PrintingListener listener;
  manager.SetListener(&listener);
  manager.SetStagingRoot(root.path());
  std::string label, error;
  bool loaded = manager.LoadDataProject(nullptr, file, &label, &error);
  std::printf("label: %s\n", ShownText(label).c_str());
  std::printf("\\\n");
  PrintTree(root.path(), "\\");
  if (!loaded) return CliFail(result::kProjectUnreadable, error);
  return listener.refused ? CliFail(result::kProjectUnreadable, "some records could not be used") : 0;
}

int RunProject(const CliArgs& args) {
  if (!args.empty() && args[0] == "save") return Save(CliArgs(args.begin() + 1, args.end()));
  if (!args.empty() && args[0] == "show") return Show(CliArgs(args.begin() + 1, args.end()));
  return CliFail(result::kBadArguments, "usage: project (save|show) ...");
}

CliCommand reg{"project", "project save -o FILE.bcd [--replace] [--mp3] [--label LABEL] PATH... | project show FILE.bcd",
               &RunProject};

}  // namespace
