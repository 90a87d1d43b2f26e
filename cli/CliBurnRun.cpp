// What the burning commands share: Ctrl-C, the speed option and the
// progress line of running burns.

#include "cli/CliBurnRun.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "BurnCtrl/BurnMultiRun.h"
#include "BurnCtrl/RecorderCommands.h"
#include "MediumTable.h"
#include "BurnCtrl/Results.h"
#include "BurnCtrl/Verify.h"
#include "cli/CliCommand.h"

int RunStep(const std::function<int()>& step, const std::function<std::string()>& progress,
            const std::function<void()>& stop) {
  InterruptCatcher catcher;
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
  int rc = result::kNothingDone;
  std::thread worker([&] {
    const int r = step();
    std::lock_guard<std::mutex> hold(lock);
    rc = r;
    done = true;
    ended.notify_all();
  });
  const bool terminal = isatty(STDERR_FILENO);
  std::string shown;
  bool stopped = false;
  for (;;) {
    {
      // Woken at the end; in between, the progress line is looked at ten
      // times a second.
      std::unique_lock<std::mutex> hold(lock);
      if (ended.wait_for(hold, std::chrono::milliseconds(100), [&] { return done; })) break;
    }
    if (gInterrupted && !stopped) {
      stopped = true;
      stop();
    }
    if (!terminal) continue;
    const std::string text = progress();
    if (text != shown) std::fprintf(stderr, "\r%s\033[K", (shown = text).c_str());
  }
  worker.join();
  if (terminal && !shown.empty()) std::fprintf(stderr, "\n");
  return rc;
}

std::string PercentLine(int percent, const std::string& what) {
  char line[16];
  std::snprintf(line, sizeof line, "%3d%%  ", percent);
  return line + what;
}

int RunWithProgress(const std::vector<int>& drives, const std::function<int(int)>& job) {
  std::mutex lock;
  std::condition_variable ended;
  size_t finished = 0;
  std::vector<int> results(drives.size(), result::kSuccess);
  std::vector<std::thread> workers;
  for (size_t i = 0; i < drives.size(); ++i)
    workers.emplace_back([&, i] {
      int r = job(drives[i]);
      std::lock_guard<std::mutex> hold(lock);
      results[i] = r;
      ++finished;
      ended.notify_all();
    });
  const bool terminal = isatty(STDERR_FILENO);
  std::string shown;
  bool aborted = false;
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(lock);
      if (ended.wait_for(hold, std::chrono::milliseconds(100), [&] { return finished == drives.size(); })) break;
    }
    if (gInterrupted && !aborted) {
      AbortWrite();
      aborted = true;
      // Said once the drives were told, so that whoever pressed Ctrl-C knows
      // the burn is ending and not hanging.
      std::fprintf(stderr, "%svarnex-cli: stopping the burn (interrupted)\n", terminal && !shown.empty() ? "\n" : "");
      shown.clear();
    }
    if (!terminal) continue;
    std::string text, item;
    for (int d : drives) {
      // Once written, a drive that reads its disc back shows that instead.
      const VerifyStatus v = GetVerifyStatus(d);
      char part[48];
      std::snprintf(part, sizeof part, drives.size() > 1 ? "%s %3d%%%s  " : "%.0s%3d%%%s  ", DriveLabel(d).c_str(),
                    v.running ? v.progress.Percent() : GetDriveStatus(d).percent, v.running ? " verify" : "");
      text += part;
    }
    const VerifyStatus first = GetVerifyStatus(drives.front());
    if (first.running) {
      char line[64];
      std::snprintf(line, sizeof line, "verifying, %.1f MB/s, %.0f s left", first.progress.bytesPerSecond / 1e6,
                    first.progress.secondsLeft);
      text += line;
    } else {
      text += GetDriveStatus(drives.front()).item;
    }
    if (text != shown) std::fprintf(stderr, "\r%s\033[K", (shown = text).c_str());
  }
  for (std::thread& w : workers) w.join();
  if (terminal && !shown.empty()) std::fprintf(stderr, "\n");
  for (size_t i = 0; i < drives.size(); ++i)
    if (results[i] != result::kSuccess) {
      std::string why = LastJobError(drives[i]);
      if (drives.size() > 1 || !why.empty())
        CliFail(results[i], FindRecorder(drives[i])->Name() + (why.empty() ? "" : ": " + why));
    }
  for (int r : results)
    if (r != result::kSuccess) return r;
  return result::kSuccess;
}

