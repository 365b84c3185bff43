// The application's message table, with doubles for every component and no bus: calls
// that need the bus fail quietly, as on a router whose bus is down.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/app_state_machine.h"
#include "app_doubles.h"
#include "common/singleton.h"
#include "mailbox/message_id.h"
#include "nvram/nvram.h"
#include "support/wait.h"
#include "ui/led_state_machine.h"
#include "websocket/channel_component.h"

using namespace std::chrono_literals;
using app_doubles::Journal;
using testing_support::WaitUntil;
using Strings = std::vector<std::string>;

namespace {

const std::string kNoBus = "/nonexistent/quellaron-test/ubus.sock";

class WebsocketDouble : public ChannelComponent {
 public:
  explicit WebsocketDouble(std::shared_ptr<Journal> journal) : journal_(std::move(journal)) {}
  bool Start() override {
    journal_->Record("websocket.Start");
    return true;
  }
  void Stop() override { journal_->Record("websocket.Stop"); }
  void AddSubscribe(const std::string& id) override { journal_->Record("websocket.AddSubscribe " + id); }
  void RemoveSubscribe(const std::string& id) override { journal_->Record("websocket.RemoveSubscribe " + id); }
  bool Connected() const override { return false; }
  void ObserveConnection(std::function<void(bool)>) override {}

 private:
  std::shared_ptr<Journal> journal_;
};

// Components that record into `journal`; Bluetooth starts when `starts`, the cloud
// authorisation answers `authorised`.
AppComponents DoubleComponents(const std::shared_ptr<Journal>& journal, bool starts, bool authorised) {
  AppComponents components;
  components.make_mesh = [=](auto /*poster*/) { return std::make_unique<app_doubles::MeshDouble>(journal, starts); };
  components.make_ble = [=](auto /*poster*/) { return std::make_unique<app_doubles::BleDouble>(journal, starts); };
  components.make_websocket = [=](auto /*poster*/) { return std::make_unique<WebsocketDouble>(journal); };
  components.make_plc_manager = [=](auto /*poster*/) { return std::make_unique<app_doubles::PlcDouble>(journal); };
  components.authenticate = [=](const std::string& id, std::function<void(bool)> done) {
    journal->Record("authenticate " + id);
    done(authorised);
  };
  components.start_firmware_timers = [=] { journal->Record("ota.StartTimers"); };
  components.observe_deliveries = [=](std::function<void(bool)> observer) {
    journal->observe_deliveries = std::move(observer);
  };
  return components;
}

// An application wired to doubles, with no bus.
struct TestGateway {
  explicit TestGateway(bool authorised = true, AppPlatform platform = AppPlatform{}) {
    Singleton<NVRAM>::Install(std::make_unique<NVRAM>(kNoBus));
    platform.ubus_socket = kNoBus;
    platform.mesh_switch_wait = 200ms;
    platform.hci = std::make_shared<app_doubles::FakeHci>(
        std::deque<HciController::Reading>{{HciController::Status::ok, 1}});
    app = std::make_shared<app_doubles::SpyApp>(platform, DoubleComponents(journal, true, authorised));
    app->Init();
    journal->Clear();
    app->ClearPosted();
  }
  ~TestGateway() { Singleton<NVRAM>::Destroy(); }

  // Handles one message as the dispatcher would.
  void Handle(std::uint32_t id, std::shared_ptr<void> data = nullptr) {
    app->Post({nullptr, app.get(), id, std::move(data)});
    app->DispatchMessages();
  }

  std::shared_ptr<Journal> journal = std::make_shared<Journal>();
  std::shared_ptr<app_doubles::SpyApp> app;
};

std::shared_ptr<void> Json(const char* text) { return mailbox::MakePayload(nlohmann::json::parse(text)); }

}  // namespace

