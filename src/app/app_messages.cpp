// The application's message table: what each posted message turns into.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/app_state_machine.h"
#include "ble/provisioning_component.h"
#include "common/command.h"
#include "common/singleton.h"
#include "ipc/ubus.h"
#include "log/json_text.h"
#include "log/log.h"
#include "mailbox/message_id.h"
#include "mesh/mesh_component.h"
#include "nvram/nvram.h"
#include "plc/plc_component.h"
#include "ui/led_state_machine.h"
#include "websocket/channel_component.h"

namespace {

constexpr int kBusTimeoutSeconds = ipc::kDefaultCallTimeoutSeconds;

// A copy of a message's JSON payload; null when the message carries none.
nlohmann::json JsonPayload(const mailbox::Depesche& message) {
  return message.data ? mailbox::PayloadAs<nlohmann::json>(message) : nlohmann::json();
}

// Runs the bluetoothd restart and returns what it printed; nothing when it cannot be started
// (the mesh is started all the same).
std::string RestartBluetoothd(const std::vector<std::string>& argv) {
  try {
    return common::RunCommand(argv).output;
  } catch (const std::runtime_error& error) {
    LOG_ERROR << "bluetoothd restart failed: " << error.what();
    return {};
  }
}

// A request's value as a text that can be stored: a JSON string holding valid UTF-8.
std::optional<std::string> StorableText(const nlohmann::json& value) {
  if (!value.is_string()) return std::nullopt;
  try {
    (void)value.dump();  // the strict dump refuses what is not UTF-8
  } catch (const nlohmann::json::type_error&) {
    return std::nullopt;
  }
  return value.get<std::string>();
}

}  // namespace

void App::OnMessage(const mailbox::Depesche& message) {
  using namespace mailbox;
  switch (message.id) {
    case SYS_EVT_INDICATOR:
      if (message.data && PayloadAs<bool>(message)) {
        LEDStateMachine::Dispatch(IndicatorOn{});
      } else {
        LEDStateMachine::Dispatch(IndicatorOff{});
      }
      break;
    case SYS_EVT_NETWORK_CONNECTED:
      LOG_VERBOSE << "SYS_EVT_NETWORK_CONNECTED";
      wan_up_ = true;
      AppStateMachine::Dispatch(NetworkConnected{});
      LEDStateMachine::Dispatch(NetworkConnected{});
      break;
    case SYS_EVT_NETWORK_DISCONNECTED:
      LOG_VERBOSE << "SYS_EVT_NETWORK_DISCONNECTED";
      wan_up_ = false;
      AppStateMachine::Dispatch(NetworkDisconnected{});
      LEDStateMachine::Dispatch(NetworkDisconnected{});
      break;
    case SYS_EVT_SERVER_CONNECTED:
      LOG_VERBOSE << "SYS_EVT_SERVER_CONNECTED";
      LEDStateMachine::Dispatch(ServerConnected{});
      websocket_->Start();
      break;
    case SYS_EVT_SERVER_DISCONNECTED:
      LOG_VERBOSE << "SYS_EVT_SERVER_DISCONNECTED";
      LEDStateMachine::Dispatch(ServerDisconnected{});
      break;
    case SYS_EVT_BLUETOOTH_MALFUNCTION:
      LOG_ERROR << "Bluetooth Malfunction";
      LEDStateMachine::Dispatch(BluetoothMalfunction{});
      break;
    case SYS_EVT_BLUETOOTH_RECOVERED:
      LOG_VERBOSE << "SYS_EVT_BLUETOOTH_RECOVERED";
      LEDStateMachine::Dispatch(BluetoothRecovered{});
      break;
    case SYS_EVT_MESHD_MALFUNCTION:
      LOG_VERBOSE << "bluetooth-meshd malfunction";
      SendMeshdMalfunction();
      break;
    case APP_EVT_OAUTH_REQUEST:
      LOG_VERBOSE << "APP_EVT_OAUTH_REQUEST";
      Authenticate();
      break;
    case APP_EVT_WEBSOCKET_SUBSCRIBE:
      LOG_VERBOSE << "APP_EVT_WEBSOCKET_SUBSCRIBE";
      if (message.data) websocket_->AddSubscribe(PayloadAs<std::string>(message));
      break;
    case APP_EVT_WEBSOCKET_UNSUBSCRIBE:
      LOG_VERBOSE << "APP_EVT_WEBSOCKET_UNSUBSCRIBE";
      if (message.data) websocket_->RemoveSubscribe(PayloadAs<std::string>(message));
      break;
    case APP_EVT_WEBSOCKET_EVT_FOLDS:
      LOG_VERBOSE << "APP_EVT_WEBSOCKET_EVT_FOLDS";
      HandleFolds(message);
      break;
    case APP_EVT_CHECK_NETWORK:
      CheckNetworkStatus();
      break;
    case APP_EVT_SCAN_WIRELESS_AP:
      LOG_VERBOSE << "APP_EVT_SCAN_WIRELESS_AP";
      ScanWirelessAccessPoints();
      break;
    case APP_EVT_SET_WIRELESS_AP:
      LOG_VERBOSE << "APP_EVT_SET_WIRELESS_AP";
      SetWirelessAccessPoint(message);
      break;
    case APP_EVT_START_MESH:
      LOG_VERBOSE << "APP_EVT_START_MESH";
      StartMesh();
      break;
    case APP_EVT_CHECK_HCI:
      LOG_VERBOSE << "APP_EVT_CHECK_HCI";
      HCIStatus2();
      break;
    case APP_EVT_WEBSOCKET_EVT_BEACON:
      LOG_VERBOSE << "APP_EVT_WEBSOCKET_EVT_BEACON";
      HandleBeacon(message);
      break;
    default:
      break;
  }
}

