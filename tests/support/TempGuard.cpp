// Every test of this program runs with TMPDIR pointing at a folder that
// belongs to the run. A test that leaves anything there (a scratch folder it
// did not remove, a file written beside its scratch folder) fails, and what
// it left is removed so that the next test starts clean. The folder goes
// when the run ends, so a run never leaves its files in the system's
// temporary folder.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

class TempGuard : public testing::EmptyTestEventListener {
 public:
  explicit TempGuard(std::string folder) : folder_(std::move(folder)) {}

  // The failure fails the run (and so the test's CTest entry, which runs
  // it alone); it names the test, as the result is already recorded.
  void OnTestEnd(const testing::TestInfo& test) override {
    std::string left;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder_, ec)) left += " " + e.path().filename().string();
    if (left.empty()) return;
    ADD_FAILURE() << test.test_suite_name() << "." << test.name() << " left behind in the temporary folder:" << left;
    for (const auto& e : fs::directory_iterator(folder_, ec)) fs::remove_all(e.path(), ec);
  }

 private:
  std::string folder_;
};

class TempFolderOfTheRun : public testing::Environment {
 public:
  void SetUp() override {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/varnex-tests-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
      ADD_FAILURE() << "cannot make the run's temporary folder in " << pattern;
      return;
    }
    run_ = pattern;
    folder_ = run_ + "/tmp";
    old_ = base ? base : "";
    hadOld_ = base != nullptr;
    std::error_code made;
    fs::create_directories(folder_, made);
    setenv("TMPDIR", folder_.c_str(), 1);
    // The program's settings, registered recorders and work folders stay
    // within the run too, never in the user's own folders.
    setenv("XDG_CONFIG_HOME", (run_ + "/config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (run_ + "/cache").c_str(), 1);
    testing::UnitTest::GetInstance()->listeners().Append(new TempGuard(folder_));
  }
  void TearDown() override {
    if (folder_.empty()) return;
    if (hadOld_)
      setenv("TMPDIR", old_.c_str(), 1);
    else
      unsetenv("TMPDIR");
    std::error_code ec;
    fs::remove_all(run_, ec);
  }

 private:
  std::string run_, folder_, old_;
  bool hadOld_ = false;
};

[[maybe_unused]] testing::Environment* const kTempFolderOfTheRun =
    testing::AddGlobalTestEnvironment(new TempFolderOfTheRun);

}  // namespace
