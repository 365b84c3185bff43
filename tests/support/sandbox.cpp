#include "support/sandbox.h"

namespace testing_support {

std::string BuildPath(const std::string& relative) { return std::string(QUELLARON_BUILD_DIR) + "/" + relative; }

std::string SourcePath(const std::string& relative) { return std::string(QUELLARON_SOURCE_DIR) + "/" + relative; }

std::vector<std::string> SandboxedDaemon() {
  return {"/bin/bash", SourcePath("sim/sandbox/sandbox"), "--build", BuildPath(""), "--",
          BuildPath("src/app/quellaron")};
}

std::vector<std::string> InSandbox(int pid, const std::vector<std::string>& command) {
  std::vector<std::string> argv{"/usr/bin/nsenter", "-t", std::to_string(pid), "-m", "-n", "--"};
  argv.insert(argv.end(), command.begin(), command.end());
  return argv;
}

}  // namespace testing_support
