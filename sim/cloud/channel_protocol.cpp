#include "cloud/channel_protocol.h"

namespace sim::cloud::channel {

using nlohmann::json;

std::string Identifier(const std::string& channel_name, const std::string& device_id) {
  return json{{"channel", channel_name}, {"device_id", device_id}}.dump();
}

std::string Welcome() { return json{{"type", "welcome"}}.dump(); }

std::string Ping(std::int64_t unix_time) { return json{{"type", "ping"}, {"message", unix_time}}.dump(); }

std::string Confirm(const std::string& identifier) {
  return json{{"identifier", identifier}, {"type", "confirm_subscription"}}.dump();
}

std::string Reject(const std::string& identifier) {
  return json{{"identifier", identifier}, {"type", "reject_subscription"}}.dump();
}

std::string Folds(const std::string& device_id, const json& folds) {
  return json{{"identifier", Identifier("SensorChannel", device_id)}, {"message", {{"folds", folds}}}}.dump();
}

std::string Beacon(const std::string& device_id, bool ble_enabled) {
  return json{{"identifier", Identifier("SensorChannel", device_id)},
              {"message", {{"sensor", {{"ble_enabled", ble_enabled}}}}}}
      .dump();
}

namespace {

bool Acceptable(const std::string& identifier) {
  const json parsed = json::parse(identifier, nullptr, false);
  if (!parsed.is_object()) return false;
  const auto channel_name = parsed.value("channel", json()).is_string() ? parsed.at("channel").get<std::string>() : "";
  const bool has_device = parsed.contains("device_id") && parsed.at("device_id").is_string();
  return (channel_name == "GatewayChannel" || channel_name == "SensorChannel") && has_device;
}

}  // namespace

ClientFrame Answer(const std::string& text) {
  const json frame = json::parse(text, nullptr, false);
  if (!frame.is_object() || !frame.contains("identifier") || !frame.at("identifier").is_string()) return {};
  const auto command = frame.value("command", json());
  const auto identifier = frame.at("identifier").get<std::string>();
  if (command == "unsubscribe") return {std::nullopt, std::nullopt, identifier};
  if (command != "subscribe") return {};
  if (!Acceptable(identifier)) return {Reject(identifier), std::nullopt, std::nullopt};
  return {Confirm(identifier), identifier, std::nullopt};
}

}  // namespace sim::cloud::channel
