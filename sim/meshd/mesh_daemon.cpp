#include "meshd/mesh_daemon.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "meshd/app_peer.h"
#include "meshd/app_tree.h"
#include "meshd/bus_side.h"
#include "meshd/sensor_field.h"
#include "standin/control_socket.h"

namespace sim::meshd {

namespace {

constexpr std::size_t kMaxRecords = 10000;
constexpr std::size_t kMaxMessageLength = 380;
constexpr std::uint16_t kSensorKeyIndex = 0;  // the application key the sensor nodes use

// The daemon's error replies: "org.bluez.mesh.Error.<name>" and its default text unless
// the call site gives its own.
sdbus::Error MeshError(const std::string& name, const std::string& text = {}) {
  static const std::map<std::string, std::string> kDefaultTexts = {
      {"Failed", "Operation failed"},        {"NotAuthorized", "Permission denied"},
      {"NotFound", "Object not found"},      {"InvalidArgs", "Invalid arguments"},
      {"InProgress", "Operation already in progress"}, {"Busy", "Busy"},
      {"AlreadyExists", "Already exists"},   {"DoesNotExist", "Does not exist"}};
  const auto found = kDefaultTexts.find(name);
  const std::string message = !text.empty() ? text : found != kDefaultTexts.end() ? found->second : std::string{};
  return sdbus::Error("org.bluez.mesh.Error." + name, message);
}

nlohmann::json ErrorJson(const sdbus::Error& error) { return {{"name", error.getName()}, {"message", error.getMessage()}}; }

// RFC 4122: the variant bits 10 and a version from 1 to 5.
bool IsRfc4122(const Bytes& uuid) {
  if (uuid.size() != 16) return false;
  const unsigned version = uuid[6] >> 4;
  return (uuid[8] >> 6) == 2 && version >= 1 && version <= 5;
}

bool IsLocal(const NodeState& node, std::uint16_t address) {
  return address >= node.unicast && address < node.unicast + std::max<std::size_t>(node.elements.size(), 1);
}

// Send options the daemon accepts: "ForceSegmented" (boolean) and "Vendor" (uint16).
bool ValidSendOptions(const Options& options) {
  for (const auto& [key, value] : options) {
    if (key == "ForceSegmented" && !value.containsValueOfType<bool>()) return false;
    if (key == "Vendor" && !value.containsValueOfType<std::uint16_t>()) return false;
  }
  return true;
}

nlohmann::json OptionsJson(const Options& options) {
  nlohmann::json json = nlohmann::json::object();
  for (const auto& [key, value] : options) {
    if (value.containsValueOfType<bool>()) {
      json[key] = value.get<bool>();
    } else if (value.containsValueOfType<std::uint16_t>()) {
      json[key] = value.get<std::uint16_t>();
    } else {
      json[key] = value.peekValueType();
    }
  }
  return json;
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
    if (!model.subscriptions.empty()) {
      std::vector<sdbus::Variant> groups;
      for (const auto group : model.subscriptions) groups.emplace_back(group);
      config["Subscriptions"] = sdbus::Variant(groups);
    }
    models.emplace_back(static_cast<std::uint16_t>(model.id & 0xFFFF), std::move(config));
  }
  return models;
}

}  // namespace

MeshDaemon::MeshDaemon(MeshDaemonOptions options) : options_(std::move(options)) {}

MeshDaemon::~MeshDaemon() { Stop(); }

void MeshDaemon::Start() {
  if (started_) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    LoadState();
  }
  worker_ = std::make_unique<Worker>();
  const std::string problem = BringBusUp();
  if (!problem.empty()) {
    worker_->Stop();
    throw std::runtime_error("cannot own " + std::string(kBusName) + ": " + problem);
  }
  sensors_ = std::make_unique<SensorField>([this](std::uint16_t source, std::uint16_t destination, Bytes data) {
    worker_->Post([this, source, destination, data = std::move(data)] { FromSensor(source, destination, data); });
  });
  sensors_->Control({{"cmd", "pace"}, {"minute_ms", options_.sensor_minute.count()}});
  sensors_->Add(options_.sensors, options_.three_channel_every);
  started_ = true;
  if (!options_.control_socket.empty()) {
    control_ = std::make_unique<sim::standin::ControlSocket>(options_.control_socket,
                                                     [this](const nlohmann::json& command) { return Control(command); });
  }
}

