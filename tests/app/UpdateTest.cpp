// The update check, the updater's two phases and the information download,
// against local HTTP and HTTPS servers: what is fetched, what is asked, and
// that nothing installed is touched unless a whole, checked file replaces it.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <deque>
#include <functional>
#include <thread>
#include <utility>

#include "support/RunCommand.h"
#include "support/TestFolders.h"
#include "support/UpdateServer.h"
#include "app/CUpdate.h"
#include "app/HandOver.h"
#include "app/UpdateFiles.h"
#include "app/UpdateJob.h"
#include "foundation/ProgramDir.h"
#include "foundation/ShowMessage.h"

namespace {

// A file that carries a program's version mark, as the programs do.
std::string Program(const std::string& version, const std::string& body) {
  return std::string("\x7f" "ELF") + body + std::string(1, '\0') + "VARNEX-FILEVERSION:" + version +
         std::string(1, '\0') + body;
}

std::string Sha256Of(const std::string& content) {
  ScratchFolder f;
  return FileSha256(f.Write("x", content));
}

// Counts what goes to the network, so that a test can say "nothing yet".
class CountingNetwork : public UpdateNetwork {
 public:
  explicit CountingNetwork(std::unique_ptr<UpdateNetwork> real) : real_(std::move(real)) {}
  long Status(const std::string& url) override {
    ++requests;
    urls.push_back(url);
    return real_->Status(url);
  }
  FetchResult Get(const std::string& url, const std::function<bool(int64_t)>& onLength,
                  const std::function<bool(const char*, size_t)>& onBlock) override {
    ++requests;
    urls.push_back(url);
    return real_->Get(url, onLength, onBlock);
  }
  std::atomic<int> requests{0};
  std::vector<std::string> urls;

 private:
  std::unique_ptr<UpdateNetwork> real_;
};

class RecordingHost : public UpdateHost {
 public:
  explicit RecordingHost(CountingNetwork* net) : net_(net) {}
  int Ask(const std::string&, unsigned flags) override {
    askedAfterRequests.push_back(net_ ? net_->requests.load() : 0);
    flagsSeen = flags;
    if (answers.empty()) return msgbox::kNo;
    int a = answers.front();
    answers.pop_front();
    return a;
  }
  bool StartUpdater(const std::string& program, const std::string& folder) override {
    started.push_back(program + " in " + folder);
    return true;
  }
  void EndProgram() override { ended = true; }
  std::deque<int> answers;
  std::vector<int> askedAfterRequests;
  std::vector<std::string> started;
  unsigned flagsSeen = 0;
  bool ended = false;

 private:
  CountingNetwork* net_;
};

// A program folder and a server folder side by side.
struct UpdateSetup {
  // The program folder is a portable copy's: the updater's own files stay in it.
  UpdateSetup() { program.Write("portable", ""); }
  ScratchFolder program, server;
  std::string dir() const { return program.path() + "/"; }
  std::string ServerFile(const std::string& rel, const std::string& content) const {
    return server.Write("update/varnex/" + rel, content);
  }
};

std::string ListText(const std::vector<std::array<std::string, 3>>& files, bool withSha = true) {
  // path, content, time
  std::string text = "[update]\ncount=" + std::to_string(files.size()) + "\nsoft=varnex\nMainExe=Varnex\n";
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    text += "path" + n + "=" + files[i][0] + "\n";
    text += "size" + n + "=" + std::to_string(files[i][1].size()) + "\n";
    text += "time" + n + "=" + files[i][2] + "\n";
    if (files[i][1].find("VARNEX-FILEVERSION:") != std::string::npos) {
      size_t at = files[i][1].find("VARNEX-FILEVERSION:") + 19;
      text += "ver" + n + "=" + files[i][1].substr(at, files[i][1].find('\0', at) - at) + "\n";
    }
    if (withSha) text += "sha" + n + "=" + Sha256Of(files[i][1]) + "\n";
  }
  return text;
}

}  // namespace

// ---------------------------------------------------------------------------
// The download

