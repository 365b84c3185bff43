// WAN and button supervision against the project's bus broker and platform objects:
// events sent on the bus, the WAN status, the Wi-Fi set-up through "uci" and its timer.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "app_doubles.h"
#include "common/singleton.h"
#include "ipc/bus_fixture.h"
#include "ipc/ubus.h"
#include "ipc/ubus_listener.h"
#include "mailbox/message_id.h"
#include "nvram/nvram.h"
#include "support/sandbox.h"
#include "support/wait.h"
#include "ui/led.h"
#include "ui/led_state_machine.h"
#include "ui/recording_led_lines.h"
#include "websocket/endpoint.h"

using namespace std::chrono_literals;
using namespace mailbox;
using app_doubles::Journal;
using testing_support::WaitUntil;
using Ids = std::vector<std::uint32_t>;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Components that record into the journal; the websocket is never started here.
AppComponents RecordingComponents(const std::shared_ptr<Journal>& journal) {
  AppComponents components;
  components.make_mesh = [=](auto /*poster*/) { return std::make_unique<app_doubles::MeshDouble>(journal, true); };
  components.make_ble = [=](auto /*poster*/) { return std::make_unique<app_doubles::BleDouble>(journal, true); };
  components.make_websocket = [](auto poster) {
    return std::make_unique<websocket::Endpoint>(app_doubles::Unowned(poster), Singleton<NVRAM>::Instance());
  };
  components.make_plc_manager = [=](auto /*poster*/) { return std::make_unique<app_doubles::PlcDouble>(journal); };
  components.authenticate = [](const std::string&, std::function<void(bool)>) {};
  components.start_firmware_timers = [] {};
  components.cloud_facts = [] {
    status::CloudFacts facts;
    facts.authorised = true;
    facts.pending = 3;
    return facts;
  };
  return components;
}

// A broker with the platform objects (configuration files from the sandbox's defaults)
// and an initialised application wired to component doubles.
class AppOnTheBus : public ::testing::Test {
 protected:
  void StartGateway(const std::string& scenario = R"({"wireless":{"brings_wan_up":false}})",
                    std::chrono::milliseconds setup_timeout = 20s) {
    config_ = ipc_test::MakeTempDirectory("quellaron-config");
    fs::copy(testing_support::SourcePath("sim/sandbox/rootfs/etc/config"), config_);
    const auto scenario_file = fs::path(config_).parent_path() / ("scenario-" + std::to_string(::getpid()) + ".json");
    std::ofstream(scenario_file) << scenario;
    platform_ = std::make_unique<testing_support::Subprocess>(std::vector<std::string>{
        testing_support::BuildPath("sim/platform/platformd"), "-s", broker_.Socket(), "-c", config_, "-S",
        scenario_file.string()});
    ASSERT_TRUE(WaitUntil([&] { return ipc::UBUS(5, broker_.Socket()).Call("uci", "configs", "", nullptr); }))
        << platform_->Output();

    Singleton<NVRAM>::Install(std::make_unique<NVRAM>(broker_.Socket()));
    Singleton<NVRAM>::Instance().Init();
    Singleton<ui::LED>::Install(std::make_unique<ui::LED>(std::make_unique<ui_test::RecordingLedLines>(), 0.01));
    AppPlatform platform;
    platform.ubus_socket = broker_.Socket();
    platform.network_setup_timeout = setup_timeout;
    platform.hci = std::make_shared<app_doubles::FakeHci>(
        std::deque<HciController::Reading>{{HciController::Status::socket_failed, 0}});
    app_ = std::make_shared<app_doubles::SpyApp>(platform, RecordingComponents(journal_));
    app_->Init();
  }
  void TearDown() override {
    app_.reset();
    Singleton<NVRAM>::Destroy();
  }

  bool Send(const char* type, const std::string& json) { return ipc::UBUS(5, broker_.Socket()).Event(type, json); }
  bool PostedExactly(const Ids& ids) {
    return WaitUntil([&] { return app_->Posted() == ids; }, 10s);
  }