void MeshDaemon::Stop() {
  if (!started_) return;
  control_.reset();
  worker_->Post([this] {
    if (bus_) bus_->StopLoop();
  });
  worker_->Stop();
  bus_.reset();
  sensors_.reset();  // what they still send finds the worker stopped and is dropped
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    name_owned_ = false;
    attachments_.clear();
  }
  started_ = false;
}

bool MeshDaemon::NameOwned() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return name_owned_;
}

nlohmann::json MeshDaemon::Records() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

std::string MeshDaemon::BringBusUp() {
  try {
    DaemonCalls& calls = *this;
    bus_ = std::make_unique<BusSide>(options_.bus_address, calls, [this](const std::string& name) {
      worker_->Post([this, name] { OwnerGone(name); });
    });
  } catch (const sdbus::Error& error) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Record({{"kind", "event"}, {"event", "bus failed"}, {"error", ErrorJson(error)}});
    return error.getName() + ": " + error.getMessage();
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  name_owned_ = true;
  Record({{"kind", "event"}, {"event", "name owned"}});
  return {};
}

// ---- Network1 -------------------------------------------------------------------------------

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
  if (error) {
    record["error"] = ErrorJson(*error);
    Record(std::move(record));
    result->returnError(*error);
    return;
  }
  Record(std::move(record));
  worker_->Post([this, result, sender, request = std::move(request)] { FinishImport(result, sender, request); });
}

bool MeshDaemon::ReadApplication(const AppPeer& peer, const std::string& app_root, AppComposition& composition) {
  std::string problem;
  try {
    const ManagedObjects objects = peer.GetManagedObjects(app_root);
    if (ReadComposition(objects, composition, problem)) {
      const std::lock_guard<std::mutex> lock(mutex_);
      Record({{"kind", "sent"}, {"member", "GetManagedObjects"}, {"path", app_root}, {"app_path", composition.app_path}});
      return true;
    }
  } catch (const sdbus::Error& error) {
    problem = "Failed to get app's dbus objects: " + error.getName() + ": " + error.getMessage();
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  Record({{"kind", "sent"}, {"member", "GetManagedObjects"}, {"path", app_root}, {"problem", problem}});
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
  AdoptComposition(node, composition);
  Faults faults;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    node.token = NewToken();
    faults = faults_;
    if (faults.join != "failed") {
      nodes_[node.token] = node;
      SaveState();
    }
  }
  result->returnResults();
  if (faults.join == "failed") {
    peer.JoinFailed(composition.app_path, faults.join_failed_reason);
    const std::lock_guard<std::mutex> lock(mutex_);
    Record({{"kind", "sent"}, {"member", "JoinFailed"}, {"path", composition.app_path},
            {"reason", faults.join_failed_reason}});
    return;
  }
  if (faults.join == "silent") {
    const std::lock_guard<std::mutex> lock(mutex_);
    Record({{"kind", "withheld"}, {"member", "JoinComplete"}, {"path", composition.app_path}, {"token", node.token}});
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
    SaveState();
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  Record(std::move(record));
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
  if (error) {
    record["error"] = ErrorJson(*error);
    Record(std::move(record));
    result->returnError(*error);
    return;
  }
  attachment.busy = true;
  Record(std::move(record));
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
      Record({{"kind", "reply"}, {"member", "Attach"}, {"token", token}, {"error", ErrorJson(error)}});
      result->returnError(error);
      return;
    }
    NodeState& node = found->second;
    AdoptComposition(node, composition);
    node.app_root = app_root;
    attachments_[token].owner = sender;
    SaveState();
    path = node.ObjectPath();
    for (const auto& element : node.elements) configuration.emplace_back(element.index, ModelConfigurations(element));
    Record({{"kind", "reply"}, {"member", "Attach"}, {"token", token}, {"path", path}});
  }
  bus_->ShowNode(token, path);
  result->returnResults(sdbus::ObjectPath(path), configuration);
}

void MeshDaemon::OwnerGone(const std::string& unique_name) {
  std::vector<std::string> paths;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [token, attachment] : attachments_) {
      if (attachment.owner != unique_name) continue;
      attachment.owner.clear();
      const auto found = nodes_.find(token);
      if (found != nodes_.end()) paths.push_back(found->second.ObjectPath());
      Record({{"kind", "event"}, {"event", "detached"}, {"token", token}, {"owner", unique_name}});
    }
  }
  if (!bus_) return;
  for (const auto& path : paths) bus_->HideNode(path);
}

