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
  // Without encryption only a digest from the list vouches for a file: an
  // entry without one would be taken from whoever answers.
  if (PlainHttp()) {
    std::string unvouched;
    for (const UpdateEntry* e : needed)
      if (e->sha256.empty()) unvouched += "\n" + e->listPath;
    if (!unvouched.empty()) {
      ask_(LoadLangText("Update", 8) + unvouched, msgbox::kErrorOk);
      Discard();
      return Outcome::Failed;
    }
  }
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

bool UpdateJob::PlainHttp() const { return strncasecmp(server_.c_str(), "http://", 7) == 0; }

namespace {

// What stands in the way of a file put at `target` below `dir`: a folder on
// the way that is a file or a link, a folder or a device at the place, a
// folder we may not write. "" when nothing does.
std::string TargetProblem(const std::string& dir, const std::string& relative) {
  std::string at = dir;
  size_t from = 0;
  for (;;) {
    const size_t slash = relative.find('/', from);
    const bool last = slash == std::string::npos;
    const std::string part = relative.substr(from, last ? std::string::npos : slash - from);
    struct stat st;
    if (::lstat((at + part).c_str(), &st) != 0) {
      if (errno != ENOENT) return at + part + ": " + std::strerror(errno);
      // Folders to be made and the file itself go into the last folder there is.
      if (::access(at.c_str(), W_OK) != 0) return at + " cannot be written: " + std::strerror(errno);
      return "";
    }
    if (last) {
      if (S_ISDIR(st.st_mode)) return "a folder of that name is in the way";
      if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return "something that is not a file is in the way";
      if (::access(at.c_str(), W_OK) != 0) return at + " cannot be written: " + std::strerror(errno);
      return "";
    }
    if (!S_ISDIR(st.st_mode))
      return part + (S_ISLNK(st.st_mode) ? " is a symbolic link, not a folder" : " is a file, not a folder");
    at += part + "/";
    from = slash + 1;
  }
}

}  // namespace

std::string UpdateJob::CheckInstall(const UpdateList& list) const {
  std::string problems;
  auto note = [&](const UpdateEntry& e, const std::string& why) { problems += "\n" + e.listPath + ": " + why; };
  for (const UpdateEntry& e : list.entries) {
    if (e.path.empty()) continue;  // never fetched: it would reach outside the program folder
    const std::string source = PendingFolder() + "/" + e.path;
    struct stat st;
    if (::lstat(source.c_str(), &st) != 0) {
      // Not fetched because the installed file is already the listed one.
      if (NeedsDownload(dir_ + e.path, e)) note(e, "it was not downloaded");
      continue;
    }
    if (!S_ISREG(st.st_mode)) {
      note(e, "the downloaded file is not a regular file");
      continue;
    }
    // Only a file that is exactly what the list names goes in.
    if (int64_t(st.st_size) != e.size || (!e.sha256.empty() && FileSha256(source) != e.sha256)) {
      note(e, "the downloaded file differs from the update list");
      continue;
    }
    if (PlainHttp() && e.sha256.empty()) {
      note(e, "the update list gives no SHA-256 and the server is reached without encryption");
      continue;
    }
    if (std::string why = TargetProblem(dir_, e.path); !why.empty()) note(e, why);
  }
  return problems;
}

bool UpdateJob::ReplaceAll(const UpdateList& list, std::string* why) {
  struct Replaced {
    std::string target, kept;  // `kept`: the old file, "" when there was none
  };
  std::vector<Replaced> done;
  auto undo = [&](const std::string& what) {
    *why = what;
    for (auto it = done.rbegin(); it != done.rend(); ++it) {
      if (it->kept.empty()) ::unlink(it->target.c_str());
      else std::rename(it->kept.c_str(), it->target.c_str());
    }
    return false;
  };
  for (size_t i = 0; i < list.entries.size(); ++i) {
    const UpdateEntry& e = list.entries[i];
    current_ = int(i) + 1;
    SetCurrentPath(e.listPath);
    if (e.path.empty()) continue;
    const std::string source = PendingFolder() + "/" + e.path;
    const std::string target = dir_ + e.path;
    struct stat st;
    if (::lstat(source.c_str(), &st) != 0) continue;  // already current (checked before)
    std::error_code ec;
    fs::create_directories(fs::path(target).parent_path(), ec);
    if (ec) return undo(e.listPath + ": " + ec.message());
    struct stat old;
    const bool hadOld = ::lstat(target.c_str(), &old) == 0;
    // Checked before, but a folder may have come since: it is never moved.
    if (hadOld && !S_ISREG(old.st_mode) && !S_ISLNK(old.st_mode))
      return undo(e.listPath + ": a folder or something else that is not a file is in the way");
    if (hadOld && S_ISREG(old.st_mode)) ::chmod(source.c_str(), old.st_mode & 07777);
    // The installed file carries the listed time, so the next update sees it
    // as current and does not fetch it again.
    if (!e.time.empty()) SetFileTimeText(source, e.time);
    // The old file steps aside under a name of its own until the whole
    // update is in place, so that a later failure can put it back.
    std::string kept;
    if (hadOld) {
      for (int n = 0; kept.empty() && n < 1000; ++n) {
        std::string name = target + ".before-update" + (n ? std::to_string(n) : "");
        if (::lstat(name.c_str(), &st) != 0 && errno == ENOENT) kept = name;
      }
      if (kept.empty() || std::rename(target.c_str(), kept.c_str()) != 0)
        return undo(e.listPath + ": " + std::strerror(errno));
    }
    if (std::rename(source.c_str(), target.c_str()) != 0) {
      const int err = errno;
      if (hadOld) std::rename(kept.c_str(), target.c_str());
      return undo(e.listPath + ": " + std::strerror(err));
    }
    done.push_back({target, kept});
  }
  for (const Replaced& r : done)
    if (!r.kept.empty()) ::unlink(r.kept.c_str());
  return true;
}

UpdateJob::Outcome UpdateJob::InstallPhase() {
  const UpdateList list = ReadUpdateList(ListFile());
  if (list.count <= 0) {
    // Downloads nobody can check against a list are never installed.
    RemoveTree(PendingFolder());
    return Outcome::NothingToDo;
  }
  // An update goes in whole or not at all: every entry is checked before
  // the main program is closed and any file replaced.
  auto fail = [&](const std::string& problems) {
    percent_ = 100;
    Discard();  // offered again at the next start
    ask_(LoadLangText("Update", 7) + problems, msgbox::kErrorOk);
    return Outcome::Failed;
  };
  if (std::string problems = CheckInstall(list); !problems.empty()) return fail(problems);
  while (main_.Running()) {
    if (ask_(LoadLangText("Update", 4), msgbox::kInfoOkCancel) != msgbox::kOk) return Outcome::CloseRefused;
    main_.AskToClose();
    main_.WaitBeforeLookingAgain();
  }
  // From here on the files are put in place one rename each; stopping half
  // way would leave an installation of two versions, so Cancel waits.
  installing_ = true;
  total_ = list.count;
  std::string why;
  if (!ReplaceAll(list, &why)) return fail("\n" + why);
  RemoveTree(PendingFolder());
  percent_ = 100;
  return main_.Start(MainProgramFile(list.soft), dir_) ? Outcome::Installed : Outcome::NotRestarted;
}
