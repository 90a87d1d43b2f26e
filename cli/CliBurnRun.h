#pragma once
// What the burning commands of varnex-cli share: Ctrl-C stops the job, the
// --speed option, and the progress line while burns run.

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "BurnCtrl/BurnMultiRun.h"
#include "cli/CliInterrupt.h"

// Runs one step of a command (a burn, a copy, an authoring, an extraction)
// on a worker until it ends, showing `progress()` on a terminal whenever it
// changes; Ctrl-C calls `stop` once. Returns the step's result.
int RunStep(const std::function<int()>& step, const std::function<std::string()>& progress,
            const std::function<void()>& stop);
// "  42%  WHAT": the progress line of a step.
std::string PercentLine(int percent, const std::string& what);

// Runs `job` on one worker per drive and shows the drives' progress until
// every one has ended. An interrupt (Ctrl-C) stops the burns; the jobs then
// report the stop. Returns the first failure, or success.
int RunWithProgress(const std::vector<int>& drives, const std::function<int(int)>& job);

// Several drives or several copies: every drive writes `copies` copies of
// its own (`job` writes one), asking for a blank disc between copies; a
// drive that fails ends only its own copies. Ctrl-C stops every drive.
// Names every drive that failed and returns the first failure, or success.
// `hooks` read and stop burns that are not on the burn list (the eject and
// the wait for the next disc are this function's own).
int RunCopies(const std::vector<int>& drives, int copies, const std::function<int(int)>& job,
              BurnMultiRun::Hooks hooks = {});

// --copies N: a number from 1 to 999.
bool ParseCopies(const std::string& text, int* copies);
inline constexpr const char* kCopiesUsage = "--copies takes a number from 1 to 999";

// "16" or "8x": a positive, finite multiple of the medium's base speed.
bool ParseSpeed(const std::string& speed, double* x);
// Sets the write speed of a drive from a --speed value ("" leaves it);
// 0, or the exit status after a message.
int SetSpeed(int index, const std::string& speed);