  ipc_test::LogCapture log_;
  ipc_test::BrokerProcess broker_;
  std::string config_;
  std::unique_ptr<testing_support::Subprocess> platform_;
  std::shared_ptr<Journal> journal_ = std::make_shared<Journal>();
  std::shared_ptr<app_doubles::SpyApp> app_;
};

}  // namespace

TEST_F(AppOnTheBus, StartupQueriesTheWanAndPostsItsState) {
  StartGateway();
  EXPECT_TRUE(PostedExactly({SYS_EVT_NETWORK_CONNECTED, APP_EVT_OAUTH_REQUEST}));
  EXPECT_EQ(journal_->Calls(), (Strings{"ble.Initialize"}));
  EXPECT_TRUE(log_.Contains("DEBUG [")) << log_.Text();
  EXPECT_TRUE(log_.Contains("Interface UP"));
  EXPECT_EQ(GetIPAddress(broker_.Socket()), "192.168.1.23");
}

TEST_F(AppOnTheBus, WanDownPostsOnlyDisconnected) {
  StartGateway(R"({"wan":{"up":false}})");
  EXPECT_TRUE(PostedExactly({SYS_EVT_NETWORK_DISCONNECTED}));
  app_->ClearPosted();
  app_->CheckNetworkStatus();
  EXPECT_EQ(app_->Posted(), (Ids{SYS_EVT_NETWORK_DISCONNECTED}));
  EXPECT_TRUE(log_.Contains("Interface DOWN"));
  EXPECT_EQ(GetIPAddress(broker_.Socket()), "");
}

TEST_F(AppOnTheBus, NetworkEventsForTheWanOnly) {
  StartGateway();
  ASSERT_TRUE(PostedExactly({SYS_EVT_NETWORK_CONNECTED, APP_EVT_OAUTH_REQUEST}));
  app_->ClearPosted();
  const struct {
    const char* data;
    Ids posted;
  } cases[] = {
      {R"({"interface":"lan","action":"ifup"})", {}},
      {R"({"interface":"wan"})", {}},
      {R"({"interface":"wan","action":"ifupdate"})", {}},
      {R"({"interface":"wan","action":"ifdown"})", {SYS_EVT_NETWORK_DISCONNECTED}},
      {R"({"interface":"wan","action":"ifup"})", {SYS_EVT_NETWORK_CONNECTED, APP_EVT_OAUTH_REQUEST}},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.data);
    ASSERT_TRUE(Send("network.interface", entry.data));
    // A marker event proves the one before it has been handled.
    ASSERT_TRUE(Send("network.interface", R"({"interface":"wan","action":"ifdown"})"));
    Ids expected = entry.posted;
    expected.push_back(SYS_EVT_NETWORK_DISCONNECTED);
    EXPECT_TRUE(PostedExactly(expected));
    app_->ClearPosted();
  }
  EXPECT_TRUE(journal_->Calls() == (Strings{"ble.Initialize"})) << "no set-up was pending";
}

TEST_F(AppOnTheBus, WifiSetupEndedByIfupReportsSuccessWithTheAddress) {
  StartGateway();
  app_->DispatchMessages();
  app_->ClearPosted();
  journal_->Clear();
  app_->Post({nullptr, app_.get(), APP_EVT_SET_WIRELESS_AP,
              MakePayload(nlohmann::json::parse(R"({"s":"Office","e":"psk2","k":"secret","o":1})"))});
  app_->DispatchMessages();
  const auto wireless = ReadFile(fs::path(config_) / "wireless");
  EXPECT_NE(wireless.find("option ssid 'Office'"), std::string::npos) << wireless;
  EXPECT_NE(wireless.find("option key 'secret'"), std::string::npos) << wireless;
  EXPECT_TRUE(log_.Contains("Setup Manual IP"));

  ASSERT_TRUE(Send("network.interface", R"({"interface":"wan","action":"ifup"})"));
  EXPECT_TRUE(PostedExactly(
      {APP_EVT_SET_WIRELESS_AP, SYS_EVT_NETWORK_CONNECTED, APP_EVT_OAUTH_REQUEST, APP_EVT_OAUTH_REQUEST}));
  EXPECT_TRUE(WaitUntil([&] { return journal_->Calls().size() == 1; }));
  EXPECT_EQ(journal_->Calls(), (Strings{"ble.PutWirelessConnectionEvent true 192.168.1.23"}));
  EXPECT_TRUE(log_.Contains("Network Setup Timer Canceled"));
}