// ---- Node1 and Management1 -------------------------------------------------------------------

NodeState& MeshDaemon::OwnedNode(std::uint64_t token, const std::string& sender) {
  const auto found = nodes_.find(token);
  if (found == nodes_.end()) throw MeshError("NotFound");
  const auto attachment = attachments_.find(token);
  if (attachment == attachments_.end() || attachment->second.owner != sender) throw MeshError("NotAuthorized");
  return found->second;
}

void MeshDaemon::Send(std::uint64_t token, const std::string& sender, const SendRequest& request) {
  const std::lock_guard<std::mutex> lock(mutex_);
  nlohmann::json record{{"kind", "call"},        {"member", "Send"},
                        {"sender", sender},      {"token", token},
                        {"element_path", request.element_path}, {"destination", request.destination},
                        {"key_index", request.key_index}, {"options", OptionsJson(request.options)},
                        {"data", ToHex(request.data)}};
  std::vector<Delivery> deliveries;
  std::uint16_t source = 0;
  try {
    NodeState& node = OwnedNode(token, sender);
    const ElementState* element = node.ElementByPath(request.element_path);
    if (element == nullptr) throw MeshError("NotFound", "Element not found");
    if (!ValidSendOptions(request.options)) throw MeshError("InvalidArgs");
    if (request.data.empty() || request.data.size() > kMaxMessageLength) throw MeshError("InvalidArgs", "Incorrect data");
    if (request.key_index & ~0x0FFF) throw MeshError("InvalidArgs", "Invalid key index");
    if (node.app_keys.count(request.key_index) == 0) throw MeshError("InvalidArgs", "Key not found");
    if (request.destination == 0) throw MeshError("Failed");
    // The daemon hands every message it sends to its own models first: the node's elements
    // hear what they send to themselves or to a group they subscribe to.
    source = static_cast<std::uint16_t>(node.unicast + element->index);
    CollectAppKeyDeliveries(node, source, request.destination, request.key_index, request.data, deliveries);
  } catch (const sdbus::Error& error) {
    record["error"] = ErrorJson(error);
    Record(std::move(record));
    throw;
  }
  Record(std::move(record));
  if (!deliveries.empty()) worker_->Post([this, deliveries] { Deliver(deliveries); });
  if (sensors_) sensors_->Hear(source, request.destination, request.data);
}

// A message from a simulated sensor: the attached nodes it is addressed to receive it as a
// message from another node of the network.
void MeshDaemon::FromSensor(std::uint16_t source, std::uint16_t destination, const Bytes& data) {
  std::vector<Delivery> deliveries;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [token, node] : nodes_) {
      const auto attachment = attachments_.find(token);
      if (attachment == attachments_.end() || attachment->second.owner.empty()) continue;
      if (node.app_keys.count(kSensorKeyIndex) == 0) continue;
      if (!IsLocal(node, destination) && !IsGroup(destination)) continue;
      CollectAppKeyDeliveries(node, source, destination, kSensorKeyIndex, data, deliveries);
    }
    if (deliveries.empty()) {
      Record({{"kind", "dropped"}, {"source", source}, {"destination", destination}, {"data", ToHex(data)},
              {"reason", "no attached node takes it"}});
    }
  }
  Deliver(deliveries);
}

