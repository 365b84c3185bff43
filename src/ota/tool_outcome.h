#pragma once

#include <string>
#include <vector>

#include "common/command.h"

namespace ota {

// The end of a tool's output for one log line: its last 512 characters at most, from a line
// start where there is one, with line breaks shown as " | ".
std::string OutputTail(const std::string& output);

// Logs how an install tool ended: its command line, exit status and output tail, at error
// level when it failed and at info level when it succeeded.
void LogToolOutcome(const std::vector<std::string>& argv, const common::CommandResult& result);

}  // namespace ota
