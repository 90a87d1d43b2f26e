#include "cli/CliInterrupt.h"

#include <csignal>

static_assert(std::atomic<bool>::is_always_lock_free, "the Ctrl-C handler may only set a lock-free flag");

namespace {
void OnInterrupt(int) { gInterrupted = true; }
}  // namespace

std::atomic<bool> gInterrupted{false};

InterruptCatcher::InterruptCatcher() : old_(std::signal(SIGINT, OnInterrupt)) {}
InterruptCatcher::~InterruptCatcher() { std::signal(SIGINT, old_); }
