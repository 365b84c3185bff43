#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "log/severity.h"

namespace logging {

struct Settings {
  std::string file_path = "/var/log/quellaron.log";
  std::size_t max_file_size = 2097152;  // bytes before the file rolls
  std::size_t max_files = 5;            // the current file and four rolled ones
  std::FILE* console = stdout;
  Severity threshold = Severity::verbose;
};

// Creates the process logger: the rolling file appender first, the console second.
// Records written before Start (or after Stop) are dropped.
void Start(const Settings& settings = Settings{});
void Stop();
// Changes the threshold of a running logger: records above `threshold` are not written, to
// either appender. Does nothing when no logger runs.
void SetThreshold(Severity threshold);

// Writes one record to every appender; `function_signature` is the compiler's full signature.
void Write(Severity severity, const char* function_signature, int line, std::string_view message);

}  // namespace logging
