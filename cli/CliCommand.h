#pragma once
// varnex-cli sub-commands. Each command lives in a file of its own and
// registers itself with a static CliCommand object:
//
//   static CliCommand reg{"image", "image -o OUT [--label L] PATH...", &RunImage};
//
// A command returns the process exit status.

#include <string>
#include <vector>

#include "OutputFile.h"

using CliArgs = std::vector<std::string>;
using CliHandler = int (*)(const CliArgs& args);

struct CliCommand {
  CliCommand(const char* name, const char* usage, CliHandler handler);
};

// Prints the language text of a result code, and the code, to standard error.
// Returns the exit status a failure gives.
int CliFail(int code, const std::string& detail = "");

class CliOptions;

// Every file a command writes for the user follows one rule: nothing at its
// place is replaced unless --replace was given. CliExisting() reads the
// option; CliOutputRefused() checks the place before any work is done and
// returns the failure status (after saying why), or 0 when it may be written.
// The place is checked again when the file is put there.
Existing CliExisting(const CliOptions& opt);
int CliOutputRefused(const std::string& path, Existing existing);

// Option helpers: "--name VALUE" pairs and bare flags; the rest are operands.
class CliOptions {
 public:
  CliOptions(const CliArgs& args, const std::vector<std::string>& valueOptions,
             const std::vector<std::string>& flagOptions);
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  bool Has(const std::string& name) const;
  std::string Value(const std::string& name, const std::string& fallback = "") const;
  std::vector<std::string> Values(const std::string& name) const;
  const std::vector<std::string>& Operands() const { return operands_; }

 private:
  std::vector<std::pair<std::string, std::string>> values_;
  std::vector<std::string> flags_;
  std::vector<std::string> operands_;
  std::string error_;
};
