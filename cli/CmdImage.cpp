// varnex-cli image: lays a data project out as an ISO 9660 volume with Joliet
// names (or, with --udf, as a UDF volume) and writes every sector of the track
// to a file.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "BurnCtrl/Results.h"
#include "foundation/LangText.h"
#include "authoring/CDataFile.h"
#include "authoring/CDataFileUDF.h"
#include "foundation/TempFiles.h"
#include "authoring/TrackImageBuilder.h"
#include "cli/CliCommand.h"
#include "cli/CliProject.h"
#include "OutputFile.h"

namespace {

class UnreadableCounter : public TrackSourceListener {
 public:
  void SourceUnreadable(const std::string& path) override {
    std::fprintf(stderr, "\nvarnex-cli: \"%s\": %s\n", ShownText(path).c_str(), LoadLangText("Message", 909).c_str());
    ++count;
  }
  int count = 0;
};

constexpr char kImageUsage[] =
    "image -o OUT [--replace] [--udf] [--no-rock] [--rock-normalised] [--label LABEL] [--session-start S] "
    "[--boot IMAGE [--boot-load-size N]] [--efi IMAGE] [--hybrid MBR-TEMPLATE] (--project FILE.bcd | PATH...)";

bool ParseSessionStart(const std::string& text, uint32_t* value) {
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || *end || v > 0xFFFFFFFFull) return false;
  *value = uint32_t(v);
  return true;
}

// Serves every sector of the track into `out` (written beside it and renamed
// into place once on disk, so that a failure leaves no half image behind and
// the place as it was). False with `why` set on failure.
bool WriteTrack(TrackImageBuilder* track, const std::string& out, Existing existing, std::string* why) {
  OutputFile file;
  if (!file.Open(out, existing)) {
    *why = file.Error();
    return false;
  }
  const uint32_t total = track->GetTrackLength();
  const bool terminal = isatty(STDERR_FILENO);
  constexpr uint32_t kBatch = 256;
  std::vector<uint8_t> batch(size_t(kBatch) * kSectorSize);
  int shown = -1;
  bool ok = true;
  for (uint32_t done = 0; ok && done < total;) {
    uint32_t n = std::min(kBatch, total - done);
    track->GetSectors(batch.data(), n);
    ok = file.Write(batch.data(), size_t(n) * kSectorSize);
    done += n;
    int percent = int(uint64_t(done) * 100 / total);
    if (terminal && percent != shown) {
      std::fprintf(stderr, "\r%3d%%  %s\033[K", percent, track->GetCurrentSourceFile().c_str());
      shown = percent;
    }
  }
  if (terminal) std::fprintf(stderr, "\n");
  ok = ok && file.Commit();
  if (!ok) *why = file.Error();
  return ok;
}

