#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace sim::platform {

// What the simulated router answers: the WAN interface's status when up and when down,
// the Wi-Fi networks a scan finds per device, the board description, and what applying
// a committed wireless configuration does. A scenario file (JSON) is merged over the
// built-in defaults (RFC 7386 merge patch).
struct Scenario {
  nlohmann::ordered_json wan_up_status;
  nlohmann::ordered_json wan_down_status;
  bool wan_up = true;
  nlohmann::ordered_json scan;   // device -> array of scan results
  nlohmann::ordered_json board;  // the "board" reply; "hostname" comes from the system package
  bool wireless_brings_wan_up = true;
  int wireless_apply_delay_ms = 1000;
  std::string reboot_record;  // a file that gets one line per reboot request ("" for none)

  // The defaults, patched by the scenario text when it is not empty. Throws on bad JSON.
  static Scenario FromText(const std::string& text);
};

}  // namespace sim::platform
