#pragma once
// The help text of each command: what it does and what its options mean.

#include <string>
#include <utility>
#include <vector>

struct CommandHelp {
  std::string summary;
  std::vector<std::pair<std::string, std::string>> options;  // (option, meaning)
};

// nullptr for a command without help text.
const CommandHelp* FindCommandHelp(const std::string& command);
