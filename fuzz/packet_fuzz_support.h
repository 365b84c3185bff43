#pragma once

// Shared by the packet and FEnet fuzz targets: the logger runs into /dev/null so the error and
// verbose lines of every decoder are formatted too, and a broken invariant stops the run.

#include <cstdio>
#include <cstdlib>

#include "log/logger.h"

namespace fuzz_support {

inline void StartSilentLogger() {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  logging::Settings settings;
  settings.file_path = "/dev/null";
  settings.console = sink;
  logging::Start(settings);
}

inline void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace fuzz_support
