#include "BurnCtrl/SessionAtOnce.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "BurnCtrl/Results.h"
#include "BurnCtrl/SaoResults.h"
#include "ByteFields.h"
#include "BurnMana_SAO.h"
#include "DataSource.h"

namespace {

// Whether the recorder says it cannot write a CD a session at once: its
// feature list lacks CD Mastering or that feature's session-at-once bit. A
// recorder that keeps its features to itself is left to answer the cue sheet.
bool CannotWriteSessionAtOnce(CDevCmdRW* target) {
  std::vector<uint8_t> config(4096);
  if (target->GetConfig(config.data(), int(config.size())) != DEV_OK) return false;
  const size_t size = std::min<size_t>(config.size(), size_t(bytes::BE32(config.data())) + 4);
  for (size_t off = 8; off + 4 <= size; off += 4 + config[off + 3])
    if (bytes::BE16(&config[off]) == 0x002E) return off + 4 >= size || !(config[off + 4] & 0x20);
  return true;
}

}  // namespace

int WriteAtOnce(CDevCmdRW* target, DataSource& source, const AtOnceJob& job, std::string* why) {
  why->clear();
  const int sessions = source.GetSessionNum();
  // The first session of several must not be written only for the second
  // to be refused: that would leave a disc the source is not.
  if (sessions > 1 && source.GetDiscType() == CD_TYPE_CD && CannotWriteSessionAtOnce(target)) {
    *why = "the recorder cannot write a CD a session at once, and the " + std::to_string(sessions) +
           " sessions are written so one after the other";
    return result::kTargetNotWritable;
  }
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
