// varnex-cli verify: a disc already written compared with its source: the
// files of a project or of paths by content (missing, extra and differing
// files named), or an image sector by sector.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "BurnCtrl/Results.h"
#include "BurnCtrl/Verify.h"
#include "CDevCmdROM.h"
#include "analysis/DiscAnalysis.h"
#include "analysis/SectorOwners.h"
#include "authoring/FileList.h"
#include "authoring/StagingFolder.h"
#include "authoring/UdfDriveSource.h"
#include "cli/CliCommand.h"
#include "cli/CliDrive.h"
#include "cli/CliInterrupt.h"
#include "cli/CliProject.h"
#include "cli/CliText.h"

namespace {

constexpr const char* kUsage = "usage: verify --drive D (PATH... | --project FILE.bcd | --image FILE)";

// Every file of the staged project: disc path → source path. Folders with
// "/" at the end and no source.
void StagedFiles(const std::string& folder, const std::string& discPath, std::map<std::string, std::string>* out) {
  for (const StagingEntry& e : EnumerateStagingFolder(folder)) {
    if (e.kind != StagingEntry::kFolder) continue;
    const std::string path = discPath.empty() ? e.name : discPath + "/" + e.name;
    (*out)[path + "/"] = "";
    StagedFiles(folder + "/" + e.name, path, out);
  }
  std::vector<FileListEntry> entries;
  ReadFileList(folder, &entries);
  for (const FileListEntry& f : entries)
    if (!f.IsImported()) (*out)[discPath.empty() ? f.discName : discPath + "/" + f.discName] = f.sourcePath;
}

// Where the disc's copy of a file first parts from its source: -1 when they
// are the same, the byte offset otherwise; -2 when the disc cannot be read.
int64_t FirstDifferentByte(UdfDriveSource& disc, const UdfEntry& entry, const std::string& source) {
  std::ifstream in(source, std::ios::binary);
  if (!in) return 0;
  uint64_t offset = 0;
  std::vector<uint8_t> sectors(32 * 2048);
  std::vector<char> local(sectors.size());
  auto compare = [&](const uint8_t* data, size_t n) -> int64_t {
    in.read(local.data(), std::streamsize(n));
    const size_t got = size_t(in.gcount());
    for (size_t i = 0; i < n; ++i)
      if (i >= got || uint8_t(local[i]) != data[i]) return int64_t(offset + i);
    offset += n;
    return -1;
  };
  if (entry.embedded) {
    if (int64_t at = compare(entry.inlineData.data(), entry.inlineData.size()); at >= 0) return at;
  } else {
    for (const auto& [first, bytes] : entry.sectors) {
      for (uint64_t done = 0; done < bytes;) {
        const uint64_t n = std::min<uint64_t>(bytes - done, sectors.size());
        const uint32_t count = uint32_t((n + 2047) / 2048);
        if (!disc.ReadSectors(first + uint32_t(done / 2048), count, sectors.data())) return -2;
        if (int64_t at = compare(sectors.data(), size_t(n)); at >= 0) return at;
        done += n;
      }
    }
  }
  char extra;
  return in.read(&extra, 1) && in.gcount() == 1 ? int64_t(offset) : -1;
}

int VerifyFiles(const CliOptions& opt, CliDrive& drive) {
  StagingRoot root;
  if (!root.ok()) return CliFail(result::kLayoutFailed, "cannot create a project folder");
  CFileManager manager;
  PrintingListener listener;
  manager.SetListener(&listener);
  manager.SetMode(CFileManager::kModeData);
  std::string label;
  if (StageProject(&manager, root.path(), opt.Value("--project"), opt.Operands(), &label) != result::kSuccess) return 1;
  std::map<std::string, std::string> staged;
  StagedFiles(root.path(), "", &staged);

  SectorOwners owners;
  if (!owners.Load(*drive.device)) return CliFail(result::kDiscUnreadable, ShownText(owners.Problems().front()));
  // The disc as it reads now: the file system of its last session.
  const SectorOwners::Volume* volume = nullptr;
  for (const SectorOwners::Volume& v : owners.Volumes())
    if (!v.files.entries.empty() || v.read) volume = &v;
  if (!volume) return CliFail(result::kVolumeUnreadable, "no file system can be read on the disc");
  std::map<std::string, const UdfEntry*> onDisc;
  for (const UdfEntry& e : volume->files.entries) onDisc[e.folder ? e.Path() + "/" : e.Path()] = &e;

  UdfDriveSource disc(drive.device);
  int differ = 0, missing = 0, extra = 0, files = 0;
  for (const auto& [path, source] : staged) {
    if (gInterrupted) return CliFail(result::kVerifyStopped);
    auto it = onDisc.find(path);
    if (it == onDisc.end()) {
      std::printf("missing: %s\n", ShownText(path).c_str());
      ++missing;
      continue;
    }
    if (source.empty()) continue;  // a folder that is there
    ++files;
    const int64_t at = FirstDifferentByte(disc, *it->second, source);
    if (at == -2) {
      std::printf("unreadable: %s\n", ShownText(path).c_str());
      ++differ;
    } else if (at >= 0) {
      std::printf("differs: %s (from byte %lld)\n", ShownText(path).c_str(), static_cast<long long>(at));
      ++differ;
    }
  }
  for (const auto& [path, entry] : onDisc)
    if (!staged.count(path)) {
      std::printf("extra: %s\n", ShownText(path).c_str());
      ++extra;
    }
  std::printf("%d files compared: %d differ, %d missing, %d extra\n", files, differ, missing, extra);
  if (!volume->files.complete)
    std::fprintf(stderr, "varnex-cli: only part of the disc's folders can be read: %s\n",
                 ShownText(volume->files.error).c_str());
  if (differ || missing || extra || !volume->files.complete)
    return CliFail(result::kVerifyFailed, "the disc differs from its source");
  return 0;
}

// Images with a track layout of their own (CUE/BIN, TOC, NRG, a raw BIN):
// read through the image device, each track in the form a disc gives it
// back (user data of Mode 1, the 2336 bytes of Mode 2, raw audio), at the
// sectors the image puts it.
bool LaidOutImage(const std::string& path) {
  const size_t dot = path.rfind('.');
  std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext == "cue" || ext == "toc" || ext == "nrg" || ext == "bin";
}

bool RecordImageTracks(const std::string& path, WrittenRecord* record, std::string* why) {
  CDevCmdROM image;
  if (!image.SetImageFile(path.c_str())) {
    *why = path + ": " + image.GetLastOpenError();
    return false;
  }
  DiscAnalysis disc;
  if (!AnalyseDisc(image, &disc)) {
    *why = path + ": " + disc.error;
    return false;
  }
  constexpr uint32_t kBlock = 32, kRaw = 2352;
  std::vector<uint8_t> raw(kBlock * kRaw), out(kBlock * kRaw);
  for (const AnalySession& s : disc.sessions)
    for (const AnalyTrack& t : s.tracks) {
      const uint32_t size = !t.data ? kRaw : t.dataMode == 2 ? 2336 : 2048;
      for (uint32_t done = 0; done < t.length;) {
        const uint32_t n = std::min(kBlock, t.length - done), lba = t.start + done;
        uint32_t st = DEV_OK;
        if (size == 2048) {
          st = image.ReadCD_10(out.data(), int(n * 2048), int(n), lba);
        } else {
          st = image.ReadCD_All(raw.data(), int(n * kRaw), int(n), lba);
          for (uint32_t i = 0; st == DEV_OK && i < n; ++i)
            std::memcpy(out.data() + size_t(i) * size, raw.data() + size_t(i) * kRaw + (kRaw - size), size);
        }
        if (st != DEV_OK) {
          *why = path + ": sector " + std::to_string(lba) + " of the image cannot be read";
          return false;
        }
        record->Add(lba, out.data(), n * size, n);
        done += n;
      }
    }
  return true;
}

int VerifyAgainstImage(const CliOptions& opt, CliDrive& drive) {
  VerifyOptions options;
  options.stopped = [] { return gInterrupted.load(); };
  options.ownerOf = [&drive](uint32_t lba) {
    SectorOwners owners;
    return owners.Load(*drive.device) ? owners.Owner(lba) : std::string();
  };
  const std::string path = opt.Value("--image");
  VerifyOutcome outcome;
  if (LaidOutImage(path)) {
    WrittenRecord record;
    std::string why;
    if (!RecordImageTracks(path, &record, &why)) return CliFail(result::kBadArguments, ShownText(why));
    outcome = VerifyWritten(*drive.device, record, options);
  } else {
    outcome = VerifyImage(*drive.device, path, options);
  }
  std::printf("%s\n", ShownText(VerifyText(outcome)).c_str());
  if (outcome.Failed()) return CliFail(result::kVerifyFailed, drive.device->GetDevicePath());
  if (outcome.state == VerifyOutcome::kStopped) return CliFail(result::kVerifyStopped);
  if (outcome.state == VerifyOutcome::kNotVerified) return CliFail(result::kDiscUnreadable, ShownText(outcome.why));
  return 0;
}

int RunVerify(const CliArgs& args) {
  CliOptions opt(args, {"--drive", "--project", "--image"}, {});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  const int sources = int(opt.Has("--project")) + int(opt.Has("--image")) + int(!opt.Operands().empty());
  if (!opt.Has("--drive") || sources != 1) return CliFail(result::kBadArguments, kUsage);
  InterruptCatcher catcher;
  CliDrive drive;
  int status = 0;
  if (!OpenCliDrive(opt.Value("--drive"), drive, status)) return status;
  return opt.Has("--image") ? VerifyAgainstImage(opt, drive) : VerifyFiles(opt, drive);
}

CliCommand reg{"verify", "verify --drive D (PATH... | --project FILE.bcd | --image FILE)", &RunVerify};

}  // namespace
