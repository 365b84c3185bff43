// What the gateway does with the messages of sensor nodes, delivered by the stand-in mesh
// daemon as a real one would: nodes announce themselves and get their cloud settings, their
// reports reach the stand-in cloud, and a node that leaves is forgotten.
#include <gtest/gtest.h>

#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "mailbox/message_id.h"
#include "meshd/mesh_daemon.h"
#include "mesh_fixture.h"
#include "ota/ota_manager.h"
#include "server/server_api.h"
#include "support/memory_cloud_settings.h"
#include "support/temp_directory.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::WaitUntil;

namespace {

class RecordingPoster : public mailbox::DepeschePoster {
 public:
  void Post(const mailbox::Depesche& message) override {
    const std::lock_guard<std::mutex> guard(lock_);
    if (message.id == mailbox::APP_EVT_WEBSOCKET_SUBSCRIBE) {
      subscribed_.push_back(*std::static_pointer_cast<std::string>(message.data));
    } else if (message.id == mailbox::APP_EVT_WEBSOCKET_UNSUBSCRIBE) {
      unsubscribed_.push_back(*std::static_pointer_cast<std::string>(message.data));
    }
  }
  mailbox::DepescheDestination* Destination() override { return nullptr; }
  std::vector<std::string> Subscribed() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return subscribed_;
  }
  std::vector<std::string> Unsubscribed() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return unsubscribed_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> subscribed_;
  std::vector<std::string> unsubscribed_;
};

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static const char* const digits = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 0x0F];
  }
  return text;
}

// A node announcement: id aa bb cc dd ee ff (or `id`), the device type, version 1.2.3+4.
std::string Announcement(std::uint16_t type, const std::string& id = "aabbccddeeff") {
  const std::string type_hex = Hex({static_cast<std::uint8_t>(type & 0xFF), static_cast<std::uint8_t>(type >> 8)});
  return "c4f105" "0120" "00" + id + type_hex + "01020304" "0000";
}

// A sensor data status carrying `value` as its CBOR body.
std::string SensorData(const json& value) {
  const std::vector<std::uint8_t> body = json::to_cbor(value);
  return "c1f105" + Hex({static_cast<std::uint8_t>((body.size() - 1) << 1), 0, 0}) + Hex(body);
}

// A firmware manager offering one image of type 1: 7 blocks whose bytes are their index.
class SevenBlockFirmware : public FirmwareSource {
 public:
  std::vector<FirmwareListEntry> FirmwareList() const override { return {{1, "1.2.3+4", 7}}; }
  bool FirmwareBlock(std::uint16_t /*address*/, int type, int index, ota::Block& output) override {
    if (type != 1 || index < 0 || index >= 7) return false;
    output.fill(static_cast<std::uint8_t>(index));
    return true;
  }
};

class DispatchTest : public mesh_test::MeshFixture, public ::testing::Test {
 protected:
  DispatchTest() : daemon_(DaemonOptions(bus_.Address())) {
    daemon_.Start();
    cloud_.Control().Call("PATCH", "/scenario",
                          {{"devices",
                            {{"aabbccddeeff",
                              {{"sensor", {{"ble_enabled", true},
                                           {"sensor_types", {{{"sensor_type", "temp"}, {"fold", 1}}}}}}}}}}});
    ServerAPIOptions options;
    options.default_base_url = cloud_.BaseURL();
    options.request_timeout = 5s;
    options.worker_period = 100ms;
    cloud_client_ = std::make_unique<ServerAPI>(cloud_settings_, options);

    MeshOptions mesh_options;
    mesh_options.periods.upgrade_first = std::chrono::milliseconds(200);
    mesh_ = MakeMesh(5s, mesh_options, poster_, cloud_client_.get(), &firmware_);
    EXPECT_TRUE(mesh_->Initialize()) << log_.Text();
  }

  static sim::meshd::MeshDaemonOptions DaemonOptions(const std::string& address) {
    sim::meshd::MeshDaemonOptions options;
    options.bus_address = address;
    options.state_file = testing_support::MakeTempDirectory("meshd") + "/nodes.json";
    return options;
  }

