// Node settings through the control queue, with the real sender and its threads on short
// paces and the watchdogs on a short clock: a setting's watchdog starts when the setting goes
// out; each setting of a node has at most one copy waiting, and a newer one takes its place; a
// copy whose turn finds its setting acknowledged (or its node gone) is dropped unsent; folds
// that must not go out never do. Then a hundred devices joining at once, as a fleet does.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "mesh/mesh_node.h"
#include "mesh/paced_sender.h"
#include "mesh/receive_dispatch.h"
#include "packet/log_capture.h"
#include "packet/sensor_setting/set.h"
#include "packet/serialization.h"
#include "recording_transport.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::WaitUntil;

namespace {

constexpr auto kSecond = 10ms;  // the watchdogs' second: FOLD asks again after 650 ms, BEACON after 1.25 s
constexpr SenderPaces kPaces{1ms, 10ms, 1ms};
constexpr std::uint16_t kFiller = 0x00FF;

// Folds (C3 F1 05 02 20 ...) and beacon (C3 F1 05 06 20 ...) settings.
constexpr std::uint8_t kFolds = 0x02;
constexpr std::uint8_t kBeacon = 0x06;
bool IsSetting(const std::vector<std::uint8_t>& data, std::uint8_t setting) {
  return data.size() > 5 && data[0] == 0xC3 && data[1] == 0xF1 && data[2] == 0x05 && data[3] == setting &&
         data[4] == 0x20;
}

std::vector<std::uint8_t> FoldsBytes(const json& folds, std::uint16_t channel = 0) {
  return packet::Serialization(packet::sensor_setting::set::FoldsCtrl(folds, channel));
}

// What the control queue sends: the settings among the transport's hand-overs.
class ControlQueueFixture {
 protected:
  ControlQueueFixture() { outlet_sender_ = &sender_; }
  ~ControlQueueFixture() { sender_.Stop(); }

  std::vector<mesh_test::RecordingTransport::Sent> SettingsSent(std::uint8_t setting, std::uint16_t address) {
    std::vector<mesh_test::RecordingTransport::Sent> sent;
    for (const auto& entry : transport_.SentTo(address)) {
      if (IsSetting(entry.data, setting)) sent.push_back(entry);
    }
    return sent;
  }
  std::size_t SettingsSent() {
    std::size_t count = 0;
    for (const auto& entry : transport_.All()) count += IsSetting(entry.data, kFolds) || IsSetting(entry.data, kBeacon);
    return count;
  }
  queue::QueueCounters Control() const { return sender_.Counters().control; }
  // Holds the control queue: a record stays in the transport's hands until Release.
  void HoldTheQueue() {
    const std::size_t before = transport_.Count();
    transport_.Hold();
    sender_.Enqueue({MeshMessage::kControl, kFiller, {0}});
    ASSERT_TRUE(transport_.WaitFor(before + 1));
  }

