// The tool runner: a tool started for a conversion ends with the program
// that started it, even when that program is killed outright.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "media/ToolProcess.h"
#include "support/HangGuard.h"
#include "support/TestFolders.h"

TEST(ToolProcess, AToolDiesWithTheProgramThatStartedIt) {
  ScratchFolder dir;
  const std::string told = dir / "told", held = dir / "held";
  ASSERT_EQ(::mkfifo(told.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(held.c_str(), 0600), 0);
  // The tool says who it is, then waits on a FIFO nobody ever writes: it
  // would run for good unless something ends it.
  const std::string tool = dir.Write("tool.sh", "#!/bin/sh\necho $$ > '" + told + "'\nexec cat '" + held + "'\n");
  ASSERT_EQ(::chmod(tool.c_str(), 0755), 0);
  // Orphans come to this process, so the tool's end can be waited for.
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const pid_t program = ::fork();
  ASSERT_GE(program, 0);
  if (program == 0) {
    std::string output;
    RunTool(tool, std::vector<std::string>{}, &output);
    _exit(0);
  }
  pid_t toolPid = 0;
  {
    std::ifstream in(told);  // opens once the tool writes
    in >> toolPid;
  }
  ASSERT_GT(toolPid, 0);
  ASSERT_EQ(::kill(program, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(program, &status, 0), program);
  // The tool, now ours, ends by itself once its program is gone.
  int toolStatus = 0;
  ReturnsOrFails([&] { EXPECT_EQ(::waitpid(toolPid, &toolStatus, 0), toolPid); },
                 [&] { ::kill(toolPid, SIGKILL); }, "the tool runs on after its program was killed");
  EXPECT_TRUE(WIFSIGNALED(toolStatus) && WTERMSIG(toolStatus) == SIGKILL);
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}
