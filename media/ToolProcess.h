#pragma once
// Running the outside command-line tools (the converter ffmpeg, the
// multiplexer mplex, the DVD authoring tool dvdauthor) and reading what they
// print. A tool runs in a process group of its own, so that stopping it also
// stops whatever it started, and so that only the processes Varnex started
// are ever stopped: another program of the same name is left alone.

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

// The full path of a tool: the program folder first, then PATH. "" when it
// is nowhere.
std::string FindTool(const std::string& name);

// The arguments of a command-line text: blanks separate them, a pair of
// double quotes keeps blanks inside one argument (the quotes themselves are
// dropped). No shell is involved, so nothing in the text is ever run.
std::vector<std::string> SplitArguments(const std::string& text);

struct ToolRun {
  // Polled while the tool runs: when it turns true, the tool's process group
  // is ended and RunTool returns (true, with exitStatus -1).
  const std::atomic<bool>* stop = nullptr;
  // The exit status of the tool: 0 to 255 when it ended by itself, -1 when
  // it was ended by a signal (a stop, KillToolProcess, a crash).
  int exitStatus = -1;
};

// Runs a tool to its end and appends everything it printed (standard output
// and error) to `output`. False only when the process cannot be started.
bool RunTool(const std::string& exePath, const std::vector<std::string>& arguments, std::string* output,
             ToolRun* run = nullptr);
// The same with the arguments as one text (SplitArguments).
bool RunTool(const std::string& exePath, const std::string& arguments, std::string* output, ToolRun* run = nullptr);

// Ends every process group that RunTool started for a tool of this name (the
// base name of its path, compared exactly) and that is still running.
// Processes of that name that Varnex did not start are never touched.
// Returns how many groups were signalled.
int KillToolProcess(const std::string& toolName);

// The tools the windows stop when the user cancels a burn.
void KillAllTools();

// The argument texts our templates were first written with, and
// the form today's tools accept: each change says why it is made, so that
// the templates stay as designed and every departure is in one table.
struct ArgumentChange {
  const char* designed;
  const char* used;
  const char* reason;
};
// Every occurrence of `from` in `text` replaced by `to`.
void ReplaceAll(std::string* text, const std::string& from, const std::string& to);
// `text` with every change of the table applied, in the table's order.
template <size_t N>
std::string WithChanges(std::string text, const ArgumentChange (&changes)[N]) {
  for (const ArgumentChange& c : changes) ReplaceAll(&text, c.designed, c.used);
  return text;
}

// Text helpers for what the tools print.
// The text between the last `start` marker and the first `end` marker after
// it; "" when any argument is empty or a marker is missing.
std::string ExtractBetween(const std::string& text, const std::string& start, const std::string& end);
// The text before / after the first `marker`; "" when either is empty or the
// marker does not occur.
std::string TextBefore(const std::string& text, const std::string& marker);
std::string TextAfter(const std::string& text, const std::string& marker);
