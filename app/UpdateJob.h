#pragma once
// The work of the updater program: fetch the files of the update list that
// differ from the installed ones into the pending folder, close the running
// main program, put the fetched files in place and start the main program
// again. Both phases run on the caller's (worker) thread; the window only
// reads the progress and may cancel.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "app/UpdateFiles.h"
#include "app/UpdateNetwork.h"

// The running main program, as the updater sees it.
class MainProgramControl {
 public:
  virtual ~MainProgramControl() = default;
  virtual bool Running() = 0;     // a main window answers
  virtual void AskToClose() = 0;  // asks it to close, as its own Close would
  virtual void WaitBeforeLookingAgain() = 0;  // 200 ms between two looks
  virtual bool Start(const std::string& program, const std::string& folder) = 0;
};

// The main program behind the per-user hand-over socket: it runs while its
// window listens there, and is asked to close with a close message.
class HandOverMainProgram : public MainProgramControl {
 public:
  explicit HandOverMainProgram(std::string socketPath = "");
  bool Running() override;
  void AskToClose() override;
  void WaitBeforeLookingAgain() override;
  bool Start(const std::string& program, const std::string& folder) override;

 private:
  std::string socket_;
};

class UpdateJob {
 public:
  enum class Outcome {
    NothingToDo,  // an empty list, or every file already as listed
    Downloaded,   // every needed file waits in the pending folder
    GivenUp,      // a download failed and the user gave up, or Cancel
    CloseRefused, // the main program is still running; the files wait
    Installed,    // the files are in place and the main program started
    NotRestarted, // installed, but the main program could not be started
    Failed,       // an entry cannot be fetched safely or put in place: nothing
                  // was installed, the user was told which and why
  };

  // Asks the user; returns the button (msgbox::kOk, kCancel, ...).
  using Ask = std::function<int(const std::string& text, unsigned flags)>;

  UpdateJob(UpdateNetwork& net, MainProgramControl& main, Ask ask, std::string server, std::string programDir);

  // Whether the pending folder holds files: the updater then installs at once.
  bool HasPending() const;
  Outcome DownloadPhase();
  Outcome InstallPhase();
  // From the window thread: the download stops at its next block, and the
  // downloaded files and the list are removed.
  void Cancel() { cancel_ = true; }
  // Removes the pending folder and the list, so that the main program offers
  // the update again at its next start.
  void Discard();

  // Progress, read by the window's timers.
  int Total() const { return total_.load(); }
  int Current() const { return current_.load(); }
  int Percent() const { return percent_.load(); }
  std::string CurrentPath() const;
  bool Installing() const { return installing_.load(); }

  // Tests stop a transfer at a block they choose.
  std::function<void(const std::string& path, int64_t received)> onBlock;

  std::string PendingFolder() const;
  std::string ListFile() const;

 private:
  bool FetchOne(const UpdateList& list, const UpdateEntry& entry);
  // Why each entry of the list cannot be installed from the pending folder
  // ("" when all can); nothing is changed.
  std::string CheckInstall(const UpdateList& list) const;
  // Puts every pending file in place, or (when one cannot be) puts back
  // every file it replaced; false with `why`.
  bool ReplaceAll(const UpdateList& list, std::string* why);
  bool PlainHttp() const;
  void SetCurrentPath(const std::string& path);
  std::string MainProgramFile(const std::string& soft) const;

  UpdateNetwork& net_;
  MainProgramControl& main_;
  Ask ask_;
  std::string server_, dir_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> installing_{false};
  std::atomic<int> total_{0}, current_{0}, percent_{0};
  mutable std::mutex pathLock_;
  std::string currentPath_;
};