int RunImage(const CliArgs& args) {
  std::vector<std::string> values = {"-o", "--label", "--session-start", "--project"};
  values.insert(values.end(), kBootValueOptions.begin(), kBootValueOptions.end());
  CliOptions opt(args, values, {"--udf", "--replace", "--no-rock", "--rock-normalised"});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  std::string out = opt.Value("-o");
  std::string project = opt.Value("--project");
  if (out.empty() || (project.empty() == opt.Operands().empty()))
    return CliFail(result::kBadArguments,
                   kImageUsage);
  const Existing existing = CliExisting(opt);
  if (int st = CliOutputRefused(out, existing)) return st;
  uint32_t sessionStart = 0;
  if (opt.Has("--session-start") && !ParseSessionStart(opt.Value("--session-start"), &sessionStart))
    return CliFail(result::kBadArguments, "--session-start needs a sector number");
  eltorito::BootOptions boot;
  if (int st = CliBootOptions(opt, opt.Has("--udf"), sessionStart != 0, &boot)) return st;

  StagingRoot root;
  if (!root.ok()) return CliFail(result::kLayoutFailed, "cannot create a project folder in " + TempFolder());
  CFileManager manager;
  PrintingListener listener;
  manager.SetListener(&listener);
  const bool udf = opt.Has("--udf");
  manager.SetMaxFileSize(udf ? CDataFileUDF::kMaxFileSize : CDataFile::kMaxFileSize);
  std::string label = opt.Value("--label"), notice;
  if (!CheckVolumeLabel(&label, &notice)) return CliFail(result::kBadArguments, notice);
  if (!notice.empty()) std::fprintf(stderr, "varnex-cli: %s\n", notice.c_str());
  int staged = StageProject(&manager, root.path(), project, opt.Operands(), &label);
  if (staged != result::kSuccess) return 1;
  if (label.empty()) label = "DataCD";
  if (listener.refused) return CliFail(result::kFilesLeftOut, "nothing was written");
  manager.SetDiscOptions(CliDiscOptions(opt.Has("--no-rock"), opt.Has("--rock-normalised"), manager.DiscOptions()));
  if (int st = CliProjectBoot(manager, udf, sessionStart != 0, &boot)) return st;

  std::vector<LayoutNotice> notices;
  bool fits = CDataFile::ReviewProject(root.path(), &notices, udf);
  for (const LayoutNotice& n : notices) {
    switch (n.kind) {
      case LayoutNotice::kJolietShortened:
      case LayoutNotice::kUdfNameChanged:
        std::fprintf(stderr, "varnex-cli: \"%s\" -> \"%s\": %s\n", ShownText(n.discPath).c_str(), ShownText(n.detail).c_str(),
                     LoadLangText("Message", n.kind == LayoutNotice::kJolietShortened ? 907 : 913).c_str());
        break;
      case LayoutNotice::kNameRefused:
        std::fprintf(stderr, "varnex-cli: \"%s\": %s\n", ShownText(n.discPath).c_str(), LoadLangText("Message", 908).c_str());
        break;
      case LayoutNotice::kTooLarge:
        std::fprintf(stderr, "varnex-cli: \"%s\": %s\n", ShownText(n.detail).c_str(), LoadLangText("Message", 906).c_str());
        break;
      case LayoutNotice::kSplitInExtents:
        std::fprintf(stderr,
                     "varnex-cli: \"%s\" is 4 GiB or larger: it is kept in several extents, which systems "
                     "whose ISO 9660 or Joliet readers do not know them show cut short\n",
                     ShownText(n.discPath).c_str());
        break;
    }
  }
  if (!fits) return CliFail(result::kNameNotConvertible, "nothing was written");

  TempFile job("bcd");
  std::string error;
  if (!job.ok() || !manager.SaveDataProject(root.path(), job.path(), label, &error, Existing::kReplace))
    return CliFail(result::kProjectNotWritten, error);

  UnreadableCounter unreadable;
  std::unique_ptr<TrackImageBuilder> track =
      MakeDataTrackLayout(udf ? DataTrackFormat::kUdf : DataTrackFormat::kIso9660);
  if (auto* iso = dynamic_cast<CDataFile*>(track.get())) iso->SetBoot(boot);
  if (!track->BuildTrack(job.path(), root.path(), sessionStart))
    return CliFail(result::kLayoutFailed, track->LastError());
  const std::vector<std::string>& skipped = track->SkippedSources();
  // Files that vanished before the layout are reported here; from now on
  // only read failures while serving count.
  for (const std::string& s : skipped)
    std::fprintf(stderr, "varnex-cli: left out \"%s\": it cannot be read\n", ShownText(s).c_str());
  track->SetSourceListener(&unreadable);
  std::string why;
  if (!WriteTrack(track.get(), out, existing, &why)) return CliFail(result::kOutputFailed, why);
  if (!skipped.empty() || unreadable.count)
    return CliFail(result::kFilesLeftOut, "the image was written without them");
  return 0;
}

CliCommand reg{"image",
               kImageUsage,
               &RunImage};

}  // namespace
