// Temporary files and folders carry their owner; what a killed run left is
// removed when a program starts, and nothing of a running owner, nothing of
// another program and nothing behind a link ever is.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/TempFiles.h"
#include "support/RunCommand.h"
#include "support/TestFolders.h"

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// What a run killed in the middle of its work leaves: a staging folder, a
// project file of a burn job and a work folder of converted files, each
// with something in it.
std::vector<std::string> LeftByAKilledRun(bool workFolder) {
  int report[2];
  EXPECT_EQ(::pipe(report), 0);
  const pid_t run = ::fork();
  if (run == 0) {
    ::close(report[0]);
    std::string made = MakeTempFolder("Folder") + "\n" + MakeTempFile("bcd") + "\n";
    if (workFolder) made += MakeWorkFolder("varnex-audio-") + "\n";
    std::ofstream(made.substr(0, made.find('\n')) + "/Track1.wav") << "converted";
    (void)!::write(report[1], made.data(), made.size());
    ::close(report[1]);
    ::pause();  // until killed
    _exit(0);
  }
  ::close(report[1]);
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(report[0], buf, sizeof buf)) > 0) text.append(buf, size_t(n));
  ::close(report[0]);
  ::kill(run, SIGKILL);
  ::waitpid(run, nullptr, 0);
  std::vector<std::string> paths;
  for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
    paths.push_back(text.substr(at, nl - at));
  return paths;
}

}  // namespace

TEST(AbandonedTempFiles, WhatAKilledRunLeftGoesAtTheNextStartAndNothingElse) {
  PrivateTemp temp;
  const bool workHere = WorkFolderRoot() == TempFolder();
  const std::vector<std::string> abandoned = LeftByAKilledRun(workHere);
  ASSERT_EQ(abandoned.size(), workHere ? 3u : 2u);
  for (const std::string& p : abandoned) ASSERT_TRUE(Exists(p)) << p;
  // This test's own: its owner runs.
  const std::string mine = MakeTempFolder("Folder"), mineFile = MakeTempFile("bcd");
  ScratchFolder outside;
  const std::string kept = outside.Write("kept/file.txt", "not ours to remove");
  // Names of the old form or of other programs carry no owner.
  const std::string foreign = temp.path() + "/Folder12345678", foreignFile = temp.path() + "/Temp4242.bcd";
  std::filesystem::create_directories(foreign);
  std::ofstream(foreignFile) << "somebody's";
  // A link named as a killed run's folder would be: never followed.
  const std::string name = std::filesystem::path(abandoned[0]).filename().string();
  const size_t owner = name.rfind("_p");
  const std::string linkName = temp.path() + "/Folder1" + (owner == std::string::npos ? "" : name.substr(owner));
  ASSERT_EQ(::symlink((outside / "kept").c_str(), linkName.c_str()), 0);

  CommandResult r = RunCommand("TMPDIR=" + Quoted(temp.path()) + " " + Quoted(VARNEX_CLI_PATH) + " virtual list");
  EXPECT_EQ(r.status, 0) << r.output;
  for (const std::string& p : abandoned) EXPECT_FALSE(Exists(p)) << p << " stayed";
  EXPECT_TRUE(Exists(mine) && Exists(mineFile)) << "a running owner's files were removed";
  EXPECT_TRUE(Exists(foreign) && Exists(foreignFile)) << "files of another program were removed";
  EXPECT_TRUE(Exists(linkName)) << "a link is never ours";
  EXPECT_EQ(ReadWholeFile(kept), "not ours to remove");
  RemoveTree(mine);
  RemoveTree(mineFile);
  RemoveTree(foreign);
  RemoveTree(foreignFile);
  ::unlink(linkName.c_str());
  for (const std::string& p : abandoned) RemoveTree(p);
}