TEST_F(AppOnTheBus, WifiSetupWithoutIfupReportsFailureAndStaysPending) {
  StartGateway(R"({"wireless":{"brings_wan_up":false}})", 500ms);
  app_->DispatchMessages();
  app_->ClearPosted();
  journal_->Clear();
  app_->Post({nullptr, app_.get(), APP_EVT_SET_WIRELESS_AP,
              MakePayload(nlohmann::json::parse(R"({"s":"Office","e":"psk2","k":"secret"})"))});
  app_->DispatchMessages();
  ASSERT_TRUE(WaitUntil([&] { return journal_->Calls().size() == 1; }));
  EXPECT_EQ(journal_->Calls(), (Strings{"ble.PutWirelessConnectionEvent false "}));
  EXPECT_TRUE(log_.Contains("Network Setup Timer Expired"));

  // The next ifup clears the pending set-up; its expired timer reports nothing more.
  ASSERT_TRUE(Send("network.interface", R"({"interface":"wan","action":"ifup"})"));
  EXPECT_TRUE(PostedExactly({APP_EVT_SET_WIRELESS_AP, SYS_EVT_NETWORK_CONNECTED, APP_EVT_OAUTH_REQUEST}));
  EXPECT_EQ(journal_->Calls().size(), 1u);
}

TEST_F(AppOnTheBus, WifiAppliedByThePlatformBringsTheWanUp) {
  StartGateway(R"({"wan":{"up":false},"wireless":{"brings_wan_up":true,"apply_delay_ms":200}})");
  app_->DispatchMessages();
  app_->Post({nullptr, app_.get(), APP_EVT_SET_WIRELESS_AP,
              MakePayload(nlohmann::json::parse(R"({"s":"Office","e":"psk2","k":"secret"})"))});
  app_->DispatchMessages();
  EXPECT_TRUE(WaitUntil([&] {
    const auto calls = journal_->Calls();
    return std::find(calls.begin(), calls.end(), "ble.PutWirelessConnectionEvent true 192.168.1.23") != calls.end();
  }));
}

TEST_F(AppOnTheBus, ScanResultsGoToBle) {
  StartGateway();
  journal_->Clear();
  app_->Post({nullptr, app_.get(), APP_EVT_SCAN_WIRELESS_AP, nullptr});
  app_->DispatchMessages();
  const auto calls = journal_->Calls();
  ASSERT_EQ(calls.size(), 1u);
  const std::string prefix = "ble.PutWirelessAPList ";
  ASSERT_EQ(calls[0].rfind(prefix, 0), 0u) << calls[0];
  const auto results = nlohmann::json::parse(calls[0].substr(prefix.size()));
  ASSERT_EQ(results.size(), 5u);
  EXPECT_EQ(results[0]["ssid"], "Office");
}

// BLE provisioning runs one scan at a time, so it hears how each ended, also without results.
TEST_F(AppOnTheBus, AScanWithoutResultsEndsTheScanForBle) {
  StartGateway(R"({"scan":{"wlan0":null}})");
  journal_->Clear();
  app_->Post({nullptr, app_.get(), APP_EVT_SCAN_WIRELESS_AP, nullptr});
  app_->DispatchMessages();
  EXPECT_EQ(journal_->Calls(), (Strings{"ble.WirelessScanFailed"}));
}

// Any button opens the provisioning window again; only the reset button reaches the LED.
TEST_F(AppOnTheBus, AnyButtonOpensTheProvisioningWindow) {
  StartGateway();
  app_->DispatchMessages();
  journal_->Clear();
  ASSERT_TRUE(Send("button", R"({"event":"wps"})"));
  ASSERT_TRUE(WaitUntil([&] { return journal_->Calls() == Strings{"ble.OpenProvisioningWindow"}; }));
  EXPECT_TRUE(LEDStateMachine::IsInState<ServerNotConnected>());
  ASSERT_TRUE(Send("button", R"({"action":"pressed"})"));  // no "event": not a button press
  ASSERT_TRUE(Send("button", R"({"event":"reset"})"));
  EXPECT_TRUE(WaitUntil([&] { return journal_->Calls().size() == 2; }));
  EXPECT_EQ(journal_->Calls(), (Strings{"ble.OpenProvisioningWindow", "ble.OpenProvisioningWindow"}));
}

