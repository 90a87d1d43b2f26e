// --verify of the burning commands.

#include "cli/CliVerify.h"

#include <cstdio>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "BurnCtrl/Verify.h"
#include "CDevCmdRW.h"
#include "analysis/SectorOwners.h"
#include "cli/CliInterrupt.h"
#include "cli/CliText.h"

std::function<int(int)> WithVerify(bool verify, bool eject, std::function<int(int)> job) {
  if (!verify) return job;
  return [eject, job = std::move(job)](int drive) {
    VerifyOptions options;
    options.stopped = [] { return gInterrupted.load(); };
    options.ownerOf = [drive](uint32_t lba) { return OwnerOnDisc(drive, lba); };
    VerifyOutcome outcome;
    const int r = BurnAndVerify(drive, [&] { return job(drive); }, options, &outcome);
    std::shared_ptr<Recorder> recorder = ShareRecorder(drive);
    const std::string name = recorder ? recorder->Name() : DriveLabel(drive);
    // A burn that failed says so itself; the verdict is for written discs.
    if (r != result::kSuccess && !outcome.Failed() && outcome.state != VerifyOutcome::kStopped) return r;
    std::fprintf(outcome.Failed() ? stderr : stdout, "%s%s: %s\n", outcome.Failed() ? "varnex-cli: " : "",
                 ShownText(name).c_str(), ShownText(VerifyText(outcome)).c_str());
    if (eject && r == result::kSuccess) EjectDisc(drive);
    return r;
  };
}
