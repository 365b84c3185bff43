#pragma once

#include <cstdint>
#include <string>

#include "meshd/node_state.h"

namespace sim::meshnodes {

using sim::meshd::Bytes;

// What makes a simulated node a node of its own in the mesh daemon, all derived from its
// unicast address: an RFC 4122 device UUID (version 4, the address in its last bytes), a
// device key, and its application's object paths.
struct NodeIdentity {
  explicit NodeIdentity(std::uint16_t unicast);

  std::uint16_t address;
  Bytes uuid;
  Bytes device_key;
  std::string root_path;
  std::string application_path;
  std::string element_path;

  std::string UuidText() const;
  std::string Name() const;  // "node 0100", for log lines  // 32 lowercase hexadecimal digits, as the daemon names nodes
};

}  // namespace sim::meshnodes