TEST_F(AppOnTheBus, ButtonResetReachesTheLed) {
  StartGateway();
  app_->DispatchMessages();  // the WAN is up: the LED left BootUp, where the button is ignored
  ASSERT_TRUE(LEDStateMachine::IsInState<ServerNotConnected>());
  ASSERT_TRUE(Send("button", R"({"event":"wps"})"));
  ASSERT_TRUE(Send("button", R"({"event":"reset"})"));
  EXPECT_TRUE(WaitUntil([] { return LEDStateMachine::IsInState<SystemReset>(); }));
  EXPECT_TRUE(log_.Contains(R"({"event":"wps"})"));
}

TEST_F(AppOnTheBus, MeshdMalfunctionIsAnnouncedOnTheBus) {
  StartGateway();
  std::atomic<bool> heard{false};
  std::string data;
  ipc::UBUSListener listener(5, broker_.Socket());
  listener.RegisterEventHandler("quellaron", [&](const char* json) {
    data = json;
    heard = true;
  });
  listener.ServerStart();
  app_->Post({nullptr, app_.get(), SYS_EVT_MESHD_MALFUNCTION, nullptr});
  app_->DispatchMessages();
  ASSERT_TRUE(WaitUntil([&] { return heard.load(); }));
  EXPECT_EQ(data, R"({"meshd":true})");
}

TEST_F(AppOnTheBus, MalformedEventTextIsLoggedAndIgnored) {
  StartGateway();
  app_->DispatchMessages();
  app_->ClearPosted();
  app_->NetworkEventHandler("{\"interface\":");
  app_->ButtonEventHandler("not json");
  app_->NetworkEventHandler("[1,2]");
  EXPECT_TRUE(app_->Posted().empty());
  EXPECT_TRUE(log_.Contains("Malformed event data"));
}

// A second request while one waits replaces it: its timer is cancelled without a report, so
// the ifup ends the newest request with one success, and nothing reports failure later.
TEST_F(AppOnTheBus, ASecondWifiRequestReplacesThePendingOne) {
  StartGateway(R"({"wireless":{"brings_wan_up":false}})", 500ms);
  app_->DispatchMessages();
  journal_->Clear();
  for (const char* ssid : {"Office", "Workshop"}) {
    app_->Post({nullptr, app_.get(), APP_EVT_SET_WIRELESS_AP,
                MakePayload(nlohmann::json{{"s", ssid}, {"e", "psk2"}, {"k", "secret"}})});
  }
  app_->DispatchMessages();
  EXPECT_NE(ReadFile(fs::path(config_) / "wireless").find("option ssid 'Workshop'"), std::string::npos);
  ASSERT_TRUE(Send("network.interface", R"({"interface":"wan","action":"ifup"})"));
  ASSERT_TRUE(WaitUntil([&] { return !journal_->Calls().empty(); }));

  // Well past both set-up timers' expiry.
  std::atomic<bool> marker{false};
  app_->Timers().Add(1500ms, [&](bool) { marker = true; });
  ASSERT_TRUE(WaitUntil([&] { return marker.load(); }));
  EXPECT_EQ(journal_->Calls(), (Strings{"ble.PutWirelessConnectionEvent true 192.168.1.23"}));
  EXPECT_TRUE(log_.Contains("Network Setup Timer replaced by a newer request"));
}