  void Deliver(std::uint16_t source, const std::string& data) {
    const json reply = daemon_.Control({{"cmd", "deliver"}, {"source", source}, {"data", data}});
    ASSERT_TRUE(reply.value("ok", false)) << reply;
  }
  // The data of the "Send" calls the daemon received for `destination`.
  std::vector<std::string> SentTo(std::uint16_t destination) const {
    std::vector<std::string> sent;
    for (const json& record : daemon_.Records()) {
      if (record.value("kind", "") == "call" && record.value("member", "") == "Send" &&
          record.value("destination", 0) == destination) {
        sent.push_back(record.at("data"));
      }
    }
    return sent;
  }
  // The nodes of the reports the cloud received.
  std::vector<json> Reported() const {
    std::vector<json> nodes;
    for (const json& request : cloud_.RequestsTo("/gateways/report")) {
      const json body = json::parse(request.at("body").get<std::string>());
      for (const json& node : body.at("nodes")) nodes.push_back(node);
    }
    return nodes;
  }

  testing_support::StandInCloud cloud_;
  SevenBlockFirmware firmware_;
  sim::meshd::MeshDaemon daemon_;
  MemoryCloudSettings cloud_settings_{[] {
    MemoryCloudSettings::Values values;
    values.access_token = "tok";
    values.refresh_token = "ref";
    values.device_id = mesh_test::kDeviceId;
    return values;
  }()};
  std::unique_ptr<ServerAPI> cloud_client_;
  std::shared_ptr<RecordingPoster> poster_ = std::make_shared<RecordingPoster>();
  std::unique_ptr<BluetoothMesh> mesh_;
};

TEST_F(DispatchTest, AnAnnouncedNodeGetsItsCloudSettingsAndItsReportsReachTheCloud) {
  Deliver(0x0100, Announcement(0x0101));
  ASSERT_TRUE(WaitUntil([&] { return mesh_->Nodes().CountAt(0x0100) == 1; }));
  // The subscription is asked for once the node is in the registry.
  EXPECT_TRUE(WaitUntil([&] { return poster_->Subscribed() == std::vector<std::string>{"aabbccddeeff"}; }));
  // The folds go out at once; the beacon setting 5 s later (the control queue's pace).
  ASSERT_TRUE(WaitUntil([&] { return !SentTo(0x0100).empty(); }));
  EXPECT_EQ(SentTo(0x0100)[0].substr(0, 10), "c3f1050220");

  Deliver(0x0100, SensorData({{"k", "temp"}, {"v", 215}}));
  Deliver(0x0100, SensorData({{"k", "temp"}, {"v", 216}, {"c", 2}}));
  ASSERT_TRUE(WaitUntil([&] { return Reported().size() == 2; })) << log_.Text();
  EXPECT_EQ(Reported()[0].at("id"), "aabbccddeeff");
  EXPECT_EQ(Reported()[0].at("vs")[0].at("v"), "215");
  EXPECT_EQ(Reported()[1].at("id"), "aabbccddeeff_2") << "channel 2 reports under the sub-device id";
}

TEST_F(DispatchTest, AThreeChannelDeviceMakesFourNodesAndARepeatedAnnouncementNone) {
  Deliver(0x0200, Announcement(0x192, "010203040506"));
  ASSERT_TRUE(WaitUntil([&] { return mesh_->Nodes().CountAt(0x0200) == 4; }));
  const std::vector<std::string> four{"010203040506", "010203040506_1", "010203040506_2", "010203040506_3"};
  EXPECT_TRUE(WaitUntil([&] { return poster_->Subscribed() == four; }));
  Deliver(0x0200, Announcement(0x192, "010203040506"));
  ASSERT_TRUE(WaitUntil([&] { return poster_->Subscribed().size() == 8; }));
  EXPECT_EQ(mesh_->Nodes().CountAt(0x0200), 4u);
}

TEST_F(DispatchTest, ReportsFromUnknownNodesAndBrokenMessagesAreDroppedWithALine) {
  Deliver(0x00AB, SensorData({{"k", "temp"}, {"v", 1}}));
  ASSERT_TRUE(WaitUntil([&] { return log_.Contains("Cannot find Device ID for 00ab"); }));
  Deliver(0x00AB, "c1f1");
  ASSERT_TRUE(WaitUntil([&] { return log_.Contains("shorter than an opcode"); }));
  Deliver(0x00AB, "c1f105" "020000" "ff");  // a body that is not CBOR
  ASSERT_TRUE(WaitUntil([&] { return log_.Contains("Parse Error.."); }));

  // A report without a text kind is still reported.
  Deliver(0x0100, Announcement(0x0101));
  ASSERT_TRUE(WaitUntil([&] { return mesh_->Nodes().CountAt(0x0100) == 1; }));
  Deliver(0x0100, SensorData({{"k", 7}, {"v", 1}}));
  EXPECT_TRUE(WaitUntil([&] { return Reported().size() == 1; }));
  EXPECT_TRUE(Reported().empty() || Reported()[0].at("id") == "aabbccddeeff");
}

