#pragma once

// Pure functions from the components' snapshots to the JSON documents of the operator's
// bus object; nothing here touches the bus or a lock.

#include <chrono>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "plc/plc_status.h"
#include "status/cloud_facts.h"

namespace status {

// What the daemon knows of itself.
struct GatewayFacts {
  std::string version;
  std::chrono::seconds uptime{0};
  bool mesh_mode = false;  // provisioned: the gateway runs the mesh, not BLE provisioning
  bool wan_up = false;
};

// The moment a document describes, on both clocks: snapshots keep steady times, the
// documents show Unix times.
struct Now {
  std::chrono::steady_clock::time_point steady = std::chrono::steady_clock::now();
  std::chrono::system_clock::time_point wall = std::chrono::system_clock::now();
};

// The "status" method's document: {"version", "uptime", "mode", "wan", "cloud", "mesh",
// "plcs", "firmware"}; the mesh, PLC and firmware parts are their summaries.
nlohmann::json StatusDocument(const GatewayFacts& gateway, const CloudFacts& cloud, const nlohmann::json& mesh,
                              const nlohmann::json& plcs, const nlohmann::json& firmware);

// {"authorised", "websocket", "last_delivery", "reports": {"pending", "delivered",
// "overwritten", "refused"}}.
nlohmann::json CloudSummary(const CloudFacts& cloud);

// {"configured", "answering"}.
nlohmann::json PlcSummary(const std::vector<PlcStatus>& plcs);

// The "plcs" method's document: {"plcs": [{"id", "name", "host", "state", "since",
// "reads_ok", "reads_failed", "last_error"}]}, "since" in Unix seconds.
nlohmann::json PlcsDocument(const std::vector<PlcStatus>& plcs, const Now& now);

// A steady-clock time as Unix seconds, by its distance from `now`.
std::int64_t UnixSeconds(std::chrono::steady_clock::time_point time, const Now& now);

}  // namespace status
