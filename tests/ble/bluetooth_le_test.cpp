// The BLE provisioning component on a private D-Bus against the stand-in bluetoothd and its
// simulated phone: what is published, the replies as notifications and their pace, the
// switch to the mesh after "S", garbage and floods from the phone, the withdrawal, a
// bluetoothd that comes late or restarts, and the provisioning window.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "ble/bluetooth_le.h"
#include "ble/provisioning_messages.h"
#include "ble_test_support.h"
#include "bluetoothd/bluetoothd.h"
#include "ipc/bus_fixture.h"
#include "mailbox/message_id.h"
#include "support/private_dbus.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::WaitUntil;
using Ids = std::vector<std::uint32_t>;

namespace {

json Decode(const sim::bluetoothd::Notification& notification) { return json::from_cbor(notification.value); }

// A scan's results: `count` open networks, each with its index as quality.
json OpenNetworks(int count) {
  json results = json::array();
  for (int index = 0; index < count; ++index) {
    results.push_back({{"ssid", "net" + std::to_string(index)}, {"bssid", "00:00:00:00:00:00"}, {"quality", index},
                       {"encryption", {{"enabled", false}}}});
  }
  return results;
}

class BleOnTheBus : public ::testing::Test {
 protected:
  void SetUp() override { Start(Platform()); }
  BlePlatform Platform() const {
    BlePlatform platform;
    platform.bus_address = bus_.Address();
    platform.hci = hci_;
    return platform;
  }
  void Start(const BlePlatform& platform) {
    ble_ = std::make_unique<BluetoothLE>(poster_, store_.Store(), platform);
    ASSERT_TRUE(ble_->Initialize());
    ASSERT_TRUE(bluetoothd_.Adapter().WaitForRegistrations(10s)) << bluetoothd_.Adapter().Status().dump();
  }
  void TearDown() override { ble_.reset(); }

  sim::bluetoothd::SimulatedPhone& Phone() { return bluetoothd_.Phone(); }
  void ConnectPhone() {
    Phone().Connect();
    Phone().Subscribe();
  }
  void Write(const json& request) { Phone().Write(json::to_cbor(request)); }
  json NextReply(std::chrono::milliseconds timeout = 5s) {
    const auto next = Phone().NextNotification(timeout);
    return next ? Decode(*next) : json("<none>");
  }

  ipc_test::LogCapture log_;
  testing_support::PrivateDBus bus_;
  ble_test::MemoryStore store_;
  std::shared_ptr<ble_test::ScriptedHci> hci_ =
      std::make_shared<ble_test::ScriptedHci>(std::deque<HciController::VendorAnswer>{{}});
  sim::bluetoothd::Bluetoothd bluetoothd_{bus_.Address()};
  std::shared_ptr<ble_test::RecordingPoster> poster_ = std::make_shared<ble_test::RecordingPoster>();
  std::unique_ptr<BluetoothLE> ble_;
};

}  // namespace

TEST_F(BleOnTheBus, PublishesTheServiceAndTheAdvertisement) {
  const auto status = bluetoothd_.Adapter().Status();
  EXPECT_EQ(status["powered"], true);
  EXPECT_EQ(status["discoverable"], false);
  EXPECT_EQ(status["pairable"], false);
  EXPECT_EQ(status["refusals"], json::array());
  const auto& application = status["application"];
  EXPECT_EQ(application["path"], "/com/quellaron/le");
  EXPECT_EQ(application["service"], "/com/quellaron/le/service");
  EXPECT_EQ(application["service_uuid"], "050aa155-6040-457c-b2d3-888bb5f5d49a");
  EXPECT_EQ(application["characteristics"], json::parse(R"({
    "d9c30001-9c01-5f71-7565-6c6c61726f6e":{"path":"/com/quellaron/le/service/char1","flags":["notify"]},
    "d9c30002-9c01-5f71-7565-6c6c61726f6e":{"path":"/com/quellaron/le/service/char2","flags":["write-without-response"]}})"));
  EXPECT_EQ(status["advertisement"], json::parse(R"({"path":"/com/quellaron/adv","properties":{
    "Type":"peripheral","LocalName":"R907_0a1b2c3d4e5f","ServiceUUIDs":["050aa155-6040-457c-b2d3-888bb5f5d49a"],
    "Discoverable":true,"DiscoverableTimeout":0,"MinInterval":20,"MaxInterval":100,"TxPower":4}})"));
  // With the first-boot flag clear the controller is not asked.
  EXPECT_EQ(hci_->Commands(), 0);
}

