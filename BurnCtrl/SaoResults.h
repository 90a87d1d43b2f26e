#pragma once
// What a disc-at-once or session-at-once burn of BurnMana_SAO ended with, as
// a result of the recording engine (Results.h): one table for the disc copy
// and the video discs.

#include "BurnCtrl/Results.h"
#include "BurnMana_SAO.h"

inline int SaoBurnResult(int burnManaResult) {
  switch (burnManaResult) {
    case BURN_OK: return result::kSuccess;
    case BURN_NOT_READY: return result::kNotReady;
    case BURN_WRONG_MEDIUM: return result::kBeginTrackFailed;
    case BURN_REFUSED: return result::kBeginFailed;
    case BURN_SOURCE_FAILED: return result::kSourceUnreadable;
    case BURN_STOPPED: return result::kBurnStopped;
    default: return result::kWriteFailed;
  }
}
