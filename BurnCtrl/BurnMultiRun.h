#pragma once
// One project written to several recorders at once, each recorder writing
// the requested number of copies. Every recorder runs on a worker of its
// own; the burns take the burn manager's cache path, where one reader of the
// run reads each chunk of a track once and hands it to every recorder that
// writes the same track. A recorder that fails ends only its own row.
//
// What one copy is (a data project, an image, prepared audio tracks, a disc
// written by the disc-at-once manager) is the caller's: it hands in a
// function that writes one copy onto one drive and answers a numbered
// result. The project is prepared (converted, laid out) once, before Start.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BurnCtrl/BufManaEx.h"

struct MultiRow {
  enum State { kWaiting, kWriting, kNextDisc, kDone, kFailed, kStopped };
  int drive = 0;
  State state = kWaiting;
  int percent = 0;     // over all copies of the row, 0 to 100
  int copy = 0;        // the copy being written (or the last one), from 1
  int copies = 1;
  std::string item;    // what the recorder is writing
  int result = 1;      // 1 while all is well, else the failure
  std::string error;   // why it failed, in words, where the burn said more
  double cpuSeconds = 0;  // processor time of the row's worker, once the row has ended
};

class BurnMultiRun {
 public:
  static constexpr int kMaxRows = 32;
  // A drive-set text names drives 1 to 25 (the drive letters); a run also
  // takes remote drives up to 32, as far as the command layer keeps project
  // copies. Drive 0, the image-file target, writes one image, never a set.
  static constexpr int kFirstDrive = 1, kLastDrive = 25, kLastRunDrive = 32;
  static constexpr int kPollMs = 100;
  static constexpr int kDiscPollMs = 1000;

  // Writes one copy onto one drive: 1, or a numbered failure.
  using BurnOne = std::function<int(int drive)>;
  struct Hooks {
    // The running copy's progress, 0 to 100; by default the burn list's.
    std::function<int(int drive)> progress;
    std::function<std::string(int drive)> item;
    // Why the last copy failed ("" when the result says it all).
    std::function<std::string(int drive)> error;
    // Stops whatever the drive is writing; by default the drive's job in
    // the command layer.
    std::function<void(int drive)> stop;
    // Before each copy: 1 when the disc in the drive suits the project, else
    // the result that ends the row. None by default.
    std::function<int(int drive)> checkDisc;
    // After every copy: the drive's burn leaves the list of running burns.
    // By default ResetBurn.
    std::function<void(int drive)> reset;
    // After a good copy: opens the tray. By default EjectDisc.
    std::function<void(int drive)> eject;
    // After the last copy; unset: `eject`. Between copies the disc always
    // comes out for the next one.
    std::function<void(int drive)> ejectLast;
    // Between copies: returns when a blank disc for copy `copy` is in the
    // drive (true) or when the row is to give up (false). By default polls
    // the drive every second for a blank writable disc, until cancelled.
    std::function<bool(int drive, int copy, const std::atomic<bool>& cancel)> nextDisc;
  };

  // Looks at the drive until it holds a blank writable disc (true) or
  // `cancel` is set (false): the wait for the next disc wherever one is
  // asked for. Between looks `pause` runs; by default it waits a second,
  // ended early by `cancel`.
  static bool WaitForBlankDisc(int drive, const std::atomic<bool>& cancel,
                               const std::function<void()>& pause = nullptr);
  // ",3,4," → {3, 4}: the drives of a drive-set text, in the order given,
  // each once, only those from 1 to 25.
  static std::vector<int> ParseDriveSet(const std::string& text);
  static std::string DriveSetText(const std::vector<int>& drives);
  // A row's percentage: `done` copies complete and the running one at
  // `progress`, spread over `copies`.
  static int RowPercent(int done, int copies, int progress);

  BurnMultiRun(const std::vector<int>& drives, int copies, BurnOne burn, Hooks hooks = {});
  ~BurnMultiRun();  // cancels a run that is still going and waits for it
  BurnMultiRun(const BurnMultiRun&) = delete;
  BurnMultiRun& operator=(const BurnMultiRun&) = delete;

  // Starts one worker per drive. 1, or 0 when there is no drive to burn on.
  int Start();
  // Stops every row; running burns are stopped, waiting rows give up.
  void Cancel();
  bool Cancelled() const { return cancel_; }
  bool Running() const;
  // Waits until every row has ended. A cancelled run keeps stopping burns
  // that rows started while the cancel went out.
  void Wait();
  // Waits until every row has ended (true) or `ms` have passed (false):
  // how a display wakes to refresh and still learns of the end at once.
  bool WaitFor(int ms);

  std::vector<MultiRow> Rows() const;
  // 1 when every row wrote all its copies; the first failure otherwise
  // (the stop result when the run was cancelled).
  int Result() const;
  // One line for every row that did not write all its copies: the drive as
  // `nameOf` gives it, the result's text and number, and what the drive said.
  std::string Summary(const std::function<std::string(int drive)>& nameOf) const;
  // The run's one reader: sectors read from the sources, and handed to the
  // recorders.
  const SharedReader& Reader() const { return shared_; }

 private:
  struct Row {
    int drive = 0;
    std::atomic<int> state{MultiRow::kWaiting};
    std::atomic<int> copy{0}, done{0}, shown{0}, result{1};
    std::atomic<bool> running{false};
    std::atomic<int64_t> cpuNs{0};
    std::string error;  // under lock_
  };
  void RunRow(Row& row);
  int Progress(int drive) const;

  int copies_;
  BurnOne burn_;
  Hooks hooks_;
  std::vector<std::unique_ptr<Row>> rows_;
  std::vector<std::thread> workers_;
  SharedReader shared_;
  std::atomic<bool> cancel_{false};
  mutable std::mutex lock_;
  std::condition_variable ended_;
};