  WatchdogTiming timing_{std::make_shared<timer::TimerWorker>(), kSecond};
  mesh_test::RecordingTransport transport_;
  std::function<void(const MeshMessage&)> received_ = [](const MeshMessage&) {};  // set before the first message
  PacedSender* outlet_sender_ = nullptr;
  PacedSender sender_{
      transport_, [this](const MeshMessage& message) { received_(message); }, [](const std::vector<std::uint8_t>&) {},
      kPaces};
};

class ControlQueueTest : public ControlQueueFixture, public ::testing::Test {
 protected:
  std::shared_ptr<MeshNode> MakeNode(std::uint16_t address) {
    return std::make_shared<MeshNode>(
        address, 0x0101, "node" + std::to_string(address), "1.0.0.0", 0,
        MeshNode::Send([this](const MeshMessage& record) { sender_.Enqueue(record); }), 0, timing_);
  }
};

TEST_F(ControlQueueTest, AWatchdogStartsWhenItsSettingGoesOutNotWhenItIsQueued) {
  HoldTheQueue();
  const auto node = MakeNode(0x0010);
  node->UpdateFolds(json{{"temp", 5}});
  // Far longer than the FOLD watchdog's 65 "seconds": while the folds wait, no copy is asked for.
  EXPECT_FALSE(WaitUntil(
      [&] {
        const auto control = Control();
        return control.waiting > 1 || control.replaced > 0;
      },
      100 * kSecond));
  transport_.Release();
  ASSERT_TRUE(WaitUntil([&] { return SettingsSent(kFolds, 0x0010).size() == 1; }));
  // Not acknowledged: one copy, 65 "seconds" after the folds went out.
  ASSERT_TRUE(WaitUntil([&] { return SettingsSent(kFolds, 0x0010).size() == 2; }));
  node->FoldsAcknowledged();
  const auto sent = SettingsSent(kFolds, 0x0010);
  EXPECT_GE(sent[1].at - sent[0].at, 60 * kSecond) << "counted from the send, not from the queueing";
  EXPECT_EQ(sent[1].data, sent[0].data);
  EXPECT_FALSE(WaitUntil([&] { return SettingsSent(kFolds, 0x0010).size() > 2; }, 60 * kSecond));
}

TEST_F(ControlQueueTest, ACopyWhoseTurnFindsItsSettingAcknowledgedOrItsNodeGoneIsNotSent) {
  enum class Meanwhile { kFoldsAcknowledged, kBeaconAcknowledged, kNodeGone };
  struct Case {
    const char* what;
    std::uint8_t setting;
    Meanwhile meanwhile;
  };
  const Case cases[] = {
      {"folds acknowledged", kFolds, Meanwhile::kFoldsAcknowledged},
      {"beacon acknowledged", kBeacon, Meanwhile::kBeaconAcknowledged},
      {"node gone", kFolds, Meanwhile::kNodeGone},
  };
  std::uint16_t address = 0x0020;
  for (const Case& entry : cases) {
    SCOPED_TRACE(entry.what);
    ++address;
    auto node = MakeNode(address);
    if (entry.setting == kFolds) {
      node->UpdateFolds(json{{"temp", 5}});
    } else {
      node->UpdateBeacon(true);
    }
    ASSERT_TRUE(WaitUntil([&] { return SettingsSent(entry.setting, address).size() == 1; }));
    HoldTheQueue();
    // The watchdog asks for a copy, which waits behind the held record.
    ASSERT_TRUE(WaitUntil([&] { return Control().waiting == 1; }));
    switch (entry.meanwhile) {
      case Meanwhile::kFoldsAcknowledged:
        node->FoldsAcknowledged();
        break;
      case Meanwhile::kBeaconAcknowledged:
        node->BeaconAcknowledged();
        break;
      case Meanwhile::kNodeGone:
        node.reset();
        break;
    }
    const auto skipped = Control().skipped;
    transport_.Release();
    ASSERT_TRUE(WaitUntil([&] { return Control().skipped == skipped + 1; }));
    EXPECT_EQ(SettingsSent(entry.setting, address).size(), 1u);
    EXPECT_EQ(Control().waiting, 0u);
  }
}

TEST_F(ControlQueueTest, ANewerSettingTakesTheWaitingOnesPlaceAndAnOlderAcknowledgementDoesNotDropIt) {
  const auto first = MakeNode(0x0030);
  const auto second = MakeNode(0x0031);
  first->UpdateFolds(json{{"temp", 5}});
  ASSERT_TRUE(WaitUntil([&] { return SettingsSent(kFolds, 0x0030).size() == 1; }));
  HoldTheQueue();
  const std::size_t before = transport_.Count();
  first->UpdateFolds(json{{"temp", 10}});
  second->UpdateBeacon(true);
  first->UpdateFolds(json{{"temp", 15}});  // takes the place of temp 10, ahead of the beacon
  first->FoldsAcknowledged();              // of temp 5, the folds last sent
  EXPECT_EQ(Control().waiting, 2u);
  EXPECT_EQ(Control().replaced, 1u);
  transport_.Release();
  ASSERT_TRUE(transport_.WaitFor(before + 2));
  const auto sent = transport_.All();
  EXPECT_EQ(sent[before].address, 0x0030);
  EXPECT_EQ(sent[before].data, FoldsBytes(json{{"temp", 15}}));
  EXPECT_EQ(sent[before + 1].address, 0x0031);
  EXPECT_TRUE(IsSetting(sent[before + 1].data, kBeacon));
  first->FoldsAcknowledged();
  second->BeaconAcknowledged();
}

TEST_F(ControlQueueTest, APollWaitsOnceHoweverOftenItsKindWatchdogAsks) {
  const auto node = MakeNode(0x0050);
  node->UpdateFolds(json{{"temp", 1}});
  ASSERT_TRUE(WaitUntil([&] { return SettingsSent(kFolds, 0x0050).size() == 1; }));
  node->FoldsAcknowledged();
  HoldTheQueue();
  const std::size_t before = transport_.Count();
  node->KindReceived("temp");  // silent from now: polled after 65 "seconds", then every 30
  ASSERT_TRUE(WaitUntil([&] { return Control().replaced >= 2; }));
  EXPECT_EQ(Control().waiting, 1u);
  transport_.Release();
  ASSERT_TRUE(transport_.WaitFor(before + 1));
  const auto poll = transport_.All()[before];
  EXPECT_EQ(poll.address, 0x0050);
  EXPECT_EQ(poll.data[0], 0xC0) << "a sensor data get";
}

// Folds are refused whole, with one line naming the device and the kind, when any kind's
// minutes are not a whole number from 1 to 1440; null or empty folds are ignored without a line.
TEST(MeshNodeFolds, FoldsThatMustNotGoOutAreNeverQueued) {
  struct Case {
    json folds;
    std::string refused_kind;  // empty: ignored without a line
  };
  const std::vector<Case> cases{
      {nullptr, ""},
      {json::object(), ""},
      {json::array(), ""},
      {json{{"temp", 0}}, "temp"},
      {json{{"temp", -5}}, "temp"},
      {json{{"temp", 1441}}, "temp"},
      {json{{"temp", "5"}}, "temp"},
      {json{{"temp", 5.5}}, "temp"},
      {json{{"temp", true}}, "temp"},
      {json{{"temp", nullptr}}, "temp"},
      {json{{"temp", 5}, {"hum", 0}}, "hum"},
  };
  packet_test::LogCapture log;
  const WatchdogTiming timing{std::make_shared<timer::TimerWorker>(), kSecond};
  std::vector<MeshMessage> queued;
  const auto node = std::make_shared<MeshNode>(
      0x0040, 0x0101, "0a1b2c3d4e5f", "1.0.0.0", 0,
      MeshNode::Send([&queued](const MeshMessage& record) { queued.push_back(record); }), 0, timing);
  node->UpdateFolds(json{{"temp", 1}, {"hum", 1440}});  // the bounds themselves are folds
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].data, FoldsBytes(json{{"temp", 1}, {"hum", 1440}}));
  EXPECT_EQ(node->StaleAfterSeconds(), 2 * 1440 * 60 + 60);

  std::size_t lines = 0;
  for (const Case& entry : cases) {
    SCOPED_TRACE(entry.folds.dump());
    node->UpdateFolds(entry.folds);
    EXPECT_EQ(queued.size(), 1u);
    EXPECT_EQ(node->Folds(), (json{{"temp", 1}, {"hum", 1440}})) << "the folds before stay";
    if (entry.refused_kind.empty()) continue;
    ++lines;
    EXPECT_NE(log.Text().find("Folds of 0a1b2c3d4e5f refused: \"" + entry.refused_kind + "\" is "),
              std::string::npos);
  }
  node->UpdateFolds(json::array({1, 2}));
  ++lines;
  const std::string text = log.Text();
  std::size_t found = 0;
  for (auto at = text.find("Folds of 0a1b2c3d4e5f refused"); at != std::string::npos;
       at = text.find("Folds of 0a1b2c3d4e5f refused", at + 1)) {
    ++found;
  }
  EXPECT_EQ(found, lines) << text;
}

