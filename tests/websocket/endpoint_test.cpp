#include <gtest/gtest.h>

#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "mailbox/depesche_poster.h"
#include "mailbox/message_id.h"
#include "sim-cloud/stand_in_cloud.h"
#include "sim-cloud/thread_wakeups.h"
#include "support/memory_cloud_settings.h"
#include "support/wait.h"
#include "websocket/channel_frame.h"
#include "websocket/endpoint.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::WaitUntil;

namespace {

const std::string kDevice = "0a1b2c3d4e5f";

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class RecordingPoster : public mailbox::DepeschePoster {
 public:
  void Post(const mailbox::Depesche& message) override {
    const std::lock_guard<std::mutex> guard(lock_);
    messages_.push_back(message);
  }
  mailbox::DepescheDestination* Destination() override { return nullptr; }
  std::vector<mailbox::Depesche> Messages() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return messages_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<mailbox::Depesche> messages_;
};

class EndpointTest : public ::testing::Test {
 protected:
  // The host is the stand-in's unless given.
  std::unique_ptr<websocket::Endpoint> MakeEndpoint(std::string token = "tok-1",
                                                    std::optional<std::string> host = std::nullopt,
                                                    websocket::EndpointTimings timings = FastRetries()) {
    MemoryCloudSettings::Values values;
    values.access_token = std::move(token);
    values.refresh_token = "ref";
    values.host = host.value_or(cloud_.HostPort());
    values.device_id = kDevice;
    return MakeEndpointWith(values, timings);
  }

  std::unique_ptr<websocket::Endpoint> MakeEndpointWith(const MemoryCloudSettings::Values& values,
                                                        websocket::EndpointTimings timings = FastRetries()) {
    return std::make_unique<websocket::Endpoint>(poster_, all_settings_.emplace_back(values), timings);
  }

  MemoryCloudSettings::Values ByName() const {
    MemoryCloudSettings::Values values;
    values.access_token = "tok-1";
    values.host = "localhost:" + std::to_string(cloud_.Port());
    values.device_id = kDevice;
    return values;
  }

  // The channel handshakes the server recorded.
  json Handshakes() const {
    json handshakes = json::array();
    for (const auto& request : cloud_.Control().Requests()) {
      if (request.at("websocket").get<bool>()) handshakes.push_back(request);
    }
    return handshakes;
  }

  static websocket::EndpointTimings FastRetries() {
    websocket::EndpointTimings timings;
    timings.first_retry = 100ms;
    timings.last_retry = 400ms;
    return timings;
  }

  json Channels() const { return cloud_.Control().Channels(); }
  // Frames the server received on its connection number `index`.
  std::vector<std::string> Received(std::size_t index) const {
    const auto channels = Channels();
    if (channels.size() <= index) return {};
    return channels[index].at("received").get<std::vector<std::string>>();
  }
  bool Open(std::size_t index) const {
    const auto channels = Channels();
    return channels.size() > index && channels[index].at("open").get<bool>();
  }
  static std::string Gateway() { return websocket::SubscribeCommand("GatewayChannel", kDevice); }
  static std::string Sensor(const std::string& device) { return websocket::SubscribeCommand("SensorChannel", device); }

  testing_support::LogCapture log_;
  testing_support::StandInCloud cloud_;
  std::shared_ptr<RecordingPoster> poster_ = std::make_shared<RecordingPoster>();
  std::list<MemoryCloudSettings> all_settings_;  // of every endpoint made, for the whole test
};

}  // namespace

TEST_F(EndpointTest, StartNeedsAnAccessTokenAndAUsableHost) {
  auto without_token = MakeEndpoint("");
  EXPECT_FALSE(without_token->Start());
  auto without_host = MakeEndpoint("tok-1", "");  // no URL configured: no host
  EXPECT_FALSE(without_host->Start());
  EXPECT_TRUE(log_.Contains("Connect initialization error : "));
  EXPECT_TRUE(Channels().empty());
}

TEST_F(EndpointTest, OpenSendsOneGatewaySubscription) {
  auto endpoint = MakeEndpoint();
  ASSERT_TRUE(endpoint->Start());
  ASSERT_TRUE(WaitUntil([&] { return endpoint->Connected() && !Received(0).empty(); }));
  EXPECT_FALSE(endpoint->Start()) << "already connected";
  EXPECT_EQ(Received(0), std::vector<std::string>{Gateway()});
  EXPECT_EQ(Channels()[0].at("target"), "/cable?access_token=tok-1");
  EXPECT_TRUE(log_.Contains("Connection opened : quellaron-cloud-standin"));
}

