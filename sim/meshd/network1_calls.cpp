// Network1, as the daemon serves it: Import and Attach are checked and recorded on the bus's
// event loop, then finished on the worker, which reads the application's objects before the
// reply (and sends JoinComplete or JoinFailed after Import's).

#include <algorithm>
#include <optional>

#include "meshd/app_peer.h"
#include "meshd/app_tree.h"
#include "meshd/bus_side.h"
#include "meshd/call_checks.h"
#include "meshd/mesh_daemon.h"

namespace sim::meshd {

namespace {

// RFC 4122: the variant bits 10 and a version from 1 to 5.
bool IsRfc4122(const Bytes& uuid) {
  if (uuid.size() != 16) return false;
  const unsigned version = uuid[6] >> 4;
  return (uuid[8] >> 6) == 2 && version >= 1 && version <= 5;
}

// The configuration of one element's application models as Attach reports it.
std::vector<sdbus::Struct<std::uint16_t, Options>> ModelConfigurations(const ElementState& element) {
  std::vector<sdbus::Struct<std::uint16_t, Options>> models;
  for (const auto& model : element.models) {
    if (model.id == kConfigServerModel) continue;
    if (model.bindings.empty() && model.subscriptions.empty()) continue;
    Options config;
    if (IsVendorModel(model.id)) config["Vendor"] = sdbus::Variant(static_cast<std::uint16_t>(model.id >> 16));
    if (!model.bindings.empty()) config["Bindings"] = sdbus::Variant(model.bindings);
    if (!model.subscriptions.empty()) config["Subscriptions"] = GroupsVariant(model.subscriptions);
    models.emplace_back(static_cast<std::uint16_t>(model.id & 0xFFFF), std::move(config));
  }
  return models;
}

// Records a call, with its error if it has one, and then replies with that error. True when
// the call was refused.
template <typename Result>
bool RecordCall(DaemonRecord& daemon_record, nlohmann::json record, const std::optional<sdbus::Error>& error,
                Result& result) {
  if (error) record["error"] = ErrorJson(*error);
  daemon_record.Add(std::move(record));
  if (error) result.returnError(*error);
  return error.has_value();
}

// The node Import describes, before the application's objects complete it.
NodeState ImportedNode(const ImportRequest& request) {
  NodeState node;
  node.uuid = request.uuid;
  node.unicast = request.unicast;
  node.device_key = request.device_key;
  node.net_key = request.net_key;
  node.net_index = request.net_index;
  node.iv_index = request.iv_index;
  for (const auto& [key, value] : request.flags) {
    (key == "IvUpdate" ? node.iv_update : node.key_refresh) = value.get<bool>();
  }
  node.app_root = request.app_root;
  return node;
}

}  // namespace

void MeshDaemon::Import(ImportResult result, const std::string& sender, ImportRequest request) {
  const std::lock_guard<std::mutex> lock(mutex_);
  nlohmann::json record{{"kind", "call"},           {"member", "Import"},
                        {"sender", sender},         {"app_root", request.app_root},
                        {"uuid", ToHex(request.uuid)}, {"dev_key", ToHex(request.device_key)},
                        {"net_key", ToHex(request.net_key)}, {"net_index", request.net_index},
                        {"flags", OptionsJson(request.flags)}, {"iv_index", request.iv_index},
                        {"unicast", request.unicast}};
  std::optional<sdbus::Error> error;
  const bool known_uuid = std::any_of(nodes_.begin(), nodes_.end(),
                                      [&request](const auto& entry) { return entry.second.uuid == request.uuid; });
  const bool bad_flags = std::any_of(request.flags.begin(), request.flags.end(), [](const auto& flag) {
    return (flag.first != "IvUpdate" && flag.first != "KeyRefresh") || !flag.second.template containsValueOfType<bool>();
  });
  if (faults_.import_error) {
    error = sdbus::Error(faults_.import_error->first, faults_.import_error->second);
  } else if (!IsRfc4122(request.uuid)) {
    error = MeshError("InvalidArgs", "Bad device UUID");
  } else if (known_uuid) {
    error = MeshError("AlreadyExists", "Node already exists");
  } else if (request.device_key.size() != 16) {
    error = MeshError("InvalidArgs", "Bad dev key");
  } else if (request.net_key.size() != 16) {
    error = MeshError("InvalidArgs", "Bad net key");
  } else if (request.net_index > 0x0FFF) {
    error = MeshError("InvalidArgs", "Bad net index");
  } else if (bad_flags) {
    error = MeshError("InvalidArgs", "Bad flags");
  } else if (!IsUnicast(request.unicast)) {
    error = MeshError("InvalidArgs", "Bad address");
  }
  if (RecordCall(record_, std::move(record), error, *result)) return;
  worker_->Post([this, result, sender, request = std::move(request)] { FinishImport(result, sender, request); });
}

bool MeshDaemon::ReadApplication(const AppPeer& peer, const std::string& app_root, AppComposition& composition) {
  std::string problem;
  try {
    const ManagedObjects objects = peer.GetManagedObjects(app_root);
    if (ReadComposition(objects, composition, problem)) {
      const std::lock_guard<std::mutex> lock(mutex_);
      record_.Add({{"kind", "sent"}, {"member", "GetManagedObjects"}, {"path", app_root},
                   {"app_path", composition.app_path}});
      return true;
    }
  } catch (const sdbus::Error& error) {
    problem = "Failed to get app's dbus objects: " + error.getName() + ": " + error.getMessage();
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  record_.Add({{"kind", "sent"}, {"member", "GetManagedObjects"}, {"path", app_root}, {"problem", problem}});
  return false;
}

void MeshDaemon::FinishImport(const ImportResult& result, const std::string& sender, const ImportRequest& request) {
  if (!bus_ || !bus_->Looping()) return;  // stopping: the call goes unanswered
  const AppPeer peer(bus_->Connection(), sender, options_.call_timeout);
  AppComposition composition;
  if (!ReadApplication(peer, request.app_root, composition)) {
    result->returnError(MeshError("Failed"));
    return;
  }
  NodeState node = ImportedNode(request);
  AdoptComposition(node, composition);
  DaemonFaults faults;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    node.token = NewToken(nodes_);
    faults = faults_;
    if (faults.join != "failed") {
      nodes_[node.token] = node;
      state_file_.Save(nodes_);
    }
  }
  result->returnResults();
  if (faults.join == "failed") {
    peer.JoinFailed(composition.app_path, faults.join_failed_reason);
    const std::lock_guard<std::mutex> lock(mutex_);
    record_.Add({{"kind", "sent"}, {"member", "JoinFailed"}, {"path", composition.app_path},
                 {"reason", faults.join_failed_reason}});
    return;
  }
  if (faults.join == "silent") {
    const std::lock_guard<std::mutex> lock(mutex_);
    record_.Add({{"kind", "withheld"}, {"member", "JoinComplete"}, {"path", composition.app_path},
                 {"token", node.token}});
    return;
  }
  nlohmann::json record{{"kind", "sent"}, {"member", "JoinComplete"}, {"path", composition.app_path}, {"token", node.token}};
  try {
    peer.JoinComplete(composition.app_path, node.token);
  } catch (const sdbus::Error& error) {
    // As the daemon does: an application that refuses its token loses the node.
    record["error"] = ErrorJson(error);
    const std::lock_guard<std::mutex> lock(mutex_);
    nodes_.erase(node.token);
    state_file_.Save(nodes_);
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  record_.Add(std::move(record));
}

void MeshDaemon::Attach(AttachResult result, const std::string& sender, const std::string& app_root,
                        std::uint64_t token) {
  const std::lock_guard<std::mutex> lock(mutex_);
  nlohmann::json record{{"kind", "call"}, {"member", "Attach"}, {"sender", sender}, {"app_root", app_root}, {"token", token}};
  std::optional<sdbus::Error> error;
  Attachment& attachment = attachments_[token];
  if (nodes_.count(token) == 0) {
    attachments_.erase(token);
    error = MeshError("NotFound", "Attach failed");
  } else if (attachment.busy) {
    error = MeshError("Busy");
  } else if (!attachment.owner.empty()) {
    error = MeshError("AlreadyExists", "Attach failed");
  }
  if (RecordCall(record_, std::move(record), error, *result)) return;
  attachment.busy = true;
  worker_->Post([this, result, sender, app_root, token] { FinishAttach(result, sender, app_root, token); });
}

void MeshDaemon::FinishAttach(const AttachResult& result, const std::string& sender, const std::string& app_root,
                              std::uint64_t token) {
  if (!bus_ || !bus_->Looping()) return;  // stopping: the call goes unanswered
  const AppPeer peer(bus_->Connection(), sender, options_.call_timeout);
  AppComposition composition;
  const bool read = ReadApplication(peer, app_root, composition);
  std::string path;
  AttachConfiguration configuration;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    attachments_[token].busy = false;
    const auto found = nodes_.find(token);
    if (!read || found == nodes_.end()) {
      const sdbus::Error error = read ? MeshError("NotFound", "Attach failed") : MeshError("Failed", "Attach failed");
      record_.Add({{"kind", "reply"}, {"member", "Attach"}, {"token", token}, {"error", ErrorJson(error)}});
      result->returnError(error);
      return;
    }
    NodeState& node = found->second;
    AdoptComposition(node, composition);
    node.app_root = app_root;
    attachments_[token].owner = sender;
    state_file_.Save(nodes_);
    path = node.ObjectPath();
    for (const auto& element : node.elements) configuration.emplace_back(element.index, ModelConfigurations(element));
    record_.Add({{"kind", "reply"}, {"member", "Attach"}, {"token", token}, {"path", path}});
  }
  bus_->ShowNode(token, path);
  result->returnResults(sdbus::ObjectPath(path), configuration);
}

}  // namespace sim::meshd
