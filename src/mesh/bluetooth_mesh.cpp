#include "mesh/bluetooth_mesh.h"

#include <algorithm>
#include <ctime>
#include <tuple>
#include <unordered_set>

#include "log/log.h"
#include "mailbox/depesche.h"
#include "mailbox/message_id.h"
#include "nvram/mesh_settings.h"
#include "server/cloud_client.h"
#include "timer/timer_queue.h"
#include "timer/timer_worker.h"

BluetoothMesh::BluetoothMesh(std::shared_ptr<mailbox::DepeschePoster> application, MeshServices services,
                             MeshOptions options)
    : application_(std::move(application)),
      services_(services),
      options_(std::move(options)),
      timer_(std::make_unique<timer::TimerQueue>()),
      link_(options_.bus_address, options_.answer_timeout, services_.settings),
      outlet_(
          services_.cloud, services_.firmware, [this](const Message& message) { sender_.Enqueue(message); },
          [this](const std::string& device_id) { Subscribe(device_id); },
          [this](const std::string& device_id, bool with_beacon) { fetcher_.Request(device_id, with_beacon); }),
      nodes_([this](const std::string& device_id) { Unsubscribe(device_id); }),
      dispatch_(nodes_, outlet_,
                WatchdogTiming{std::make_shared<timer::TimerWorker>(), options_.periods.watchdog_second}),
      fetcher_([this](const std::string& device_id) { return FetchDeviceSettings(device_id); },
               [this](const std::string& device_id, const DeviceSettings& settings, bool with_beacon) {
                 dispatch_.ApplyDeviceSettings(device_id, settings, with_beacon);
               },
               options_.fetcher),
      sender_(
          link_, [this](const Message& message) { dispatch_.Dispatch(message); },
          [this](const std::vector<std::uint8_t>& data) { joiner_.OnConfigurationSendFailed(data); },
          options_.paces),
      joiner_(
          link_, services_.settings, *timer_, [this](const Message& message) { sender_.Enqueue(message); },
          [this] { periodic_.StartRunning(); },
          JoinTiming{options_.answer_timeout, options_.rejoin_delay, options_.retry_first, options_.retry_max}),
      periodic_(*timer_, options_.periods,
                PeriodicWork::Services{services_.settings, services_.cloud, services_.firmware, nodes_,
                                       [this](const Message& message) { sender_.Enqueue(message); },
                                       [this] { CheckController(); }}) {}

BluetoothMesh::~BluetoothMesh() {
  sender_.Stop();
  fetcher_.Stop();
  nodes_.Clear();  // their watchdogs end while the sender they queue to still exists
  Deinitialize();
  timer_.reset();
}

MeshEvents BluetoothMesh::Events() {
  MeshEvents events;
  events.join_complete = [this](std::uint64_t token) { joiner_.OnJoinComplete(token); };
  events.join_failed = [this](const std::string& reason) { joiner_.OnJoinFailed(reason); };
  events.message = [this](std::uint16_t source, const std::vector<std::uint8_t>& data) {
    sender_.Received(Message{Message::kReceived, source, data, static_cast<std::int64_t>(std::time(nullptr))});
  };
  events.configuration_reply = [this](const std::vector<std::uint8_t>& data) { joiner_.OnConfigurationReply(data); };
  events.daemon_presence = [this](bool present) { joiner_.OnDaemonPresence(present); };
  return events;
}

bool BluetoothMesh::Initialize() {
  LOG_VERBOSE << "Initialize";
  joiner_.Allow();
  if (!link_.Open(Events())) {
    Deinitialize();
    return false;
  }
  periodic_.Start();
  return Registration();
}

bool BluetoothMesh::Registration() { return joiner_.Registration(); }

void BluetoothMesh::Deinitialize() {
  LOG_VERBOSE << "Deinitialize";
  const auto no_registration = joiner_.Leave();
  periodic_.Cancel();
  link_.Close();
}

void BluetoothMesh::Enqueue(const Message& message) { sender_.Enqueue(message); }

void BluetoothMesh::UpdateBeacon(const std::string& device_id, const bool& enable) {
  LOG_VERBOSE << device_id << " " << enable;
  fetcher_.RememberBeacon(device_id, enable);
  if (const auto node = nodes_.FindById(device_id)) node->UpdateBeacon(enable);
}

void BluetoothMesh::UpdateFolds(const std::string& device_id, const nlohmann::json& folds) {
  fetcher_.RememberFolds(device_id, folds);
  if (const auto node = nodes_.FindById(device_id)) node->UpdateFolds(folds);
}

mesh::MeshStatus BluetoothMesh::Status() const {
  mesh::MeshStatus status;
  status.taken_at = std::time(nullptr);
  status.joined = link_.IsOpen() && joiner_.Joined();
  status.address = services_.settings.NetAddr();
  const std::vector<std::string> pending_ids = fetcher_.PendingIds();
  const std::unordered_set<std::string> pending(pending_ids.begin(), pending_ids.end());
  for (const auto& node : nodes_.All()) {
    mesh::NodeStatus node_status = node->Status();
    node_status.settings_fetch_pending = pending.count(node_status.id) != 0;
    status.nodes.push_back(std::move(node_status));
  }
  std::sort(status.nodes.begin(), status.nodes.end(), [](const mesh::NodeStatus& one, const mesh::NodeStatus& other) {
    return std::tie(one.address, one.channel) < std::tie(other.address, other.channel);
  });
  return status;
}

void BluetoothMesh::Subscribe(const std::string& device_id) {
  if (application_) {
    mailbox::PostMessage(*application_, this, mailbox::APP_EVT_WEBSOCKET_SUBSCRIBE, mailbox::MakePayload(device_id));
  }
}

void BluetoothMesh::Unsubscribe(const std::string& device_id) {
  if (application_) {
    mailbox::PostMessage(*application_, this, mailbox::APP_EVT_WEBSOCKET_UNSUBSCRIBE, mailbox::MakePayload(device_id));
  }
}

std::optional<DeviceSettings> BluetoothMesh::FetchDeviceSettings(const std::string& device_id) const {
  auto [found, ble_enabled, folds] = services_.cloud.DeviceBeaconFolds(device_id);
  if (!found) return std::nullopt;
  return DeviceSettings{ble_enabled, std::move(folds)};
}

void BluetoothMesh::CheckController() {
  if (application_) mailbox::PostMessage(*application_, this, mailbox::APP_EVT_CHECK_HCI);
}