void App::SendMeshdMalfunction() {
  ipc::UBUS bus(kBusTimeoutSeconds, platform_.ubus_socket);
  bus.Event("quellaron", R"({"meshd":true})");
}

void App::Authenticate() {
  components_.authenticate(Singleton<NVRAM>::Instance().DeviceID(), [this](bool authorised) {
    if (authorised) {
      PostToSelf(mailbox::SYS_EVT_SERVER_CONNECTED);
    } else {
      LOG_ERROR << "Cloud authorisation failed";
    }
  });
}

void App::HandleFolds(const mailbox::Depesche& message) {
  const auto payload = JsonPayload(message);
  const auto device_id = payload.at("device_id").get<std::string>();
  const auto folds = payload.contains("folds") ? payload.at("folds") : nlohmann::json();
  mesh_->UpdateFolds(device_id, folds);
  plc_manager_->UpdateFolds(device_id, folds);
}

void App::HandleBeacon(const mailbox::Depesche& message) {
  const auto payload = JsonPayload(message);
  mesh_->UpdateBeacon(payload.at("device_id").get<std::string>(), payload.at("beacon").get<bool>());
}

// BLE provisioning runs one scan at a time: it is told how each one ended, with or without
// a list.
void App::ScanWirelessAccessPoints() {
  ipc::UBUS bus(kBusTimeoutSeconds, platform_.ubus_socket);
  bool listed = false;
  bus.Call("iwinfo", "scan", R"({"device":"wlan0"})", [this, &listed](const char* json) { listed = OnScanReply(json); });
  if (!listed) ble_->WirelessScanFailed();
}

bool App::OnScanReply(const char* json) {
  try {
    const auto reply = nlohmann::json::parse(json);
    if (!reply.contains("results")) return false;
    ble_->PutWirelessAPList(reply.at("results"));
    return true;
  } catch (const std::exception& error) {
    LOG_ERROR << error.what();
    return false;
  }
}

void App::SetWirelessAccessPoint(const mailbox::Depesche& message) {
  const auto request = JsonPayload(message);
  LOG_VERBOSE << logging::JsonText(request, {"k"});
  if (!request.contains("e") || !request.contains("k") || !request.contains("s")) return;
  const auto ssid = StorableText(request.at("s"));
  const auto encryption = StorableText(request.at("e"));
  const auto key = StorableText(request.at("k"));
  if (!ssid || !encryption || !key) {
    // Stored settings are UTF-8 texts: a request that cannot be stored fails at once.
    LOG_ERROR << "Wi-Fi set-up refused: the SSID, encryption and key must be UTF-8 texts";
    ble_->PutWirelessConnectionEvent(false, "");
    return;
  }
  Singleton<NVRAM>::Instance().Wireless(*ssid, *encryption, *key);
  if (request.contains("o")) LOG_VERBOSE << "Setup Manual IP";
  ArmNetworkSetup();
}

void App::StartMesh() {
  Singleton<NVRAM>::Instance().MeshEnable(true);
  LOG_VERBOSE << "Deinit Bluetooth LE & Init Bluetooth Mesh";
  ble_->Deinitialize();
  LOG_VERBOSE << "Stop the Bluetoothd Service";
  const std::string output = RestartBluetoothd(platform_.bluetoothd_restart);
  LOG_VERBOSE << output;
  std::this_thread::sleep_for(platform_.mesh_switch_wait);
  LOG_VERBOSE << output;
  mesh_->Initialize();
}
