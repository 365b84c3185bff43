#pragma once

#include <chrono>
#include <string>

#include <nlohmann/json.hpp>

namespace sim::meshd {

class SensorField;

// The simulated sensor nodes a stand-in starts with.
struct SensorFieldOptions {
  int sensors = 0;              // simulated sensor nodes at start
  int three_channel_every = 3;  // every n-th of them a three-channel device (0: none)
  std::chrono::milliseconds minute{60000};  // how long a fold minute lasts for them
};

// The command-line options --sensors N, --three-channel-every M and --sensor-minute-ms MS;
// false for any other option.
bool ParseSensorOption(const std::string& name, const std::string& value, SensorFieldOptions& options);

// Sets the field's pace and adds the nodes; returns their descriptions.
nlohmann::json PopulateField(SensorField& field, const SensorFieldOptions& options);

}  // namespace sim::meshd
