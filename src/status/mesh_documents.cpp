#include "status/mesh_documents.h"

#include "status/seconds_ago.h"

using nlohmann::json;

namespace status {
namespace {

json Acknowledged(mesh::SettingDelivery delivery) {
  if (delivery == mesh::SettingDelivery::kNone) return nullptr;
  return delivery == mesh::SettingDelivery::kAcknowledged;
}

bool PendingSettings(const mesh::NodeStatus& node) {
  return node.settings_fetch_pending || node.folds_delivery == mesh::SettingDelivery::kWaiting ||
         node.beacon_delivery == mesh::SettingDelivery::kWaiting;
}

json NodeDocument(const mesh::NodeStatus& node, std::int64_t now) {
  json last_report = json::object();
  for (const auto& [kind, when] : node.last_report) last_report[kind] = SecondsAgo(now, when);
  return json{{"id", node.id},
              {"address", node.address},
              {"channel", node.channel},
              {"type", node.type},
              {"version", node.version.empty() ? json(nullptr) : json(node.version)},
              {"last_seen", SecondsAgo(now, node.last_seen)},
              {"folds", node.folds},
              {"acknowledged", {{"folds", Acknowledged(node.folds_delivery)},
                                {"beacon", Acknowledged(node.beacon_delivery)}}},
              {"pending_settings", PendingSettings(node)},
              {"last_report", std::move(last_report)}};
}

}  // namespace

json MeshSummary(const mesh::MeshStatus& mesh) {
  return json{{"joined", mesh.joined},
              {"address", mesh.address == 0 ? json(nullptr) : json(mesh.address)},
              {"nodes", mesh.nodes.size()}};
}

json NodesDocument(const mesh::MeshStatus& mesh) {
  json nodes = json::array();
  for (const mesh::NodeStatus& node : mesh.nodes) nodes.push_back(NodeDocument(node, mesh.taken_at));
  return json{{"nodes", std::move(nodes)}};
}

}  // namespace status