TEST_F(BleOnTheBus, ProvisioningSessionOverNotifications) {
  ConnectPhone();
  Write({{"C", "I"}});
  const auto identity = Phone().NextNotification(5s);
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->value, nlohmann::json::to_cbor(json::parse(
                                 R"({"R":"I","d":"MGExYjJjM2Q0ZTVm","s":"MGExYjJjM2Q0ZTVmMDAwMQ=="})")));

  Write({{"C", "WS"}});
  EXPECT_EQ(NextReply(), ble::ReplyWS());
  ASSERT_TRUE(WaitUntil([&] { return poster_->Ids() == Ids{mailbox::APP_EVT_SCAN_WIRELESS_AP}; }));
  ble_->PutWirelessAPList(json::parse(R"([
    {"ssid":"Office","bssid":"D8:0D:17:2B:4C:10","quality":62,"encryption":{"enabled":true,"wpa":[2],"authentication":["psk"],"ciphers":["ccmp"]}},
    {"ssid":"CorpWLAN","bssid":"70:3A:0E:41:22:80","quality":55,"encryption":{"enabled":true,"wpa":[2],"authentication":["802.1x"],"ciphers":["ccmp"]}}])"));
  EXPECT_EQ(NextReply(), json::parse(R"({"R":"WL","P":{"b":"D8:0D:17:2B:4C:10","s":"Office","q":62,"e":"psk2+ccmp"}})"));
  EXPECT_EQ(NextReply(), ble::ReplyWLE());

  Write({{"C", "WP"}, {"P", {{"s", "Office"}, {"e", "psk2+ccmp"}, {"k", "s3cret"}}}});
  EXPECT_EQ(NextReply(), ble::ReplyWP());
  ASSERT_TRUE(WaitUntil([&] { return poster_->Ids().size() == 2; }));
  EXPECT_EQ(mailbox::PayloadAs<json>(poster_->Messages()[1]), json::parse(R"({"s":"Office","e":"psk2+ccmp","k":"s3cret"})"));
  ble_->PutWirelessConnectionEvent(true, "192.168.1.23");
  EXPECT_EQ(NextReply(), ble::ReplyWCS());

  Write({{"C", "M"}, {"n", "AAECAwQFBgcICQoLDA0ODw=="}, {"a", "EBESExQVFhcYGRobHB0eHw=="}, {"u", 1}, {"g", 0xCA00}});
  EXPECT_EQ(NextReply(), ble::ReplyM());
  EXPECT_EQ(store_.Store().NetAddr(), 1);
}

TEST_F(BleOnTheBus, TwentyRepliesLeaveOneEveryHalfSecondInOrder) {
  ConnectPhone();
  ble_->PutWirelessAPList(OpenNetworks(19));
  std::vector<sim::bluetoothd::Notification> received;
  for (int index = 0; index < 20; ++index) {
    const auto next = Phone().NextNotification(5s);
    ASSERT_TRUE(next) << index;
    received.push_back(*next);
  }
  for (int index = 0; index < 19; ++index) EXPECT_EQ(Decode(received[index])["P"]["q"], index);
  EXPECT_EQ(Decode(received[19]), ble::ReplyWLE());
  for (std::size_t index = 1; index < received.size(); ++index) {
    EXPECT_GE(received[index].at - received[index - 1].at, 400ms) << index;
  }
  EXPECT_GE(received.back().at - received.front().at, 19 * 480ms);
}

