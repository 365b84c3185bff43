#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What the mesh daemon tells the gateway through its exported tree and the system bus, handed
// on by the link to whoever handles it. Every handler runs on the D-Bus event loop and must not
// block it.
struct MeshEvents {
  std::function<void(std::uint64_t token)> join_complete;
  std::function<void(const std::string& reason)> join_failed;
  // An access message from a node (application key).
  std::function<void(std::uint16_t source, const std::vector<std::uint8_t>& data)> message;
  // A configuration status from the gateway's own node (device key).
  std::function<void(const std::vector<std::uint8_t>& data)> configuration_reply;
  // The mesh daemon's name appeared on the bus (true) or vanished (false).
  std::function<void(bool present)> daemon_presence;
};
