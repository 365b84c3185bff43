// Joining the mesh daemon and configuring the gateway's own node.

#include <future>

#include <sdbus-c++/sdbus-c++.h>

#include "log/log.h"
#include "mesh/bluetooth_mesh.h"
#include "mesh/device_uuid.h"
#include "mesh/management1.h"
#include "mesh/mesh_names.h"
#include "mesh/model_configuration_log.h"
#include "mesh/network1.h"
#include "mesh/node1.h"
#include "mesh/registration_attempt.h"
#include "nvram/mesh_settings.h"
#include "packet/config/requests.h"
#include "packet/serialization.h"

namespace {

// Waits for one step's outcome; a missing answer fails the step with a line of its own.
bool AwaitStep(OneShotResult& result, std::chrono::milliseconds timeout, const char* step,
               const char* failure_line) {
  const std::optional<bool> outcome = result.WaitFor(timeout);
  if (!outcome) {
    LOG_ERROR << step << ": no answer from the mesh daemon within "
              << std::chrono::duration_cast<std::chrono::seconds>(timeout).count() << " s";
  }
  if (!outcome.value_or(false)) {
    LOG_ERROR << failure_line;
    return false;
  }
  return true;
}

void LogNodeConfiguration(const sdbus::ObjectPath& node_path, const org::bluez::mesh::NodeConfiguration& config) {
  LOG_DEBUG << "Node Path : " << node_path;
  for (const auto& element : config) {
    LOG_DEBUG << "Element Index : " << static_cast<int>(element.get<0>());
    for (const auto& model : element.get<1>()) {
      LOG_DEBUG << "Model Identifier : " << model.get<0>();
      LogModelConfiguration(model.get<1>());
    }
  }
}

}  // namespace

bool BluetoothMesh::Registration() {
  LOG_DEBUG << "Registration";
  const std::lock_guard<std::mutex> registering(registration_lock_);
  if (leaving_ || !network_) {
    LOG_ERROR << "The mesh application is not exported; cannot join the mesh";
    return false;
  }
  StartAttempt();
  const bool joined = Store().Token() != 0 ? JoinWithToken() : ImportAndConfigure();
  if (joined) StartRunningWork();
  return joined;
}

bool BluetoothMesh::JoinWithToken() {
  auto attach = std::async(std::launch::async, [this] { return Attach2(); });
  try {
    const bool result = attach.get();
    LOG_VERBOSE << "result " << result;
    return true;
  } catch (const sdbus::Error& error) {
    // The stored token stays: the daemon may only be restarting, and it is the node's identity.
    LOG_ERROR << "Attach with the stored token failed: " << error.getName() << ": " << error.getMessage();
    return false;
  }
}

bool BluetoothMesh::ImportAndConfigure() {
  const auto attempt = CurrentAttempt();
  const auto timeout = options_.answer_timeout;
  Import();
  if (!AwaitStep(attempt->import, timeout, "Import", "Import Error")) return false;
  Attach();
  if (!AwaitStep(attempt->attach, timeout, "Attach", "Attach Error")) return false;
  ImportOwnDeviceKey();
  TTLSet();
  if (!AwaitStep(attempt->ttl, timeout, "TTL Set", "TTL Set Error")) return false;
  AppKeySet();
  if (!AwaitStep(attempt->app_key, timeout, "AppKey Set", "AppKey Set Error")) return false;
  Binding();
  if (!AwaitStep(attempt->binding, timeout, "Binding", "Binding Error")) return false;
  SubscriptionAdd();
  return AwaitStep(attempt->subscription, timeout, "SubscriptionAdd", "SubscriptionAdd Error");
}

void BluetoothMesh::Import() {
  const MeshSettings& store = Store();
  const std::map<std::string, sdbus::Variant> flags{{"IvUpdate", sdbus::Variant(false)},
                                                    {"KeyRefresh", sdbus::Variant(false)}};
  const auto attempt = CurrentAttempt();
  const std::shared_lock<std::shared_mutex> shared(bus_lock_);
  try {
    network_->ImportAsync(sdbus::ObjectPath(mesh_names::kRootPath), mesh_uuid::Rfc4122(store.DeviceUUID()),
                          store.MeshDevKey(), store.MeshNetKey(), 0, flags, 0, store.NetAddr(),
                          [attempt](const sdbus::Error* error) {
                            if (error == nullptr) {
                              LOG_DEBUG << "Import Done";
                              return;
                            }
                            LOG_ERROR << "Import refused: " << error->getName() << ": " << error->getMessage();
                            attempt->import.Complete(false);
                          });
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "Import not sent: " << error.getMessage();
    attempt->import.Complete(false);
  }
}

void BluetoothMesh::Attach() {
  const auto attempt = CurrentAttempt();
  const std::shared_lock<std::shared_mutex> shared(bus_lock_);
  try {
    network_->AttachAsync(
        sdbus::ObjectPath(mesh_names::kRootPath), Store().Token(),
        [this, attempt](const sdbus::Error* error, const sdbus::ObjectPath& node_path,
                        const org::bluez::mesh::NodeConfiguration& config) {
          LOG_DEBUG << "Attach reply";
          if (error != nullptr) {
            LOG_ERROR << "Attach Failed";
            LOG_ERROR << error->getName() << ": " << error->getMessage();
            attempt->attach.Complete(false);
            return;
          }
          LogNodeConfiguration(node_path, config);
          UseNode(node_path);
          attempt->attach.Complete(true);
        });
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "Attach not sent: " << error.getMessage();
    attempt->attach.Complete(false);
  }
}

