#include "mesh/mesh_link.h"

#include <sdbus-c++/sdbus-c++.h>

#include <fmt/format.h>

#include "log/log.h"
#include "mesh/agent.h"
#include "mesh/application.h"
#include "mesh/element.h"
#include "mesh/management1.h"
#include "mesh/mesh_names.h"
#include "mesh/network1.h"
#include "mesh/node1.h"
#include "mesh/one_shot_result.h"
#include "mesh/provisioner.h"
#include "mesh/root.h"
#include "nvram/mesh_settings.h"

namespace {

constexpr const char* kBusService = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";

}  // namespace

MeshLink::MeshLink(std::string bus_address, std::chrono::milliseconds answer_timeout, const MeshSettings& settings)
    : bus_address_(std::move(bus_address)), answer_timeout_(answer_timeout), settings_(settings) {}

MeshLink::~MeshLink() { Close(); }

bool MeshLink::Open(MeshEvents events) {
  try {
    const std::unique_lock<std::shared_mutex> exclusive(bus_lock_);
    connection_ = bus_address_.empty() ? sdbus::createSystemBusConnection()
                                       : sdbus::createSessionBusConnectionWithAddress(bus_address_);
    ExportTree(events);
    network_ = std::make_unique<org::bluez::mesh::Network1>(*connection_);
    WatchDaemonPresence(std::move(events.daemon_presence));
    connection_->enterEventLoopAsync();
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "Cannot export the mesh application on the system D-Bus: " << error.getName() << ": "
              << error.getMessage();
    return false;
  }
  return WaitForEventLoop();
}

void MeshLink::ExportTree(const MeshEvents& events) {
  root_ = std::make_unique<MeshRoot>(*connection_);
  application_ = std::make_unique<MeshApplication>(*connection_, events.join_complete, events.join_failed,
                                                   mesh_names::kCompanyId, mesh_names::kProductId,
                                                   mesh_names::kVersionId, mesh_names::kReplayProtectionListSize);
  provisioner_ = std::make_unique<MeshProvisioner>(*connection_);
  element_ = std::make_unique<MeshElement>(*connection_, settings_, events.message, events.configuration_reply);
  agent_ = std::make_unique<MeshAgent>(*connection_);
}

void MeshLink::Close() {
  const std::unique_lock<std::shared_mutex> exclusive(bus_lock_);
  if (connection_) connection_->leaveEventLoop();
  bus_daemon_.reset();
  UseNoNode();
  network_.reset();
  agent_.reset();
  element_.reset();
  provisioner_.reset();
  application_.reset();
  root_.reset();
  connection_.reset();
}

std::shared_lock<std::shared_mutex> MeshLink::Share() const { return std::shared_lock<std::shared_mutex>(bus_lock_); }

bool MeshLink::IsOpen() const {
  const auto shared = Share();
  return network_ != nullptr;
}

// Restarts of the mesh daemon show as its bus name vanishing and reappearing (procd
// respawns it); the gateway's node must then attach to the new instance.
void MeshLink::WatchDaemonPresence(std::function<void(bool)> presence) {
  bus_daemon_ = sdbus::createProxy(*connection_, kBusService, kBusPath);
  bus_daemon_->uponSignal("NameOwnerChanged")
      .onInterface(kBusService)
      .call([presence = std::move(presence)](const std::string& name, const std::string& /*old_owner*/,
                                             const std::string& new_owner) {
        if (name == mesh_names::kDaemonService && presence) presence(!new_owner.empty());
      });
  bus_daemon_->finishRegistration();
}

// A synchronous call made before the event loop thread runs would hold the connection, and
// the mesh daemon's calls into the application (it reads the tree before it answers Import or
// Attach) would go unanswered. An asynchronous call's reply proves the loop is dispatching.
bool MeshLink::WaitForEventLoop() {
  auto running = std::make_shared<OneShotResult>();  // outlives a reply later than the wait
  try {
    const auto shared = Share();
    bus_daemon_->callMethodAsync("GetId").onInterface(kBusService).uponReplyInvoke(
        [running](const sdbus::Error* error, const std::string& /*id*/) { running->Complete(error == nullptr); });
  } catch (const sdbus::Error&) {
    running->Complete(false);
  }
  const bool ready = running->WaitFor(answer_timeout_).value_or(false);
  if (!ready) LOG_ERROR << "The D-Bus event loop did not start";
  return ready;
}

void MeshLink::UseNode(const std::string& node_path) {
  ReplaceNode(std::make_shared<org::bluez::mesh::Node1>(*connection_, node_path),
              std::make_shared<org::bluez::mesh::Management1>(*connection_, node_path));
}

void MeshLink::UseNoNode() { ReplaceNode(nullptr, nullptr); }

// The proxies replaced are destroyed after node_lock_ is released: their destruction takes
// the connection's lock, which the event loop holds when it calls UseNode, so holding both
// here would take them in the opposite order.
void MeshLink::ReplaceNode(std::shared_ptr<org::bluez::mesh::Node1> node,
                           std::shared_ptr<org::bluez::mesh::Management1> management) {
  const std::lock_guard<std::mutex> guard(node_lock_);
  node_.swap(node);
  management_.swap(management);
}

std::shared_ptr<org::bluez::mesh::Node1> MeshLink::Node() const {
  const std::lock_guard<std::mutex> guard(node_lock_);
  return node_;
}

std::shared_ptr<org::bluez::mesh::Management1> MeshLink::Management() const {
  const std::lock_guard<std::mutex> guard(node_lock_);
  return management_;
}

// Node1 "Send"; a refusal is logged and the caller goes on.
void MeshLink::Send(std::uint16_t address, const std::vector<std::uint8_t>& data) {
  const auto shared = Share();
  const auto node = Node();
  if (!node) {
    LOG_ERROR << fmt::format("No mesh node attached; message to {:04x} dropped", address);
    return;
  }
  try {
    node->Send(sdbus::ObjectPath(mesh_names::kElementPath), address, 0, {}, data);
  } catch (const sdbus::Error& error) {
    LOG_ERROR << fmt::format("Send to {:04x} failed: {}: {}", address, error.getName(), error.getMessage());
  }
}

// Node1 "DevKeySend" to the gateway's own node; the reply arrives on the D-Bus event loop.
void MeshLink::DevKeySend(const std::vector<std::uint8_t>& data, std::function<void()> failed) {
  const auto shared = Share();
  const auto node = Node();
  if (!node) {
    LOG_ERROR << "No mesh node attached; configuration message dropped";
    failed();
    return;
  }
  try {
    node->DevKeySendAsync(sdbus::ObjectPath(mesh_names::kElementPath), settings_.NetAddr(), true, 0, {}, data,
                          [failed](const sdbus::Error* error) {
                            if (error == nullptr) return;
                            LOG_ERROR << error->getMessage();
                            failed();
                          });
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "DevKeySend not sent: " << error.getMessage();
    failed();
  }
}
