// The write log: scrambled three-line entries, the 2 MiB rule, the switch and
// the lock shared by all writers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>

#include "BurnCtrl/WriteLog.h"
#include "KestrineTestUtil.h"
#include "support/HangGuard.h"

namespace {

class KestrineWriteLog : public ::testing::Test {
 protected:
  // The log lives in the configuration folder: each test has its own, so
  // that no test reads what an earlier one of the same run wrote.
  void SetUp() override {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) oldConfig_ = old, hadConfig_ = true;
    setenv("VARNEX_PROGRAM_DIR", dir_.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
    SetWriteLogSwitch(true);
  }
  void TearDown() override {
    SetWriteLogSwitch(false);
    unsetenv("VARNEX_PROGRAM_DIR");
    if (hadConfig_) setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
    else unsetenv("XDG_CONFIG_HOME");
  }
  ktest::ScratchDir dir_;
  std::string oldConfig_;
  bool hadConfig_ = false;
};

}  // namespace

TEST_F(KestrineWriteLog, EntryHasThreeScrambledLines) {
  WriteLogEntry("BurnBegin_CDRW()", "BurnCtrl/BurnMana.cpp", 412, SenseData{5, 0x24, 0, 4});
  std::ifstream raw(WriteLogPath(), std::ios::binary);
  std::string first;
  std::getline(raw, first);
  EXPECT_EQ(std::string("H{xtHkmoteIJX]./"), first) << "each byte raised by 6";
  auto lines = ReadWriteLog(WriteLogPath());
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("BurnBegin_CDRW()", lines[0]);
  EXPECT_EQ("File:BurnCtrl/BurnMana.cpp, Line:412", lines[1]);
  EXPECT_EQ("SenseKey: 5, ASC:24, ASCQ: 0, SRBStatus: 4\n", lines[2]);
}

TEST_F(KestrineWriteLog, LongLinesAreCutAndFormattedMessagesEndInANewline) {
  WriteLogFormat("x.cpp", 1, "%s", std::string(400, 'a').c_str());
  auto lines = ReadWriteLog(WriteLogPath());
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(255u, lines[0].size()) << "a line holds at most 255 bytes";
  WriteLogFormat("x.cpp", 2, "short %d", 7);
  lines = ReadWriteLog(WriteLogPath());
  ASSERT_EQ(6u, lines.size());
  EXPECT_EQ("short 7\n", lines[3]);
}

TEST_F(KestrineWriteLog, LogOfTwoMegabytesIsStartedAfreshBeforeTheNextEntry) {
  {
    std::ofstream big(WriteLogPath(), std::ios::binary);
    big << std::string(2097152, 'z');
  }
  WriteLogEntry("after", "f.cpp", 3, SenseData{});
  auto lines = ReadWriteLog(WriteLogPath());
  ASSERT_EQ(3u, lines.size()) << "the full log was deleted, then the whole entry written";
  EXPECT_EQ("after", lines[0]);
  {
    std::ofstream small(WriteLogPath(), std::ios::binary | std::ios::trunc);
    small << std::string(2097151, 'z');
  }
  WriteLogEntry("kept", "f.cpp", 4, SenseData{});
  EXPECT_GT(std::filesystem::file_size(WriteLogPath()), 2097151u) << "one byte below the limit is kept";
}

TEST_F(KestrineWriteLog, NothingIsWrittenWhileTheSwitchIsOff) {
  SetWriteLogSwitch(false);
  WriteLogEntry("hidden", "f.cpp", 1, SenseData{});
  EXPECT_FALSE(std::filesystem::exists(WriteLogPath()));
}

TEST_F(KestrineWriteLog, WriterGivesUpItsLinesWhenTheLockStaysTaken) {
  int fd = open((WriteLogPath() + ".lock").c_str(), O_RDWR | O_CREAT, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, flock(fd, LOCK_EX));
  // The writer waits a second for the lock; one that waits for good fails
  // the test instead of hanging it.
  bool unblocked = false;
  ReturnsOrFails([] { WriteLogEntry("blocked", "f.cpp", 1, SenseData{}); },
                 [&] {
                   close(fd);
                   unblocked = true;
                 },
                 "the writer waits for the log's lock without end", std::chrono::seconds(20));
  EXPECT_FALSE(std::filesystem::exists(WriteLogPath())) << "every line was dropped";
  if (!unblocked) close(fd);
  WriteLogEntry("free", "f.cpp", 2, SenseData{});
  EXPECT_EQ(3u, ReadWriteLog(WriteLogPath()).size());
}
