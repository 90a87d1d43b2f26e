#include "authoring/ProjectEdit.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "authoring/FileList.h"
#include "authoring/StagingFolder.h"

namespace fs = std::filesystem;

namespace {

std::string Folded(const std::string& s) {
  std::string out = s;
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return out;
}

// Every name used in a staging folder, folded.
std::vector<std::string> TakenNames(const std::string& folder) {
  std::vector<std::string> taken;
  for (const StagingEntry& e : EnumerateStagingFolder(folder))
    if (e.kind == StagingEntry::kFolder) taken.push_back(Folded(e.name));
  std::vector<FileListEntry> entries;
  ReadFileList(folder, &entries);
  for (const FileListEntry& e : entries) taken.push_back(Folded(e.discName));
  return taken;
}

bool IsStagingSubfolder(const std::string& folder, const std::string& name) {
  std::error_code ec;
  return fs::is_directory(fs::path(folder) / name, ec) && Folded(name) != Folded(filels::kFileName);
}

// True when `inner` is `outer` or lies below it.
bool IsWithin(const std::string& inner, const std::string& outer) {
  std::error_code ec;
  const fs::path a = fs::weakly_canonical(inner, ec);
  const fs::path b = fs::weakly_canonical(outer, ec);
  auto ai = a.begin();
  for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai)
    if (ai == a.end() || *ai != *bi) return false;
  return true;
}

bool FindFileEntry(const std::string& folder, const std::string& name, FileListEntry* found) {
  std::vector<FileListEntry> entries;
  if (!ReadFileList(folder, &entries)) return false;
  for (const FileListEntry& e : entries)
    if (e.discName == name) {
      *found = e;
      return true;
    }
  return false;
}

bool RemoveFileEntry(const std::string& folder, const std::string& name, std::string* error) {
  std::vector<FileListEntry> entries;
  if (!ReadFileList(folder, &entries, error)) return false;
  auto it = std::find_if(entries.begin(), entries.end(), [&](const FileListEntry& e) { return e.discName == name; });
  if (it == entries.end()) return true;
  entries.erase(it);
  return WriteFileList(folder, entries, error);
}

enum class Edit { kMove, kCopy };

bool EditEntries(Edit edit, const std::string& from, const std::vector<std::string>& names, const std::string& to,
                 ProjectEditResult* result) {
  const bool sameFolder = IsWithin(from, to) && IsWithin(to, from);
  for (const std::string& name : names) {
    if (edit == Edit::kMove && sameFolder) {
      result->done.push_back(name);  // already there
      continue;
    }
    const bool folder = IsStagingSubfolder(from, name);
    FileListEntry entry;
    if (!folder && !FindFileEntry(from, name, &entry)) {
      result->error = "\"" + name + "\" is no longer in the project";
      return false;
    }
    if (folder && IsWithin(to, from + "/" + name)) {
      result->error = "the folder \"" + name + "\" cannot go into itself";
      return false;
    }
    const std::string target = FreeDiscName(to, name, folder);
    std::error_code ec;
    if (folder) {
      const fs::path source = fs::path(from) / name, destination = fs::path(to) / target;
      if (edit == Edit::kMove) fs::rename(source, destination, ec);
      else fs::copy(source, destination, fs::copy_options::recursive, ec);
      if (ec) {
        result->error = "the folder \"" + name + "\" could not be " + (edit == Edit::kMove ? "moved" : "copied") +
                        ": " + ec.message();
        return false;
      }
    } else {
      // The entry is added to its new folder before it leaves the old one: a
      // failure in between leaves it twice, never nowhere.
      FileListEntry moved = entry;
      moved.discName = target;
      if (!AppendFileListEntry(to, moved, &result->error)) return false;
      if (edit == Edit::kMove && !RemoveFileEntry(from, name, &result->error)) return false;
    }
    if (target != name) result->renamed.push_back({name, target});
    result->done.push_back(target);
  }
  return true;
}

}  // namespace

std::string FreeDiscName(const std::string& folder, const std::string& name, bool isFolder) {
  const std::vector<std::string> taken = TakenNames(folder);
  auto free = [&](const std::string& candidate) {
    return std::find(taken.begin(), taken.end(), Folded(candidate)) == taken.end();
  };
  if (free(name)) return name;
  // "a.txt" -> "a (2).txt"; a leading dot is part of the stem (".config (2)").
  const size_t dot = name.rfind('.');
  const bool hasExtension = !isFolder && dot != std::string::npos && dot > 0;
  const std::string stem = hasExtension ? name.substr(0, dot) : name;
  const std::string extension = hasExtension ? name.substr(dot) : "";
  for (int n = 2;; ++n) {
    std::string candidate = stem + " (" + std::to_string(n) + ")" + extension;
    if (free(candidate)) return candidate;
  }
}

bool MoveProjectEntries(const std::string& from, const std::vector<std::string>& names, const std::string& to,
                        ProjectEditResult* result) {
  return EditEntries(Edit::kMove, from, names, to, result);
}

bool CopyProjectEntries(const std::string& from, const std::vector<std::string>& names, const std::string& to,
                        ProjectEditResult* result) {
  return EditEntries(Edit::kCopy, from, names, to, result);
}