// The cloud as the dispatch sees it: every device known with `folds` and the beacon on.
class FleetOutlet : public DispatchOutlet {
 public:
  explicit FleetOutlet(PacedSender*& sender) : sender_(sender) {}
  void Report(const std::string& /*report*/) override {}
  // Answered at once, as the fetcher does from its cache.
  void RequestDeviceSettings(const std::string& device_id, bool with_beacon) override {
    if (dispatch != nullptr) dispatch->ApplyDeviceSettings(device_id, {true, folds}, with_beacon);
  }
  bool FirmwareBlock(std::uint16_t, int, int, ota::Block&) override { return false; }
  void Enqueue(const MeshMessage& message) override { sender_->Enqueue(message); }
  void Subscribe(const std::string& /*device_id*/) override { ++subscriptions; }

  ReceiveDispatch* dispatch = nullptr;
  json folds = json{{"temp", 5}, {"hum", 10}};  // set before the first announcement
  std::atomic<int> subscriptions{0};

 private:
  PacedSender*& sender_;
};

// Devices announce themselves through the receive queue and the dispatch, and acknowledge
// each setting the moment it reaches them, as nodes in range do.
class FleetTest : public ControlQueueFixture, public ::testing::Test {
 protected:
  FleetTest() {
    outlet_.dispatch = &dispatch_;
    received_ = [this](const MeshMessage& message) { dispatch_.Dispatch(message); };
    transport_.on_send = [this](std::uint16_t address, const std::vector<std::uint8_t>& data) {
      if (!IsSetting(data, kFolds) && !IsSetting(data, kBeacon)) return;
      std::vector<std::uint8_t> status{0xC4, 0xF1, 0x05, data[3], data[4], 0x00};
      status.insert(status.end(), data.begin() + 5, data.end());
      sender_.Received({MeshMessage::kReceived, address, status});
    };
  }
  ~FleetTest() override {
    sender_.Stop();
    for (int device = 0; device < kDevices; ++device) nodes_.RemoveAll(Address(device));
  }