TEST_F(DispatchTest, ANodeThatLeavesIsForgottenAndItsSubscriptionEnded) {
  Deliver(0x0100, Announcement(0x0101));
  ASSERT_TRUE(WaitUntil([&] { return mesh_->Nodes().CountAt(0x0100) == 1; }));
  Deliver(0x0100, "c4f105" "0920" "00");
  ASSERT_TRUE(WaitUntil([&] { return mesh_->Nodes().CountAt(0x0100) == 0; }));
  // The line is written just after the removal.
  EXPECT_TRUE(WaitUntil([&] { return log_.Contains("Leave Gateway from 256 1"); }));
  EXPECT_EQ(poster_->Unsubscribed(), std::vector<std::string>{"aabbccddeeff"});
}

TEST_F(DispatchTest, ReportsFlowWhileTheCloudDoesNotAnswerTheDeviceSettings) {
  cloud_.Control().Call("POST", "/faults", {{"path", "/devices/"}, {"method", "GET"}, {"delay_ms", 60000}});
  Deliver(0x0100, Announcement(0x0101));
  ASSERT_TRUE(WaitUntil([&] { return mesh_->Nodes().CountAt(0x0100) == 1; })) << "made before its settings come";
  const auto before = std::time(nullptr);
  Deliver(0x0100, SensorData({{"k", "temp"}, {"v", 215}}));
  Deliver(0x0100, SensorData({{"k", "temp"}, {"v", 216}}));
  ASSERT_TRUE(WaitUntil([&] { return Reported().size() == 2; })) << log_.Text();
  for (const json& node : Reported()) {
    EXPECT_GE(node.at("vs")[0].at("ts").get<std::int64_t>(), before) << "stamped when delivered";
    EXPECT_LE(node.at("vs")[0].at("ts").get<std::int64_t>(), std::time(nullptr));
  }
  EXPECT_TRUE(SentTo(0x0100).empty()) << "no settings to send yet";
}

TEST_F(DispatchTest, ADeviceTakingOverAnAddressReplacesTheDeviceThatWasThere) {
  Deliver(0x0300, Announcement(0x0101));
  ASSERT_TRUE(WaitUntil([&] { return mesh_->Nodes().CountAt(0x0300) == 1; }));
  Deliver(0x0300, Announcement(0x0101, "010203040506"));
  ASSERT_TRUE(WaitUntil([&] {
    return mesh_->Nodes().IdsAt(0x0300) == std::vector<std::string>{"010203040506"};
  })) << log_.Text();
  EXPECT_TRUE(log_.Contains("Device 010203040506 announced at 0300, where aabbccddeeff was"));
  EXPECT_TRUE(WaitUntil([&] { return poster_->Unsubscribed() == std::vector<std::string>{"aabbccddeeff"}; }));
  // The old device is gone...
  EXPECT_FALSE(mesh_->Nodes().FindById("aabbccddeeff"));
  // ...and a device that comes back under a new address leaves no nodes at the old one.
  Deliver(0x0400, Announcement(0x0101, "010203040506"));
  ASSERT_TRUE(WaitUntil([&] { return mesh_->Nodes().IdsAt(0x0400) == std::vector<std::string>{"010203040506"}; }));
  EXPECT_EQ(mesh_->Nodes().CountAt(0x0300), 0u);
}

TEST_F(DispatchTest, AChannelReportKeepsItsDeviceAlive) {
  Deliver(0x0200, Announcement(0x192, "010203040506"));
  ASSERT_TRUE(WaitUntil([&] { return mesh_->Nodes().CountAt(0x0200) == 4; }));
  const auto main_node = mesh_->Nodes().MainNode(0x0200);
  main_node->SeenAt(1);
  Deliver(0x0200, SensorData({{"k", "temp"}, {"v", 1}, {"c", 2}}));
  ASSERT_TRUE(WaitUntil([&] { return Reported().size() == 1; }));
  EXPECT_GT(main_node->LastSeen(), 1) << "the main node counts as heard";
  EXPECT_EQ(Reported()[0].at("id"), "010203040506_2");
}

