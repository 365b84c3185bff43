#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace ble {

// What an "M" request hands over, each field checked: the network and application keys as
// Base64 texts of 16 bytes, the gateway's unicast address and, when given, its group address.
struct MeshCredentials {
  std::string network_key;
  std::string application_key;
  std::uint16_t unicast = 0;
  std::optional<std::uint16_t> group;
};

// The credentials of an "M" request. Throws std::invalid_argument naming the first field
// that is missing or wrong: a key that is not Base64 of exactly 16 bytes (surrounding white
// space aside), a unicast address outside 0x0001..0x7FFF, a group address outside
// 0xCA00..0xFC00. Nothing is stored here.
MeshCredentials ReadMeshCredentials(const nlohmann::json& request);

}  // namespace ble