TEST(UpdateDownload, TakesOnlyWholeCheckedFilesAndLeavesTheOldOneOtherwise) {
  UpdateSetup s;
  TestUpdateServer server(s.server.path());
  ASSERT_TRUE(server.Running()) << server.Error();
  auto net = MakeCurlNetwork();
  const std::string body(300000, 'n');
  s.ServerFile("whole.bin", body);
  s.ServerFile("short.bin", body);
  s.ServerFile("short.bin.short", "5000");
  const std::string target = s.program.Write("installed.bin", "old program");
  auto url = [&](const std::string& name) { return UpdateUrl(server.Url(), "update\\varnex\\" + name); };

  DownloadCheck check;
  check.size = int64_t(body.size());
  check.sha256 = Sha256Of(body);
  check.mode = 0755;
  std::atomic<int> percent{0};
  DownloadHooks hooks;
  hooks.percent = &percent;
  EXPECT_EQ(Download(*net, url("short.bin"), target, {}, hooks), DownloadResult::Short);
  EXPECT_EQ(ReadWholeFile(target), "old program") << "a cut transfer replaced the file";
  EXPECT_EQ(Download(*net, url("whole.bin"), target, DownloadCheck{int64_t(body.size()) + 1, "", 0644}),
            DownloadResult::WrongSize);
  EXPECT_EQ(Download(*net, url("whole.bin"), target, DownloadCheck{-1, Sha256Of("other"), 0644}),
            DownloadResult::WrongDigest);
  EXPECT_EQ(Download(*net, url("missing.bin"), target), DownloadResult::NotFound);
  EXPECT_EQ(ReadWholeFile(target), "old program");

  EXPECT_EQ(Download(*net, url("whole.bin"), target, check, hooks), DownloadResult::Ok);
  EXPECT_EQ(ReadWholeFile(target), body);
  EXPECT_EQ(percent.load(), 100);
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  // No partial file is left beside the target by any of the attempts.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(s.program.path()))
    files += e.is_regular_file() && e.path().filename() != "portable" ? 1 : 0;
  EXPECT_EQ(files, 1);
}

TEST(UpdateDownload, HttpsServerIsTrustedOnlyThroughItsCertificate) {
  UpdateSetup s;
  TestUpdateServer server(s.server.path(), true);
  ASSERT_TRUE(server.Running()) << server.Error();
  s.ServerFile("update.ini", "[update]\ncount=0\n");
  const std::string target = s.program / "fetched.ini";
  auto unknown = MakeCurlNetwork();
  EXPECT_EQ(Download(*unknown, server.Url() + "/update/varnex/update.ini", target), DownloadResult::Failed)
      << "a certificate nobody vouches for was accepted";
  EXPECT_FALSE(FileExists(target));
  auto trusting = MakeCurlNetwork(server.CaFile());
  EXPECT_EQ(Download(*trusting, server.Url() + "/update/varnex/update.ini", target), DownloadResult::Ok);
  EXPECT_EQ(ReadWholeFile(target), "[update]\ncount=0\n");
}

TEST(UpdateFiles, ListPathsStayInsideTheProgramFolder) {
  EXPECT_EQ(SafeRelativePath("Lang\\en.ini"), "Lang/en.ini");
  EXPECT_EQ(SafeRelativePath("Varnex"), "Varnex");
  for (const char* bad : {"", "/etc/passwd", "..\\..\\.bashrc", "Lang\\..\\..\\x", "a\\\\b", ".\\x", "a/"})
    EXPECT_EQ(SafeRelativePath(bad), "") << bad;
  ScratchFolder f;
  const std::string p = f.Write("prog", Program("4, 2, 0, 0", "code"));
  EXPECT_EQ(FileVersionOf(p), "4, 2, 0, 0");
  EXPECT_EQ(FileVersionOf(f.Write("text", "no mark")), "");
  ASSERT_TRUE(SetFileTimeText(p, "2026 3 4 5 6"));
  EXPECT_EQ(FileTimeText(p), "2026 3 4 5 6");
}

// ---------------------------------------------------------------------------
// The check of the main program

