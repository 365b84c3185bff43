#include <gtest/gtest.h>

#include "cloud/channel_protocol.h"
#include "cloud/cloud_state.h"

using nlohmann::json;
using sim::cloud::CloudState;
using sim::cloud::FaultRule;
using sim::cloud::RecordedRequest;

namespace {

RecordedRequest Request(const std::string& method, const std::string& target, const std::string& body = "") {
  RecordedRequest request;
  request.method = method;
  request.target = target;
  request.body = body;
  return request;
}

int Verify(CloudState& state) { return state.Handle(Request("POST", "/api/v1/auth_device/verify")).status; }

}  // namespace

TEST(CloudStateAuthorisation, CodesThenPendingUntilApprovedThenTokens) {
  CloudState state;
  EXPECT_EQ(state.Handle(Request("POST", "/api/v1/auth_device/request")).body, R"({"code":"code-1"})");
  EXPECT_EQ(state.Handle(Request("POST", "/api/v1/auth_device/request")).body, R"({"code":"code-2"})");
  EXPECT_EQ(Verify(state), 400);
  state.Auth().Merge(json{{"verify", {408, 500}}, {"approved", true}});
  EXPECT_EQ(Verify(state), 408);
  EXPECT_EQ(Verify(state), 500);
  const auto answer = state.Handle(Request("POST", "/api/v1/auth_device/verify"));
  EXPECT_EQ(answer.status, 201);
  EXPECT_EQ(json::parse(answer.body), (json{{"access_token", "access-token-1"}, {"refresh_token", "refresh-token-1"}}));
  ASSERT_EQ(state.Requests().size(), 6u);
  EXPECT_EQ(state.Requests().back().status, 201);

  state.Auth().Merge(json{{"request_status", 503}});
  EXPECT_EQ(state.Handle(Request("POST", "/api/v1/auth_device/request")).status, 503);
  EXPECT_EQ(state.Auth().codes_issued, 2);
}

