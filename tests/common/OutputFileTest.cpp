// The one way files are written for the user: nothing at the place is lost,
// a failure leaves no partial file, and partial files of a run that died are
// cleared while anybody else's are kept.

#include "OutputFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "SafeFile.h"
#include "support/TestFolders.h"

namespace fs = std::filesystem;

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(OutputFile, WritesANewFileAndLeavesNothingBeside) {
  ScratchFolder dir;
  OutputFile out;
  ASSERT_TRUE(out.Open(dir / "new.iso")) << out.Error();
  EXPECT_TRUE(Exists(dir / "new.iso.part"));
  EXPECT_FALSE(Exists(dir / "new.iso")) << "the final name appeared before the file was complete";
  ASSERT_TRUE(out.Write("complete"));
  ASSERT_TRUE(out.Commit()) << out.Error();
  EXPECT_EQ(ReadWholeFile(dir / "new.iso"), "complete");
  EXPECT_EQ(FolderListing(dir.path()), "new.iso ");
}

TEST(OutputFile, NothingAtThePlaceIsTouchedUnlessReplacing) {
  ScratchFolder dir;
  const std::string file = dir.Write("old.iso", "keep me");
  const std::string target = dir.Write("target.txt", "link target");
  fs::create_symlink(target, dir / "link.iso");
  dir.Mkdir("folder.iso");
  const std::string empty = dir.Write("empty.iso", "");

  struct Case {
    std::string path;
    Existing existing;
    bool allowed;
  } cases[] = {
      {file, Existing::kKeep, false},         {dir / "link.iso", Existing::kKeep, false},
      {dir / "folder.iso", Existing::kKeep, false}, {empty, Existing::kKeep, false},
      {dir / "link.iso", Existing::kReplace, true}, {dir / "folder.iso", Existing::kReplace, false},
      {file, Existing::kReplace, true},
  };
  for (const Case& c : cases) {
    OutputFile out;
    EXPECT_EQ(out.Open(c.path, c.existing), c.allowed) << c.path << ": " << out.Error();
    if (!c.allowed) EXPECT_FALSE(out.Error().empty());
    // Uncommitted: the place must stay as it was in every case.
  }
  EXPECT_EQ(ReadWholeFile(file), "keep me");
  EXPECT_EQ(ReadWholeFile(target), "link target");
  EXPECT_TRUE(fs::is_symlink(dir / "link.iso"));
  EXPECT_TRUE(fs::is_directory(dir / "folder.iso"));
  EXPECT_EQ(FolderListing(dir.path()), "empty.iso folder.iso link.iso old.iso target.txt ");

  std::string why;
  ASSERT_TRUE(WriteWholeFile(file, "new content", Existing::kReplace, &why)) << why;
  EXPECT_EQ(ReadWholeFile(file), "new content");
  // Replacing a link replaces the link itself, never what it points at.
  ASSERT_TRUE(WriteWholeFile(dir / "link.iso", "new content", Existing::kReplace, &why)) << why;
  EXPECT_FALSE(fs::is_symlink(dir / "link.iso"));
  EXPECT_EQ(ReadWholeFile(target), "link target");
}

TEST(OutputFile, AFileThatAppearsMeanwhileIsNeverReplaced) {
  ScratchFolder dir;
  OutputFile out;
  ASSERT_TRUE(out.Open(dir / "race.txt"));
  ASSERT_TRUE(out.Write("ours"));
  dir.Write("race.txt", "the user's");
  EXPECT_FALSE(out.Commit());
  EXPECT_NE(out.Error().find("race.txt"), std::string::npos) << out.Error();
  EXPECT_EQ(ReadWholeFile(dir / "race.txt"), "the user's");
  EXPECT_EQ(FolderListing(dir.path()), "race.txt ");

  // When replacing, a folder that appeared is not replaced either.
  OutputFile again;
  ASSERT_TRUE(again.Open(dir / "race.txt", Existing::kReplace));
  fs::remove(dir / "race.txt");
  dir.Write("race.txt/inside", "kept");
  EXPECT_FALSE(again.Commit());
  EXPECT_EQ(ReadWholeFile(dir / "race.txt/inside"), "kept");
}

