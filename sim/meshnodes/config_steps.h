#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "meshd/node_state.h"

namespace sim::meshnodes {

using sim::meshd::Bytes;

// One configuration message a node sends its own Configuration Server, and the status
// opcode that answers it.
struct ConfigStep {
  std::string name;
  Bytes request;
  std::uint32_t status_opcode = 0;
};

constexpr std::uint16_t kSensorGroup = 0xC8C8;  // where the gateway sends its beacon and offers

// What a sensor node configures after it joined: the application key (index 0 on network key
// 0), its vendor model bound to it, and the model subscribed to the sensors' group.
std::vector<ConfigStep> SensorConfiguration(std::uint16_t element, const Bytes& app_key);

// For a message from the Configuration Server: nothing when it is not the step's status;
// true when its status byte is 0 (success).
std::optional<bool> StepOutcome(const ConfigStep& step, const Bytes& reply);

}  // namespace sim::meshnodes
