// varnex-cli check: every sector of the disc read, the unreadable ranges
// named with their files, the read speed drawn; and the checksum list of
// analyse --md5.

#include "cli/CmdCheck.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "BurnCtrl/Results.h"
#include "analysis/DiscCheck.h"
#include "analysis/DiscMd5.h"
#include "cli/CliCommand.h"
#include "cli/CliDrive.h"
#include "cli/CliInterrupt.h"
#include "cli/CliText.h"

namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

int Save(const std::string& path, const std::string& bytes, Existing existing) {
  std::string why;
  if (!WriteWholeFile(path, bytes, existing, &why)) return CliFail(result::kOutputFailed, why);
  return 0;
}

int RunCheck(const CliArgs& args) {
  CliOptions opt(args, {"--drive", "--plot", "--report"}, {"--replace"});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  if (!opt.Has("--drive") || !opt.Operands().empty())
    return CliFail(result::kBadArguments, "usage: check --drive D [--plot OUT.png|OUT.svg] [--report OUT.txt] [--replace]");
  const std::string plot = opt.Value("--plot"), reportPath = opt.Value("--report");
  // The places are judged before the disc is read for minutes.
  for (const std::string& out : {plot, reportPath})
    if (!out.empty())
      if (int st = CliOutputRefused(out, CliExisting(opt))) return st;
  InterruptCatcher catcher;
  CliDrive drive;
  int status = 0;
  if (!OpenCliDrive(opt.Value("--drive"), drive, status)) return status;
  CheckOptions options;
  options.stopped = [] { return gInterrupted.load(); };
  const bool terminal = isatty(2);
  if (terminal)
    options.sampled = [](const CheckReport& r) {
      const CheckSample& s = r.samples.back();
      std::fprintf(stderr, "\rsector %u  %.1fx  %llu unreadable\033[K", s.lba + s.sectors, s.factor,
                   static_cast<unsigned long long>(r.unreadableSectors));
    };
  const CheckReport report = CheckDisc(*drive.device, options);
  if (terminal) std::fprintf(stderr, "\r\033[K");
  const std::string text = CheckReportText(report);
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    std::printf("%s\n", ShownText(text.substr(at, end - at)).c_str());
    at = end == std::string::npos ? text.size() : end + 1;
  }
  if (report.state == CheckReport::kNoDisc || report.state == CheckReport::kBlank)
    return CliFail(result::kDiscUnreadable, ShownText(report.why));
  if (!reportPath.empty())
    if (int st = Save(reportPath, text, CliExisting(opt))) return st;
  if (!plot.empty())
    if (int st = Save(plot, EndsWith(plot, ".png") ? CheckPlotPng(report) : CheckPlotSvg(report), CliExisting(opt)))
      return st;
  if (report.state == CheckReport::kStopped) return CliFail(result::kVerifyStopped, "the check was stopped");
  if (report.state == CheckReport::kLost) return CliFail(result::kDiscUnreadable, ShownText(report.why));
  if (report.Failed()) return CliFail(result::kSectorUnreadable, std::to_string(report.unreadableSectors) + " sectors");
  return 0;
}

CliCommand reg{"check", "check --drive D [--plot OUT.png|OUT.svg] [--report OUT.txt] [--replace]", &RunCheck};

}  // namespace

int WriteMd5List(CDevCmdROM& drive, const std::string& path, Existing existing) {
  if (int st = CliOutputRefused(path, existing)) return st;
  const Md5List list = MakeMd5List(drive);
  if (!list.ok) return CliFail(result::kVolumeUnreadable, ShownText(list.error));
  std::string why;
  if (!WriteWholeFile(path, list.text, existing, &why)) return CliFail(result::kOutputFailed, why);
  for (const std::string& f : list.failed)
    std::fprintf(stderr, "varnex-cli: \"%s\" cannot be read; it is not in the list\n", ShownText(f).c_str());
  if (!list.failed.empty())
    return CliFail(result::kFilesNotSaved, std::to_string(list.failed.size()) + " files left out of " + path);
  if (!list.complete)
    return CliFail(result::kVolumeUnreadable, "only part of the disc's folders can be read: " + ShownText(list.error));
  return 0;
}