void MeshDaemon::DevKeySend(std::uint64_t token, const std::string& sender, const SendRequest& request) {
  const std::lock_guard<std::mutex> lock(mutex_);
  nlohmann::json record{{"kind", "call"},       {"member", "DevKeySend"},
                        {"sender", sender},     {"token", token},
                        {"element_path", request.element_path}, {"destination", request.destination},
                        {"remote", request.remote}, {"net_index", request.key_index},
                        {"options", OptionsJson(request.options)}, {"data", ToHex(request.data)}};
  Bytes key;
  std::uint16_t source = 0;
  bool local = false;
  try {
    NodeState& node = OwnedNode(token, sender);
    local = IsLocal(node, request.destination);
    // Loopbacks to the node's own servers must use the remote (key ring) device key.
    if (!request.remote && local) throw MeshError("InvalidArgs");
    const ElementState* element = node.ElementByPath(request.element_path);
    if (element == nullptr) throw MeshError("NotFound", "Element not found");
    if (!ValidSendOptions(request.options)) throw MeshError("InvalidArgs");
    if (request.data.empty() || request.data.size() > kMaxMessageLength) throw MeshError("InvalidArgs", "Incorrect data");
    if (request.destination == 0 || request.key_index != node.net_index) throw MeshError("NotFound");
    if (request.remote) {
      const auto remote_key = IsUnicast(request.destination) ? node.RemoteDeviceKey(request.destination) : std::nullopt;
      if (!remote_key) throw MeshError("NotFound");
      key = *remote_key;
    } else {
      key = node.device_key;
    }
    source = static_cast<std::uint16_t>(node.unicast + element->index);
  } catch (const sdbus::Error& error) {
    record["error"] = ErrorJson(error);
    Record(std::move(record));
    throw;
  }
  Record(std::move(record));
  if (local) {
    worker_->Post([this, token, source, destination = request.destination, key, net_index = request.key_index,
                   data = request.data] { Loopback(token, source, destination, key, net_index, data); });
  }
}

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
    SaveState();
  } catch (const sdbus::Error& error) {
    record["error"] = ErrorJson(error);
    Record(std::move(record));
    throw;
  }
  Record(std::move(record));
}

// ---- messages to the application ------------------------------------------------------------

void MeshDaemon::CollectElementDelivery(const NodeState& node, const ElementState& element, Delivery delivery,
                                        std::vector<Delivery>& out) const {
  const auto attachment = attachments_.find(node.token);
  delivery.owner = attachment == attachments_.end() ? std::string{} : attachment->second.owner;
  delivery.element_path = element.path;
  out.push_back(std::move(delivery));
}

// An application-key message reaching the node: each element whose models are bound to the
// key and addressed (its unicast address, a group they subscribe to, or a fixed group for the
// primary element) receives it once, as model.c forwards it.
void MeshDaemon::CollectAppKeyDeliveries(const NodeState& node, std::uint16_t source, std::uint16_t destination,
                                         std::uint16_t key_index, const Bytes& data, std::vector<Delivery>& out) const {
  Delivery delivery;
  delivery.member = "MessageReceived";
  delivery.source = source;
  delivery.destination = destination;
  delivery.index = key_index;
  delivery.data = data;
  for (const auto& element : node.elements) {
    const bool addressed_unicast = destination == node.unicast + element.index;
    const bool fixed_group = destination >= 0xFF00 && element.index == 0;
    const bool accepts = std::any_of(element.models.begin(), element.models.end(), [&](const ModelState& model) {
      const bool bound = std::find(model.bindings.begin(), model.bindings.end(), key_index) != model.bindings.end();
      const bool subscribed =
          std::find(model.subscriptions.begin(), model.subscriptions.end(), destination) != model.subscriptions.end();
      return bound && (addressed_unicast || fixed_group || subscribed);
    });
    if (accepts) CollectElementDelivery(node, element, delivery, out);
  }
}

// A device-key message the node sent to one of its own elements. It is decrypted with the
// node's device key first (the configuration server's messages), then with the key ring's
// key of the source, as the daemon does; either way the application's element receives what
// the configuration server does not consume.
void MeshDaemon::Loopback(std::uint64_t token, std::uint16_t source, std::uint16_t destination, const Bytes& key,
                          std::uint16_t net_index, const Bytes& data) {
  std::vector<Delivery> deliveries;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = nodes_.find(token);
    if (found == nodes_.end()) return;
    NodeState& node = found->second;
    const ElementState* target = node.ElementAt(destination);
    const ElementState* origin = node.ElementAt(source);
    if (target == nullptr || origin == nullptr) return;
    const bool local_key = key == node.device_key;
    const auto source_key = node.RemoteDeviceKey(source);
    if (!local_key && (!source_key || *source_key != key)) {
      Record({{"kind", "dropped"}, {"source", source}, {"destination", destination}, {"data", ToHex(data)},
              {"reason", "no device key decrypts it"}});
      return;
    }
    ConfigOutcome outcome;
    if (local_key && destination == node.unicast) outcome = HandleConfigRequest(node, data, faults_.config);
    if (!outcome.consumed) {
      Delivery delivery;
      delivery.member = "DevKeyMessageReceived";
      delivery.source = source;
      delivery.remote = !local_key;
      delivery.index = net_index;
      delivery.data = data;
      CollectElementDelivery(node, *target, delivery, deliveries);
    } else {
      SaveState();
      for (const auto& update : outcome.updates) {
        const ElementState* element = node.ElementAt(static_cast<std::uint16_t>(node.unicast + update.element_index));
        if (element == nullptr) continue;
        Delivery delivery;
        delivery.member = "UpdateModelConfiguration";
        delivery.index = static_cast<std::uint16_t>(update.model_id & 0xFFFF);
        if (IsVendorModel(update.model_id)) delivery.vendor = static_cast<std::uint16_t>(update.model_id >> 16);
        delivery.config_key = update.key;
        delivery.config_values = update.values;
        CollectElementDelivery(node, *element, delivery, deliveries);
      }
      if (!outcome.reply.empty()) {
        // The status goes back with the node's device key: a local message to the requester.
        Delivery delivery;
        delivery.member = "DevKeyMessageReceived";
        delivery.source = destination;
        delivery.remote = false;
        delivery.index = net_index;
        delivery.data = outcome.reply;
        CollectElementDelivery(node, *origin, delivery, deliveries);
      } else {
        Record({{"kind", "withheld"}, {"member", "DevKeyMessageReceived"}, {"request", ToHex(data)}});
      }
    }
  }
  Deliver(deliveries);
}