TEST(UpdateCheck, RunsOnlyWithAServerInAFolderOfItsOwn) {
  EXPECT_FALSE(CUpdate::Enabled("", "/tmp/p/", "/tmp/p/")) << "no address: no check";
  EXPECT_FALSE(CUpdate::Enabled("http://h", "/usr/share/varnex/", "/home/u/.config/varnex/"))
      << "an installed program is updated by its package manager";
  ScratchFolder f;
  const std::string dir = f.path() + "/";
  EXPECT_TRUE(CUpdate::Enabled("http://h", dir, dir));
  if (geteuid() != 0) {
    chmod(f.path().c_str(), 0555);
    EXPECT_FALSE(CUpdate::Enabled("http://h", dir, dir)) << "a folder that cannot be written";
    chmod(f.path().c_str(), 0755);
  }
  RecordingHost host(nullptr);
  CUpdate off(host, MakeCurlNetwork(), "", dir);
  off.Start("varnex");
  off.Wait();
  EXPECT_EQ(off.Result(), CUpdate::Outcome::Off);
}

TEST(UpdateCheck, AsksOnlyWhenTheListChangedAndAskesAgainAfterNo) {
  UpdateSetup s;
  TestUpdateServer server(s.server.path());
  ASSERT_TRUE(server.Running()) << server.Error();
  const std::string list = ListText({{"Lang\\en.ini", "texts", "2026 1 1 0 0"}});
  s.ServerFile("update.ini", list);  // no updater on the server: 404
  s.program.Write("update.ini", list);
  std::vector<std::string> urls;  // what the last check fetched
  auto run = [&](RecordingHost& host, std::vector<std::string>& fetched) {
    auto net = std::make_unique<CountingNetwork>(MakeCurlNetwork());
    CountingNetwork* counted = net.get();
    CUpdate check(host, std::move(net), server.Url(), s.dir());
    check.Start("varnex");
    check.Wait();
    fetched = counted->urls;
    return check.Result();
  };
  auto& net = urls;
  {
    RecordingHost host(nullptr);
    EXPECT_EQ(run(host, net), CUpdate::Outcome::Unchanged);
    EXPECT_TRUE(host.askedAfterRequests.empty()) << "an unchanged list asked";
    EXPECT_NE(std::find(urls.begin(), urls.end(), server.Url() + "/update/varnex/update.ini"), urls.end())
        << "a 404 for the updater skips its refresh but the list is still checked";
  }
  s.ServerFile("update.ini", list + "; changed\n");
  {
    RecordingHost host(nullptr);
    host.answers = {msgbox::kNo};
    EXPECT_EQ(run(host, net), CUpdate::Outcome::Declined);
    EXPECT_EQ(host.askedAfterRequests.size(), 1u);
    EXPECT_EQ(host.flagsSeen, msgbox::kInfoYesNo);
    EXPECT_FALSE(FileExists(s.program / "update.ini")) << "No must bring the question back next time";
  }
  {
    RecordingHost host(nullptr);
    host.answers = {msgbox::kYes};
    EXPECT_EQ(run(host, net), CUpdate::Outcome::UpdaterStarted) << "the list was gone, so it differs again";
    EXPECT_EQ(ReadWholeFile(s.program / "update.ini"), list + "; changed\n");
    ASSERT_EQ(host.started.size(), 1u);
    EXPECT_EQ(host.started[0], s.dir() + "update in " + s.dir());
    EXPECT_FALSE(host.ended) << "the main program keeps running until the updater asks it to close";
  }
}

TEST(UpdateCheck, PendingFilesAskBeforeAnyNetworkAccess) {
  UpdateSetup s;
  TestUpdateServer server(s.server.path());
  ASSERT_TRUE(server.Running()) << server.Error();
  s.program.Write("update.pending/Lang/en.ini", "waiting");
  for (int answer : {msgbox::kNo, msgbox::kYes}) {
    auto net = std::make_unique<CountingNetwork>(MakeCurlNetwork());
    CountingNetwork* counted = net.get();
    RecordingHost host(counted);
    host.answers = {answer};
    CUpdate check(host, std::move(net), server.Url(), s.dir());
    check.Start("varnex");
    check.Wait();
    ASSERT_EQ(host.askedAfterRequests.size(), 1u);
    EXPECT_EQ(host.askedAfterRequests[0], 0) << "the network was used before the question";
    EXPECT_EQ(counted->requests.load(), 0);
    EXPECT_EQ(host.ended, answer == msgbox::kYes);
    EXPECT_EQ(check.Result(), answer == msgbox::kYes ? CUpdate::Outcome::PendingStarted : CUpdate::Outcome::PendingDeclined);
  }
}

