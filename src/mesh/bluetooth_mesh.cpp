#include "mesh/bluetooth_mesh.h"

#include <sdbus-c++/sdbus-c++.h>

#include "log/log.h"
#include "mesh/agent.h"
#include "mesh/application.h"
#include "mesh/element.h"
#include "mesh/management1.h"
#include "mesh/mesh_names.h"
#include "mesh/network1.h"
#include "mesh/node1.h"
#include "mesh/outlet.h"
#include "mesh/provisioner.h"
#include "mesh/registration_attempt.h"
#include "mesh/root.h"
#include "nvram/mesh_settings.h"
#include "ota/firmware_source.h"
#include "server/cloud_client.h"
#include "timer/timer_queue.h"

BluetoothMesh::BluetoothMesh(std::shared_ptr<mailbox::DepeschePoster> application, MeshServices services,
                             MeshOptions options)
    : application_(std::move(application)),
      services_(services),
      options_(std::move(options)),
      attempt_(std::make_shared<RegistrationAttempt>()),
      outlet_(std::make_unique<Outlet>(*this)),
      watchdog_timing_{std::make_shared<timer::TimerWorker>(), options_.periods.watchdog_second},
      dispatch_(nodes_, *outlet_, watchdog_timing_),
      timer_(std::make_unique<timer::TimerQueue>()),
      transmit_thread_(&BluetoothMesh::MessageTxThread, this),
      receive_thread_(&BluetoothMesh::MessageRxThread, this),
      control_thread_(&BluetoothMesh::MessageCtrlThread, this),
      firmware_thread_(&BluetoothMesh::MessageOTAThread, this) {}

BluetoothMesh::~BluetoothMesh() {
  transmit_running_ = false;
  receive_running_ = false;
  control_running_ = false;
  firmware_running_ = false;
  {
    const std::lock_guard<std::mutex> guard(stop_lock_);
    stopping_ = true;
  }
  stop_signal_.notify_all();
  for (auto* queue : {&transmit_queue_, &receive_queue_, &control_queue_, &firmware_queue_}) queue->Close();
  for (auto* thread : {&transmit_thread_, &receive_thread_, &control_thread_, &firmware_thread_}) thread->join();
  Deinitialize();
  timer_.reset();
}

bool BluetoothMesh::Initialize() {
  LOG_VERBOSE << "Initialize";
  leaving_ = false;
  try {
    const std::unique_lock<std::shared_mutex> exclusive(bus_lock_);
    connection_ = options_.bus_address.empty() ? sdbus::createSystemBusConnection()
                                               : sdbus::createSessionBusConnectionWithAddress(options_.bus_address);
    root_ = std::make_unique<Root>(*connection_);
    app_object_ = std::make_unique<Application>(*connection_, *this, mesh_names::kCompanyId, mesh_names::kProductId,
                                                mesh_names::kVersionId, mesh_names::kReplayProtectionListSize);
    provisioner_ = std::make_unique<Provisioner>(*connection_);
    element_ = std::make_unique<Element>(*connection_, *this);
    agent_ = std::make_unique<Agent>(*connection_);
    network_ = std::make_unique<org::bluez::mesh::Network1>(*connection_);
    WatchDaemonPresence();
    connection_->enterEventLoopAsync();
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "Cannot export the mesh application on the system D-Bus: " << error.getName() << ": "
              << error.getMessage();
    Deinitialize();
    return false;
  }
  if (!WaitForEventLoop()) {
    Deinitialize();
    return false;
  }
  StartPeriodicWork();
  return Registration();
}

void BluetoothMesh::Deinitialize() {
  LOG_VERBOSE << "Deinitialize";
  leaving_ = true;
  AbandonAttempt();
  CancelPeriodicWork();
  const std::lock_guard<std::mutex> registering(registration_lock_);
  const std::unique_lock<std::shared_mutex> exclusive(bus_lock_);
  if (connection_) connection_->leaveEventLoop();
  bus_daemon_.reset();
  {
    const std::lock_guard<std::mutex> guard(proxy_lock_);
    node_.reset();
    management_.reset();
    node_path_.clear();
  }
  network_.reset();
  agent_.reset();
  element_.reset();
  provisioner_.reset();
  app_object_.reset();
  root_.reset();
  connection_.reset();
}

std::shared_ptr<org::bluez::mesh::Node1> BluetoothMesh::CurrentNode() const {
  const std::lock_guard<std::mutex> guard(proxy_lock_);
  return node_;
}

std::shared_ptr<org::bluez::mesh::Management1> BluetoothMesh::CurrentManagement() const {
  const std::lock_guard<std::mutex> guard(proxy_lock_);
  return management_;
}

std::shared_ptr<RegistrationAttempt> BluetoothMesh::CurrentAttempt() const {
  const std::lock_guard<std::mutex> guard(attempt_lock_);
  return attempt_;
}

std::shared_ptr<RegistrationAttempt> BluetoothMesh::StartAttempt() {
  const std::lock_guard<std::mutex> guard(attempt_lock_);
  attempt_ = std::make_shared<RegistrationAttempt>();
  return attempt_;
}

void BluetoothMesh::AbandonAttempt() {
  const auto attempt = CurrentAttempt();
  for (OneShotResult* result : {&attempt->import, &attempt->attach, &attempt->ttl, &attempt->app_key,
                                &attempt->binding, &attempt->subscription}) {
    result->Complete(false);
  }
}

void BluetoothMesh::Enqueue(const Message& message) {
  switch (message.type) {
    case Message::kApplicationKey:
    case Message::kDeviceKey:
      transmit_queue_.Push(message);
      break;
    case Message::kControl:
      control_queue_.Push(message);
      break;
    case Message::kFirmware:
      firmware_queue_.Push(message);
      break;
    default:
      break;
  }
}

void BluetoothMesh::UpdateBeacon(const std::string& device_id, const bool& enable) {
  LOG_VERBOSE << device_id << " " << enable;
  if (const auto node = nodes_.FindById(device_id)) node->UpdateBeacon(enable);
}

void BluetoothMesh::UpdateFolds(const std::string& device_id, const nlohmann::json& folds) {
  if (const auto node = nodes_.FindById(device_id)) node->UpdateFolds(folds);
}

void BluetoothMesh::AddMeshNode(const std::uint16_t& /*address*/, std::shared_ptr<MeshNode> node) {
  nodes_.Add(std::move(node));
}