void MeshDaemon::Deliver(const std::vector<Delivery>& deliveries) {
  for (const auto& delivery : deliveries) {
    nlohmann::json record{{"kind", "delivered"}, {"member", delivery.member}, {"path", delivery.element_path}};
    if (delivery.member == "UpdateModelConfiguration") {
      record["model_id"] = delivery.index;
      if (delivery.vendor) record["vendor"] = *delivery.vendor;
      record[delivery.config_key] = delivery.config_values;
    } else {
      record["source"] = delivery.source;
      record["data"] = ToHex(delivery.data);
      if (delivery.member == "MessageReceived") {
        record["key_index"] = delivery.index;
        record["destination"] = delivery.destination;
      } else {
        record["remote"] = delivery.remote;
        record["net_index"] = delivery.index;
      }
    }
    if (delivery.owner.empty() || !bus_ || !bus_->Looping()) {
      record["kind"] = "dropped";
      record["reason"] = "no application attached";
    } else {
      try {
        const AppPeer peer(bus_->Connection(), delivery.owner, options_.call_timeout);
        if (delivery.member == "MessageReceived") {
          peer.MessageReceived(delivery.element_path, delivery.source, delivery.index, sdbus::Variant(delivery.destination),
                               delivery.data);
        } else if (delivery.member == "DevKeyMessageReceived") {
          peer.DevKeyMessageReceived(delivery.element_path, delivery.source, delivery.remote, delivery.index,
                                     delivery.data);
        } else {
          Options config;
          if (delivery.vendor) config["Vendor"] = sdbus::Variant(*delivery.vendor);
          if (delivery.config_key == "Subscriptions") {
            std::vector<sdbus::Variant> groups;
            for (const auto group : delivery.config_values) groups.emplace_back(group);
            config["Subscriptions"] = sdbus::Variant(groups);
          } else {
            config[delivery.config_key] = sdbus::Variant(delivery.config_values);
          }
          peer.UpdateModelConfiguration(delivery.element_path, delivery.index, config);
        }
      } catch (const sdbus::Error& error) {
        record["error"] = ErrorJson(error);
      }
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    Record(std::move(record));
  }
}

// ---- restart ---------------------------------------------------------------------------------

void MeshDaemon::BeginRestart(std::chrono::milliseconds pause) {
  if (bus_) bus_->StopLoop();
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    Record({{"kind", "event"}, {"event", "stopping"}, {"off_ms", pause.count()}});
  }
  // After the jobs the last handlers queued: they still answer on this connection.
  worker_->Post([this, pause] { FinishRestart(pause); });
}

void MeshDaemon::FinishRestart(std::chrono::milliseconds pause) {
  bus_.reset();
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    name_owned_ = false;
    attachments_.clear();
    Record({{"kind", "event"}, {"event", "name released"}});
  }
  if (!worker_->Pause(pause)) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    LoadState();  // what a restarted daemon finds in its storage
  }
  BringBusUp();
}

// ---- state -----------------------------------------------------------------------------------