TEST(UpdateCheck, RefreshesTheUpdaterWholeOnlyWhenItsVersionDiffers) {
  UpdateSetup s;
  TestUpdateServer server(s.server.path());
  ASSERT_TRUE(server.Running()) << server.Error();
  const std::string oldUpdater = Program("1, 0, 0, 1", "old updater");
  const std::string newUpdater = Program("1, 0, 0, 7", std::string(100000, 'u'));
  s.program.Write("update", oldUpdater);
  s.ServerFile("update", newUpdater);
  s.ServerFile("update.short", "64");  // first the transfer breaks off
  s.ServerFile("filever.ini", "[update]\nVER=1, 0, 0, 7\n");
  s.ServerFile("update.ini", "[update]\ncount=0\n");
  s.program.Write("update.ini", "[update]\ncount=0\n");
  auto check = [&] {
    RecordingHost host(nullptr);
    CUpdate c(host, MakeCurlNetwork(), server.Url(), s.dir());
    c.Start("varnex");
    c.Wait();
    return c.UpdaterRefreshed();
  };
  EXPECT_FALSE(check());
  EXPECT_EQ(ReadWholeFile(s.program / "update"), oldUpdater) << "a broken transfer touched the updater";
  std::filesystem::remove(s.server / "update/varnex/update.short");
  EXPECT_TRUE(check());
  EXPECT_EQ(ReadWholeFile(s.program / "update"), newUpdater);
  EXPECT_EQ(access((s.program / "update").c_str(), X_OK), 0) << "the new updater must stay runnable";
  EXPECT_FALSE(check()) << "the same version is not fetched again";
}

// ---------------------------------------------------------------------------
// The updater's work

namespace {

class FakeMain : public MainProgramControl {
 public:
  bool Running() override { return looksWhileRunning-- > 0; }
  void AskToClose() override { ++closeRequests; }
  void WaitBeforeLookingAgain() override {}
  bool Start(const std::string& program, const std::string& folder) override {
    started.push_back(program + " in " + folder);
    return true;
  }
  int looksWhileRunning = 0;
  int closeRequests = 0;
  std::vector<std::string> started;
};

struct Answers {
  std::deque<int> next;
  std::vector<std::string> texts;
  UpdateJob::Ask Ask() {
    return [this](const std::string& text, unsigned) {
      texts.push_back(text);
      if (next.empty()) return msgbox::kCancel;
      int a = next.front();
      next.pop_front();
      return a;
    };
  }
};

// Version 1 installed; version 2 on the server, listed in update.ini.
struct TwoVersions : UpdateSetup {
  std::string mainV1 = Program("4, 1, 9, 0", "main one"), mainV2 = Program("4, 2, 0, 0", std::string(200000, 'm'));
  std::string textV1 = "texts one", textV2 = "texts two, longer";
  std::string same = "unchanged sample";
  TwoVersions() {
    program.Write("Varnex", mainV1);
    chmod((program / "Varnex").c_str(), 0755);
    program.Write("Lang/en.ini", textV1);
    program.Write("sample.txt", same);
    SetFileTimeText(program / "sample.txt", "2025 5 6 7 8");
    ServerFile("Varnex", mainV2);
    ServerFile("Lang/en.ini", textV2);
    program.Write("update.ini", ListText({{"Varnex", mainV2, "2026 1 2 3 4"},
                                         {"Lang\\en.ini", textV2, "2026 1 2 3 5"},
                                         {"sample.txt", same, "2025 5 6 7 8"}}));
  }
  void ExpectVersionOne() {
    EXPECT_EQ(ReadWholeFile(program / "Varnex"), mainV1);
    EXPECT_EQ(ReadWholeFile(program / "Lang/en.ini"), textV1);
    EXPECT_EQ(ReadWholeFile(program / "sample.txt"), same);
  }
};

}  // namespace

