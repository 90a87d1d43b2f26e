#include "authoring/SourceCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "authoring/FileList.h"
#include "authoring/StagingFolder.h"

std::string SourceFileProblem(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0)
    return errno == ENOENT || errno == ENOTDIR || path.empty() ? "does not exist" : std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "is a folder, not a file";
  if (!S_ISREG(st.st_mode)) return "is a device, pipe or socket, not a plain file";
  // O_NONBLOCK: should the file have turned into a pipe since the stat, the
  // open does not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::string("cannot be read: ") + std::strerror(errno);
  const bool plain = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  return plain ? "" : "is not a plain file";
}

namespace {

void CheckFolder(const std::string& folder, std::vector<SourceProblem>* problems) {
  for (const StagingEntry& entry : EnumerateStagingFolder(folder)) {
    const std::string path = folder + "/" + entry.name;
    if (entry.kind == StagingEntry::kFolder) {
      CheckFolder(path, problems);
      continue;
    }
    FileListReader reader(path);
    FileListEntry e;
    while (reader.Next(&e)) {
      if (e.IsImported()) continue;
      std::string why = SourceFileProblem(e.sourcePath);
      if (!why.empty()) problems->push_back({e.sourcePath, why});
    }
  }
}

}  // namespace

std::vector<SourceProblem> CheckStagedSources(const std::string& stagingRoot) {
  std::vector<SourceProblem> problems;
  CheckFolder(StripTrailing(stagingRoot), &problems);
  return problems;
}

std::vector<SourceProblem> CheckSourceFiles(const std::vector<std::string>& paths) {
  std::vector<SourceProblem> problems;
  for (const std::string& p : paths) {
    std::string why = SourceFileProblem(p);
    if (!why.empty()) problems.push_back({p, why});
  }
  return problems;
}
