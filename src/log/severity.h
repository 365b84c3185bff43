#pragma once

#include <string_view>

namespace logging {

// Severities by number: the threshold compares against these values.
enum class Severity : int { none = 0, fatal = 1, error = 2, warning = 3, info = 4, debug = 5, verbose = 6 };

// The name written in a log line: "FATAL", "ERROR", "WARN", "INFO", "DEBUG", "VERB", else "NONE".
std::string_view SeverityName(Severity severity) noexcept;

}  // namespace logging
