#include "app/UpdateJob.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <strings.h>
#include <system_error>
#include <thread>

#include "SafeFile.h"
#include "app/CUpdate.h"
#include "app/HandOver.h"
#include "foundation/LangText.h"
#include "foundation/ShowMessage.h"

namespace fs = std::filesystem;
using namespace updatefiles;

// ---------------------------------------------------------------------------
// The main program behind the hand-over socket

namespace {

int ConnectTo(const std::string& path) {
  if (path.empty()) return -1;
  sockaddr_un addr {};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr.sun_path)) return -1;
  std::memcpy(addr.sun_path, path.c_str(), path.size());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

HandOverMainProgram::HandOverMainProgram(std::string socketPath)
    : socket_(socketPath.empty() ? handover::SocketPath() : std::move(socketPath)) {}

bool HandOverMainProgram::Running() {
  int fd = ConnectTo(socket_);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

void HandOverMainProgram::AskToClose() {
  int fd = ConnectTo(socket_);
  if (fd < 0) return;
  const std::string message = handover::Encode(handover::kCloseCommand, "close");
  if (safefile::WriteAll(fd, message.data(), message.size())) {
    char reply = 0;
    while (::read(fd, &reply, 1) < 0 && errno == EINTR) {
    }
  }
  ::close(fd);
}

void HandOverMainProgram::WaitBeforeLookingAgain() { std::this_thread::sleep_for(std::chrono::milliseconds(200)); }

bool HandOverMainProgram::Start(const std::string& program, const std::string& folder) {
  return StartDetached(program, folder);
}

// ---------------------------------------------------------------------------
// The update

UpdateJob::UpdateJob(UpdateNetwork& net, MainProgramControl& main, Ask ask, std::string server,
                     std::string programDir)
    : net_(net), main_(main), ask_(std::move(ask)), server_(std::move(server)), dir_(std::move(programDir)) {}

std::string UpdateJob::PendingFolder() const { return dir_ + kPending; }
std::string UpdateJob::ListFile() const { return dir_ + kList; }

bool UpdateJob::HasPending() const { return FolderHoldsFiles(PendingFolder()); }

std::string UpdateJob::CurrentPath() const {
  std::lock_guard<std::mutex> lock(pathLock_);
  return currentPath_;
}

void UpdateJob::SetCurrentPath(const std::string& path) {
  std::lock_guard<std::mutex> lock(pathLock_);
  currentPath_ = path;
}

void UpdateJob::Discard() {
  RemoveTree(PendingFolder());
  ::unlink(ListFile().c_str());
}

UpdateJob::Outcome UpdateJob::DownloadPhase() {
  const UpdateList list = ReadUpdateList(ListFile());
  if (list.count <= 0 || SafeRelativePath(list.soft).empty() || list.soft.find('/') != std::string::npos)
    return Outcome::NothingToDo;
  std::vector<const UpdateEntry*> needed;
  for (const UpdateEntry& e : list.entries) {
    // An entry that would reach outside the program folder is never fetched.
    if (!e.path.empty() && NeedsDownload(dir_ + e.path, e)) needed.push_back(&e);
  }
  if (needed.empty()) return Outcome::NothingToDo;
  total_ = int(needed.size());
  for (size_t i = 0; i < needed.size(); ++i) {
    current_ = int(i) + 1;
    SetCurrentPath(needed[i]->listPath);
    if (cancel_ || !FetchOne(list, *needed[i])) {
      percent_ = 100;
      Discard();
      return Outcome::GivenUp;
    }
  }
  percent_ = 100;
  return Outcome::Downloaded;
}

bool UpdateJob::FetchOne(const UpdateList& list, const UpdateEntry& entry) {
  const std::string target = PendingFolder() + "/" + entry.path;
  DownloadCheck check;
  check.size = entry.size;
  check.sha256 = entry.sha256;
  check.mode = entry.version.empty() ? 0644 : 0755;
  // A whole copy from an earlier attempt is not fetched again.
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) && int64_t(st.st_size) == entry.size &&
      (entry.sha256.empty() || FileSha256(target) == entry.sha256))
    return true;
  std::error_code ec;
  fs::create_directories(fs::path(target).parent_path(), ec);
  const std::string url = UpdateUrl(server_, "update/" + list.soft + "/" + entry.listPath);
  for (;;) {
    percent_ = 0;
    DownloadHooks hooks;
    hooks.percent = &percent_;
    hooks.cancel = &cancel_;
    if (onBlock) hooks.onBlock = [this, &entry](int64_t received) { onBlock(entry.path, received); };
    DownloadResult result = Download(net_, url, target, check, hooks);
    if (result == DownloadResult::Ok) return true;
    if (result == DownloadResult::Cancelled || cancel_) return false;
    const std::string text = LoadLangText("Update", 5) + "\n" + entry.listPath + ": " + DownloadResultText(result);
    if (ask_(text, msgbox::kInfoOkCancel) != msgbox::kOk) return false;
  }
}

std::string UpdateJob::MainProgramFile(const std::string& soft) const {
  if (::access((dir_ + soft).c_str(), X_OK) == 0) return dir_ + soft;
  // The list's product key names the program in any case ("varnex" starts
  // "Varnex").
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir_, ec)) {
    const std::string name = entry.path().filename().string();
    if (strcasecmp(name.c_str(), soft.c_str()) == 0 && ::access(entry.path().c_str(), X_OK) == 0)
      return entry.path().string();
  }
  return dir_ + soft;
}

UpdateJob::Outcome UpdateJob::InstallPhase() {
  const UpdateList list = ReadUpdateList(ListFile());
  if (list.count <= 0) {
    // Downloads nobody can check against a list are never installed.
    RemoveTree(PendingFolder());
    return Outcome::NothingToDo;
  }
  while (main_.Running()) {
    if (ask_(LoadLangText("Update", 4), msgbox::kInfoOkCancel) != msgbox::kOk) return Outcome::CloseRefused;
    main_.AskToClose();
    main_.WaitBeforeLookingAgain();
  }
  // From here on the files are put in place one rename each; stopping half
  // way would leave an installation of two versions, so Cancel waits.
  installing_ = true;
  total_ = list.count;
  for (int i = 0; i < list.count; ++i) {
    const UpdateEntry& e = list.entries[size_t(i)];
    current_ = i + 1;
    SetCurrentPath(e.listPath);
    if (e.path.empty()) continue;
    const std::string source = PendingFolder() + "/" + e.path;
    const std::string target = dir_ + e.path;
    struct stat st;
    if (::lstat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    // Only a file that is exactly what the list names goes in.
    if (int64_t(st.st_size) != e.size || (!e.sha256.empty() && FileSha256(source) != e.sha256)) continue;
    std::error_code ec;
    fs::create_directories(fs::path(target).parent_path(), ec);
    struct stat old;
    if (::stat(target.c_str(), &old) == 0) ::chmod(source.c_str(), old.st_mode & 07777);
    // The installed file carries the listed time, so the next update sees it
    // as current and does not fetch it again.
    if (!e.time.empty()) SetFileTimeText(source, e.time);
    // A rename: the installed file is replaced whole, never written over.
    if (std::rename(source.c_str(), target.c_str()) != 0) continue;
  }
  RemoveTree(PendingFolder());
  percent_ = 100;
  return main_.Start(MainProgramFile(list.soft), dir_) ? Outcome::Installed : Outcome::NotRestarted;
}
