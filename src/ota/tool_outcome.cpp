#include "ota/tool_outcome.h"

#include "log/log.h"

namespace ota {
namespace {

constexpr std::size_t kTailLength = 512;

}  // namespace

std::string OutputTail(const std::string& output) {
  const auto last = output.find_last_not_of(" \t\r\n");
  if (last == std::string::npos) return {};
  std::string tail = output.substr(0, last + 1);
  if (tail.size() > kTailLength) {
    tail.erase(0, tail.size() - kTailLength);
    const auto line = tail.find('\n');
    if (line != std::string::npos && line + 1 < tail.size()) tail.erase(0, line + 1);
  }
  std::string shown;
  for (const char c : tail) {
    if (c == '\n') {
      shown += " | ";
    } else if (c != '\r') {
      shown += c;
    }
  }
  return shown;
}

void LogToolOutcome(const std::vector<std::string>& argv, const common::CommandResult& result) {
  const std::string tail = OutputTail(result.output);
  const std::string said = tail.empty() ? " (no output)" : ": " + tail;
  if (result.exit_status == 0) {
    LOG_INFO << common::CommandLine(argv) << " succeeded" << said;
  } else if (result.exit_status < 0) {
    LOG_ERROR << common::CommandLine(argv) << " was ended by a signal" << said;
  } else {
    LOG_ERROR << common::CommandLine(argv) << " failed with status " << result.exit_status << said;
  }
}

}  // namespace ota
