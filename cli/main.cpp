#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "BurnCtrl/Results.h"
#include "cli/CliCommand.h"
#include "cli/CliText.h"
#include "cli/CliHelp.h"
#include "foundation/LangText.h"
#include "foundation/TempFiles.h"

namespace {

struct Entry {
  std::string usage;
  CliHandler handler;
};

std::map<std::string, Entry>& Commands() {
  static std::map<std::string, Entry> commands;
  return commands;
}

void PrintUsage(FILE* to) {
  std::fprintf(to, "usage: varnex-cli COMMAND [OPTION]... [OPERAND]...\n"
                   "       varnex-cli help COMMAND | --help | --version\n\n"
                   "Writes, copies, erases and inspects optical discs, on recorders, image files and\n"
                   "virtual recorders.\n\nCommands:\n");
  for (const auto& [name, entry] : Commands()) {
    const CommandHelp* help = FindCommandHelp(name);
    std::fprintf(to, "  %-10s %s\n", name.c_str(), help ? help->summary.c_str() : "");
  }
  std::fprintf(to, "\n'varnex-cli help COMMAND' describes a command and its options.\n"
                   "Exit status: 0 on success, 1 when the command failed, 2 for a usage error.\n");
}

// Every form of every command, one a line: the command list of the README
// is this output, so that it cannot fall behind the program.
void PrintSynopsis() {
  for (const auto& [name, entry] : Commands()) {
    const std::string& usage = entry.usage;
    size_t from = 0;
    for (size_t at = usage.find(" | "); at != std::string::npos; at = usage.find(" | ", at + 3)) {
      // A new form begins where the alternative starts with the command again.
      if (usage.compare(at + 3, name.size() + 1, name + " ") != 0) continue;
      std::printf("varnex-cli %s\n", usage.substr(from, at - from).c_str());
      from = at + 3;
    }
    std::printf("varnex-cli %s\n", usage.substr(from).c_str());
  }
}

int PrintCommandHelp(const std::string& name) {
  auto it = Commands().find(name);
  if (it == Commands().end()) {
    std::fprintf(stderr, "varnex-cli: unknown command \"%s\"\n", name.c_str());
    return 2;
  }
  std::printf("usage: varnex-cli %s\n", it->second.usage.c_str());
  if (const CommandHelp* help = FindCommandHelp(name)) {
    std::printf("\n%s\n", help->summary.c_str());
    if (!help->options.empty()) std::printf("\nOptions:\n");
    for (const auto& [option, meaning] : help->options) std::printf("  %s\n      %s\n", option.c_str(), meaning.c_str());
  }
  return 0;
}

}  // namespace

CliCommand::CliCommand(const char* name, const char* usage, CliHandler handler) {
  Commands()[name] = Entry{usage, handler};
}

int CliFail(int code, const std::string& detail) {
  std::string text = LoadErrorText(code);
  if (!detail.empty()) text += (text.empty() ? "" : ": ") + ShownText(detail);
  // Code 0 is no result code at all: a failure of the program's own.
  if (code == 0)
    std::fprintf(stderr, "varnex-cli: %s\n", text.c_str());
  else
    std::fprintf(stderr, "varnex-cli: %s (code %d)\n", text.c_str(), code);
  // A command line that is not understood is a usage error, as --help says.
  return code == result::kBadArguments ? 2 : 1;
}

Existing CliExisting(const CliOptions& opt) { return opt.Has("--replace") ? Existing::kReplace : Existing::kKeep; }

int CliOutputRefused(const std::string& path, Existing existing) {
  const std::string inTheWay = OutputInTheWay(path, existing);
  if (inTheWay.empty()) return 0;
  const bool replaceable = existing == Existing::kKeep && inTheWay == "already exists";
  return CliFail(result::kOutputFailed, path + ": " + inTheWay + (replaceable ? " (--replace replaces it)" : ""));
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
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  const std::string first = argv[1];
  if (first == "--version") {
    std::printf("varnex-cli %d.%d.%d\n", VARNEX_VERSION_MAJOR, VARNEX_VERSION_MINOR, VARNEX_VERSION_PATCH);
    return 0;
  }
  if (first == "--help" || first == "-h" || (first == "help" && argc == 2)) {
    PrintUsage(stdout);
    return 0;
  }
  if (first == "help" && std::string(argv[2]) == "--synopsis") {
    PrintSynopsis();
    return 0;
  }
  if (first == "help") return PrintCommandHelp(argv[2]);
  auto it = Commands().find(first);
  if (it == Commands().end()) {
    std::fprintf(stderr, "varnex-cli: unknown command \"%s\"\n", argv[1]);
    PrintUsage(stderr);
    return 2;
  }
  CliArgs args(argv + 2, argv + argc);
  // "varnex-cli COMMAND --help" as well as "varnex-cli help COMMAND".
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) return PrintCommandHelp(first);
  // What a killed run of ours left in the temporary folders goes now.
  RemoveAbandonedTempFiles();
  return it->second.handler(args);
}
