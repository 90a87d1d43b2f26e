// Project files, file.ls lists and imported-entry descriptors come from disk
// and from discs: none of them may crash, hang or write outside the project.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "authoring/CFileManager.h"
#include "authoring/FileList.h"
#include "authoring/ImportedEntry.h"
#include "authoring/StagingFolder.h"
#include "foundation/TempFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  ImportedEntry entry;
  if (ParseImportedEntry(text, &entry)) {
    ImportedEntry again;
    if (!ParseImportedEntry(FormatImportedEntry(entry), &again)) __builtin_trap();
  }

  static const std::string root = MakeStagingRoot();
  static const std::string file = MakeTempFile("bcd");
  FILE* f = std::fopen(file.c_str(), "wb");
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  CFileManager manager;
  manager.SetStagingRoot(root);
  manager.LoadDataProject(nullptr, file);
  std::string list = root + "/file.ls";
  f = std::fopen(list.c_str(), "wb");
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  std::vector<FileListEntry> entries;
  ReadFileList(root, &entries);
  RemoveTree(root);
  mkdir(root.c_str(), 0700);
  return 0;
}
