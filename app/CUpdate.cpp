#include "app/CUpdate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "app/UpdateFiles.h"
#include "foundation/LangText.h"
#include "foundation/Process.h"
#include "foundation/ProfileIni.h"
#include "foundation/ShowMessage.h"
#include "foundation/TempFiles.h"

using namespace updatefiles;

CUpdate::CUpdate(UpdateHost& host, std::unique_ptr<UpdateNetwork> net, std::string server, std::string programDir)
    : host_(host), net_(std::move(net)), server_(std::move(server)), dir_(std::move(programDir)) {}

CUpdate::~CUpdate() {
  stop_ = true;
  Wait();
}

bool CUpdate::Enabled(const std::string& server, const std::string& programDir, const std::string& writableDir) {
  return !server.empty() && !programDir.empty() && programDir == writableDir && access(programDir.c_str(), W_OK) == 0;
}

void CUpdate::Start(const std::string& productKey) {
  key_ = productKey;
  if (server_.empty()) {
    outcome_ = Outcome::Off;
    return;
  }
  std::lock_guard<std::mutex> lock(threads_);
  first_ = std::thread([this] { FirstThread(); });
}

void CUpdate::Wait() {
  std::thread first;
  {
    std::lock_guard<std::mutex> lock(threads_);
    first.swap(first_);
  }
  if (first.joinable()) first.join();
  std::thread second;
  {
    std::lock_guard<std::mutex> lock(threads_);
    second.swap(second_);
  }
  if (second.joinable()) second.join();
}

std::string CUpdate::ServerFile(const std::string& name) const {
  return UpdateUrl(server_, "update/" + key_ + "/" + name);
}

void CUpdate::FirstThread() {
  // Files an earlier update left waiting are offered before anything is
  // fetched: the user decides whether this start goes to the network at all.
  if (FolderHoldsFiles(dir_ + kPending)) {
    if (host_.Ask(LoadLangText("Update", 6), msgbox::kInfoYesNo) != msgbox::kYes) {
      outcome_ = Outcome::PendingDeclined;
      return;
    }
    if (host_.StartUpdater(dir_ + kUpdater, dir_)) {
      outcome_ = Outcome::PendingStarted;
      host_.EndProgram();
    } else {
      outcome_ = Outcome::UpdaterNotStarted;
    }
    return;
  }
  RefreshUpdater();
  if (stop_) return;
  std::lock_guard<std::mutex> lock(threads_);
  second_ = std::thread([this] { SecondThread(); });
}

void CUpdate::RefreshUpdater() {
  if (net_->Status(ServerFile(kUpdater)) == 404 || stop_) return;
  const std::string versionFile = MakeTempFile("ini");
  if (versionFile.empty()) return;
  DownloadHooks hooks;
  hooks.cancel = &stop_;
  if (Download(*net_, ServerFile(kServerVersion), versionFile, {}, hooks) != DownloadResult::Ok) {
    ::unlink(versionFile.c_str());
    return;
  }
  const std::string serverVersion = ini::GetString(versionFile, "update", "VER", "1, 0, 0, 1");
  ::unlink(versionFile.c_str());
  const std::string updater = dir_ + kUpdater;
  if (serverVersion == FileVersionOf(updater)) return;
  // The new updater replaces the old one only once it has arrived whole; a
  // failed transfer leaves the old one working.
  DownloadCheck check;
  check.mode = 0755;
  if (Download(*net_, ServerFile(kUpdater), updater, check, hooks) == DownloadResult::Ok) refreshed_ = true;
}

void CUpdate::SecondThread() {
  const std::string local = dir_ + kList;
  const std::string fetched = local + ".new";
  ::unlink(fetched.c_str());
  DownloadHooks hooks;
  hooks.cancel = &stop_;
  if (Download(*net_, ServerFile(kList), fetched, {}, hooks) != DownloadResult::Ok) {
    outcome_ = Outcome::ListFailed;
    return;
  }
  if (SameContent(fetched, local)) {
    ::unlink(fetched.c_str());
    outcome_ = Outcome::Unchanged;
    return;
  }
  if (std::rename(fetched.c_str(), local.c_str()) != 0) {
    ::unlink(fetched.c_str());
    outcome_ = Outcome::ListFailed;
    return;
  }
  if (stop_) return;
  if (host_.Ask(LoadLangText("Update", 6), msgbox::kInfoYesNo) != msgbox::kYes) {
    // The question comes back at the next start.
    ::unlink(local.c_str());
    outcome_ = Outcome::Declined;
    return;
  }
  outcome_ = host_.StartUpdater(dir_ + kUpdater, dir_) ? Outcome::UpdaterStarted : Outcome::UpdaterNotStarted;
}

bool StartDetached(const std::string& program, const std::string& folder) {
  ProcessOptions options;
  options.workingFolder = folder;
  return StartDetachedProcess({program}, options);
}
