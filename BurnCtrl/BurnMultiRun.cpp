#include "BurnCtrl/BurnMultiRun.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <random>

#include <time.h>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "foundation/LangText.h"

namespace {

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int64_t ThreadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

// The user takes the written disc out and puts a blank one in. A disc that
// is ready but not blank (the written one pushed back in) is not the next
// copy's disc.
bool BurnMultiRun::WaitForBlankDisc(int drive, const std::atomic<bool>& cancel, const std::function<void()>& pause) {
  while (!cancel) {
    bool blank = false, writable = false;
    int medium = 0;
    if (GetDiscInfo(drive, &blank, &writable, &medium) == result::kSuccess && blank && writable) return true;
    if (pause) {
      pause();
      continue;
    }
    for (int waited = 0; waited < BurnMultiRun::kDiscPollMs && !cancel; waited += BurnMultiRun::kPollMs)
      Sleep(BurnMultiRun::kPollMs);
  }
  return false;
}

std::vector<int> BurnMultiRun::ParseDriveSet(const std::string& text) {
  std::string set = text;
  if (set.empty() || set.front() != ',') set.insert(set.begin(), ',');
  if (set.back() != ',') set.push_back(',');
  std::vector<int> drives;
  for (int d = kFirstDrive; d <= kLastDrive; ++d) {
    const size_t at = set.find("," + std::to_string(d) + ",");
    if (at != std::string::npos) drives.push_back(d);
  }
  // In the order the text gives them.
  std::sort(drives.begin(), drives.end(), [&](int a, int b) {
    return set.find("," + std::to_string(a) + ",") < set.find("," + std::to_string(b) + ",");
  });
  return drives;
}

std::string BurnMultiRun::DriveSetText(const std::vector<int>& drives) {
  std::string text = ",";
  for (int d : drives) text += std::to_string(d) + ",";
  return text;
}

int BurnMultiRun::RowPercent(int done, int copies, int progress) {
  copies = std::max(1, copies);
  progress = std::clamp(progress, 0, 100);
  // Spread over the copies as a whole, so that the last copy ends at 100
  // (100 / copies per copy would stop three copies at 99).
  const int percent = (done * 100 + progress) / copies;
  return std::clamp(percent, 0, 100);
}

BurnMultiRun::BurnMultiRun(const std::vector<int>& drives, int copies, BurnOne burn, Hooks hooks)
    : copies_(std::max(1, copies)), burn_(std::move(burn)), hooks_(std::move(hooks)) {
  for (int d : drives) {
    if (d < kFirstDrive || d > kLastRunDrive || int(rows_.size()) >= kMaxRows) continue;
    if (std::any_of(rows_.begin(), rows_.end(), [&](const auto& r) { return r->drive == d; })) continue;
    auto row = std::make_unique<Row>();
    row->drive = d;
    rows_.push_back(std::move(row));
  }
  if (!hooks_.progress) hooks_.progress = [](int d) { return GetDriveStatus(d).percent; };
  if (!hooks_.item) hooks_.item = [](int d) { return GetDriveStatus(d).item; };
  if (!hooks_.error) hooks_.error = [](int d) { return LastJobError(d); };
  if (!hooks_.stop) hooks_.stop = [](int drive) { AbortWrite(drive); };
  if (!hooks_.reset) hooks_.reset = [](int d) { ResetBurn(d); };
  if (!hooks_.eject) hooks_.eject = [](int d) { EjectDisc(d); };
  if (!hooks_.nextDisc)
    hooks_.nextDisc = [](int d, int, const std::atomic<bool>& cancel) { return WaitForBlankDisc(d, cancel); };
}

BurnMultiRun::~BurnMultiRun() {
  if (!workers_.empty()) {
    Cancel();
    Wait();
  }
}

int BurnMultiRun::Start() {
  if (rows_.empty() || !workers_.empty()) return result::kNothingDone;
  cancel_ = false;
  SetMultiRecorderMode(true);
  SetLayoutStamp(std::time(nullptr), uint32_t(std::random_device{}()));
  for (auto& row : rows_) row->running = true;
  for (auto& row : rows_) SharedReader::SetForDrive(row->drive, &shared_);
  for (auto& row : rows_) workers_.emplace_back([this, r = row.get()] { RunRow(*r); });
  return result::kSuccess;
}

void BurnMultiRun::RunRow(Row& row) {
  const int drive = row.drive;
  const int64_t cpuStart = ThreadCpuNs();
  int res = result::kSuccess;
  for (int copy = 1; copy <= copies_; ++copy) {
    if (cancel_) {
      res = result::kBurnStopped;
      break;
    }
    row.copy = copy;
    if (hooks_.checkDisc && (res = hooks_.checkDisc(drive)) != result::kSuccess) break;
    row.state = MultiRow::kWriting;
    res = burn_(drive);
    // Off the writing state before the copy counts as done: a display never
    // adds the finished burn's 100 to a copy already counted.
    row.state = MultiRow::kWaiting;
    if (res != result::kSuccess) {
      std::lock_guard<std::mutex> hold(lock_);
      row.error = hooks_.error(drive);
    }
    if (res == result::kSuccess) ++row.done;
    hooks_.reset(drive);
    if (res != result::kSuccess) break;
    (copy < copies_ || !hooks_.ejectLast ? hooks_.eject : hooks_.ejectLast)(drive);
    if (copy == copies_) break;
    if (cancel_) {
      res = result::kBurnStopped;
      break;
    }
    row.state = MultiRow::kNextDisc;
    if (!hooks_.nextDisc(drive, copy + 1, cancel_)) {
      res = cancel_ ? result::kBurnStopped : result::kNotReady;
      break;
    }
  }
  if (res != result::kSuccess && cancel_) res = result::kBurnStopped;
  row.cpuNs = ThreadCpuNs() - cpuStart;
  row.result = res;
  row.state = res == result::kSuccess ? MultiRow::kDone : res == result::kBurnStopped ? MultiRow::kStopped
                                                                                      : MultiRow::kFailed;
  std::lock_guard<std::mutex> hold(lock_);
  row.running = false;
  ended_.notify_all();
}

void BurnMultiRun::Cancel() {
  cancel_ = true;
  for (auto& row : rows_)
    if (row->running) hooks_.stop(row->drive);
}

bool BurnMultiRun::Running() const {
  return std::any_of(rows_.begin(), rows_.end(), [](const auto& r) { return r->running.load(); });
}

bool BurnMultiRun::WaitFor(int ms) {
  std::unique_lock<std::mutex> hold(lock_);
  return ended_.wait_for(hold, std::chrono::milliseconds(ms), [&] { return !Running(); });
}

void BurnMultiRun::Wait() {
  std::unique_lock<std::mutex> hold(lock_);
  while (Running()) {
    ended_.wait_for(hold, std::chrono::milliseconds(kPollMs), [&] { return !Running(); });
    if (cancel_ && Running()) {
      // A row may have started its next burn just as the stop went out; it
      // is stopped again until every row has ended.
      hold.unlock();
      Cancel();
      hold.lock();
    }
  }
  hold.unlock();
  for (std::thread& w : workers_) w.join();
  workers_.clear();
  SetMultiRecorderMode(false);
  SetLayoutStamp(0, 0);
  for (auto& row : rows_)
    if (SharedReader::ForDrive(row->drive) == &shared_) SharedReader::SetForDrive(row->drive, nullptr);
}

int BurnMultiRun::Progress(int drive) const { return hooks_.progress(drive); }

std::vector<MultiRow> BurnMultiRun::Rows() const {
  std::vector<MultiRow> out;
  for (const auto& r : rows_) {
    MultiRow m;
    m.drive = r->drive;
    const int done = r->done;  // read before the state (see RunRow)
    m.state = MultiRow::State(r->state.load());
    m.copy = r->copy;
    m.copies = copies_;
    m.result = r->result;
    m.cpuSeconds = double(r->cpuNs.load()) / 1e9;
    const bool writing = m.state == MultiRow::kWriting;
    int percent = RowPercent(done, copies_, writing ? Progress(r->drive) : 0);
    // Never backwards: a copy's burn leaves the list before the next begins.
    int shown = r->shown.load();
    while (percent > shown && !r->shown.compare_exchange_weak(shown, percent)) {
    }
    m.percent = std::max(percent, r->shown.load());
    if (writing) m.item = hooks_.item(r->drive);
    std::lock_guard<std::mutex> hold(lock_);
    m.error = r->error;
    out.push_back(std::move(m));
  }
  return out;
}

int BurnMultiRun::Result() const {
  for (const auto& r : rows_)
    if (r->result != result::kSuccess) return cancel_ ? result::kBurnStopped : r->result.load();
  return result::kSuccess;
}

std::string BurnMultiRun::Summary(const std::function<std::string(int drive)>& nameOf) const {
  std::string text;
  for (const MultiRow& r : Rows()) {
    if (r.result == result::kSuccess) continue;
    text += nameOf(r.drive) + ": " + LoadErrorText(r.result) + " (" + std::to_string(r.result) + ")";
    if (!r.error.empty()) text += " " + r.error;
    text += "\n";
  }
  return text;
}