TEST_F(BleOnTheBus, StartThenDisconnectSwitchesToTheMeshTwoSecondsLater) {
  ble_test::StoreMeshKeys(store_.Store());
  ConnectPhone();
  Write({{"C", "S"}});
  EXPECT_EQ(NextReply(), ble::ReplyS());
  const auto left = std::chrono::steady_clock::now();
  Phone().Disconnect();
  ASSERT_TRUE(WaitUntil([&] { return !poster_->Ids().empty(); }, 10s));
  const auto waited = std::chrono::steady_clock::now() - left;
  EXPECT_GE(waited, 1900ms);
  EXPECT_LT(waited, 5s);
  EXPECT_EQ(poster_->Ids(), (Ids{mailbox::APP_EVT_START_MESH}));
}

TEST_F(BleOnTheBus, PhoneThatLeavesWithoutStartChangesNothing) {
  ConnectPhone();
  Write({{"C", "I"}});
  EXPECT_TRUE(Phone().NextNotification(5s));
  Phone().Disconnect();
  // Another phone comes and is served.
  ConnectPhone();
  Write({{"C", "WS"}});
  EXPECT_EQ(NextReply(), ble::ReplyWS());
  EXPECT_EQ(poster_->Ids(), (Ids{mailbox::APP_EVT_SCAN_WIRELESS_AP}));
}

TEST_F(BleOnTheBus, GarbageFromThePhoneIsDropped) {
  ConnectPhone();
  for (const auto& value : std::vector<std::vector<std::uint8_t>>{
           {}, {0xFF}, {0xA1, 0x61, 'C'}, {0x82, 0x01, 0x02}, json::to_cbor(json{{"C", 5}}), json::to_cbor(json{{"C", "Z"}})}) {
    Phone().Write(value);
  }
  Write({{"C", "I"}});
  EXPECT_EQ(NextReply()["R"], "I");
  EXPECT_FALSE(Phone().NextNotification(700ms));
}

TEST_F(BleOnTheBus, RepliesWithoutSubscriberAreStillSent) {
  Phone().Connect();  // not subscribed: bluetoothd drops the notifications
  Write({{"C", "I"}});
  // char1's value changes all the same.
  auto connection = sdbus::createSessionBusConnectionWithAddress(bus_.Address());
  auto char1 = sdbus::createProxy(*connection, bluetoothd_.Adapter().RegisteredApplication()->owner,
                                  "/com/quellaron/le/service/char1");
  const auto value = [&] {
    std::vector<std::uint8_t> bytes;
    char1->callMethod("ReadValue").onInterface("org.bluez.GattCharacteristic1")
        .withArguments(std::map<std::string, sdbus::Variant>{}).storeResultsTo(bytes);
    return bytes;
  };
  EXPECT_TRUE(WaitUntil([&] { return !value().empty() && json::from_cbor(value())["R"] == "I"; }));
  // The value is set before its change is signalled: wait until the phone has seen it go by.
  EXPECT_TRUE(WaitUntil([&] { return Phone().Unheard() == 1; }));
  EXPECT_TRUE(Phone().Received().empty());
  Phone().Subscribe();
  Write({{"C", "WS"}});
  EXPECT_EQ(NextReply(), ble::ReplyWS());
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// A phone that floods the gateway gets no more than its pace: one scan is posted for a
// thousand "WS", garbage is dropped in a few lines, and a reply due meanwhile (the Wi-Fi
// outcome) reaches the phone within seconds instead of behind a thousand others.
TEST_F(BleOnTheBus, AFloodOfRequestsIsDroppedAndRepliesStayTimely) {
  ConnectPhone();
  const auto flood_started = std::chrono::steady_clock::now();
  for (int index = 0; index < 1000; ++index) Write({{"C", "WS"}});
  for (int index = 0; index < 1000; ++index) Phone().Write({0xA1, 0x61, 'C'});
  const auto flood_seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - flood_started).count();
  EXPECT_EQ(poster_->Ids(), (Ids{mailbox::APP_EVT_SCAN_WIRELESS_AP})) << "one scan in flight";

  ble_->PutWirelessConnectionEvent(true, "192.168.1.23");
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  std::size_t replies = 0;
  json reply;
  while (reply != ble::ReplyWCS() && std::chrono::steady_clock::now() < deadline) {
    reply = NextReply(1s);
    if (reply != json("<none>")) ++replies;
  }
  EXPECT_EQ(reply, ble::ReplyWCS());
  // The "WS" taken: a burst of 8, then at most two a second; and "WCS".
  EXPECT_LE(replies, static_cast<std::size_t>(9 + 2 * (flood_seconds + 1)));
  const auto lines = Occurrences(log_.Text(), "request(s) from the phone dropped");
  EXPECT_GE(lines, 1u);
  EXPECT_LE(lines, static_cast<std::size_t>(flood_seconds) + 2) << "at most one line a second";
}