TEST_F(EndpointTest, ConfirmedSubscriptionIsNotSentAgainUnconfirmedIs) {
  auto endpoint = MakeEndpoint();
  ASSERT_TRUE(endpoint->Start());
  // The open handler's own subscriptions first: a request made before them is sent again.
  ASSERT_TRUE(WaitUntil([&] { return endpoint->Connected() && !Received(0).empty(); }));
  endpoint->AddSubscribe("X");
  ASSERT_TRUE(WaitUntil([&] { return endpoint->Subscribed("X"); }));
  endpoint->AddSubscribe("X");
  cloud_.Control().Call("POST", "/channel/confirmations", json{{"enabled", false}});
  endpoint->AddSubscribe("Y");
  endpoint->AddSubscribe("Y");
  const std::vector<std::string> expected{Gateway(), Sensor("X"), Sensor("Y"), Sensor("Y")};
  EXPECT_TRUE(WaitUntil([&] { return Received(0).size() >= expected.size(); }));
  EXPECT_EQ(Received(0), expected);
  EXPECT_FALSE(endpoint->Subscribed("Y"));
}

TEST_F(EndpointTest, PushesBecomeMessagesAndMalformedFramesAreDropped) {
  auto endpoint = MakeEndpoint();
  ASSERT_TRUE(endpoint->Start());
  // The open handler's own subscriptions first: a request made before them is sent again.
  ASSERT_TRUE(WaitUntil([&] { return endpoint->Connected() && !Received(0).empty(); }));
  endpoint->AddSubscribe("X");
  ASSERT_TRUE(WaitUntil([&] { return endpoint->Subscribed("X"); }));
  const auto& control = cloud_.Control();
  control.Call("POST", "/channel/folds", json{{"device_id", "X"}, {"folds", {{{"key", "temp"}, {"fold", 5}}}}});
  control.Call("POST", "/channel/push", json{{"frame", "not json"}});
  control.Call("POST", "/channel/beacon", json{{"device_id", "X"}, {"ble_enabled", true}});
  ASSERT_TRUE(WaitUntil([&] { return poster_->Messages().size() == 2; }));
  const auto messages = poster_->Messages();
  EXPECT_EQ(messages[0].id, mailbox::APP_EVT_WEBSOCKET_EVT_FOLDS);
  EXPECT_EQ(mailbox::PayloadAs<json>(messages[0]), (json{{"device_id", "X"}, {"folds", {{"temp", 5}}}}));
  EXPECT_EQ(messages[0].sender, endpoint.get());
  EXPECT_EQ(messages[1].id, mailbox::APP_EVT_WEBSOCKET_EVT_BEACON);
  EXPECT_EQ(mailbox::PayloadAs<json>(messages[1]), (json{{"device_id", "X"}, {"beacon", true}}));
  EXPECT_TRUE(log_.Contains("parse error"));
}

// The server drops the connection: the endpoint notices, connects again and sends its
// subscriptions again.
TEST_F(EndpointTest, ReconnectsAndResubscribesAfterTheServerDropsTheConnection) {
  std::mutex heard_lock;
  std::vector<bool> heard;  // what the connection observer was told; outlives the endpoint
  auto endpoint = MakeEndpoint();
  const auto Heard = [&] {
    const std::lock_guard<std::mutex> guard(heard_lock);
    return heard;
  };
  endpoint->ObserveConnection([&](bool open) {
    const std::lock_guard<std::mutex> guard(heard_lock);
    heard.push_back(open);
  });
  ASSERT_TRUE(endpoint->Start());
  // The open handler's own subscriptions first: a request made before them is sent again.
  ASSERT_TRUE(WaitUntil([&] { return endpoint->Connected() && !Received(0).empty(); }));
  endpoint->AddSubscribe("X");
  ASSERT_TRUE(WaitUntil([&] { return endpoint->Subscribed("X"); }));
  EXPECT_EQ(cloud_.Control().Call("POST", "/channel/drop").at("sent"), 1);
  ASSERT_TRUE(WaitUntil([&] { return Received(1).size() == 2; }));
  EXPECT_EQ(Received(1), (std::vector<std::string>{Gateway(), Sensor("X")}));
  EXPECT_TRUE(WaitUntil([&] { return endpoint->Connected() && endpoint->Subscribed("X"); }));
  EXPECT_TRUE(log_.Contains("Connection closed : "));
  EXPECT_EQ(Heard(), (std::vector<bool>{true, false, true}));
}

