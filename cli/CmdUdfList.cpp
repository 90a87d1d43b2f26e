// varnex-cli udf-list: prints the tree of the UDF volume in an image, one
// line per entry: name (indented by depth), time, type and size, as the
// disc analysis lists it.

#include <cstdio>
#include <cstdlib>

#include "BurnCtrl/Results.h"
#include "authoring/CAnaly_UDF.h"
#include "cli/CliCommand.h"

namespace {

class Printer : public UdfWalkListener {
 public:
  bool Entry(const UdfEntry& e) override {
    std::printf("%*s%s\t%s\t%s\t%llu\n", 2 * e.depth, "", e.name.c_str(), e.time.Format().c_str(),
                e.folder ? "Folder" : "File", static_cast<unsigned long long>(e.size));
    return true;
  }
};

int RunUdfList(const CliArgs& args) {
  CliOptions opt(args, {"--session-start"}, {});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  if (opt.Operands().size() != 1)
    return CliFail(result::kBadArguments, "usage: udf-list [--session-start S] IMAGE");
  const std::string& path = opt.Operands()[0];
  char* end = nullptr;
  std::string startText = opt.Value("--session-start", "0");
  unsigned long long start = std::strtoull(startText.c_str(), &end, 10);
  if (startText.empty() || *end || start > 0xFFFFFFFFull)
    return CliFail(result::kBadArguments, "--session-start needs a sector number");

  UdfImageSource source(path);
  if (!source.ok()) return CliFail(result::kSourceMissing, "cannot open " + path);
  CAnaly_UDF reader;
  if (!reader.Open(&source, uint32_t(start), CAnaly_UDF::kListing))
    return CliFail(result::kVolumeUnreadable, path + ": " + reader.LastError());
  std::printf("%s\t(UDF %s)\n", reader.VolumeLabel().c_str(), reader.UdfRevision().c_str());
  Printer printer;
  if (!reader.Walk(&printer)) return CliFail(result::kVolumeUnreadable, path + ": " + reader.LastError());
  return 0;
}

CliCommand reg{"udf-list", "udf-list [--session-start S] IMAGE", &RunUdfList};

}  // namespace