TEST_F(BleOnTheBus, DeinitializeWithdrawsEverything) {
  ble_->Deinitialize();
  EXPECT_FALSE(bluetoothd_.Adapter().RegisteredApplication());
  EXPECT_FALSE(bluetoothd_.Adapter().RegisteredAdvertisement());
  // Replies queued now go nowhere, and nothing breaks.
  ble_->PutWirelessConnectionEvent(false, "");
  ble_->Deinitialize();
}

namespace {

// Room for five replies waiting for the phone.
class BleWithFewReplies : public BleOnTheBus {
 protected:
  void SetUp() override {
    BlePlatform platform = Platform();
    platform.reply_capacity = 5;
    Start(platform);
  }
};

}  // namespace

// Beyond the queue's capacity the oldest replies are dropped, each with a line: the phone
// gets the end of a long list.
TEST_F(BleWithFewReplies, TheOldestRepliesAreDroppedBeyondTheCapacity) {
  ConnectPhone();
  ble_->PutWirelessAPList(OpenNetworks(12));
  std::vector<json> received;
  for (json reply = NextReply(); reply != json("<none>"); reply = NextReply(1500ms)) received.push_back(reply);
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.back(), ble::ReplyWLE());
  EXPECT_LE(received.size(), 7u) << "at most the one being sent and the five that had room";
  EXPECT_EQ(received[received.size() - 2]["P"]["q"], 11);
  EXPECT_EQ(Occurrences(log_.Text(), "Reply queue full (5): the oldest reply dropped"), 13 - received.size());
}

namespace {

// The component started before bluetoothd: set-up is tried again with growing pauses until
// bluetoothd's name appears, and at once when it does.
class BleBeforeBluetoothd : public ::testing::Test {
 protected:
  void SetUp() override {
    BlePlatform platform;
    platform.bus_address = bus_.Address();
    platform.set_up_retry_first = 100ms;
    platform.set_up_retry_longest = 60s;
    ble_ = std::make_unique<BluetoothLE>(poster_, store_.Store(), platform);
  }
  void TearDown() override { ble_.reset(); }
  std::size_t Recoveries() const {
    const auto ids = poster_->Ids();
    return static_cast<std::size_t>(std::count(ids.begin(), ids.end(), mailbox::SYS_EVT_BLUETOOTH_RECOVERED));
  }

  ipc_test::LogCapture log_;
  testing_support::PrivateDBus bus_;
  ble_test::MemoryStore store_;
  std::shared_ptr<ble_test::RecordingPoster> poster_ = std::make_shared<ble_test::RecordingPoster>();
  std::unique_ptr<BluetoothLE> ble_;
  std::optional<sim::bluetoothd::Bluetoothd> bluetoothd_;
};

}  // namespace

