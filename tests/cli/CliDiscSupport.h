#pragma once
// What the tests that read discs back from the command line share: the CLI
// itself, virtual recorders with armed faults, and a source folder whose big
// file covers sectors well inside the volume.

#include <gtest/gtest.h>

#include <string>

#include "burnctrl/BurnTestSupport.h"
#include "support/RunCommand.h"

namespace clidisc {

inline CommandResult Cli(const std::string& args) { return RunCommand(std::string(VARNEX_CLI_PATH) + " " + args); }

inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline std::string NewDisc(const ScratchFolder& dir, const std::string& name, const std::string& medium,
                           const std::string& faults = "") {
  CommandResult r = Cli("virtual create --media " + medium + " " + Quoted(dir / name));
  EXPECT_EQ(r.status, 0) << r.output;
  const std::string drive = "virtual:" + (dir / name);
  if (!faults.empty()) {
    r = Cli("virtual fault --drive " + Quoted(drive) + " " + faults);
    EXPECT_EQ(r.status, 0) << r.output;
  }
  return drive;
}

inline std::string Source(const ScratchFolder& dir) {
  WriteBytes(dir, "src/big.bin", PatternBytes(600 * 1024, 1));
  dir.Write("src/sub/note.txt", "a note\n");
  return dir / "src";
}

}  // namespace clidisc
