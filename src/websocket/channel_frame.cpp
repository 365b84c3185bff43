#include "websocket/channel_frame.h"

#include <stdexcept>

namespace websocket {
namespace {

using nlohmann::json;

const std::string kSensorChannel = "SensorChannel";

// The "identifier" member: JSON text holding {"channel","device_id"}.
json ParseIdentifier(const json& frame) { return json::parse(frame.at("identifier").get<std::string>()); }

bool IsSensorChannel(const json& identifier) {
  return identifier.is_object() && identifier.contains("channel") && identifier.at("channel") == kSensorChannel;
}

// One member per element, named by its "key", valued by its "fold"; the first of a
// repeated key wins; no elements give null.
json FoldsObject(const json& folds) {
  if (!folds.is_array()) throw std::invalid_argument("folds is not an array");
  json result;
  for (const auto& element : folds) {
    const auto key = element.at("key").get<std::string>();
    const int fold = element.at("fold").get<int>();
    if (result.is_null() || !result.contains(key)) result[key] = fold;
  }
  return result;
}

FrameAction ChannelMessage(const json& frame) {
  const json identifier = ParseIdentifier(frame);
  const json& message = frame.at("message");
  if (!IsSensorChannel(identifier) || !message.is_object()) return {};
  const auto device_id = identifier.at("device_id").get<std::string>();
  if (message.contains("folds")) {
    return {FrameAction::Kind::folds, json{{"device_id", device_id}, {"folds", FoldsObject(message.at("folds"))}}, {}};
  }
  if (message.contains("sensor")) {
    const bool beacon = message.at("sensor").at("ble_enabled").get<bool>();
    return {FrameAction::Kind::beacon, json{{"device_id", device_id}, {"beacon", beacon}}, {}};
  }
  return {};
}

FrameAction ControlMessage(const json& frame) {
  if (!frame.contains("type") || frame.at("type") != "confirm_subscription") return {};
  const json identifier = ParseIdentifier(frame);
  if (!IsSensorChannel(identifier)) return {};
  return {FrameAction::Kind::confirmed, json(), identifier.at("device_id").get<std::string>()};
}

}  // namespace

namespace {

std::string ChannelCommand(const char* command, const std::string& channel, const std::string& device_id) {
  const json identifier{{"channel", channel}, {"device_id", device_id}};
  return json{{"command", command}, {"identifier", identifier.dump()}}.dump();
}

}  // namespace

std::string SubscribeCommand(const std::string& channel, const std::string& device_id) {
  return ChannelCommand("subscribe", channel, device_id);
}

std::string UnsubscribeCommand(const std::string& channel, const std::string& device_id) {
  return ChannelCommand("unsubscribe", channel, device_id);
}

FrameAction InterpretFrame(const std::string& text) {
  const json frame = json::parse(text);
  if (!frame.is_object()) return {};
  if (frame.contains("identifier") && frame.contains("message")) return ChannelMessage(frame);
  return ControlMessage(frame);
}

}  // namespace websocket