TEST(AppMessages, TableOfMessagesToComponentCalls) {
  using namespace mailbox;
  const struct {
    const char* name;
    std::uint32_t id;
    std::shared_ptr<void> data;
    Strings calls;
    std::vector<std::uint32_t> posted;
  } cases[] = {
      {"server connected starts the websocket", SYS_EVT_SERVER_CONNECTED, nullptr, {"websocket.Start"}, {}},
      {"subscribe", APP_EVT_WEBSOCKET_SUBSCRIBE, MakePayload(std::string("001a2b3c4d5e")),
       {"websocket.AddSubscribe 001a2b3c4d5e"}, {}},
      {"folds to mesh then PLCs", APP_EVT_WEBSOCKET_EVT_FOLDS, Json(R"({"device_id":"n1","folds":[10,20]})"),
       {"mesh.UpdateFolds n1 [10,20]", "plc.UpdateFolds n1 [10,20]"}, {}},
      {"missing folds are null", APP_EVT_WEBSOCKET_EVT_FOLDS, Json(R"({"device_id":"n1"})"),
       {"mesh.UpdateFolds n1 null", "plc.UpdateFolds n1 null"}, {}},
      {"folds without a text id end the message", APP_EVT_WEBSOCKET_EVT_FOLDS, Json(R"({"device_id":7,"folds":1})"),
       {}, {}},
      {"beacon", APP_EVT_WEBSOCKET_EVT_BEACON, Json(R"({"device_id":"n2","beacon":true})"),
       {"mesh.UpdateBeacon n2 true"}, {}},
      {"beacon that is not a bool", APP_EVT_WEBSOCKET_EVT_BEACON, Json(R"({"device_id":"n2","beacon":"on"})"), {}, {}},
      {"folds without payload", APP_EVT_WEBSOCKET_EVT_FOLDS, nullptr, {}, {}},
      {"authorisation, then the server-connected message it posts", APP_EVT_OAUTH_REQUEST, nullptr,
       {"authenticate ", "websocket.Start"}, {SYS_EVT_SERVER_CONNECTED}},
      {"unknown id", 0x3333, nullptr, {}, {}},
      {"server disconnected", SYS_EVT_SERVER_DISCONNECTED, nullptr, {}, {}},
      {"indicator", SYS_EVT_INDICATOR, MakePayload(true), {}, {}},
      {"malfunction", SYS_EVT_BLUETOOTH_MALFUNCTION, nullptr, {}, {}},
      {"recovery", SYS_EVT_BLUETOOTH_RECOVERED, nullptr, {}, {}},
      {"a scan that cannot be made ends at once", APP_EVT_SCAN_WIRELESS_AP, nullptr, {"ble.WirelessScanFailed"}, {}},
      {"wifi set-up without a key stores nothing", APP_EVT_SET_WIRELESS_AP, Json(R"({"s":"ssid","e":"psk2"})"), {}, {}},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.name);
    TestGateway gateway;
    gateway.Handle(entry.id, entry.data);
    EXPECT_EQ(gateway.journal->Calls(), entry.calls);
    std::vector<std::uint32_t> expected_posts{entry.id};
    expected_posts.insert(expected_posts.end(), entry.posted.begin(), entry.posted.end());
    EXPECT_TRUE(WaitUntil([&] { return gateway.app->Posted().size() >= expected_posts.size(); }, 2s));
    EXPECT_EQ(gateway.app->Posted(), expected_posts);
  }
}

// BLE provisioning set up after a failed start: the LED leaves its error state for what the
// connectivity messages since have led to.
TEST(AppMessages, ARecoveryAfterTheMalfunctionGivesTheLedBack) {
  TestGateway gateway;
  gateway.Handle(mailbox::SYS_EVT_NETWORK_CONNECTED);
  gateway.Handle(mailbox::SYS_EVT_BLUETOOTH_MALFUNCTION);
  EXPECT_TRUE(LEDStateMachine::IsInState<SystemErrorPanic>());
  gateway.Handle(mailbox::SYS_EVT_SERVER_CONNECTED);
  EXPECT_TRUE(LEDStateMachine::IsInState<SystemErrorPanic>());
  gateway.Handle(mailbox::SYS_EVT_BLUETOOTH_RECOVERED);
  EXPECT_TRUE(LEDStateMachine::IsInState<Normal>());
}

