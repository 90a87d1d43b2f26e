#pragma once
// What the burning commands of varnex-cli share: Ctrl-C stops the job, the
// --speed option, and the progress line while burns run.

#include <atomic>
#include <functional>
#include <string>
#include <vector>

// Set by Ctrl-C while an InterruptCatcher lives.
extern std::atomic<bool> gInterrupted;

// Ctrl-C is caught for the whole command, so that every way out (also while
// waiting for the next disc) goes through the same cleanup.
class InterruptCatcher {
 public:
  InterruptCatcher();
  ~InterruptCatcher();

 private:
  void (*old_)(int);
};

// Runs `job` on one worker per drive and shows the drives' progress until
// every one has ended. An interrupt (Ctrl-C) stops the burns; the jobs then
// report the stop. Returns the first failure, or success.
int RunWithProgress(const std::vector<int>& drives, const std::function<int(int)>& job);

// "16" or "8x": a positive, finite multiple of the medium's base speed.
bool ParseSpeed(const std::string& speed, double* x);
// Sets the write speed of a drive from a --speed value ("" leaves it);
// 0, or the exit status after a message.
int SetSpeed(int index, const std::string& speed);