void MeshDaemon::Record(nlohmann::json record) {
  record["seq"] = ++record_sequence_;
  record["mono_ms"] =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
  records_.push_back(std::move(record));
  if (records_.size() > kMaxRecords) records_.erase(records_.begin(), records_.begin() + kMaxRecords / 10);
}

std::uint64_t MeshDaemon::NewToken() {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  std::uint64_t token = 0;
  while (token == 0 || nodes_.count(token) != 0) token = generator();
  return token;
}

void MeshDaemon::LoadState() {
  if (options_.state_file.empty()) return;
  nodes_.clear();
  std::ifstream input(options_.state_file);
  if (!input) return;
  try {
    const nlohmann::json state = nlohmann::json::parse(input);
    for (const auto& node_json : state.value("nodes", nlohmann::json::array())) {
      NodeState node = NodeFromJson(node_json);
      nodes_[node.token] = std::move(node);
    }
  } catch (const std::exception& error) {
    Record({{"kind", "event"}, {"event", "state unreadable"}, {"error", error.what()}});
  }
}

void MeshDaemon::SaveState() const {
  if (options_.state_file.empty()) return;
  nlohmann::json nodes = nlohmann::json::array();
  for (const auto& entry : nodes_) nodes.push_back(ToJson(entry.second));
  const std::string temporary = options_.state_file + ".new";
  {
    std::ofstream output(temporary, std::ios::trunc);
    output << nlohmann::json{{"nodes", nodes}}.dump(2) << '\n';
  }
  std::error_code ignored;
  std::filesystem::rename(temporary, options_.state_file, ignored);
}

// ---- control ---------------------------------------------------------------------------------

nlohmann::json MeshDaemon::Control(const nlohmann::json& command) {
  try {
    return Execute(command);
  } catch (const std::exception& error) {
    return {{"ok", false}, {"error", error.what()}};
  }
}

nlohmann::json MeshDaemon::Execute(const nlohmann::json& command) {
  const std::string name = command.value("cmd", std::string{});
  if (name == "status") return Status();
  if (name == "records") return {{"ok", true}, {"records", Records()}};
  if (name == "nodes") {
    const std::lock_guard<std::mutex> lock(mutex_);
    nlohmann::json nodes = nlohmann::json::array();
    for (const auto& entry : nodes_) nodes.push_back(ToJson(entry.second));
    return {{"ok", true}, {"nodes", nodes}};
  }
  if (name == "clear") {
    const std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
    return {{"ok", true}};
  }
  if (name == "faults") return SetFaults(command);
  if (name == "forget") return Forget(command);
  if (name == "deliver") return DeliverCommand(command);
  if (name == "sensors" || name == "add_sensors" || name == "sensor_faults" || name == "leave" || name == "pace") {
    if (!started_ || !sensors_) return {{"ok", false}, {"error", "not started"}};
    return sensors_->Control(command);
  }
  if (name == "restart") {
    if (!started_) return {{"ok", false}, {"error", "not started"}};
    const std::chrono::milliseconds pause{command.value("off_ms", 1000)};
    worker_->Post([this, pause] { BeginRestart(pause); });
    return {{"ok", true}};
  }
  return {{"ok", false}, {"error", "unknown command " + name}};
}

nlohmann::json MeshDaemon::SetFaults(const nlohmann::json& command) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (command.value("reset", false)) faults_ = Faults{};
  if (command.contains("join")) {
    const std::string join = command.at("join").get<std::string>();
    if (join != "complete" && join != "failed" && join != "silent") throw std::invalid_argument("join: " + join);
    faults_.join = join;
  }
  if (command.contains("join_failed_reason")) faults_.join_failed_reason = command.at("join_failed_reason").get<std::string>();
  if (command.contains("import_error")) {
    const auto& error = command.at("import_error");
    if (error.is_null()) {
      faults_.import_error.reset();
    } else {
      faults_.import_error = std::make_pair(error.value("name", std::string("org.bluez.mesh.Error.Failed")),
                                            error.value("message", std::string("Operation failed")));
    }
  }
  if (command.contains("appkey_status")) {
    const auto& status = command.at("appkey_status");
    faults_.config.appkey_status = status.is_null() ? std::nullopt : std::optional<std::uint8_t>(status.get<std::uint8_t>());
  }
  if (command.contains("short_app_status")) faults_.config.short_app_status = command.at("short_app_status").get<bool>();
  if (command.contains("config_server")) faults_.config.silent = command.at("config_server").get<std::string>() == "silent";
  nlohmann::json reply{{"ok", true},
                       {"join", faults_.join},
                       {"join_failed_reason", faults_.join_failed_reason},
                       {"short_app_status", faults_.config.short_app_status},
                       {"config_server", faults_.config.silent ? "silent" : "normal"}};
  reply["import_error"] = faults_.import_error
                              ? nlohmann::json{{"name", faults_.import_error->first}, {"message", faults_.import_error->second}}
                              : nlohmann::json(nullptr);
  reply["appkey_status"] = faults_.config.appkey_status ? nlohmann::json(*faults_.config.appkey_status) : nlohmann::json(nullptr);
  return reply;
}

