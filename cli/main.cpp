#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "foundation/LangText.h"
#include "cli/CliCommand.h"

namespace {

struct Entry {
  std::string usage;
  CliHandler handler;
};

std::map<std::string, Entry>& Commands() {
  static std::map<std::string, Entry> commands;
  return commands;
}

void PrintUsage() {
  std::fprintf(stderr, "usage: varnex-cli COMMAND ...\n");
  for (const auto& [name, entry] : Commands()) std::fprintf(stderr, "  varnex-cli %s\n", entry.usage.c_str());
}

}  // namespace

CliCommand::CliCommand(const char* name, const char* usage, CliHandler handler) {
  Commands()[name] = Entry{usage, handler};
}

int CliFail(int code, const std::string& detail) {
  std::string text = LoadErrorText(code);
  if (!detail.empty()) text += (text.empty() ? "" : ": ") + detail;
  // Code 0 is no result code at all: a failure of the program's own.
  if (code == 0)
    std::fprintf(stderr, "varnex-cli: %s\n", text.c_str());
  else
    std::fprintf(stderr, "varnex-cli: %s (code %d)\n", text.c_str(), code);
  return 1;
}

CliOptions::CliOptions(const CliArgs& args, const std::vector<std::string>& valueOptions,
                       const std::vector<std::string>& flagOptions) {
  auto is = [](const std::vector<std::string>& list, const std::string& a) {
    for (const auto& s : list)
      if (s == a) return true;
    return false;
  };
  bool onlyOperands = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (onlyOperands || a.size() < 2 || a[0] != '-') {
      operands_.push_back(a);
    } else if (a == "--") {
      onlyOperands = true;
    } else if (is(valueOptions, a)) {
      if (i + 1 >= args.size()) {
        error_ = "option " + a + " needs a value";
        return;
      }
      values_.emplace_back(a, args[++i]);
    } else if (is(flagOptions, a)) {
      flags_.push_back(a);
    } else {
      error_ = "unknown option " + a;
      return;
    }
  }
}

bool CliOptions::Has(const std::string& name) const {
  for (const auto& f : flags_)
    if (f == name) return true;
  for (const auto& v : values_)
    if (v.first == name) return true;
  return false;
}

std::string CliOptions::Value(const std::string& name, const std::string& fallback) const {
  std::string found = fallback;
  for (const auto& v : values_)
    if (v.first == name) found = v.second;
  return found;
}

std::vector<std::string> CliOptions::Values(const std::string& name) const {
  std::vector<std::string> all;
  for (const auto& v : values_)
    if (v.first == name) all.push_back(v.second);
  return all;
}

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "help")) {
    PrintUsage();
    return argc < 2 ? 2 : 0;
  }
  auto it = Commands().find(argv[1]);
  if (it == Commands().end()) {
    std::fprintf(stderr, "varnex-cli: unknown command \"%s\"\n", argv[1]);
    PrintUsage();
    return 2;
  }
  CliArgs args(argv + 2, argv + argc);
  return it->second.handler(args);
}
