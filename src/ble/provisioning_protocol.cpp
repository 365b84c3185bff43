#include "ble/provisioning_protocol.h"

#include <openssl/rand.h>

#include <array>
#include <exception>

#include "ble/mesh_credentials.h"
#include "common/fnv1a.h"
#include "log/json_text.h"
#include "log/log.h"
#include "mailbox/message_id.h"
#include "nvram/provisioning_settings.h"

namespace ble {

namespace {

using namespace fnv1a_literals;

constexpr std::size_t kDeviceKeySize = 16;

bool OpenSslRandom(std::uint8_t* bytes, std::size_t count) {
  return ::RAND_bytes(bytes, static_cast<int>(count)) == 1;
}

// The request for the log, without the keys it carries.
std::string LogText(const nlohmann::json& request) { return logging::JsonText(request, {"k", "n", "a"}); }

}  // namespace

ProvisioningProtocol::ProvisioningProtocol(std::shared_ptr<mailbox::DepeschePoster> application,
                                           ProvisioningSettings& settings, Transmit transmit,
                                           const BlePlatform& platform)
    : application_(std::move(application)),
      settings_(settings),
      transmit_(std::move(transmit)),
      random_(platform.random ? platform.random : OpenSslRandom),
      start_mesh_delay_(platform.start_mesh_delay),
      disconnect_grace_(platform.disconnect_grace),
      timers_(std::make_unique<timer::TimerQueue>()) {}

ProvisioningProtocol::~ProvisioningProtocol() = default;

void ProvisioningProtocol::HandleRequest(const Bytes& value) {
  nlohmann::json request;
  try {
    request = DecodeRequest(value);
  } catch (const nlohmann::json::exception& error) {
    LOG_ERROR << "Request of " << value.size() << " bytes is not CBOR: " << error.what();
    return;
  }
  if (!request.is_object() || !request.contains("C")) {
    LOG_DEBUG << "wrong command. reject";
    return;
  }
  LOG_VERBOSE << LogText(request);
  if (!request.at("C").is_string()) {
    LOG_ERROR << "Request command is not a text: " << LogText(request);
    return;
  }
  try {
    Dispatch(request);
  } catch (const std::exception& error) {
    LOG_ERROR << "Request " << LogText(request.at("C")) << " refused: " << error.what();
  }
}

void ProvisioningProtocol::Dispatch(const nlohmann::json& request) {
  switch (Fnv1a(request.at("C").get_ref<const std::string&>())) {
    case "I"_fnv:
      DeviceInformation();
      break;
    case "WS"_fnv:
      ScanWireless();
      break;
    case "WP"_fnv:
      SetWireless(request);
      break;
    case "M"_fnv:
      StoreMeshCredentials(request);
      break;
    case "S"_fnv:
      RequestStart();
      break;
    default:
      break;
  }
}

void ProvisioningProtocol::DeviceInformation() {
  Queue(DeviceInfoReply(settings_.SerialNumber(), settings_.DeviceID()));
}

// One scan at a time: a request during a scan is answered by that scan's list.
void ProvisioningProtocol::ScanWireless() {
  if (scan_running_.exchange(true)) {
    LOG_DEBUG << "Wi-Fi scan already running: its list answers this request too";
  } else {
    Post(mailbox::APP_EVT_SCAN_WIRELESS_AP);
  }
  Queue(ReplyWS());
}

void ProvisioningProtocol::SetWireless(const nlohmann::json& request) {
  const auto parameters = request.value("P", nlohmann::json());
  Queue(ReplyWP());
  // Settings are stored as UTF-8 texts: a network the gateway could not store fails at once.
  for (const char* name : {"s", "e", "k"}) {
    if (parameters.is_object() && parameters.contains(name) && !IsUtf8Text(parameters.at(name))) {
      LOG_ERROR << "Wi-Fi set-up refused: \"" << name << "\" is not a UTF-8 text";
      Queue(ReplyWCF());
      return;
    }
  }
  Post(mailbox::APP_EVT_SET_WIRELESS_AP, mailbox::MakePayload(parameters));
}

void ProvisioningProtocol::StoreMeshCredentials(const nlohmann::json& request) {
  // Every field is checked, and the device key drawn, before anything is stored.
  const MeshCredentials credentials = ReadMeshCredentials(request);
  std::vector<std::uint8_t> device_key(kDeviceKeySize);
  if (!random_(device_key.data(), device_key.size())) throw std::runtime_error("Failed to generate device key");
  settings_.MeshDevKey(device_key);
  settings_.MeshNetKey(credentials.network_key);
  settings_.MeshAppKey(credentials.application_key);
  settings_.NetAddr(credentials.unicast);
  if (credentials.group) settings_.GroupAddr(*credentials.group);
  Queue(ReplyM());
}

// The mesh cannot start without its keys: a mesh mode stored without them would leave the
// gateway with neither a mesh nor a way back to provisioning.
void ProvisioningProtocol::RequestStart() {
  if (!settings_.MeshCredentialsStored()) throw std::runtime_error("no mesh keys are stored");
  start_requested_ = true;
  ArmStart(start_mesh_delay_);
  Queue(ReplyS());
}

void ProvisioningProtocol::PhoneConnectionChanged() {
  if (start_requested_) ArmStart(disconnect_grace_);
}

void ProvisioningProtocol::ArmStart(std::chrono::milliseconds delay) {
  const std::lock_guard<std::mutex> guard(start_lock_);
  timers_->Cancel(start_timer_);
  start_timer_ = timers_->Add(delay, [this](bool cancelled) {
    if (!cancelled && start_requested_) PostStartMesh();
  });
}

// The mesh starts once: a later timer or connection change finds it posted already.
void ProvisioningProtocol::PostStartMesh() {
  if (start_posted_.exchange(true)) return;
  Post(mailbox::APP_EVT_START_MESH);
}

void ProvisioningProtocol::PutWirelessAPList(const nlohmann::json& results) {
  scan_running_ = false;
  if (results.is_array()) {
    for (const auto& result : results) {
      const auto reply = AccessPointReply(result);
      if (!reply) continue;
      Queue(*reply);
      LOG_VERBOSE << logging::JsonText(*reply);
    }
  }
  Queue(ReplyWLE());
}

void ProvisioningProtocol::WirelessScanFailed() {
  scan_running_ = false;
  LOG_ERROR << "Wi-Fi scan failed: no list for the phone";
}

void ProvisioningProtocol::PutWirelessConnectionEvent(bool ok) { Queue(ok ? ReplyWCS() : ReplyWCF()); }

void ProvisioningProtocol::Queue(const nlohmann::json& reply) { transmit_(EncodeReply(reply)); }

void ProvisioningProtocol::Post(std::uint32_t id, std::shared_ptr<void> data) {
  mailbox::PostMessage(*application_, this, id, std::move(data));
}

}  // namespace ble
