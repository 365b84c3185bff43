// The mesh documents from fixed snapshots: their shape, the ages read against the snapshot's
// time, null for what is not known, and how a node's settings read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "status/mesh_documents.h"

using nlohmann::json;
using mesh::SettingDelivery;

namespace {

constexpr std::time_t kNow = 1'800'000'000;

mesh::NodeStatus Node(std::string id, std::uint16_t address, std::uint16_t channel) {
  mesh::NodeStatus node;
  node.id = std::move(id);
  node.address = address;
  node.channel = channel;
  node.type = 0x0192;
  node.version = "1.2.3+4";
  node.last_seen = kNow - 30;
  return node;
}

TEST(MeshDocumentsTest, ANodeDocumentHoldsItsIdentitySettingsAndAges) {
  mesh::MeshStatus status;
  status.taken_at = kNow;
  mesh::NodeStatus main_node = Node("0a1b2c3d4e5f", 0x0100, 0);
  main_node.folds = json{{"temp", 5}, {"hum", 10}};
  main_node.folds_delivery = SettingDelivery::kAcknowledged;
  main_node.beacon_delivery = SettingDelivery::kSent;
  main_node.last_report = {{"temp", kNow - 12}, {"hum", kNow + 5}};  // a clock set back: not negative
  mesh::NodeStatus sub_device = Node("0a1b2c3d4e5f_2", 0x0100, 2);
  sub_device.version.clear();
  sub_device.last_seen = kNow;
  sub_device.settings_fetch_pending = true;
  status.nodes = {main_node, sub_device};

  const json expected{
      {"nodes",
       {{{"id", "0a1b2c3d4e5f"},
         {"address", 256},
         {"channel", 0},
         {"type", 402},
         {"version", "1.2.3+4"},
         {"last_seen", 30},
         {"folds", {{"temp", 5}, {"hum", 10}}},
         {"acknowledged", {{"folds", true}, {"beacon", false}}},
         {"pending_settings", false},
         {"last_report", {{"temp", 12}, {"hum", 0}}}},
        {{"id", "0a1b2c3d4e5f_2"},
         {"address", 256},
         {"channel", 2},
         {"type", 402},
         {"version", nullptr},
         {"last_seen", 0},
         {"folds", nullptr},
         {"acknowledged", {{"folds", nullptr}, {"beacon", nullptr}}},
         {"pending_settings", true},
         {"last_report", json::object()}}}}};
  EXPECT_EQ(status::NodesDocument(status), expected);
  EXPECT_EQ(status::NodesDocument(mesh::MeshStatus{}), (json{{"nodes", json::array()}}));
}

// Pending: the cloud's settings still to be fetched, or a setting waiting in the queue; a
// setting sent and not acknowledged is not pending but unacknowledged.
TEST(MeshDocumentsTest, PendingAndAcknowledgedFollowTheFetchAndEachSettingsDelivery) {
  struct Case {
    bool fetch_pending;
    SettingDelivery folds;
    SettingDelivery beacon;
    bool pending;
    json folds_acknowledged;
    json beacon_acknowledged;
  };
  const std::vector<Case> cases{
      {false, SettingDelivery::kNone, SettingDelivery::kNone, false, nullptr, nullptr},
      {true, SettingDelivery::kNone, SettingDelivery::kNone, true, nullptr, nullptr},
      {false, SettingDelivery::kWaiting, SettingDelivery::kNone, true, false, nullptr},
      {false, SettingDelivery::kAcknowledged, SettingDelivery::kWaiting, true, true, false},
      {false, SettingDelivery::kSent, SettingDelivery::kSent, false, false, false},
      {true, SettingDelivery::kAcknowledged, SettingDelivery::kAcknowledged, true, true, true},
  };
  for (std::size_t index = 0; index < cases.size(); ++index) {
    const Case& test = cases[index];
    mesh::MeshStatus status;
    mesh::NodeStatus node = Node("0a1b2c3d4e5f", 0x0100, 0);
    node.settings_fetch_pending = test.fetch_pending;
    node.folds_delivery = test.folds;
    node.beacon_delivery = test.beacon;
    status.nodes.push_back(node);
    const json document = status::NodesDocument(status).at("nodes").at(0);
    EXPECT_EQ(document.at("pending_settings"), test.pending) << "case " << index;
    EXPECT_EQ(document.at("acknowledged"), (json{{"folds", test.folds_acknowledged}, {"beacon", test.beacon_acknowledged}}))
        << "case " << index;
  }
}

TEST(MeshDocumentsTest, TheSummaryCountsTheNodesAndHasNoAddressBeforeOneIsSet) {
  mesh::MeshStatus status;
  EXPECT_EQ(status::MeshSummary(status), (json{{"joined", false}, {"address", nullptr}, {"nodes", 0}}));
  status.joined = true;
  status.address = 0x0001;
  status.nodes = {Node("0a1b2c3d4e5f", 0x0100, 0), Node("0a1b2c3d4e5f_1", 0x0100, 1)};
  EXPECT_EQ(status::MeshSummary(status), (json{{"joined", true}, {"address", 1}, {"nodes", 2}}));
}

}  // namespace
