#include "BurnCtrl/SessionAtOnce.h"

#include <memory>

#include "BurnCtrl/Results.h"
#include "BurnCtrl/SaoResults.h"
#include "BurnMana_SAO.h"
#include "DataSource.h"

int WriteAtOnce(CDevCmdRW* target, DataSource& source, const AtOnceJob& job, std::string* why) {
  why->clear();
  const int sessions = source.GetSessionNum();
  for (int s = 1; s <= sessions; ++s) {
    if (job.stopped && job.stopped()) return result::kBurnStopped;
    // A speed is a wish: a recorder that refuses it writes at one of its own.
    (void)target->SetWriteSpeed(job.speed);
    auto mana = std::make_unique<BurnMana_SAO>(&source, target, s, !(job.closeLast && s == sessions), -150);
    mana->SetTestWrite(job.testWrite);
    BurnMana_SAO* writer = mana.get();
    mana->SetProgressHook([&job, writer](int percent, const std::string& item) {
      if (job.progress) job.progress(percent, item);
      if (job.stopped && job.stopped()) writer->BurnStop();
    });
    int r = mana->BurnBegin();
    if (r == BURN_OK) {
      if (job.watch) job.watch(mana.get(), s, sessions);
      r = mana->Burn() ? mana->BurnEnd() : BURN_NOT_READY;
      if (job.watch) job.watch(nullptr, s, sessions);
    }
    if (r != BURN_OK) {
      if (r != BURN_STOPPED) *why = mana->GetLastError();
      return SaoBurnResult(r);
    }
  }
  return result::kSuccess;
}