// Deliveries that fail with the channel closed turn the LED to "server not connected" after
// the grace; the next delivery turns it back and starts the channel again.
TEST(AppMessages, TheLedFollowsTheCloudThroughAnOutage) {
  AppPlatform platform;
  platform.cloud_grace = 100ms;
  TestGateway gateway(true, platform);
  gateway.Handle(mailbox::SYS_EVT_NETWORK_CONNECTED);
  gateway.Handle(mailbox::SYS_EVT_SERVER_CONNECTED);
  ASSERT_TRUE(LEDStateMachine::IsInState<Normal>());
  gateway.app->ClearPosted();
  gateway.journal->Clear();

  gateway.journal->observe_deliveries(false);
  ASSERT_TRUE(WaitUntil([&] { return !gateway.app->Posted().empty(); }, 5s));
  EXPECT_EQ(gateway.app->Posted(), std::vector<std::uint32_t>{mailbox::SYS_EVT_SERVER_DISCONNECTED});
  gateway.app->DispatchMessages();
  EXPECT_TRUE(LEDStateMachine::IsInState<ServerNotConnected>());

  gateway.journal->observe_deliveries(true);
  gateway.app->DispatchMessages();
  EXPECT_TRUE(LEDStateMachine::IsInState<Normal>());
  EXPECT_EQ(gateway.journal->Calls(), std::vector<std::string>{"websocket.Start"});
}

TEST(AppMessages, FailedAuthorisationPostsNothing) {
  TestGateway gateway(false);
  gateway.Handle(mailbox::APP_EVT_OAUTH_REQUEST);
  EXPECT_EQ(gateway.app->Posted(), (std::vector<std::uint32_t>{mailbox::APP_EVT_OAUTH_REQUEST}));
}

TEST(AppMessages, NetworkMessagesDriveTheStateMachine) {
  TestGateway gateway;
  EXPECT_TRUE(AppStateMachine::IsInState<AppInit>());
  gateway.Handle(mailbox::SYS_EVT_NETWORK_DISCONNECTED);
  EXPECT_TRUE(AppStateMachine::IsInState<AppInit>());
  gateway.Handle(mailbox::SYS_EVT_NETWORK_CONNECTED);
  EXPECT_TRUE(AppStateMachine::IsInState<AppOAuthRequest>());
}

TEST(AppMessages, ShutdownLeavesTheMeshAndStopsTheWebsocket) {
  TestGateway gateway;
  gateway.app->Shutdown();
  EXPECT_EQ(gateway.journal->Calls(), (Strings{"mesh.Deinitialize", "websocket.Stop"}));
}

TEST(AppMessages, StartMeshRestartsBluetoothdThenInitialisesTheMeshAfterTheWait) {
  const auto script = std::filesystem::temp_directory_path() / ("bluetoothd-" + std::to_string(::getpid()));
  {
    std::ofstream out(script);
    out << "#!/bin/sh\nprintf '%s|' \"$@\" > \"$0.args\"\necho restarted \"$@\"\n";
  }
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  const auto arguments = script.string() + ".args";
  AppPlatform platform;
  platform.bluetoothd_restart = {script.string(), "restart"};
  TestGateway gateway(true, platform);

  const auto before = std::chrono::steady_clock::now();
  gateway.Handle(mailbox::APP_EVT_START_MESH);
  EXPECT_GE(std::chrono::steady_clock::now() - before, 200ms);
  EXPECT_EQ(gateway.journal->Calls(), (Strings{"ble.Deinitialize", "mesh.Initialize"}));
  EXPECT_TRUE(Singleton<NVRAM>::Instance().MeshEnable());
  std::ifstream received(arguments);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(received), {}), "restart|") << "the script's arguments";
  std::filesystem::remove(script);
  std::filesystem::remove(arguments);
}

TEST(AppMessages, StartupInitialisesBleOrMeshAndReportsAFailure) {
  for (const bool starts : {true, false}) {
    Singleton<NVRAM>::Install(std::make_unique<NVRAM>(kNoBus));
    auto journal = std::make_shared<Journal>();
    AppPlatform platform;
    platform.ubus_socket = kNoBus;
    const auto app = std::make_shared<app_doubles::SpyApp>(platform, DoubleComponents(journal, starts, true));
    app->Init();
    EXPECT_EQ(journal->Calls(), (Strings{"ble.Initialize", "ota.StartTimers"}));
    const auto expected = starts ? std::vector<std::uint32_t>{}
                                 : std::vector<std::uint32_t>{mailbox::SYS_EVT_BLUETOOTH_MALFUNCTION};
    EXPECT_EQ(app->Posted(), expected);
    Singleton<NVRAM>::Destroy();
  }
}
