#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace sim::cloud {

// The server's side of the channel protocol on "/cable": frames it sends, and its
// answer to what a client sends.
namespace channel {

std::string Identifier(const std::string& channel, const std::string& device_id);
std::string Welcome();
std::string Ping(std::int64_t unix_time);
std::string Confirm(const std::string& identifier);
std::string Reject(const std::string& identifier);
// A fold push on the device's sensor channel; `folds` is an array of {"key","fold"}.
std::string Folds(const std::string& device_id, const nlohmann::json& folds);
std::string Beacon(const std::string& device_id, bool ble_enabled);

// The outcome of one client frame.
struct ClientFrame {
  std::optional<std::string> reply;
  std::optional<std::string> subscribed;  // the identifier of an accepted subscription
  std::optional<std::string> unsubscribed;  // the identifier of a subscription ended
};

// A subscription to "GatewayChannel" or "SensorChannel" (with a device id) is
// confirmed; other subscriptions are rejected; an unsubscription ends one without an
// answer; anything else gets no answer.
ClientFrame Answer(const std::string& text);

}  // namespace channel
}  // namespace sim::cloud
