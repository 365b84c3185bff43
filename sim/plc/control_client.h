#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace sim_plc {

// Sends one command to a running stand-in PLC's control socket (see plc_server.h) and
// returns its reply; throws std::runtime_error when the socket cannot be reached.
nlohmann::json ControlCall(const std::string& socket_path, const nlohmann::json& command);

}  // namespace sim_plc