TEST(CloudStateRoutes, AnswersFromTheScenarioAndFiles) {
  CloudState state;
  state.ReplaceScenario(json{{"devices", {{"gw1", {{"plcs", json::array()}}}, {"raw", "not json"}}},
                             {"firmware_conf", {{"url", "https://files.example.com"}}}});
  state.PutFile("sensor_1.bin", std::string("\x3d\xb8\xf3\x96", 4));
  struct Case {
    std::string method, target;
    int status;
    std::string body;
  };
  const Case cases[] = {
      {"GET", "/api/v1/devices/gw1", 200, R"({"plcs":[]})"},
      {"GET", "/api/v1/devices/raw", 200, "not json"},
      {"GET", "/api/v1/devices/unknown", 404, R"({"error":"not found"})"},
      {"GET", "/api/v1/devices/configurations/firmware.conf", 200, R"({"url":"https://files.example.com"})"},
      {"GET", "/firmware.conf", 200, R"({"url":"https://files.example.com"})"},
      {"GET", "/fw/sensor_1.bin", 200, std::string("\x3d\xb8\xf3\x96", 4)},
      {"POST", "/api/v1/gateways/hb", 200, "{}"},
      {"POST", "/api/v1/gateways/report?x=1", 200, "{}"},
      {"GET", "/api/v1/gateways/report", 404, R"({"error":"not found"})"},
      {"GET", "/elsewhere", 404, R"({"error":"not found"})"},
  };
  for (const auto& test : cases) {
    const auto answer = state.Handle(Request(test.method, test.target));
    EXPECT_EQ(answer.status, test.status) << test.method << " " << test.target;
    EXPECT_EQ(answer.body, test.body) << test.method << " " << test.target;
  }
}

TEST(CloudStateFaults, MatchPathAndMethodForTheirCountThenStop) {
  CloudState state;
  state.AddFault(FaultRule::FromJson(json{{"path", "/gateways/report"}, {"status", 500}, {"body", "boom"}, {"count", 2}}));
  state.AddFault(FaultRule::FromJson(json{{"path", "/gateways/hb"}, {"method", "GET"}, {"drop", true}}));
  state.AddFault(FaultRule::FromJson(json{{"path", "/devices/"}, {"delay_ms", 40000}}));

  EXPECT_EQ(state.Handle(Request("POST", "/api/v1/gateways/report")).status, 500);
  EXPECT_EQ(state.Handle(Request("POST", "/api/v1/gateways/report")).body, "boom");
  EXPECT_EQ(state.Handle(Request("POST", "/api/v1/gateways/report")).status, 200);
  EXPECT_FALSE(state.Handle(Request("POST", "/api/v1/gateways/hb")).drop) << "method does not match";
  EXPECT_TRUE(state.Handle(Request("GET", "/api/v1/gateways/hb")).drop);
  EXPECT_EQ(state.Requests().back().status, 0) << "a dropped request is recorded without an answer";
  const auto delayed = state.Handle(Request("GET", "/api/v1/devices/x"));
  EXPECT_EQ(delayed.delay, std::chrono::milliseconds(40000));
  EXPECT_EQ(delayed.status, 404) << "a delay without a status keeps the normal answer";
  state.ClearFaults();
  EXPECT_EQ(state.Handle(Request("GET", "/api/v1/devices/x")).delay.count(), 0);
}

TEST(ChannelProtocol, ConfirmsKnownChannelsRejectsOthersIgnoresTheRest) {
  namespace channel = sim::cloud::channel;
  const auto gateway = channel::Identifier("GatewayChannel", "0a1b2c3d4e5f");
  const auto subscribe = [](const std::string& identifier) {
    return json{{"command", "subscribe"}, {"identifier", identifier}}.dump();
  };
  const auto confirmed = channel::Answer(subscribe(gateway));
  ASSERT_TRUE(confirmed.reply);
  EXPECT_EQ(json::parse(*confirmed.reply), (json{{"identifier", gateway}, {"type", "confirm_subscription"}}));
  EXPECT_EQ(confirmed.subscribed, gateway);

  const auto rejected = channel::Answer(subscribe(channel::Identifier("ChatChannel", "x")));
  ASSERT_TRUE(rejected.reply);
  EXPECT_NE(rejected.reply->find("reject_subscription"), std::string::npos);
  EXPECT_FALSE(rejected.subscribed);

  for (const std::string ignored : {"not json", "[]", R"({"command":"message"})", R"({"command":"subscribe"})"}) {
    EXPECT_FALSE(channel::Answer(ignored).reply) << ignored;
  }
  EXPECT_EQ(json::parse(channel::Folds("d1", json::array({{{"key", "t"}, {"fold", 3}}}))),
            (json{{"identifier", R"({"channel":"SensorChannel","device_id":"d1"})"},
                  {"message", {{"folds", {{{"key", "t"}, {"fold", 3}}}}}}}));
}

TEST(CloudStateFirmwareHost, ScriptedFilesImagesStallsAndTruncation) {
  CloudState state;
  state.PutFile("raw.bin", "raw bytes");
  state.ReplaceScenario(json{{"firmware_files",
                              {{"image.bin", {{"image", {{"version", "1.2.3-4"}, {"size", 40}}}}},
                               {"text.ipk", {{"content", "package"}, {"truncate_at", 3}}},
                               {"raw.bin", {{"stall_after", 2}, {"stall_ms", 500}}}}}});
  const auto image = state.Handle(Request("GET", "/files/image.bin"));
  EXPECT_EQ(image.status, 200);
  EXPECT_EQ(image.body, sim::cloud::DeviceImage("1.2.3-4", 40));
  const std::string header("\x3d\xb8\xf3\x96", 4);
  EXPECT_EQ(image.body.substr(0, 4), header);
  EXPECT_EQ(image.body.substr(20, 8), std::string("\x01\x02\x03\x00\x04\x00\x00\x00", 8));
  EXPECT_EQ(static_cast<unsigned char>(image.body[39]), 39);
  EXPECT_FALSE(image.stall_after || image.truncate_at);

  const auto text = state.Handle(Request("GET", "/any/path/text.ipk"));
  EXPECT_EQ(text.body, "package");
  EXPECT_EQ(text.truncate_at, 3u);
  const auto raw = state.Handle(Request("GET", "/files/raw.bin"));
  EXPECT_EQ(raw.body, "raw bytes");
  EXPECT_EQ(raw.stall_after, 2u);
  EXPECT_EQ(raw.stall_for, std::chrono::milliseconds(500));
  EXPECT_EQ(state.Handle(Request("GET", "/files/none.bin")).status, 404);
  EXPECT_EQ(sim::cloud::DeviceImage("1.0.0-0", 10).size(), 32u);  // never shorter than the header

  state.MergeScenario(json{{"firmware_files",
                            {{"slow.bin", {{"content", "slowly"}, {"trickle", {{"bytes", 2}, {"every_ms", 300}}}}},
                             {"moved.bin", {{"redirect_to", "http://elsewhere.test/moved.bin"}}}}}});
  const auto slow = state.Handle(Request("GET", "/files/slow.bin"));
  EXPECT_EQ(slow.body, "slowly");
  EXPECT_EQ(slow.trickle_bytes, 2u);
  EXPECT_EQ(slow.trickle_every, std::chrono::milliseconds(300));
  const auto moved = state.Handle(Request("GET", "/files/moved.bin"));
  EXPECT_EQ(moved.status, 302);
  EXPECT_EQ(moved.location, "http://elsewhere.test/moved.bin");
  // Without a signing key there are no signatures; a file of that name is served as it is.
  EXPECT_EQ(state.Handle(Request("GET", "/files/image.bin.sig")).status, 404);
  state.PutFile("raw.bin.sig", "put signature");
  EXPECT_EQ(state.Handle(Request("GET", "/files/raw.bin.sig")).body, "put signature");
}
