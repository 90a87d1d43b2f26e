#pragma once
// The result codes are kept once, below every layer that returns them, in
// foundation/ResultCodes.h; the engine's files keep including them by this name.

#include "foundation/ResultCodes.h"
