#pragma once
// Ctrl-C in varnex-cli: every command that runs a long job catches it the
// same way and stops its job through the flag.

#include <atomic>

// Set by Ctrl-C while an InterruptCatcher lives.
extern std::atomic<bool> gInterrupted;

// Ctrl-C is caught for the whole command, so that every way out (also while
// waiting for the next disc) goes through the same cleanup. The handler
// before it comes back when it ends.
class InterruptCatcher {
 public:
  InterruptCatcher();
  ~InterruptCatcher();
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

 private:
  void (*old_)(int);
};
