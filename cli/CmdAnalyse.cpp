// varnex-cli analyse, extract-files, sector and dev-info: the disc analysis,
// saving files from a disc, the sector viewer and the device information
// page as text, for drives, virtual recorders and image files alike.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "BurnCtrl/Results.h"
#include "MediumTable.h"
#include "analysis/CGetCDData.h"
#include "analysis/DevInfo.h"
#include "analysis/DiscAnalysis.h"
#include "analysis/SectorView.h"
#include "authoring/UdfDriveSource.h"
#include "cli/CliCommand.h"
#include "cli/CmdCheck.h"
#include "cli/CliDrive.h"
#include "cli/CliText.h"
#include "foundation/LangText.h"

namespace {

bool ParseNumber(const std::string& text, uint64_t limit, uint64_t* out) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (errno || *end || v > limit) return false;
  *out = v;
  return true;
}

const char* ModeText(const AnalyTrack& t) {
  if (!t.data) return "audio";
  return t.dataMode == 2 ? "mode 2" : "mode 1";
}

// The data track whose files are meant: the one asked for, else the first
// data track of the last session that carries a file system (what a
// multisession disc shows).
const AnalyTrack* ChooseTrack(const DiscAnalysis& disc, int number) {
  const AnalyTrack* chosen = nullptr;
  for (const AnalySession& s : disc.sessions)
    for (const AnalyTrack& t : s.tracks) {
      if (number > 0 && t.number == number) return &t;
      if (number == 0 && t.data && t.fileSystem) chosen = &t;
    }
  return chosen;
}

// Depth first, each folder's content right below it in the order of the
// disc (a walk may report a folder's content after its later siblings).
void PrintFolder(const std::map<std::string, std::vector<const UdfEntry*>>& content, const std::string& folder) {
  auto it = content.find(folder);
  if (it == content.end()) return;
  for (const UdfEntry* e : it->second) {
    std::string posix;
    if (e->posix) {
      char mode[32];
      std::snprintf(mode, sizeof mode, "\t%06o %u %u", e->mode, e->uid, e->gid);
      posix = mode;
    }
    if (e->link) posix += "\t-> " + ShownText(e->linkTarget);
    std::printf("      %*s%s%s\t%s\t%llu\t%u%s\n", 2 * e->depth, "", ShownText(e->name).c_str(), e->folder ? "/" : "",
                e->time.FormatIso8601().c_str(), static_cast<unsigned long long>(e->size), StartSector(*e),
                posix.c_str());
    if (e->folder) PrintFolder(content, e->Path());
  }
}

void PrintFiles(const DiscFiles& files) {
  std::map<std::string, std::vector<const UdfEntry*>> content;
  for (const UdfEntry& e : files.entries) content[e.parentPath].push_back(&e);
  PrintFolder(content, "");
}

// Whether a disc path lies in what was asked for ("" or "/": everything).
bool Selected(const std::string& path, const std::vector<std::string>& selection) {
  if (selection.empty()) return true;
  for (std::string s : selection) {
    while (!s.empty() && s.front() == '/') s.erase(0, 1);
    while (!s.empty() && s.back() == '/') s.pop_back();
    if (s.empty() || path == s || path.rfind(s + "/", 0) == 0) return true;
  }
  return false;
}