nlohmann::json MeshDaemon::Status() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  nlohmann::json nodes = nlohmann::json::array();
  for (const auto& [token, node] : nodes_) {
    const auto attachment = attachments_.find(token);
    const std::string owner = attachment == attachments_.end() ? std::string{} : attachment->second.owner;
    nodes.push_back({{"token", token}, {"uuid", ToHex(node.uuid)}, {"unicast", node.unicast},
                     {"path", node.ObjectPath()}, {"attached", !owner.empty()}, {"owner", owner}});
  }
  return {{"ok", true}, {"name_owned", name_owned_}, {"nodes", nodes}};
}

nlohmann::json MeshDaemon::Forget(const nlohmann::json& command) {
  std::vector<std::string> paths;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (auto entry = nodes_.begin(); entry != nodes_.end();) {
      if (command.contains("token") && command.at("token").get<std::uint64_t>() != entry->first) {
        ++entry;
        continue;
      }
      paths.push_back(entry->second.ObjectPath());
      attachments_.erase(entry->first);
      entry = nodes_.erase(entry);
    }
    SaveState();
    Record({{"kind", "event"}, {"event", "forgot"}, {"nodes", paths.size()}});
  }
  if (started_) {
    worker_->Post([this, paths] {
      if (!bus_) return;
      for (const auto& path : paths) bus_->HideNode(path);
    });
  }
  return {{"ok", true}, {"forgotten", paths.size()}};
}

// An access message from another node (address "source") arriving at an attached node:
// with an application key, to the elements whose models are bound to it and addressed (their
// unicast address or a subscribed group); with a device key, to the addressed element.
nlohmann::json MeshDaemon::DeliverCommand(const nlohmann::json& command) {
  if (!started_) return {{"ok", false}, {"error", "not started"}};
  const auto source = command.at("source").get<std::uint16_t>();
  const Bytes data = FromHex(command.at("data").get<std::string>());
  std::vector<Delivery> deliveries;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    auto found = nodes_.end();
    if (command.contains("token")) {
      found = nodes_.find(command.at("token").get<std::uint64_t>());
    } else {
      found = std::find_if(nodes_.begin(), nodes_.end(), [this](const auto& entry) {
        const auto attachment = attachments_.find(entry.first);
        return attachment != attachments_.end() && !attachment->second.owner.empty();
      });
    }
    if (found == nodes_.end()) return {{"ok", false}, {"error", "no such node"}};
    const NodeState& node = found->second;
    const auto destination = command.value("destination", node.unicast);
    Delivery delivery;
    delivery.source = source;
    delivery.destination = destination;
    delivery.data = data;
    if (command.value("dev_key", false)) {
      delivery.member = "DevKeyMessageReceived";
      delivery.remote = command.value("remote", true);
      delivery.index = command.value("net_index", node.net_index);
      const ElementState* element = node.ElementAt(destination);
      if (element == nullptr || (delivery.remote && !node.RemoteDeviceKey(source))) {
        return {{"ok", false}, {"error", "not decryptable by the node (no element or no device key for the source)"}};
      }
      CollectElementDelivery(node, *element, delivery, deliveries);
    } else {
      CollectAppKeyDeliveries(node, source, destination, command.value("key_index", std::uint16_t{0}), data,
                              deliveries);
      if (deliveries.empty()) return {{"ok", false}, {"error", "no element of the node takes it"}};
    }
  }
  worker_->Post([this, deliveries] { Deliver(deliveries); });
  return {{"ok", true}, {"elements", deliveries.size()}};
}

}  // namespace sim::meshd
