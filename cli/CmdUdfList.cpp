// varnex-cli udf-list: prints the tree of the UDF volume in an image or on
// the disc in a drive, one line per entry: name (indented by depth), time,
// type and size, as the disc analysis lists it.

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "BurnCtrl/Results.h"
#include "authoring/CAnaly_UDF.h"
#include "authoring/UdfDriveSource.h"
#include "cli/CliDrive.h"
#include "cli/CliCommand.h"
#include "cli/CliText.h"

namespace {

class Printer : public UdfWalkListener {
 public:
  bool Entry(const UdfEntry& e) override {
    std::printf("%*s%s\t%s\t%s\t%llu\n", 2 * e.depth, "", ShownText(e.name).c_str(), e.time.Format().c_str(),
                e.folder ? "Folder" : "File", static_cast<unsigned long long>(e.size));
    return true;
  }
};

int RunUdfList(const CliArgs& args) {
  CliOptions opt(args, {"--session-start", "--drive"}, {});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  const bool drive = opt.Has("--drive");
  if (opt.Operands().size() != (drive ? 0u : 1u))
    return CliFail(result::kBadArguments, "usage: udf-list [--session-start S] (IMAGE | --drive D)");
  char* end = nullptr;
  std::string startText = opt.Value("--session-start", "0");
  unsigned long long start = std::strtoull(startText.c_str(), &end, 10);
  if (startText.empty() || *end || start > 0xFFFFFFFFull)
    return CliFail(result::kBadArguments, "--session-start needs a sector number");

  std::unique_ptr<UdfSectorSource> source;
  CliDrive cliDrive;
  std::string where;
  if (drive) {
    where = opt.Value("--drive");
    int status = 0;
    if (!OpenCliDrive(where, cliDrive, status)) return status;
    auto driveSource = std::make_unique<UdfDriveSource>(cliDrive.device);
    if (!driveSource->Ready()) return CliFail(result::kNotReady, where);
    source = std::move(driveSource);
  } else {
    where = opt.Operands()[0];
    auto image = std::make_unique<UdfImageSource>(where);
    if (!image->ok()) return CliFail(result::kSourceMissing, "cannot open " + where);
    source = std::move(image);
  }
  CAnaly_UDF reader;
  if (!reader.Open(source.get(), uint32_t(start), CAnaly_UDF::kListing))
    return CliFail(result::kVolumeUnreadable, where + ": " + reader.LastError());
  std::printf("%s\t(UDF %s)\n", reader.VolumeLabel().c_str(), reader.UdfRevision().c_str());
  Printer printer;
  if (!reader.Walk(&printer)) return CliFail(result::kVolumeUnreadable, where + ": " + reader.LastError());
  return 0;
}

CliCommand reg{"udf-list", "udf-list [--session-start S] (IMAGE | --drive D)", &RunUdfList};

}  // namespace