// What cannot be stored as a setting (not a UTF-8 text) is refused at once: one error line,
// a failure reported over BLE, nothing stored and no timer armed.
TEST_F(AppOnTheBus, AWifiRequestThatCannotBeStoredFailsAtOnce) {
  StartGateway(R"({"wireless":{"brings_wan_up":false}})", 300ms);
  app_->DispatchMessages();
  const std::string stored = ReadFile(fs::path(config_) / "wireless");
  const struct {
    const char* name;
    nlohmann::json request;
  } cases[] = {
      {"SSID not UTF-8", {{"s", "Caf\xC3"}, {"e", "psk2"}, {"k", "secret"}}},
      {"key not UTF-8", {{"s", "Office"}, {"e", "psk2"}, {"k", "\xFF\xFEkey"}}},
      {"encryption not UTF-8", {{"s", "Office"}, {"e", "psk\xE2\x82"}, {"k", "secret"}}},
      {"SSID not a text", {{"s", 42}, {"e", "psk2"}, {"k", "secret"}}},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.name);
    journal_->Clear();
    app_->Post({nullptr, app_.get(), APP_EVT_SET_WIRELESS_AP, MakePayload(entry.request)});
    app_->DispatchMessages();
    EXPECT_EQ(journal_->Calls(), (Strings{"ble.PutWirelessConnectionEvent false "}));
  }
  EXPECT_TRUE(log_.Contains("Wi-Fi set-up refused")) << log_.Text();
  EXPECT_TRUE(log_.Contains("Caf\xEF\xBF\xBD")) << "the request is logged with a replacement character";
  EXPECT_EQ(ReadFile(fs::path(config_) / "wireless"), stored);

  std::atomic<bool> marker{false};
  app_->Timers().Add(800ms, [&](bool) { marker = true; });
  ASSERT_TRUE(WaitUntil([&] { return marker.load(); }));
  EXPECT_EQ(journal_->Calls().size(), 1u) << "no set-up timer was armed";
}

// The Wi-Fi key reaches UCI but never the log.
TEST_F(AppOnTheBus, TheWifiKeyIsNotLogged) {
  StartGateway();
  app_->DispatchMessages();
  app_->Post({nullptr, app_.get(), APP_EVT_SET_WIRELESS_AP,
              MakePayload(nlohmann::json{{"s", "Office"}, {"e", "psk2"}, {"k", "hunter2-longkey"}})});
  app_->DispatchMessages();
  EXPECT_NE(ReadFile(fs::path(config_) / "wireless").find("option key 'hunter2-longkey'"), std::string::npos);
  EXPECT_TRUE(log_.Contains(R"j("k":"*** (15 chars)")j")) << log_.Text();
  EXPECT_TRUE(log_.Contains(R"("s":"Office")"));
  EXPECT_FALSE(log_.Contains("hunter2")) << log_.Text();
}

// The operator's object answers from what the application knows: the WAN as the handled
// messages left it, the mode from the store, the cloud client's figures with the channel's
// state, and the components' (empty) lists.
TEST_F(AppOnTheBus, TheOperatorsObjectTellsWhatTheApplicationKnows) {
  StartGateway();
  ASSERT_TRUE(PostedExactly({SYS_EVT_NETWORK_CONNECTED, APP_EVT_OAUTH_REQUEST}));
  const auto call = [&](const std::string& method) {
    nlohmann::json document;
    EXPECT_TRUE(ipc::UBUS(5, broker_.Socket()).Call("quellaron", method, "", [&](const char* json) {
      document = nlohmann::json::parse(json);
    }));
    return document;
  };
  nlohmann::json status = call("status");
  EXPECT_EQ(status.at("wan").at("up"), false) << "the connected message is not handled yet";
  EXPECT_EQ(status.at("mode"), "provisioning");
  EXPECT_EQ(status.at("cloud").at("authorised"), true);
  EXPECT_EQ(status.at("cloud").at("reports").at("pending"), 3);
  EXPECT_EQ(status.at("cloud").at("websocket"), "closed");
  EXPECT_EQ(status.at("plcs"), (nlohmann::json{{"configured", 0}, {"answering", 0}}));
  EXPECT_EQ(status.at("mesh").at("nodes"), 0);

  app_->DispatchMessages();
  EXPECT_EQ(call("status").at("wan").at("up"), true);
  EXPECT_EQ(call("nodes"), (nlohmann::json{{"nodes", nlohmann::json::array()}}));
  EXPECT_EQ(call("plcs"), (nlohmann::json{{"plcs", nlohmann::json::array()}}));
  EXPECT_TRUE(call("firmware").at("sessions").empty());
}
