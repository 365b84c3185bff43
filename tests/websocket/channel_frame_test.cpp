#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "websocket/channel_frame.h"

using nlohmann::json;
using websocket::FrameAction;
using Kind = websocket::FrameAction::Kind;

namespace {

std::string SensorIdentifier(const std::string& device) {
  return json{{"channel", "SensorChannel"}, {"device_id", device}}.dump();
}

std::string Frame(const std::string& identifier, const json& message) {
  return json{{"identifier", identifier}, {"message", message}}.dump();
}

struct FrameCase {
  std::string name;
  std::string frame;
  Kind kind;
  json payload;
  std::string device_id;
};

}  // namespace

TEST(ChannelFrame, SubscriptionCarriesTheIdentifierAsJsonText) {
  EXPECT_EQ(websocket::SubscribeCommand("GatewayChannel", "0a1b2c3d4e5f"),
            R"({"command":"subscribe","identifier":"{\"channel\":\"GatewayChannel\",\"device_id\":\"0a1b2c3d4e5f\"}"})");
}

TEST(ChannelFrame, TableOfServerFrames) {
  const auto folds = json::array({{{"key", "temp"}, {"fold", 5}}, {{"key", "temp"}, {"fold", 9}}, {{"key", "hum"}, {"fold", 2}}});
  const std::vector<FrameCase> cases{
      {"folds, first of a repeated key wins", Frame(SensorIdentifier("d1"), {{"folds", folds}}), Kind::folds,
       json{{"device_id", "d1"}, {"folds", {{"temp", 5}, {"hum", 2}}}}, ""},
      {"empty folds give null", Frame(SensorIdentifier("d1"), {{"folds", json::array()}}), Kind::folds,
       json{{"device_id", "d1"}, {"folds", nullptr}}, ""},
      {"folds win over sensor", Frame(SensorIdentifier("d2"), {{"folds", json::array()}, {"sensor", {{"ble_enabled", true}}}}),
       Kind::folds, json{{"device_id", "d2"}, {"folds", nullptr}}, ""},
      {"beacon", Frame(SensorIdentifier("d3"), {{"sensor", {{"ble_enabled", false}}}}), Kind::beacon,
       json{{"device_id", "d3"}, {"beacon", false}}, ""},
      {"gateway channel ignored", Frame(json{{"channel", "GatewayChannel"}, {"device_id", "g"}}.dump(), {{"folds", folds}}),
       Kind::none, json(), ""},
      {"other message shape ignored", Frame(SensorIdentifier("d1"), {{"other", 1}}), Kind::none, json(), ""},
      {"message not an object ignored", Frame(SensorIdentifier("d1"), "text"), Kind::none, json(), ""},
      {"ping", R"({"type":"ping","message":1700000000})", Kind::none, json(), ""},
      {"welcome", R"({"type":"welcome"})", Kind::none, json(), ""},
      {"confirmation of a sensor channel",
       json{{"identifier", SensorIdentifier("d4")}, {"type", "confirm_subscription"}}.dump(), Kind::confirmed, json(), "d4"},
      {"confirmation of the gateway channel",
       json{{"identifier", json{{"channel", "GatewayChannel"}, {"device_id", "g"}}.dump()}, {"type", "confirm_subscription"}}.dump(),
       Kind::none, json(), ""},
      {"no type", R"({"other":1})", Kind::none, json(), ""},
      {"not an object", "[1,2]", Kind::none, json(), ""},
  };
  for (const auto& test : cases) {
    const FrameAction action = websocket::InterpretFrame(test.frame);
    EXPECT_EQ(action.kind, test.kind) << test.name;
    EXPECT_EQ(action.payload, test.payload) << test.name;
    EXPECT_EQ(action.device_id, test.device_id) << test.name;
  }
}

TEST(ChannelFrame, MalformedFramesThrow) {
  const std::vector<std::string> frames{
      "not json",
      Frame("not json either", {{"folds", json::array()}}),
      Frame(SensorIdentifier("d1"), {{"folds", {{{"key", 1}, {"fold", 2}}}}}),
      Frame(SensorIdentifier("d1"), {{"folds", {{{"key", "t"}}}}}),
      Frame(SensorIdentifier("d1"), {{"folds", {{"key", "t"}, {"fold", 1}}}}),
      Frame(SensorIdentifier("d1"), {{"sensor", {{"ble_enabled", "yes"}}}}),
      Frame(json{{"channel", "SensorChannel"}}.dump(), {{"folds", json::array()}}),
      json{{"identifier", 5}, {"type", "confirm_subscription"}}.dump(),
  };
  for (const auto& frame : frames) EXPECT_ANY_THROW(websocket::InterpretFrame(frame)) << frame;
}
