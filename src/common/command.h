#pragma once

#include <string>
#include <vector>

namespace common {

// What a tool printed on its standard output and how it ended.
struct CommandResult {
  std::string output;
  int exit_status = -1;  // the exit code, or -1 when it ended by a signal
};

// What of a tool's output is collected: its standard output, or its standard error as well
// (for a tool whose failure is explained there).
enum class Capture { kOutput, kOutputAndErrors };

// Runs `argv` (argv[0] looked up in PATH when it holds no '/') with its standard output read
// through a pipe, no shell in between, so no argument is ever read as shell syntax. Standard
// input and, unless captured, standard error are the daemon's; other descriptors are not
// inherited (with glibc). Waits for the end.
// Throws std::runtime_error when the pipe cannot be made or the program cannot be started.
CommandResult RunCommand(const std::vector<std::string>& argv, Capture capture = Capture::kOutput);

// The argument vector as one line for the log.
std::string CommandLine(const std::vector<std::string>& argv);

}  // namespace common