  static constexpr int kDevices = 100;
  static std::uint16_t Address(int device) { return static_cast<std::uint16_t>(0x0100 + device); }
  static std::string DeviceId(int device) {
    static const char* const digits = "0123456789abcdef";
    std::string id = "a0000000";
    for (const int shift : {12, 8, 4, 0}) id += digits[(device >> shift) & 0x0F];
    return id;
  }
  void Announce(int device, std::uint16_t type) {
    std::vector<std::uint8_t> data{0xC4, 0xF1, 0x05, 0x01, 0x20, 0x00, 0xA0, 0x00, 0x00, 0x00};
    data.push_back(static_cast<std::uint8_t>(device >> 8));
    data.push_back(static_cast<std::uint8_t>(device & 0xFF));
    data.insert(data.end(), {static_cast<std::uint8_t>(type & 0xFF), static_cast<std::uint8_t>(type >> 8), 1, 2, 3,
                             4, 0, 0});
    sender_.Received({MeshMessage::kReceived, Address(device), data});
  }

  NodeRegistry nodes_;
  FleetOutlet outlet_{outlet_sender_};
  ReceiveDispatch dispatch_{nodes_, outlet_, timing_};
};

TEST_F(FleetTest, AHundredDevicesJoiningAtOnceGetEachSettingOnce) {
  // Every tenth device has three channels: folds and beacon for each device, folds for each channel.
  std::size_t settings = 0;
  for (int device = 0; device < kDevices; ++device) {
    const bool three_channels = device % 10 == 0;
    Announce(device, three_channels ? 0x192 : 0x101);
    settings += three_channels ? 5 : 2;
  }
  ASSERT_TRUE(WaitUntil([&] { return SettingsSent() >= settings; }, 60s));
  // Long enough for every FOLD and BEACON watchdog (65 and 125 "seconds") to ask for a copy.
  EXPECT_FALSE(WaitUntil([&] { return SettingsSent() > settings; }, 200 * kSecond));
  std::set<std::pair<std::uint16_t, std::vector<std::uint8_t>>> distinct;
  for (const auto& sent : transport_.All()) distinct.emplace(sent.address, sent.data);
  EXPECT_EQ(distinct.size(), settings);
  const auto control = Control();
  EXPECT_EQ(control.waiting, 0u);
  EXPECT_EQ(control.dropped, 0u);
  EXPECT_EQ(control.skipped, 0u);
  EXPECT_LE(control.peak, settings);

  // A push from the cloud finds the queue empty and goes out at once.
  const auto node = nodes_.FindById(DeviceId(5));
  ASSERT_NE(node, nullptr);
  node->UpdateFolds(json{{"temp", 7}});
  ASSERT_TRUE(WaitUntil([&] { return SettingsSent(kFolds, Address(5)).size() == 2; }));
  EXPECT_EQ(SettingsSent(kFolds, Address(5)).back().data, FoldsBytes(json{{"temp", 7}}));
}

TEST_F(FleetTest, ADeviceTheCloudListsWithoutSensorTypesGetsItsBeaconAndNoFolds) {
  outlet_.folds = nullptr;
  Announce(0, 0x101);
  ASSERT_TRUE(WaitUntil([&] { return SettingsSent(kBeacon, Address(0)).size() == 1; }));
  Announce(0, 0x101);  // a known node without folds asks the cloud again
  ASSERT_TRUE(WaitUntil([&] { return outlet_.subscriptions == 2; }));
  EXPECT_FALSE(WaitUntil([&] { return !SettingsSent(kFolds, Address(0)).empty(); }, 20 * kSecond));
  EXPECT_EQ(Control().waiting, 0u);
}

}  // namespace