TEST(UpdateJob, ChangedFilesAreReplacedAndTheProgramStartedAgain) {
  TwoVersions s;
  TestUpdateServer server(s.server.path());
  ASSERT_TRUE(server.Running()) << server.Error();
  auto net = std::make_unique<CountingNetwork>(MakeCurlNetwork());
  FakeMain main;
  main.looksWhileRunning = 2;
  Answers answers;
  answers.next = {msgbox::kOk, msgbox::kOk};
  UpdateJob job(*net, main, answers.Ask(), server.Url(), s.dir());
  EXPECT_FALSE(job.HasPending());
  EXPECT_EQ(job.DownloadPhase(), UpdateJob::Outcome::Downloaded);
  EXPECT_EQ(job.Total(), 2) << "the unchanged file is not fetched";
  EXPECT_EQ(net->requests.load(), 2);
  s.ExpectVersionOne();  // nothing installed before the main program is closed
  EXPECT_TRUE(job.HasPending());

  EXPECT_EQ(job.InstallPhase(), UpdateJob::Outcome::Installed);
  EXPECT_EQ(main.closeRequests, 2) << "asked to close while the main window still answered";
  EXPECT_EQ(answers.texts.size(), 2u);
  EXPECT_EQ(ReadWholeFile(s.program / "Varnex"), s.mainV2);
  EXPECT_EQ(ReadWholeFile(s.program / "Lang/en.ini"), s.textV2);
  EXPECT_EQ(access((s.program / "Varnex").c_str(), X_OK), 0) << "the program lost its execute bit";
  EXPECT_EQ(FileTimeText(s.program / "Lang/en.ini"), "2026 1 2 3 5") << "installed files carry the listed time";
  EXPECT_FALSE(FileExists(s.program / "update.pending"));
  ASSERT_EQ(main.started.size(), 1u);
  EXPECT_EQ(main.started[0], s.dir() + "Varnex in " + s.dir()) << "the product key names the program in any case";

  // Now everything is as listed: a second run has nothing to fetch.
  UpdateJob again(*net, main, answers.Ask(), server.Url(), s.dir());
  EXPECT_EQ(again.DownloadPhase(), UpdateJob::Outcome::NothingToDo);
}

TEST(UpdateJob, CancelDuringTheDownloadLeavesEveryInstalledFile) {
  TwoVersions s;
  TestUpdateServer server(s.server.path());
  ASSERT_TRUE(server.Running()) << server.Error();
  auto net = MakeCurlNetwork();
  FakeMain main;
  Answers answers;
  UpdateJob job(*net, main, answers.Ask(), server.Url(), s.dir());
  // Cancel arrives while the second file is on its way.
  job.onBlock = [&](const std::string& path, int64_t) {
    if (path == "Lang/en.ini") job.Cancel();
  };
  EXPECT_EQ(job.DownloadPhase(), UpdateJob::Outcome::GivenUp);
  s.ExpectVersionOne();
  EXPECT_FALSE(FileExists(s.program / "update.pending")) << "downloaded files stayed behind";
  EXPECT_FALSE(FileExists(s.program / "update.ini")) << "the list must go, so the update is offered again";
  EXPECT_TRUE(main.started.empty());
  EXPECT_TRUE(answers.texts.empty());
}

TEST(UpdateJob, ShortOrWrongDownloadsReplaceNothing) {
  for (const char* fault : {"short", "digest"}) {
    SCOPED_TRACE(fault);
    TwoVersions s;
    TestUpdateServer server(s.server.path());
    ASSERT_TRUE(server.Running()) << server.Error();
    if (std::string(fault) == "short") s.ServerFile("Lang/en.ini.short", "10");
    else s.ServerFile("Lang/en.ini", std::string(s.textV2.size(), 'x'));  // right size, other bytes
    auto net = MakeCurlNetwork();
    FakeMain main;
    Answers answers;
    answers.next = {msgbox::kOk, msgbox::kCancel};  // retry once, then give up
    UpdateJob job(*net, main, answers.Ask(), server.Url(), s.dir());
    EXPECT_EQ(job.DownloadPhase(), UpdateJob::Outcome::GivenUp);
    EXPECT_EQ(answers.texts.size(), 2u) << "the user is asked to retry each time";
    s.ExpectVersionOne();
    EXPECT_FALSE(FileExists(s.program / "update.pending"));
  }
}

