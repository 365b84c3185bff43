#pragma once

// The mesh component's documents for the operator, built from a snapshot: no lock, no bus.

#include <nlohmann/json.hpp>

#include "mesh/mesh_status.h"

namespace status {

// {"joined": bool, "address": the gateway's unicast address or null, "nodes": how many}
nlohmann::json MeshSummary(const mesh::MeshStatus& mesh);

// {"nodes": [one object per node, by address then channel]}, each node:
//   "id", "address", "channel", "type" (the device type), "version" (null when unknown),
//   "last_seen": seconds ago,
//   "folds": kind -> minutes as last given to the node, null until the cloud gave some,
//   "acknowledged": {"folds", "beacon"}: whether the device acknowledged the newest setting
//     given, null for a setting never given (the beacon is never given to a sub-device),
//   "pending_settings": the cloud's settings for the node are still to be fetched, or a
//     setting given to it still waits in the control queue (sent and unacknowledged is
//     "acknowledged": false, not pending),
//   "last_report": kind -> seconds since its last report.
// Ages are read against the snapshot's taken_at.
nlohmann::json NodesDocument(const mesh::MeshStatus& mesh);

}  // namespace status