int RunAnalyse(const CliArgs& args) {
  CliOptions opt(args, {"--drive", "--md5"}, {"--files", "--replace"});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  if (!opt.Has("--drive") || !opt.Operands().empty())
    return CliFail(result::kBadArguments, "usage: analyse --drive D [--files] [--md5 OUT.md5 [--replace]]");
  CliDrive drive;
  int status = 0;
  if (!OpenCliDrive(opt.Value("--drive"), drive, status)) return status;
  if (opt.Has("--md5")) return WriteMd5List(*drive.device, opt.Value("--md5"), CliExisting(opt));
  DiscAnalysis disc;
  if (!AnalyseDisc(*drive.device, &disc)) return CliFail(result::kDiscUnreadable, disc.error);
  std::printf("Medium: %s%s\n", medium::Name(disc.mediumType),
              disc.tocFromTrackInfo ? " (sessions from the track information)" : "");
  UdfDriveSource source(drive.device);
  int failures = 0;
  for (const AnalySession& s : disc.sessions) {
    std::printf("%s\n", SessionText(s).c_str());
    for (const AnalyTrack& t : s.tracks) {
      std::printf("  %s\t%s\tstart %u\tlength %u\n", TrackText(t).c_str(), ModeText(t), t.start, t.length);
      if (t.fileSystem) {
        DiscFiles files;
        bool ok = ReadDiscFiles(&source, t.start, t.fileSystem, &files);
        std::printf("    %s label \"%s\"%s\n", files.fileSystem == 2 ? "UDF" : "ISO 9660", ShownText(files.label).c_str(),
                    files.rockRidge ? " (Rock Ridge)" : files.joliet ? " (Joliet names)" : "");
        if (opt.Has("--files")) PrintFiles(files);
        for (const auto& [path, why] : files.skipped)
          std::fprintf(stderr, "varnex-cli: track %d: \"%s\" cannot be listed: %s\n", t.number, ShownText(path).c_str(),
                       why.c_str());
        if (!ok) {
          std::fprintf(stderr, "varnex-cli: track %d: %s\n", t.number, ShownText(files.error).c_str());
          ++failures;
        }
      }
      if (!t.data && disc.hasCdText)
        for (const auto& [label, text] : CdTextRows(*disc.cdText, t.number))
          if (!text.empty()) std::printf("    %s\t%s\n", label.c_str(), ShownText(text).c_str());
    }
  }
  std::printf("%s\n", LeadOutText(disc).c_str());
  return failures ? CliFail(result::kVolumeUnreadable, "a file system of the disc is damaged") : 0;
}

int RunExtractFiles(const CliArgs& args) {
  CliOptions opt(args, {"--drive", "-o", "--track"}, {});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  if (!opt.Has("--drive") || opt.Value("-o").empty())
    return CliFail(result::kBadArguments, "usage: extract-files --drive D -o DIR [--track N] [DISC-PATH...]");
  uint64_t track = 0;
  if (opt.Has("--track") && (!ParseNumber(opt.Value("--track"), 99, &track) || track == 0))
    return CliFail(result::kBadArguments, "--track needs a track number from 1 to 99");
  CliDrive drive;
  int status = 0;
  if (!OpenCliDrive(opt.Value("--drive"), drive, status)) return status;
  DiscAnalysis disc;
  if (!AnalyseDisc(*drive.device, &disc)) return CliFail(result::kDiscUnreadable, disc.error);
  const AnalyTrack* t = ChooseTrack(disc, int(track));
  if (!t) return CliFail(result::kVolumeUnreadable, track ? "no track " + std::to_string(track) : "no data track with a file system");
  if (!t->data || !t->fileSystem)
    return CliFail(result::kVolumeUnreadable, "track " + std::to_string(t->number) + " holds no file system");
  UdfDriveSource source(drive.device);
  DiscFiles files;
  if (!ReadDiscFiles(&source, t->start, t->fileSystem, &files)) {
    if (files.entries.empty()) return CliFail(result::kVolumeUnreadable, ShownText(files.error));
    std::fprintf(stderr, "varnex-cli: only part of the disc's folders can be read: %s\n", ShownText(files.error).c_str());
  }
  CGetCDData saver(&source);
  const bool terminal = ::isatty(2);
  if (terminal)
    saver.SetProgressHook([](const CGetCDData& s) {
      uint64_t total = s.BytesTotal() ? s.BytesTotal() : 1;
      std::fprintf(stderr, "\r%3d%%  %-60.60s", int(s.BytesDone() * 100 / total), ShownText(s.CurrentFile()).c_str());
    });
  bool ok = saver.Save(files.entries, opt.Operands(), opt.Value("-o"));
  if (terminal) std::fprintf(stderr, "\r%-66s\r", "");
  const GetCDDataReport& report = saver.Report();
  for (const std::string& r : report.renamed) std::printf("renamed: %s\n", ShownText(r).c_str());
  for (const std::string& f : report.failed) std::fprintf(stderr, "varnex-cli: %s\n", ShownText(f).c_str());
  // Entries the volume names but whose entry or data cannot be found were
  // never handed to the saver; they are named with the others.
  size_t skipped = 0;
  for (const auto& [path, why] : files.skipped)
    if (Selected(path, opt.Operands())) {
      std::fprintf(stderr, "varnex-cli: \"%s\" not saved: %s\n", ShownText(path).c_str(), ShownText(why).c_str());
      ++skipped;
    }
  std::printf("%llu files, %llu folders, %llu bytes saved in %s\n", static_cast<unsigned long long>(report.files),
              static_cast<unsigned long long>(report.folders), static_cast<unsigned long long>(report.bytes),
              ShownText(opt.Value("-o")).c_str());
  if (ok && files.complete) return 0;
  bool missing = false;
  for (const std::string& f : report.failed) missing = missing || f.find("no such file or folder on the disc") != std::string::npos;
  if (missing) return CliFail(result::kNoSuchDiscPath);
  return CliFail(result::kFilesNotSaved, std::to_string(report.failed.size() + skipped) + " not saved");
}