TEST(UpdateJob, UnsafeOrDamagedEntriesNeverReachTheInstallation) {
  UpdateSetup s;
  TestUpdateServer server(s.server.path());
  ASSERT_TRUE(server.Running()) << server.Error();
  ScratchFolder outside;
  s.server.Write("update/evil", "evil");
  s.program.Write("update.ini", "[update]\ncount=1\nsoft=varnex\npath1=..\\" +
                                    std::filesystem::path(outside.path()).filename().string() + "\\evil\nsize1=4\n");
  auto net = MakeCurlNetwork();
  FakeMain main;
  Answers answers;
  UpdateJob job(*net, main, answers.Ask(), server.Url(), s.dir());
  EXPECT_EQ(job.DownloadPhase(), UpdateJob::Outcome::NothingToDo);
  EXPECT_FALSE(FileExists(outside / "evil"));
  // Files waiting without a list that vouches for them are dropped.
  s.program.Write("update.pending/Varnex", "unvouched");
  std::filesystem::remove(s.program / "update.ini");
  EXPECT_EQ(job.InstallPhase(), UpdateJob::Outcome::NothingToDo);
  EXPECT_FALSE(FileExists(s.program / "Varnex"));
  EXPECT_FALSE(FileExists(s.program / "update.pending"));
}

TEST(UpdateJob, MainProgramThatStaysOpenKeepsTheOldFiles) {
  TwoVersions s;
  TestUpdateServer server(s.server.path());
  ASSERT_TRUE(server.Running()) << server.Error();
  auto net = MakeCurlNetwork();
  FakeMain main;
  main.looksWhileRunning = 100;
  Answers answers;
  answers.next = {msgbox::kOk, msgbox::kOk, msgbox::kCancel};
  UpdateJob job(*net, main, answers.Ask(), server.Url(), s.dir());
  ASSERT_EQ(job.DownloadPhase(), UpdateJob::Outcome::Downloaded);
  EXPECT_EQ(job.InstallPhase(), UpdateJob::Outcome::CloseRefused);
  EXPECT_EQ(main.closeRequests, 2);
  s.ExpectVersionOne();
  EXPECT_TRUE(job.HasPending()) << "the files wait for the next start";
}

namespace {

// Looks at the program folder when the updater asks whether the main program
// still runs, which it does once every entry was checked and before any
// file is replaced.
class MainThatWatches : public FakeMain {
 public:
  bool Running() override {
    if (onFirstLook) std::exchange(onFirstLook, nullptr)();
    return FakeMain::Running();
  }
  std::function<void()> onFirstLook;
};

bool LeftoverBeside(const std::string& folder) {
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
    if (e.path().filename().string().find("before-update") != std::string::npos) return true;
  return false;
}

}  // namespace

// An entry whose place is taken by a folder: nothing of the update goes in,
// the user is told which entry and why, the program is not started as if
// the update had been installed, and it is offered again.
TEST(UpdateJob, AnEntryThatCannotBePutInPlaceInstallsNothing) {
  UpdateSetup s;
  TestUpdateServer server(s.server.path());
  ASSERT_TRUE(server.Running()) << server.Error();
  s.program.Write("ok.txt", "old ok");
  s.program.Write("lang/de.ini", "a folder's file");
  s.ServerFile("ok.txt", "new ok, longer");
  s.ServerFile("lang", "a file where a folder is");
  s.program.Write("update.ini", ListText({{"ok.txt", "new ok, longer", "2026 1 2 3 4"},
                                         {"lang", "a file where a folder is", "2026 1 2 3 5"}}));
  auto net = MakeCurlNetwork();
  FakeMain main;
  Answers answers;
  UpdateJob job(*net, main, answers.Ask(), server.Url(), s.dir());
  ASSERT_EQ(job.DownloadPhase(), UpdateJob::Outcome::Downloaded);
  const UpdateJob::Outcome outcome = job.InstallPhase();
  EXPECT_NE(outcome, UpdateJob::Outcome::Installed);
  EXPECT_NE(outcome, UpdateJob::Outcome::NothingToDo);
  EXPECT_NE(outcome, UpdateJob::Outcome::NotRestarted);
  EXPECT_EQ(ReadWholeFile(s.program / "ok.txt"), "old ok") << "half an update was installed";
  EXPECT_EQ(ReadWholeFile(s.program / "lang/de.ini"), "a folder's file");
  EXPECT_TRUE(main.started.empty()) << "the program was started as if the update had gone in";
  ASSERT_EQ(answers.texts.size(), 1u);
  EXPECT_NE(answers.texts[0].find("lang: a folder of that name is in the way"), std::string::npos) << answers.texts[0];
  EXPECT_FALSE(FileExists(s.program / "update.ini")) << "the update is offered again at the next start";
  EXPECT_FALSE(LeftoverBeside(s.program.path()));

  // A place taken after the check (here: between the check and the
  // renames, while the main program closes): the files already replaced
  // are put back.
  TwoVersions v;
  TestUpdateServer second(v.server.path());
  ASSERT_TRUE(second.Running()) << second.Error();
  MainThatWatches watcher;
  watcher.onFirstLook = [&] {
    std::filesystem::remove(v.program / "Lang/en.ini");
    std::filesystem::create_directory(v.program / "Lang/en.ini");
  };
  Answers more;
  UpdateJob late(*net, watcher, more.Ask(), second.Url(), v.dir());
  ASSERT_EQ(late.DownloadPhase(), UpdateJob::Outcome::Downloaded);
  EXPECT_NE(late.InstallPhase(), UpdateJob::Outcome::Installed);
  EXPECT_EQ(ReadWholeFile(v.program / "Varnex"), v.mainV1) << "a file replaced before the failure stayed replaced";
  EXPECT_TRUE(std::filesystem::is_directory(v.program / "Lang/en.ini"));
  EXPECT_TRUE(watcher.started.empty());
  EXPECT_EQ(more.texts.size(), 1u);
  EXPECT_FALSE(LeftoverBeside(v.program.path()));
}

