// The daemon's lifecycle (start, stop, restarts), its presence on the bus, applications that
// leave it, and the messages it delivers to the applications' elements.

#include "meshd/mesh_daemon.h"

#include <stdexcept>

#include "meshd/app_peer.h"
#include "meshd/bus_side.h"
#include "meshd/call_checks.h"
#include "meshd/sensor_field.h"
#include "standin/control_socket.h"

namespace sim::meshd {

namespace {

constexpr std::uint16_t kSensorKeyIndex = 0;  // the application key the sensor nodes use

}  // namespace

MeshDaemon::MeshDaemon(MeshDaemonOptions options) : options_(std::move(options)), state_file_(options_.state_file) {}

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
  PopulateField(*sensors_, options_.sensors);
  started_ = true;
  if (!options_.control_socket.empty()) {
    control_ = std::make_unique<sim::standin::ControlSocket>(
        options_.control_socket, [this](const nlohmann::json& command) { return Control(command); });
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
  return record_.Entries();
}

std::string MeshDaemon::BringBusUp() {
  try {
    DaemonCalls& calls = *this;
    bus_ = std::make_unique<BusSide>(options_.bus_address, calls, [this](const std::string& name) {
      worker_->Post([this, name] { OwnerGone(name); });
    });
  } catch (const sdbus::Error& error) {
    const std::lock_guard<std::mutex> lock(mutex_);
    record_.Add({{"kind", "event"}, {"event", "bus failed"}, {"error", ErrorJson(error)}});
    return error.getName() + ": " + error.getMessage();
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  name_owned_ = true;
  record_.Add({{"kind", "event"}, {"event", "name owned"}});
  return {};
}

void MeshDaemon::LoadState() {
  const auto problem = state_file_.Load(nodes_);
  if (problem) record_.Add({{"kind", "event"}, {"event", "state unreadable"}, {"error", *problem}});
}

std::string MeshDaemon::OwnerOf(std::uint64_t token) const {
  const auto attachment = attachments_.find(token);
  return attachment == attachments_.end() ? std::string{} : attachment->second.owner;
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
      record_.Add({{"kind", "event"}, {"event", "detached"}, {"token", token}, {"owner", unique_name}});
    }
  }
  if (!bus_) return;
  for (const auto& path : paths) bus_->HideNode(path);
}

// ---- restart ---------------------------------------------------------------------------------

void MeshDaemon::BeginRestart(std::chrono::milliseconds pause) {
  if (bus_) bus_->StopLoop();
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    record_.Add({{"kind", "event"}, {"event", "stopping"}, {"off_ms", pause.count()}});
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
    record_.Add({{"kind", "event"}, {"event", "name released"}});
  }
  if (!worker_->Pause(pause)) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    LoadState();  // what a restarted daemon finds in its storage
  }
  BringBusUp();
}

// ---- messages to the applications ------------------------------------------------------------

void MeshDaemon::Deliver(const std::vector<Delivery>& deliveries) {
  for (const auto& delivery : deliveries) {
    nlohmann::json record = DeliveryRecord(delivery);
    if (delivery.owner.empty() || !bus_ || !bus_->Looping()) {
      record["kind"] = "dropped";
      record["reason"] = "no application attached";
    } else {
      try {
        CallApplication(AppPeer(bus_->Connection(), delivery.owner, options_.call_timeout), delivery);
      } catch (const sdbus::Error& error) {
        record["error"] = ErrorJson(error);
      }
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    record_.Add(std::move(record));
  }
}

// A message from a simulated sensor: the attached nodes it is addressed to receive it as a
// message from another node of the network.
void MeshDaemon::FromSensor(std::uint16_t source, std::uint16_t destination, const Bytes& data) {
  std::vector<Delivery> deliveries;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [token, node] : nodes_) {
      const std::string owner = OwnerOf(token);
      if (owner.empty()) continue;
      if (node.app_keys.count(kSensorKeyIndex) == 0) continue;
      if (!node.IsLocal(destination) && !IsGroup(destination)) continue;
      AddAppKeyDeliveries(node, owner, source, destination, kSensorKeyIndex, data, deliveries);
    }
    if (deliveries.empty()) {
      record_.Add({{"kind", "dropped"}, {"source", source}, {"destination", destination}, {"data", ToHex(data)},
                   {"reason", "no attached node takes it"}});
    }
  }
  Deliver(deliveries);
}

}  // namespace sim::meshd