int RunSector(const CliArgs& args) {
  CliOptions opt(args, {"--drive", "-o"}, {"--raw", "--replace"});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  uint64_t lba = 0;
  if (!opt.Has("--drive") || opt.Operands().size() != 1 || !ParseNumber(opt.Operands()[0], 0xFFFFFFFFu, &lba))
    return CliFail(result::kBadArguments, "usage: sector --drive D LBA [--raw] [-o FILE [--replace]]");
  CliDrive drive;
  int status = 0;
  if (!OpenCliDrive(opt.Value("--drive"), drive, status)) return status;
  SectorView view;
  if (opt.Has("--raw") && drive.device->TestUnitReady() == DEV_OK) {
    ReadSectorView(*drive.device, uint32_t(lba), true, &view);
    if (!view.rawAllowed) return CliFail(result::kBadArguments, "--raw reads CD media only");
  }
  if (!ReadSectorView(*drive.device, uint32_t(lba), opt.Has("--raw"), &view))
    return CliFail(result::kSectorUnreadable, view.error);
  for (const std::string& line : SectorDumpLines(view.buffer, view.shown)) std::printf("%s\n", line.c_str());
  if (opt.Has("-o")) {
    std::string why;
    if (!SaveSectorFile(opt.Value("-o"), view, opt.Has("--replace"), &why)) return CliFail(result::kOutputFailed, why);
  }
  return 0;
}

int RunDevInfo(const CliArgs& args) {
  CliOptions opt(args, {"--drive"}, {});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  if (!opt.Has("--drive") || !opt.Operands().empty()) return CliFail(result::kBadArguments, "usage: dev-info --drive D");
  CliDrive drive;
  int status = 0;
  if (!OpenCliDrive(opt.Value("--drive"), drive, status)) return status;
  INQUIRYDATA inquiry;
  if (drive.device->Inquiry(inquiry) == DEV_OK) std::printf("Drive: %s\n", inquiry.Text().c_str());
  std::printf("Path: %s\n", drive.device->GetDevicePath().c_str());
  if (drive.device->TestUnitReady() == DEV_OK)
    std::printf("Medium: %s\n", medium::Name(drive.device->GetMediumType()));
  std::vector<DevInfoRow> rows;
  if (!ReadDeviceInfo(*drive.device, &rows)) return CliFail(result::kNoCapabilities, drive.device->GetDevicePath());
  const std::string yes = LoadLangText("UIText", 30), no = LoadLangText("UIText", 31);
  for (const DevInfoRow& r : rows) {
    std::string support = r.support == DevInfoRow::kYes ? yes : r.support == DevInfoRow::kNo ? no : "";
    std::string name = r.nameKey ? LoadLangText("UIText", r.nameKey) : "";
    if (support.empty() && name.empty()) {
      std::printf("\n");
      continue;
    }
    std::printf("%-4s\t%s\n", support.c_str(), name.c_str());
  }
  return 0;
}

CliCommand regAnalyse{"analyse", "analyse --drive D [--files] [--md5 OUT.md5 [--replace]]", &RunAnalyse};
CliCommand regExtract{"extract-files", "extract-files --drive D -o DIR [--track N] [DISC-PATH...]", &RunExtractFiles};
CliCommand regSector{"sector", "sector --drive D LBA [--raw] [-o FILE [--replace]]", &RunSector};
CliCommand regDevInfo{"dev-info", "dev-info --drive D", &RunDevInfo};

}  // namespace