int RunCopies(const std::vector<int>& drives, int copies, const std::function<int(int)>& job,
              BurnMultiRun::Hooks hooks) {
  // The disc comes out only to make room for the next copy.
  hooks.eject = [copies](int d) {
    if (copies > 1) EjectDisc(d);
  };
  hooks.nextDisc = [](int d, int copy, const std::atomic<bool>& cancel) {
    std::fprintf(stderr, "varnex-cli: insert a blank disc into %s for copy %d\n", FindRecorder(d)->Name().c_str(),
                 copy);
    return BurnMultiRun::WaitForBlankDisc(d, cancel);
  };
  BurnMultiRun run(drives, copies, job, hooks);
  if (run.Start() != result::kSuccess) return CliFail(result::kNoSuchDrive, "no drive to burn on");
  const bool terminal = isatty(STDERR_FILENO);
  std::string shown;
  while (!run.WaitFor(BurnMultiRun::kPollMs)) {
    if (gInterrupted && !run.Cancelled()) {
      run.Cancel();
      std::fprintf(stderr, "%svarnex-cli: stopping the burn (interrupted)\n", terminal && !shown.empty() ? "\n" : "");
      shown.clear();
    }
    if (!terminal) continue;
    std::string text;
    for (const MultiRow& r : run.Rows()) {
      char part[48];
      std::snprintf(part, sizeof part, "%s %3d%% (%d/%d)  ", DriveLabel(r.drive).c_str(), r.percent, r.copy, r.copies);
      text += part;
    }
    if (text != shown) std::fprintf(stderr, "\r%s\033[K", (shown = text).c_str());
  }
  run.Wait();
  if (terminal && !shown.empty()) std::fprintf(stderr, "\n");
  // What each recorder cost the machine, and how often the source was read
  // for all of them together.
  if (drives.size() > 1) {
    std::string line = "varnex-cli: processor time of each recorder:";
    for (const MultiRow& r : run.Rows()) {
      char part[48];
      std::snprintf(part, sizeof part, " %s %.2f s", DriveLabel(r.drive).c_str(), r.cpuSeconds);
      line += part;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    const uint64_t read = run.Reader().SectorsRead(), handed = run.Reader().SectorsHanded();
    if (read > 0)
      std::fprintf(stderr, "varnex-cli: sectors read from the source %llu, handed to the recorders %llu (%.2f each)\n",
                   (unsigned long long)read, (unsigned long long)handed, double(handed) / double(read));
  }
  for (const MultiRow& r : run.Rows())
    if (r.result != result::kSuccess)
      CliFail(r.result, FindRecorder(r.drive)->Name() + " (copy " + std::to_string(r.copy) + " of " +
                            std::to_string(r.copies) + ")" + (r.error.empty() ? "" : ": " + r.error));
  return run.Result();
}

bool ParseCopies(const std::string& text, int* copies) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || v < 1 || v > 999) return false;
  *copies = int(v);
  return true;
}

bool ParseSpeed(const std::string& speed, double* x) {
  char* end = nullptr;
  *x = std::strtod(speed.c_str(), &end);
  return !speed.empty() && end != speed.c_str() && (!*end || std::string(end) == "x") && std::isfinite(*x) && *x > 0;
}

int SetSpeed(int index, const std::string& speed) {
  if (speed.empty()) return 0;
  double x = 0;
  if (!ParseSpeed(speed, &x)) return CliFail(result::kBadArguments, "--speed takes a number such as 16 or 8x");
  Recorder* r = FindRecorder(index);
  const int m = r->GetMediumType();
  const double unit = ::medium::IsCd(m) ? 176 : ::medium::IsBd(m) ? 4495 : 1385;
  // A speed is a wish: a recorder that refuses it writes at one of its own.
  (void)r->SetWriteSpeed(uint16_t(std::min(65535.0, x > 0 ? x * unit : 65535.0)));
  return 0;
}

