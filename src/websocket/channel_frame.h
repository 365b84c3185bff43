#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace websocket {

// The subscription command for `channel` ("GatewayChannel", "SensorChannel") and a device:
// {"command":"subscribe","identifier":"{\"channel\":...,\"device_id\":...}"}, the
// identifier being JSON text inside the JSON document.
std::string SubscribeCommand(const std::string& channel, const std::string& device_id);
// The same with "unsubscribe": the server stops sending on that channel.
std::string UnsubscribeCommand(const std::string& channel, const std::string& device_id);

// What one server frame asks of the client.
struct FrameAction {
  enum class Kind { none, folds, beacon, confirmed };
  Kind kind = Kind::none;
  // folds: {"device_id","folds"}; beacon: {"device_id","beacon"}.
  nlohmann::json payload;
  // confirmed: the device whose sensor-channel subscription the server confirmed.
  std::string device_id;
};

// Interprets one text frame. Throws (the JSON library's exceptions, std::invalid_argument)
// on a frame that is malformed where it matters; frames of no interest give Kind::none.
FrameAction InterpretFrame(const std::string& text);

}  // namespace websocket
