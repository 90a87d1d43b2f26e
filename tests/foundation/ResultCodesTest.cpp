// The result codes against the language files and the sources: one number
// per meaning, one text per number, no text without a code, and no code
// written as a bare number where its text is looked up.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <strings.h>
#include <string>
#include <vector>

#include "foundation/LangText.h"
#include "foundation/ResultCodes.h"
#include "support/TestFolders.h"

namespace fs = std::filesystem;

namespace {

const std::string kSource = VARNEX_SOURCE_DIR;

// name -> number of every constant the registry header defines.
std::multimap<int, std::string> CodesOfHeader(const std::string& text) {
  static const std::regex constant(R"(constexpr\s+int\s+(k\w+)\s*=\s*(-?\d+)\s*;)");
  std::multimap<int, std::string> codes;
  for (std::sregex_iterator i(text.begin(), text.end(), constant), end; i != end; ++i)
    codes.emplace(std::stoi((*i)[2]), (*i)[1]);
  return codes;
}

// How often each key occurs in the [Error] section (case of the section
// name ignored, as the language file reader does).
std::map<int, int> ErrorKeys(const std::string& text) {
  std::map<int, int> keys;
  static const std::regex section(R"(^\s*\[([^\]]*)\]\s*$)");
  static const std::regex entry(R"(^\s*(-?\d+)\s*=)");
  bool inError = false;
  size_t at = 0;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    std::string line = text.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
    at = nl == std::string::npos ? text.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::smatch m;
    if (std::regex_match(line, m, section)) {
      inError = strcasecmp(m[1].str().c_str(), "Error") == 0;
    } else if (inError && std::regex_search(line, m, entry)) {
      ++keys[std::stoi(m[1])];
    }
  }
  return keys;
}

// What is wrong between the registry and one language file; empty when
// they agree.
std::vector<std::string> Disagreements(const std::multimap<int, std::string>& codes, const std::map<int, int>& keys) {
  std::vector<std::string> wrong;
  for (auto it = codes.begin(); it != codes.end(); it = codes.upper_bound(it->first)) {
    if (codes.count(it->first) > 1) wrong.push_back("number " + std::to_string(it->first) + " has two names");
    if (it->first == result::kSuccess) continue;  // success is never shown as an error
    auto k = keys.find(it->first);
    const int texts = k == keys.end() ? 0 : k->second;
    if (texts != 1) wrong.push_back(it->second + " (" + std::to_string(it->first) + ") has " + std::to_string(texts) + " texts");
  }
  for (const auto& [key, count] : keys)
    if (key != kErrorPrefixKey && !codes.count(key)) wrong.push_back("text " + std::to_string(key) + " names no code");
  return wrong;
}

std::vector<fs::path> LanguageFiles() {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(kSource + "/data/Lang"))
    if (e.path().extension() == ".ini" && e.path().filename() != "lang.ini") files.push_back(e.path());
  return files;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

}  // namespace

TEST(ResultCodes, TheCheckSeesDuplicatesMissingAndOrphanTexts) {
  const auto codes = CodesOfHeader("constexpr int kA = -1;\nconstexpr int kB = -2;\nconstexpr int kOk = 1;");
  EXPECT_TRUE(Disagreements(codes, ErrorKeys("[Error]\n-10000=Code:\n-1=a\n-2=b\n")).empty());
  EXPECT_EQ(Disagreements(codes, ErrorKeys("[error]\n-1=a\n-2=b\n-1=again\n")).size(), 1u) << "a number with two texts";
  EXPECT_EQ(Disagreements(codes, ErrorKeys("[Error]\n-1=a\n[Other]\n-2=b\n")).size(), 1u) << "a code without text";
  EXPECT_EQ(Disagreements(codes, ErrorKeys("[Error]\n-1=a\n-2=b\n-3=c\n")).size(), 1u) << "a text of no code";
  const auto twice = CodesOfHeader("constexpr int kA = -1;\nconstexpr int kC = -1;");
  EXPECT_EQ(Disagreements(twice, ErrorKeys("[Error]\n-1=a\n")).size(), 1u) << "one number, two meanings";
}

TEST(ResultCodes, EveryCodeHasOneNumberAndEachLanguageOneText) {
  const auto codes = CodesOfHeader(ReadWholeFile(kSource + "/foundation/ResultCodes.h"));
  ASSERT_GT(codes.size(), 50u);

  // The list the program iterates is the list the header defines.
  std::multiset<int> listed(std::begin(result::kAll), std::end(result::kAll));
  std::multiset<int> defined;
  for (const auto& [number, name] : codes) defined.insert(number);
  EXPECT_EQ(listed, defined) << "result::kAll and the constants of ResultCodes.h differ";

  const std::map<int, int> english = ErrorKeys(ReadWholeFile(kSource + "/data/Lang/en.ini"));
  EXPECT_EQ(Joined(Disagreements(codes, english)), "");
  EXPECT_EQ(english.count(kErrorPrefixKey), 1u);

  // Every language has the English keys, no more and no fewer.
  for (const fs::path& file : LanguageFiles()) {
    std::map<int, int> keys = ErrorKeys(ReadWholeFile(file.string()));
    std::set<int> have, want;
    for (const auto& [k, n] : keys) have.insert(k);
    for (const auto& [k, n] : english) want.insert(k);
    EXPECT_EQ(have, want) << file;
  }
}

TEST(ResultCodes, SourcesNameTheCodesTheyLookUp) {
  // A text looked up by a bare number, or a code defined outside the
  // registry, is how one number came to mean two things.
  static const std::regex bareLookup(R"((ErrorText\s*\(|LangText\s*\(\s*"Error"\s*,)\s*-?\d)");
  static const std::regex ownCode(R"(constexpr\s+int\s+k\w+\s*=\s*-\d+\s*[;,])");
  std::vector<std::string> found;
  for (const char* folder : {"foundation", "controls", "authoring", "BurnCtrl", "media", "app", "analysis", "cli",
                             "updater", "shellext"}) {
    if (!fs::exists(kSource + "/" + folder)) continue;
    for (const auto& e : fs::recursive_directory_iterator(kSource + "/" + folder)) {
      const std::string ext = e.path().extension().string();
      if (!e.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
      const std::string rel = fs::relative(e.path(), kSource).string();
      const std::string text = ReadWholeFile(e.path().string());
      if (std::regex_search(text, bareLookup)) found.push_back(rel + ": an error text looked up by its number");
      const bool registry = rel == "foundation/ResultCodes.h" || rel == "foundation/LangText.h";  // and the prefix key
      if (!registry && std::regex_search(text, ownCode))
        found.push_back(rel + ": a result code defined outside foundation/ResultCodes.h");
    }
  }
  EXPECT_EQ(Joined(found), "");
}
