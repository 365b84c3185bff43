#pragma once

#include <string>
#include <vector>

namespace testing_support {

std::string BuildPath(const std::string& relative);
std::string SourcePath(const std::string& relative);

// The command line that runs the built daemon in the sandbox with its stand-ins.
std::vector<std::string> SandboxedDaemon();

// The command line that runs `command` inside the mount and network namespaces of the
// sandboxed process `pid` (for the bus CLI and the stand-ins' controls).
std::vector<std::string> InSandbox(int pid, const std::vector<std::string>& command);

}  // namespace testing_support