// Without encryption only the list's digest vouches for a file: an entry
// without one is refused before anything is fetched. Over https the server
// vouches (see the updater program test).
TEST(UpdateJob, OverPlainHttpAnEntryWithoutADigestIsRefused) {
  TwoVersions s;
  s.program.Write("update.ini", ListText({{"Varnex", s.mainV2, "2026 1 2 3 4"},
                                         {"Lang\\en.ini", s.textV2, "2026 1 2 3 5"}},
                                        false));
  TestUpdateServer server(s.server.path());
  ASSERT_TRUE(server.Running()) << server.Error();
  auto net = std::make_unique<CountingNetwork>(MakeCurlNetwork());
  FakeMain main;
  Answers answers;
  answers.next = {msgbox::kOk, msgbox::kOk};
  UpdateJob job(*net, main, answers.Ask(), server.Url(), s.dir());
  EXPECT_NE(job.DownloadPhase(), UpdateJob::Outcome::Downloaded);
  EXPECT_EQ(net->requests.load(), 0) << "a file without a digest was fetched over http";
  EXPECT_FALSE(job.HasPending());
  ASSERT_FALSE(answers.texts.empty());
  EXPECT_NE(answers.texts[0].find("Lang\\en.ini"), std::string::npos) << answers.texts[0];
  // Files that wait from before are not installed either.
  s.program.Write("update.pending/Lang/en.ini", s.textV2);
  s.program.Write("update.ini", ListText({{"Lang\\en.ini", s.textV2, "2026 1 2 3 5"}}, false));
  EXPECT_NE(job.InstallPhase(), UpdateJob::Outcome::Installed);
  s.ExpectVersionOne();
  EXPECT_TRUE(main.started.empty());
}

// ---------------------------------------------------------------------------
// The real main program control and start

TEST(UpdateJob, ClosesTheMainProgramThroughTheHandOverSocket) {
  ScratchFolder run;
  const std::string path = run / "handover";
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  std::string received;
  // The main window: a look, then the close request, answered; then it is gone.
  std::thread window([&] {
    int look = accept(listener, nullptr, nullptr);
    close(look);
    int c = accept(listener, nullptr, nullptr);
    std::string buffer;
    char block[256];
    uint32_t command = 0;
    std::string text;
    while (handover::Decode(&buffer, &command, &text) == 0) {
      ssize_t n = read(c, block, sizeof block);
      if (n <= 0) break;
      buffer.append(block, size_t(n));
    }
    received = std::to_string(command) + ":" + text;
    close(listener);
    unlink(path.c_str());
    char yes = 1;
    EXPECT_EQ(write(c, &yes, 1), 1);
    close(c);
  });
  HandOverMainProgram main(path);
  EXPECT_TRUE(main.Running());
  main.AskToClose();  // returns once the window replied
  window.join();
  EXPECT_EQ(received, "200:close");
  EXPECT_FALSE(main.Running());
}