TEST_F(BleBeforeBluetoothd, IsSetUpAsSoonAsBluetoothdAppearsAndAgainAfterItRestarts) {
  EXPECT_FALSE(ble_->Initialize());
  EXPECT_TRUE(log_.Contains("Bluetooth LE set-up failed: org.freedesktop.DBus.Error.ServiceUnknown"));
  // The pauses double; the pending one is long by now.
  ASSERT_TRUE(WaitUntil([&] { return log_.Contains("next attempt in 6400 ms"); }, 20s)) << log_.Text();
  std::size_t at = 0;
  for (const char* pause : {"in 100 ms", "in 200 ms", "in 400 ms", "in 800 ms", "in 1600 ms", "in 3200 ms"}) {
    at = log_.Text().find(pause, at);
    EXPECT_NE(at, std::string::npos) << pause;
  }
  EXPECT_EQ(Recoveries(), 0u);

  bluetoothd_.emplace(bus_.Address());
  EXPECT_TRUE(bluetoothd_->Adapter().WaitForRegistrations(3s)) << "well before the pending pause ends";
  EXPECT_TRUE(WaitUntil([&] { return Recoveries() == 1; }));
  bluetoothd_->Phone().Connect();
  bluetoothd_->Phone().Subscribe();
  bluetoothd_->Phone().Write(json::to_cbor(json{{"C", "I"}}));
  const auto identity = bluetoothd_->Phone().NextNotification(5s);
  ASSERT_TRUE(identity);
  EXPECT_EQ(json::from_cbor(identity->value)["R"], "I");

  // bluetoothd restarts: it forgot the registrations, and they are made again.
  bluetoothd_.reset();
  ASSERT_TRUE(WaitUntil([&] { return log_.Contains("bluetoothd left the bus"); }));
  bluetoothd_.emplace(bus_.Address());
  EXPECT_TRUE(bluetoothd_->Adapter().WaitForRegistrations(10s)) << log_.Text();

  // Withdrawn for the mesh: bluetoothd restarting now changes nothing.
  ble_->Deinitialize();
  bluetoothd_.reset();
  bluetoothd_.emplace(bus_.Address());
  EXPECT_FALSE(bluetoothd_->Adapter().WaitForRegistrations(1s));
}

namespace {

// A provisioning window of one "minute" of 3 s.
class BleProvisioningWindow : public BleOnTheBus {
 protected:
  void SetUp() override {
    store_.Store().ProvisioningWindow(1);
    BlePlatform platform = Platform();
    platform.window_minute = 3s;
    Start(platform);
  }
  bool Advertising() { return bluetoothd_.Adapter().RegisteredAdvertisement().has_value(); }
};

}  // namespace

TEST_F(BleProvisioningWindow, ClosesAfterItsLengthAndOpensAgainOnTheButton) {
  EXPECT_TRUE(log_.Contains("Provisioning window open for 1 min"));
  ConnectPhone();
  Write({{"C", "I"}});
  EXPECT_EQ(NextReply()["R"], "I");

  ASSERT_TRUE(WaitUntil([&] { return !Advertising(); }, 10s));
  EXPECT_EQ(Occurrences(log_.Text(), "Provisioning window closed"), 1u);
  EXPECT_NE(bluetoothd_.Adapter().RegisteredApplication(), std::nullopt) << "the service stays, silent";
  Write({{"C", "I"}});
  Write({{"C", "I"}});
  EXPECT_FALSE(Phone().NextNotification(1s));
  EXPECT_EQ(Occurrences(log_.Text(), "the provisioning window is closed"), 1u);

  ble_->OpenProvisioningWindow();  // the button
  ASSERT_TRUE(WaitUntil([&] { return Advertising(); }, 5s));
  EXPECT_EQ(bluetoothd_.Adapter().Status()["advertisement"]["properties"]["LocalName"], "R907_0a1b2c3d4e5f");
  Write({{"C", "I"}});
  EXPECT_EQ(NextReply()["R"], "I");
  ASSERT_TRUE(WaitUntil([&] { return !Advertising(); }, 10s)) << "and closes again";
  EXPECT_EQ(Occurrences(log_.Text(), "Provisioning window closed"), 2u);
}

// Without a window (the default) the gateway advertises for good, and the button changes
// nothing.
TEST_F(BleOnTheBus, WithoutAWindowTheButtonChangesNothing) {
  ble_->OpenProvisioningWindow();
  EXPECT_FALSE(log_.Contains("Provisioning window"));
  EXPECT_TRUE(bluetoothd_.Adapter().RegisteredAdvertisement().has_value());
}
