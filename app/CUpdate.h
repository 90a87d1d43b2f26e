#pragma once
// The update check of the main program. Once per start, on threads of its
// own, it refreshes the updater program, offers to install files an earlier
// update left waiting, and otherwise fetches the update list and offers to
// run the updater when the list has changed. It never runs without an update
// server, nor for a program folder it may not write (a distribution package,
// which its package manager updates).

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/UpdateNetwork.h"

// The program folder's update files, named once.
namespace updatefiles {
constexpr const char* kUpdater = "update";            // the updater program
constexpr const char* kList = "update.ini";           // the list the user accepted
constexpr const char* kPending = "update.pending";    // downloads not yet installed
constexpr const char* kServerVersion = "filever.ini"; // the updater's version on the server
}  // namespace updatefiles

// What the check needs of the running program.
class UpdateHost {
 public:
  virtual ~UpdateHost() = default;
  // A message box, asked from the check's own thread.
  virtual int Ask(const std::string& text, unsigned flags) = 0;
  // Starts the updater with the program folder as working directory.
  virtual bool StartUpdater(const std::string& program, const std::string& folder) = 0;
  // Files are waiting and the updater runs: the main program ends.
  virtual void EndProgram() = 0;
};

class CUpdate {
 public:
  enum class Outcome {
    Running,
    Off,              // no server, or a program folder that is not ours to write
    PendingStarted,   // waiting files: the user agreed, the updater runs
    PendingDeclined,
    ListFailed,       // the list could not be fetched: nothing is said
    Unchanged,
    Declined,         // the list changed and the user said no
    UpdaterStarted,
    UpdaterNotStarted,
  };

  // `server` is the update server's address ("" switches the check off);
  // `programDir` ends in "/".
  CUpdate(UpdateHost& host, std::unique_ptr<UpdateNetwork> net, std::string server, std::string programDir);
  ~CUpdate();

  // Whether a check may run here: an address, and a program folder this
  // program writes its own files to.
  static bool Enabled(const std::string& server, const std::string& programDir, const std::string& writableDir);

  // Stores the product key and starts the first thread; returns at once.
  void Start(const std::string& productKey);
  // Waits for both threads (closing, and tests).
  void Wait();
  Outcome Result() const { return outcome_.load(); }
  // Whether the updater was refreshed by this check.
  bool UpdaterRefreshed() const { return refreshed_.load(); }

 private:
  void FirstThread();
  void SecondThread();
  void RefreshUpdater();
  std::string ServerFile(const std::string& name) const;

  UpdateHost& host_;
  std::unique_ptr<UpdateNetwork> net_;
  std::string server_, dir_, key_;
  std::thread first_, second_;
  std::mutex threads_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> refreshed_{false};
  std::atomic<Outcome> outcome_{Outcome::Running};
};

// Starts `program` with `folder` as working directory, detached from the
// caller (it outlives it and is never left a zombie). False when it could
// not be started.
bool StartDetached(const std::string& program, const std::string& folder);