TEST(UpdateJob, StartsTheProgramDetachedInItsFolder) {
  ScratchFolder f;
  const std::string fifo = f / "said";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string program = f.Write("Varnex", "#!/bin/sh\npwd > " + Quoted(fifo) + "\n");
  chmod(program.c_str(), 0755);
  ASSERT_TRUE(StartDetached(program, f.path()));
  // Reading the FIFO waits for the started program itself.
  EXPECT_EQ(ReadWholeFile(fifo), f.path() + "\n");
  EXPECT_FALSE(StartDetached(f / "missing", f.path()));
}

// ---------------------------------------------------------------------------
// The information button's items

TEST(InformationDownload, FetchesTheLanguagesItemsOnlyWithAnAddress) {
  ScratchFolder server, writable;
  TestUpdateServer http(server.path());
  ASSERT_TRUE(http.Running()) << http.Error();
  server.Write("showinfo/varnex/en.ini", "[Info Set]\nCount=1\nInfo1_str=News\n");
  auto net = std::make_unique<CountingNetwork>(MakeCurlNetwork());
  const std::string dir = writable.path() + "/";
  EXPECT_EQ(DownloadShowInfo(*net, "", "en", dir), DownloadResult::Failed);
  EXPECT_EQ(DownloadShowInfo(*net, http.Url(), "../en", dir), DownloadResult::Failed);
  EXPECT_EQ(net->requests.load(), 0) << "something was fetched without an address";
  EXPECT_EQ(DownloadShowInfo(*net, http.Url(), "en", dir), DownloadResult::Ok);
  EXPECT_EQ(ReadWholeFile(writable / "showinfo/en.ini"), "[Info Set]\nCount=1\nInfo1_str=News\n");
  EXPECT_EQ(DownloadShowInfo(*net, http.Url(), "de", dir), DownloadResult::NotFound);
  EXPECT_EQ(ReadWholeFile(writable / "showinfo/en.ini"), "[Info Set]\nCount=1\nInfo1_str=News\n");
}

// ---------------------------------------------------------------------------
// The updater program itself, over HTTPS, as the main program starts it

#ifdef VARNEX_UPDATE_PATH
TEST(UpdaterProgram, InstallsOverHttpsAndStartsTheNewMainProgram) {
  UpdateSetup s;
  TestUpdateServer server(s.server.path(), true);
  ASSERT_TRUE(server.Running()) << server.Error();
  ScratchFolder run;
  const std::string fifo = run / "started";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto script = [&](const std::string& name) { return "#!/bin/sh\necho " + name + " in \"$(pwd -P)\" > " + Quoted(fifo) + "\n"; };
  const std::string v1 = script("one"), v2 = script("version two");
  s.program.Write("Varnex", v1);
  chmod((s.program / "Varnex").c_str(), 0755);
  s.program.Write("Lang/en.ini", "old texts");
  s.ServerFile("Varnex", v2);
  s.ServerFile("Lang/en.ini", "new texts");
  s.program.Write("update.ini", "[update]\ncount=2\nsoft=varnex\nMainExe=Varnex\n"
                                "path1=Varnex\nsize1=" + std::to_string(v2.size()) + "\nsha1=" + Sha256Of(v2) + "\n"
                                "path2=Lang\\en.ini\nsize2=9\ntime2=2026 1 1 1 1\n");
  const std::string conf = run.Write("varnex.conf", "[Varnex]\nUpdateServer=" + server.Url() + "/\nUpdateServerCA=" +
                                                        server.CaFile() + "\n");
  const std::string command = "VARNEX_PROGRAM_DIR=" + Quoted(s.dir()) + " VARNEX_SYSTEM_CONF=" + Quoted(conf) +
                              " XDG_RUNTIME_DIR=" + Quoted(run.path()) + " QT_QPA_PLATFORM=offscreen " +
                              Quoted(VARNEX_UPDATE_PATH) + " > " + Quoted(run / "log") + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadWholeFile(run / "log");
  EXPECT_EQ(ReadWholeFile(s.program / "Lang/en.ini"), "new texts");
  EXPECT_EQ(ReadWholeFile(s.program / "Varnex"), v2);
  EXPECT_FALSE(FileExists(s.program / "update.pending"));
  // The started program tells which version it is; reading waits for it.
  char real[PATH_MAX];
  ASSERT_NE(realpath(s.program.path().c_str(), real), nullptr);
  EXPECT_EQ(ReadWholeFile(fifo), "version two in " + std::string(real) + "\n");
}
#endif