TEST(OutputFile, AFailedOrAbandonedWriteLeavesTheOldFile) {
  ScratchFolder dir;
  const std::string file = dir.Write("old.bcd", "version 1");
  {
    OutputFile out;
    ASSERT_TRUE(out.Open(file, Existing::kReplace));
    ASSERT_TRUE(out.Write("half of version 2"));
  }  // gone without Commit
  EXPECT_EQ(ReadWholeFile(file), "version 1");
  EXPECT_EQ(FolderListing(dir.path()), "old.bcd ");

  // A write that fails (the descriptor is taken away) is reported and cleaned up.
  OutputFile out;
  ASSERT_TRUE(out.Open(file, Existing::kReplace));
  ::close(out.fd());
  EXPECT_FALSE(out.Write("x"));
  EXPECT_FALSE(out.Commit());
  EXPECT_EQ(ReadWholeFile(file), "version 1");
  EXPECT_EQ(FolderListing(dir.path()), "old.bcd ");
}

TEST(OutputFile, APartialFileOfADeadRunIsClearedAForeignOneIsKept) {
  ScratchFolder dir;
  // A run that is killed while writing leaves its partial file and marker.
  pid_t child = ::fork();
  if (child == 0) {
    OutputFile out;
    if (!out.Open(dir / "killed.iso") || !out.Write("half")) _exit(1);
    ::kill(::getpid(), SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_TRUE(Exists(dir / "killed.iso.part"));

  OutputFile next;
  ASSERT_TRUE(next.Open(dir / "killed.iso")) << next.Error();
  ASSERT_TRUE(next.Write("whole"));
  ASSERT_TRUE(next.Commit()) << next.Error();
  EXPECT_EQ(ReadWholeFile(dir / "killed.iso"), "whole");
  EXPECT_EQ(FolderListing(dir.path()), "killed.iso ");

  // A file of the partial name that we did not leave stays, and is named.
  dir.Write("mine.iso.part", "the user's own file");
  OutputFile refused;
  EXPECT_FALSE(refused.Open(dir / "mine.iso"));
  EXPECT_NE(refused.Error().find("mine.iso.part"), std::string::npos) << refused.Error();
  EXPECT_EQ(ReadWholeFile(dir / "mine.iso.part"), "the user's own file");
  // A marker that names a living writer (this process) protects its file too.
  OutputFile live;
  ASSERT_TRUE(live.Open(dir / "busy.iso"));
  OutputFile second;
  EXPECT_FALSE(second.Open(dir / "busy.iso"));
  EXPECT_TRUE(Exists(live.partial()));
}

// Reading a user's file: a FIFO or a folder is refused at once (never waited
// on in open), and the regular file comes back blocking, with what it is.
TEST(OpenForReading, RefusesWhatIsNoFileAndHandsBackWhatTheFileIs) {
  ScratchFolder dir;
  ASSERT_EQ(0, ::mkfifo((dir / "pipe").c_str(), 0600));
  std::string why;
  EXPECT_EQ(-1, safefile::OpenForReading(dir / "pipe", &why));
  EXPECT_NE(std::string::npos, why.find("not a regular file")) << why;
  EXPECT_EQ(-1, safefile::OpenForReading(dir.path(), &why));
  EXPECT_EQ(-1, safefile::OpenForReading(dir / "gone", &why));
  EXPECT_NE(std::string::npos, why.find("gone")) << why;

  {
    OutputFile out;
    ASSERT_TRUE(out.Open(dir / "data.bin")) << out.Error();
    ASSERT_TRUE(out.Write("twelve bytes"));
    ASSERT_TRUE(out.Commit()) << out.Error();
  }
  struct stat st {};
  const int fd = safefile::OpenForReading(dir / "data.bin", &why, &st);
  ASSERT_GE(fd, 0) << why;
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(12, st.st_size);
  EXPECT_EQ(0, ::fcntl(fd, F_GETFL) & O_NONBLOCK) << "reads must block";
  ::close(fd);
}