// A removed subscription is ended at the server and not made again on reconnection.
TEST_F(EndpointTest, ARemovedSubscriptionIsEndedAndNotRenewed) {
  auto endpoint = MakeEndpoint();
  ASSERT_TRUE(endpoint->Start());
  ASSERT_TRUE(WaitUntil([&] { return endpoint->Connected() && !Received(0).empty(); }));
  endpoint->AddSubscribe("X");
  endpoint->AddSubscribe("Y");
  ASSERT_TRUE(WaitUntil([&] { return endpoint->Subscribed("X") && endpoint->Subscribed("Y"); }));
  endpoint->RemoveSubscribe("X");
  endpoint->RemoveSubscribe("unknown");  // never asked for: nothing is sent
  EXPECT_FALSE(endpoint->Subscribed("X"));
  const std::string unsubscribe = websocket::UnsubscribeCommand("SensorChannel", "X");
  ASSERT_TRUE(WaitUntil([&] { return Received(0).size() == 4; }));
  EXPECT_EQ(Received(0).back(), unsubscribe);
  EXPECT_TRUE(WaitUntil([&] { return Channels()[0].at("subscriptions").size() == 2; })) << "the gateway's and Y's";

  EXPECT_EQ(cloud_.Control().Call("POST", "/channel/drop").at("sent"), 1);
  ASSERT_TRUE(WaitUntil([&] { return Received(1).size() == 2; }));
  EXPECT_EQ(Received(1), (std::vector<std::string>{Gateway(), Sensor("Y")}));
}

TEST_F(EndpointTest, StartAfterAClosedConnectionConnectsAgain) {
  websocket::EndpointTimings slow_retry;  // the daemon's back-off would wait a second
  slow_retry.first_retry = 60s;
  auto endpoint = MakeEndpoint("tok-1", std::nullopt, slow_retry);
  ASSERT_TRUE(endpoint->Start());
  ASSERT_TRUE(WaitUntil([&] { return endpoint->Connected(); }));
  cloud_.Control().Call("POST", "/channel/close");
  ASSERT_TRUE(WaitUntil([&] { return !endpoint->Connected(); }));
  EXPECT_TRUE(endpoint->Start()) << "the next server-connected message reconnects";
  EXPECT_TRUE(WaitUntil([&] { return Open(1) && endpoint->Connected(); }));
}

TEST_F(EndpointTest, StopClosesAndEndsTheReconnection) {
  auto endpoint = MakeEndpoint();
  ASSERT_TRUE(endpoint->Start());
  ASSERT_TRUE(WaitUntil([&] { return endpoint->Connected(); }));
  endpoint->Stop();
  EXPECT_FALSE(endpoint->Connected());
  ASSERT_TRUE(WaitUntil([&] { return !Open(0); }));
  EXPECT_TRUE(log_.Contains("Closing connection "));
  EXPECT_FALSE(WaitUntil([&] { return Channels().size() > 1; }, 1500ms)) << "no reconnection after Stop";
}

// The channel server pings every 3 s; a connection silent for longer than the limit is dead.
TEST_F(EndpointTest, SilentConnectionIsClosedAndReplaced) {
  cloud_.Control().Call("POST", "/channel/pings", json{{"enabled", false}});
  auto timings = FastRetries();
  timings.dead_after = 1s;
  auto endpoint = MakeEndpoint("tok-1", std::nullopt, timings);
  ASSERT_TRUE(endpoint->Start());
  ASSERT_TRUE(WaitUntil([&] { return Open(0); }));
  ASSERT_TRUE(WaitUntil([&] { return Open(1); }, 20s));
  EXPECT_TRUE(log_.Contains("No frame for "));
  EXPECT_TRUE(WaitUntil([&] { return !Received(1).empty(); }));  // the open handler subscribes next
  EXPECT_EQ(Received(1), std::vector<std::string>{Gateway()});
}

