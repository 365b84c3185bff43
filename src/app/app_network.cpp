// Supervision of the WAN link: status queries, "network.interface" and "button" events,
// and the timer that ends a Wi-Fi set-up requested over BLE.

#include <nlohmann/json.hpp>
#include <optional>

#include "app/app.h"
#include "ble/provisioning_component.h"
#include "common/fnv1a.h"
#include "ipc/ubus.h"
#include "log/log.h"
#include "mailbox/message_id.h"
#include "ui/led_state_machine.h"

namespace {

constexpr int kBusTimeoutSeconds = ipc::kDefaultCallTimeoutSeconds;
constexpr std::uint32_t kResetButton = Fnv1a("reset");

// The parsed event payload, or nothing (with an error line) when it is not JSON.
std::optional<nlohmann::json> ParseEvent(const char* json) {
  try {
    return nlohmann::json::parse(json ? json : "");
  } catch (const nlohmann::json::exception& error) {
    LOG_ERROR << "Malformed event data: " << error.what();
    return std::nullopt;
  }
}

}  // namespace

std::string GetIPAddress(const std::string& ubus_socket) {
  LOG_VERBOSE;
  std::string address;
  ipc::UBUS bus(kBusTimeoutSeconds, ubus_socket);
  bus.Call("network.interface.wan", "status", "", [&address](const char* json) {
    try {
      const auto status = nlohmann::json::parse(json);
      if (status.contains("ipv4-address")) {
        address = status.at("ipv4-address").at(0).at("address").get<std::string>();
        LOG_VERBOSE << address;
      }
    } catch (const std::exception& error) {
      LOG_ERROR << error.what();
    }
  });
  return address;
}

void App::CheckNetworkStatus() { QueryWanStatus(logging::Severity::verbose); }

void App::QueryWanStatus(logging::Severity severity) {
  ipc::UBUS bus(kBusTimeoutSeconds, platform_.ubus_socket);
  bus.Call("network.interface.wan", "status", "",
           [this, severity](const char* json) { OnWanStatus(json, severity); });
}

void App::OnWanStatus(const char* json, logging::Severity severity) {
  try {
    const bool up = nlohmann::json::parse(json).at("up").get<bool>();
    if (up) {
      QUELLARON_LOG(severity) << "Interface UP";
      PostToSelf(mailbox::SYS_EVT_NETWORK_CONNECTED);
      PostToSelf(mailbox::APP_EVT_OAUTH_REQUEST);
    } else {
      QUELLARON_LOG(severity) << "Interface DOWN";
      PostToSelf(mailbox::SYS_EVT_NETWORK_DISCONNECTED);
    }
  } catch (const std::exception& error) {
    LOG_ERROR << error.what();
  }
}

void App::NetworkEventHandler(const char* json) {
  LOG_VERBOSE << (json ? json : "");
  const auto event = ParseEvent(json);
  if (!event || !event->is_object()) return;
  if (!event->contains("interface") || event->at("interface") != "wan" || !event->contains("action")) return;
  const auto& action = event->at("action");
  if (action == "ifdown") {
    PostToSelf(mailbox::SYS_EVT_NETWORK_DISCONNECTED);
  } else if (action == "ifup") {
    PostToSelf(mailbox::SYS_EVT_NETWORK_CONNECTED);
    PostToSelf(mailbox::APP_EVT_OAUTH_REQUEST);
    const std::lock_guard<std::mutex> guard(setup_lock_);
    EndNetworkSetup(NetworkSetup::End::connected);
  }
}

// Any press of a button opens the provisioning window again (while the gateway provisions);
// the reset button also reaches the LED.
void App::ButtonEventHandler(const char* json) {
  LOG_VERBOSE << (json ? json : "");
  const auto event = ParseEvent(json);
  if (!event || !event->is_object() || !event->contains("event") || !event->at("event").is_string()) return;
  if (Fnv1a(event->at("event").get<std::string>()) == kResetButton) LEDStateMachine::Dispatch(ResetButton{});
  if (initialised_) ble_->OpenProvisioningWindow();
}

void App::ArmNetworkSetup() {
  const std::lock_guard<std::mutex> guard(setup_lock_);
  EndNetworkSetup(NetworkSetup::End::replaced);
  auto setup = std::make_shared<NetworkSetup>();
  setup->timer_id = timers_->Add(platform_.network_setup_timeout, [this, setup](bool cancelled) {
    OnNetworkSetupTimer(*setup, cancelled);
  });
  pending_setup_ = std::move(setup);
}

// The cancellation runs the timer's handler later, on the timer worker; the recorded end
// tells it whether the WAN came up or a newer request took over.
void App::EndNetworkSetup(NetworkSetup::End end) {
  if (!pending_setup_) return;
  pending_setup_->end = end;
  timers_->Cancel(pending_setup_->timer_id);
  pending_setup_.reset();
}

void App::OnNetworkSetupTimer(const NetworkSetup& setup, bool cancelled) {
  bool replaced = false;
  {
    const std::lock_guard<std::mutex> guard(setup_lock_);
    replaced = setup.end == NetworkSetup::End::replaced;
  }
  if (cancelled && replaced) {
    LOG_VERBOSE << "Network Setup Timer replaced by a newer request";
    return;
  }
  NetworkSetupTimeout(cancelled);
}

void App::NetworkSetupTimeout(bool cancelled) {
  LOG_VERBOSE;
  if (!cancelled) {
    LOG_VERBOSE << "Network Setup Timer Expired";
    ble_->PutWirelessConnectionEvent(false, "");
  } else {
    LOG_VERBOSE << "Network Setup Timer Canceled";
    PostToSelf(mailbox::APP_EVT_OAUTH_REQUEST);
    ble_->PutWirelessConnectionEvent(true, GetIPAddress(platform_.ubus_socket));
  }
}
