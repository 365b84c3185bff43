#pragma once

#include <string>

namespace status {

// The daemon's own version, as built ("0.1.0").
std::string DaemonVersion();

}  // namespace status