TEST_F(EndpointTest, PingsKeepAConnectionAlive) {
  testing_support::StandInCloud pinging(200ms);
  MemoryCloudSettings::Values values;
  values.access_token = "tok-1";
  values.host = pinging.HostPort();
  values.device_id = kDevice;
  auto timings = FastRetries();
  timings.dead_after = 1s;
  MemoryCloudSettings settings(values);
  websocket::Endpoint endpoint(poster_, settings, timings);
  ASSERT_TRUE(endpoint.Start());
  ASSERT_TRUE(WaitUntil([&] { return endpoint.Connected(); }));
  EXPECT_FALSE(WaitUntil([&] { return pinging.Control().Channels().size() > 1; }, 2500ms));
  EXPECT_TRUE(endpoint.Connected());
}

TEST_F(EndpointTest, BackOffDoublesUpToItsBoundThenConnects) {
  cloud_.Control().Call("POST", "/refuse", json{{"refuse", true}});
  auto endpoint = MakeEndpoint();
  ASSERT_TRUE(endpoint->Start());
  ASSERT_TRUE(WaitUntil([&] {
    const auto text = log_.Text();
    const auto first = text.find("Reconnecting in 100 ms");
    const auto second = text.find("Reconnecting in 200 ms", first);
    const auto third = text.find("Reconnecting in 400 ms", second);
    return first != std::string::npos && second != std::string::npos && third != std::string::npos &&
           text.find("Reconnecting in 400 ms", third + 1) != std::string::npos;
  }));
  EXPECT_EQ(log_.Text().find("Reconnecting in 800 ms"), std::string::npos);
  EXPECT_TRUE(log_.Contains("Connection failed : "));
  cloud_.Control().Call("POST", "/refuse", json{{"refuse", false}});
  EXPECT_TRUE(WaitUntil([&] { return endpoint->Connected(); }));
}

// The server learns the host name from the TLS handshake (SNI), as a shared load
// balancer needs.
TEST_F(EndpointTest, HandshakeNamesTheHost) {
  auto endpoint = MakeEndpointWith(ByName());
  ASSERT_TRUE(endpoint->Start());
  ASSERT_TRUE(WaitUntil([&] { return endpoint->Connected(); }));
  ASSERT_EQ(Handshakes().size(), 1u);
  EXPECT_EQ(Handshakes()[0].at("server_name"), "localhost");
}

// Off, any certificate is taken as before; on, only one of the configured CA (or of the
// system's store) whose name matches the host.
TEST_F(EndpointTest, CertificateVerificationFollowsTheSettings) {
  testing_support::ScratchDirectory other;
  testing_support::MakeCertificate(other.Path());
  for (const auto& test :
       testing_support::TlsVerificationCases(cloud_.Directory() + "/cert.pem", other.Path() + "/cert.pem")) {
    auto values = ByName();
    values.tls_verify = test.verify;
    values.ca_file = test.ca_file;
    websocket::EndpointTimings no_retry;
    no_retry.first_retry = 60s;
    auto endpoint = MakeEndpointWith(values, no_retry);
    const std::size_t failures_before = CountOf(log_.Text(), "Connection failed : ");
    ASSERT_TRUE(endpoint->Start()) << test.name;
    if (test.accepted) {
      EXPECT_TRUE(WaitUntil([&] { return endpoint->Connected(); })) << test.name;
    } else {
      EXPECT_TRUE(WaitUntil([&] { return CountOf(log_.Text(), "Connection failed : ") > failures_before; }))
          << test.name;
      EXPECT_FALSE(endpoint->Connected()) << test.name;
    }
  }
}

// Idle (before Start, and after Stop) the endpoint's threads sleep: no parser poll, no
// watchdog tick.
TEST_F(EndpointTest, IdleEndpointDoesNotWakeUp) {
  const auto before = testing_support::ProcessThreads();
  auto endpoint = MakeEndpoint();
  const auto threads = testing_support::ThreadsSince(before);
  ASSERT_GE(threads.size(), 2u);
  const auto quiet_for = [&](std::chrono::milliseconds window) {
    std::this_thread::sleep_for(200ms);  // let the threads reach their waits
    const long sleeps = testing_support::Sleeps(threads);
    std::this_thread::sleep_for(window);  // the observation window
    return testing_support::Sleeps(threads) - sleeps;
  };
  EXPECT_LE(quiet_for(1500ms), 1) << "before Start";

  ASSERT_TRUE(endpoint->Start());
  ASSERT_TRUE(WaitUntil([&] { return endpoint->Connected() && !Received(0).empty(); }));
  endpoint->Stop();
  ASSERT_TRUE(WaitUntil([&] { return !Open(0); }));
  EXPECT_LE(quiet_for(1500ms), 1) << "after Stop";
}