// The operator's snapshot: the join, the gateway's address, and each node with the settings
// it was given, whether the cloud's are still to come, and when each kind last reported.
TEST_F(DispatchTest, TheStatusTellsTheJoinAndEachNodeWithItsSettingsAndReports) {
  mesh::MeshStatus status = mesh_->Status();
  EXPECT_TRUE(status.joined);
  EXPECT_EQ(status.address, mesh_test::kNetAddr);
  EXPECT_TRUE(status.nodes.empty());

  Deliver(0x0100, Announcement(0x0101));
  Deliver(0x0050, Announcement(0x0101, "010203040506"));  // a device the cloud does not know
  const auto node_at = [this](std::uint16_t address) {
    for (const mesh::NodeStatus& node : mesh_->Status().nodes) {
      if (node.address == address) return node;
    }
    return mesh::NodeStatus{};
  };
  ASSERT_TRUE(WaitUntil([&] { return node_at(0x0100).folds_delivery == mesh::SettingDelivery::kSent; }))
      << log_.Text();
  const auto before = std::time(nullptr);
  Deliver(0x0100, SensorData({{"k", "temp"}, {"v", 215}}));
  ASSERT_TRUE(WaitUntil([&] { return node_at(0x0100).last_report.count("temp") == 1; }));

  status = mesh_->Status();
  ASSERT_EQ(status.nodes.size(), 2u);
  EXPECT_EQ(status.nodes[0].address, 0x0050) << "ordered by address";
  EXPECT_EQ(status.nodes[0].id, "010203040506");
  EXPECT_TRUE(status.nodes[0].settings_fetch_pending) << "the cloud has no settings for it";
  EXPECT_EQ(status.nodes[0].folds_delivery, mesh::SettingDelivery::kNone);
  const mesh::NodeStatus& known = status.nodes[1];
  EXPECT_EQ(known.id, "aabbccddeeff");
  EXPECT_EQ(known.type, 0x0101);
  EXPECT_EQ(known.version, "1.2.3+4");
  EXPECT_EQ(known.folds, (json{{"temp", 1}}));
  EXPECT_FALSE(known.settings_fetch_pending);
  EXPECT_GE(known.last_report.at("temp"), before);
  EXPECT_GE(known.last_seen, before);
  EXPECT_GE(status.taken_at, known.last_seen);

  mesh_->Deinitialize();
  EXPECT_FALSE(mesh_->Status().joined);
}

}  // namespace

namespace {

TEST_F(DispatchTest, TheControlQueueSendsOneRecordEveryFiveSeconds) {
  const std::vector<std::uint8_t> data{0xC3, 0xF1, 0x05, 0x06, 0x20, 0x00, 0x01};
  for (int record = 0; record < 3; ++record) mesh_->Enqueue({MeshMessage::kControl, 0x0300, data});
  std::vector<std::chrono::steady_clock::time_point> seen;
  for (std::size_t count = 1; count <= 3; ++count) {
    ASSERT_TRUE(WaitUntil([&] { return SentTo(0x0300).size() >= count; }, 15s));
    seen.push_back(std::chrono::steady_clock::now());
  }
  EXPECT_EQ(SentTo(0x0300).size(), 3u);
  EXPECT_GE(seen[1] - seen[0], 4500ms);
  EXPECT_GE(seen[2] - seen[1], 4500ms);
  EXPECT_LT(seen[2] - seen[0], 14s);
}

}  // namespace

namespace {

TEST_F(DispatchTest, FirmwareIsAnnouncedAndItsBlocksServedOnRequest) {
  // The announcement: type 1, version 1.2.3+4, 7 blocks, then a 4-byte nonce.
  ASSERT_TRUE(WaitUntil([&] { return !SentTo(0xC8C8).empty(); }, 10s));
  EXPECT_EQ(SentTo(0xC8C8)[0].substr(0, 28), "c3f1050720fc0100010203040700");

  Deliver(0x0100, "c4f105" "0720" "00" "00" "0100" "0200");  // block 2 of type 1
  Deliver(0x0100, "c4f105" "0720" "00" "00" "0100" "0700");  // beyond the image: nothing
  ASSERT_TRUE(WaitUntil([&] { return SentTo(0x0100).size() == 1; }, 10s));
  std::string block;
  for (int byte = 0; byte < 16; ++byte) block += "02";
  EXPECT_EQ(SentTo(0x0100)[0], "c3f1050720fb" "0100" "0200" + block);
}

}  // namespace
