#include "meshd/sensor_options.h"

#include "meshd/sensor_field.h"

namespace sim::meshd {

bool ParseSensorOption(const std::string& name, const std::string& value, SensorFieldOptions& options) {
  if (name == "--sensors") {
    options.sensors = std::stoi(value);
  } else if (name == "--three-channel-every") {
    options.three_channel_every = std::stoi(value);
  } else if (name == "--sensor-minute-ms") {
    options.minute = std::chrono::milliseconds(std::stoll(value));
  } else {
    return false;
  }
  return true;
}

nlohmann::json PopulateField(SensorField& field, const SensorFieldOptions& options) {
  field.Control({{"cmd", "pace"}, {"minute_ms", options.minute.count()}});
  return field.Add(options.sensors, options.three_channel_every);
}

}  // namespace sim::meshd
