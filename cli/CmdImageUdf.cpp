#include "cli/CmdImageUdf.h"

#include <cstdio>

#include "BurnCtrl/Results.h"
#include "app/LangText.h"
#include "authoring/CDataFileUDF.h"
#include "cli/CliCommand.h"

namespace {

class UnreadableSources : public TrackSourceListener {
 public:
  void SourceUnreadable(const std::string& path) override {
    std::fprintf(stderr, "\nvarnex-cli: \"%s\": %s\n", path.c_str(), LoadLangText("Message", 909).c_str());
    ++count;
  }
  int count = 0;
};

}  // namespace

int RunImageUdf(const std::string& jobPath, const std::string& stagingRoot, uint32_t sessionStart,
                const std::string& out, TrackWriter write) {
  CDataFileUDF track;
  UnreadableSources unreadable;
  if (!track.Build(jobPath, stagingRoot, sessionStart))
    return CliFail(result::kLayoutFailed, track.LastError());
  // Files that vanished before the layout are already reported; from here on
  // only read failures while serving count.
  for (const std::string& s : track.SkippedSources())
    std::fprintf(stderr, "varnex-cli: left out \"%s\": it cannot be read\n", s.c_str());
  track.SetSourceListener(&unreadable);
  if (!write(&track, out)) return CliFail(result::kOutputFailed, out);
  if (!track.SkippedSources().empty() || unreadable.count)
    return CliFail(result::kFilesLeftOut, "the image was written without them");
  return 0;
}
