// Management1, as the daemon serves it to the attached application: ImportRemoteNode puts a
// remote node's device key in the node's key ring, for DevKeySend with remote true.

#include "meshd/call_checks.h"
#include "meshd/mesh_daemon.h"

namespace sim::meshd {

void MeshDaemon::ImportRemoteNode(std::uint64_t token, const std::string& sender, std::uint16_t primary,
                                  std::uint8_t count, const std::vector<std::uint8_t>& device_key) {
  const std::lock_guard<std::mutex> lock(mutex_);
  nlohmann::json record{{"kind", "call"}, {"member", "ImportRemoteNode"}, {"sender", sender}, {"token", token},
                        {"primary", primary}, {"count", count}, {"device_key", ToHex(device_key)}};
  try {
    NodeState& node = OwnedNode(token, sender);
    if (device_key.size() != 16) throw MeshError("InvalidArgs", "Bad device key");
    if (count == 0 || !IsUnicast(primary) || !IsUnicast(primary + count - 1u)) throw MeshError("Failed");
    for (unsigned offset = 0; offset < count; ++offset) {
      node.key_ring[static_cast<std::uint16_t>(primary + offset)] = device_key;
    }
    state_file_.Save(nodes_);
  } catch (const sdbus::Error& error) {
    record["error"] = ErrorJson(error);
    record_.Add(std::move(record));
    throw;
  }
  record_.Add(std::move(record));
}

}  // namespace sim::meshd
