#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace mesh {

// How far a setting given to a node has got.
enum class SettingDelivery {
  kNone,          // never given
  kWaiting,       // the newest copy waits in the control queue
  kSent,          // the newest copy went out; the device has not acknowledged it
  kAcknowledged,  // the device acknowledged the newest copy
};

// A copy of one node as its registry holds it; times are seconds since the epoch.
struct NodeStatus {
  std::string id;
  std::uint16_t address = 0;
  std::uint16_t channel = 0;  // 0 for the main node
  std::uint16_t type = 0;     // the device type it announced
  std::string version;
  std::time_t last_seen = 0;
  nlohmann::json folds;  // kind -> minutes, as last given; null until the cloud's folds were
  SettingDelivery folds_delivery = SettingDelivery::kNone;
  SettingDelivery beacon_delivery = SettingDelivery::kNone;  // always kNone on sub-devices
  bool settings_fetch_pending = false;  // the cloud's settings for the node are still to be fetched
  std::map<std::string, std::time_t> last_report;  // kind -> when its last report arrived
};

// A copy of the mesh component's state, taken part by part, each under its own lock.
struct MeshStatus {
  std::time_t taken_at = 0;  // the clock the times above are read against
  bool joined = false;       // the gateway's node is attached and fully configured
  std::uint16_t address = 0;  // the gateway's own unicast address; 0 when none is set
  std::vector<NodeStatus> nodes;  // ordered by address, then channel
};

}  // namespace mesh