bool BluetoothMesh::Attach2() {
  LOG_DEBUG << "Attach2";
  std::pair<sdbus::ObjectPath, org::bluez::mesh::NodeConfiguration> reply;
  {
    const std::shared_lock<std::shared_mutex> shared(bus_lock_);
    reply = network_->AttachWithin(sdbus::ObjectPath(mesh_names::kRootPath), Store().Token(), options_.answer_timeout);
  }
  LogNodeConfiguration(reply.first, reply.second);
  UseNode(reply.first);
  return true;
}

// Runs on the D-Bus event loop (an Attach reply) or during a registration: in both cases the
// connection outlives the call, as the teardown first ends both.
void BluetoothMesh::UseNode(const std::string& node_path) {
  auto node = std::make_shared<org::bluez::mesh::Node1>(*connection_, node_path);
  auto management = std::make_shared<org::bluez::mesh::Management1>(*connection_, node_path);
  const std::lock_guard<std::mutex> guard(proxy_lock_);
  node_path_ = node_path;
  node_ = std::move(node);
  management_ = std::move(management);
}

// The mesh daemon keeps only remote nodes' device keys in its key ring, and an imported node
// is not in it: without this, sending to the gateway's own address with its device key is
// refused. A refusal is logged; the configuration steps then fail on their own.
void BluetoothMesh::ImportOwnDeviceKey() {
  const MeshSettings& store = Store();
  const std::shared_lock<std::shared_mutex> shared(bus_lock_);
  const auto management = CurrentManagement();
  if (!management) return;
  try {
    management->ImportRemoteNode(store.NetAddr(), 1, store.MeshDevKey());
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "ImportRemoteNode failed: " << error.getName() << ": " << error.getMessage();
  }
}

void BluetoothMesh::OnJoinComplete(std::uint64_t token) {
  Store().Token(token);
  CurrentAttempt()->import.Complete(true);
}

void BluetoothMesh::OnJoinFailed(const std::string& /*reason*/) { CurrentAttempt()->import.Complete(false); }

void BluetoothMesh::QueueConfiguration(const std::vector<std::uint8_t>& packet, OneShotResult* step) {
  if (packet.empty()) {  // not buildable (the reason is logged): the step fails at once
    if (step != nullptr) step->Complete(false);
    return;
  }
  Enqueue(Message{Message::kDeviceKey, Store().NetAddr(), packet});
}

void BluetoothMesh::TTLSet() {
  LOG_DEBUG << "TTLSet";
  QueueConfiguration(packet::Serialization(packet::config::DefaultTTLSet(static_cast<std::uint8_t>(Store().TTL()))),
                     &CurrentAttempt()->ttl);
}

void BluetoothMesh::AppKeySet() {
  LOG_DEBUG << "AppKeySet";
  QueueConfiguration(packet::Serialization(packet::config::AppKeyAdd({0, 0, 0}, Store().MeshAppKey())),
                     &CurrentAttempt()->app_key);
}

void BluetoothMesh::Binding() {
  LOG_DEBUG << "Binding";
  QueueConfiguration(packet::Serialization(packet::config::ModelAppBind(
                         Store().NetAddr(), 0, mesh_names::kCompanyId, mesh_names::kVendorModelId, true)),
                     &CurrentAttempt()->binding);
}

void BluetoothMesh::SubscriptionAdd() {
  LOG_DEBUG << "SubscriptionAdd";
  QueueConfiguration(packet::Serialization(packet::config::ModelSubscriptionAdd(
                         Store().NetAddr(), Store().GroupAddr(), mesh_names::kCompanyId,
                         mesh_names::kVendorModelId, true)),
                     &CurrentAttempt()->subscription);
}

void BluetoothMesh::TTLGet() {
  LOG_DEBUG << "TTLGet";
  QueueConfiguration(packet::Serialization(packet::config::DefaultTTLGet()), nullptr);
}

void BluetoothMesh::AppKeyGet() {
  LOG_DEBUG << "AppKeyGet";
  QueueConfiguration(packet::Serialization(packet::config::AppKeyGet(0)), nullptr);
}

void BluetoothMesh::BindStatusGet() {
  LOG_DEBUG << "BindStatusGet";
  QueueConfiguration(packet::Serialization(
      packet::config::VendorModelAppGet(Store().NetAddr(), mesh_names::kCompanyId, mesh_names::kVendorModelId)),
                     nullptr);
}

void BluetoothMesh::SubscriptionGet() {
  LOG_DEBUG << "SubscriptionGet";
  QueueConfiguration(packet::Serialization(packet::config::VendorModelSubscriptionGet(
      Store().NetAddr(), mesh_names::kCompanyId, mesh_names::kVendorModelId)),
                     nullptr);
}
