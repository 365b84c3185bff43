#pragma once

#include <optional>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "meshd/config_server.h"

namespace sim::meshd {

// The daemon's scripted misbehaviour, set by the control command "faults": how Import ends
// (JoinComplete, JoinFailed with a reason, or nothing), an error reply to Import, and the
// configuration server's faults.
struct DaemonFaults {
  std::string join = "complete";  // "complete", "failed" or "silent"
  std::string join_failed_reason = "unexpected-error";
  std::optional<std::pair<std::string, std::string>> import_error;  // error name and message
  ConfigFaults config;

  // Applies a "faults" command (with "reset", from the defaults) and returns Reply(); throws
  // std::invalid_argument for an unknown "join" or a "refuse" without an opcode.
  nlohmann::json Apply(const nlohmann::json& command);
  // The faults in force, as the command's reply.
  nlohmann::json Reply() const;
};

}  // namespace sim::meshd
