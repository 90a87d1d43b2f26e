// varnex-cli follows the command-line habits of GNU programs: --version,
// --help and help COMMAND answer on standard output with status 0, and every
// command says what it does and which options it takes.

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "support/RunCommand.h"
#include "support/TestFolders.h"

namespace {

// Standard output alone: help goes there, errors do not.
std::string Cli(const std::string& args, int* status) {
  CommandResult r = RunCommand("{ " + std::string(VARNEX_CLI_PATH) + " " + args + " 2>/dev/null; }");
  *status = r.status;
  return r.output;
}

}  // namespace

TEST(CliHelp, VersionHelpAndEveryCommandsHelpAnswerWithStatusZero) {
  int status = -1;
  EXPECT_TRUE(std::regex_search(Cli("--version", &status), std::regex("^varnex-cli [0-9]+\\.[0-9]+\\.[0-9]+\n$")));
  EXPECT_EQ(status, 0);
  const std::string help = Cli("--help", &status);
  EXPECT_EQ(status, 0);
  // The command list of --help, and the help of each command.
  std::istringstream lines(help.substr(help.find("Commands:")));
  std::string line;
  std::getline(lines, line);
  int commands = 0;
  while (std::getline(lines, line) && line.rfind("  ", 0) == 0) {
    std::istringstream words(line);
    std::string name, summary;
    words >> name;
    std::getline(words, summary);
    SCOPED_TRACE(name);
    ++commands;
    EXPECT_GT(summary.size(), 10u) << "no summary in --help";
    const std::string own = Cli("help " + name, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(own.rfind("usage: varnex-cli " + name, 0), 0u) << own;
    // Every option the usage line names is explained below it.
    const std::string usage = own.substr(0, own.find('\n'));
    const std::string body = own.substr(own.find('\n'));
    const std::regex option("--[a-z][a-z0-9-]*");
    for (std::sregex_iterator it(usage.begin(), usage.end(), option), end; it != end; ++it)
      EXPECT_NE(body.find(it->str()), std::string::npos) << it->str() << " is not explained";
    EXPECT_EQ(Cli(name + " --help", &status), own);
  }
  EXPECT_GE(commands, 10);
  Cli("help no-such-command", &status);
  EXPECT_EQ(status, 2);
  Cli("", &status);
  EXPECT_EQ(status, 2) << "no command at all is a usage error";
}

// The README lists the commands as the program gives them: a command or a
// form added to the program and not to the README (or the other way round)
// fails here.
TEST(CliHelp, TheReadmesCommandListIsTheProgramsSynopsis) {
  const std::string readme = ReadWholeFile(VARNEX_SOURCE_DIR "/README.md");
  const std::string head = "## varnex-cli\n\n```\n";
  const size_t from = readme.find(head);
  ASSERT_NE(from, std::string::npos);
  const size_t start = from + head.size();
  const size_t end = readme.find("```", start);
  ASSERT_NE(end, std::string::npos);
  int status = 0;
  const std::string synopsis = Cli("help --synopsis", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(readme.substr(start, end - start), synopsis)
      << "regenerate the list with: build/bin/varnex-cli help --synopsis";
  EXPECT_NE(synopsis.find("varnex-cli copy --bcl"), std::string::npos);
}
