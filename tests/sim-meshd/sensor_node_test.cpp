// The simulated sensor node as the gateway meets it: it announces itself on the gateway's
// beacon, reports at its folds' pace, takes and echoes folds and beacon settings, answers
// sensor-data gets, fetches a newer firmware block by block and never sends empty messages.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "meshd/sensor_node.h"

using namespace std::chrono_literals;
using nlohmann::json;
using sim::meshd::Bytes;
using sim::meshd::SensorClock;
using sim::meshd::SensorNode;

namespace {

std::string Hex(const Bytes& bytes) {
  static const char* const digits = "0123456789abcdef";
  std::string text;
  for (const auto byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 0x0F];
  }
  return text;
}

Bytes Cat(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// GatewayInfo from unicast 0x0001, group 0xFC88, time 0x5F000000.
const Bytes kBeacon{0xC3, 0xF1, 0x05, 0x01, 0x20, 0x01, 0x00, 0x88, 0xFC, 0x00, 0x00, 0x00, 0x5F};

Bytes Folds(const json& folds) { return Cat({0xC3, 0xF1, 0x05, 0x02, 0x20}, json::to_cbor(folds)); }
Bytes Get(const json& body) { return Cat({0xC0, 0xF1, 0x05}, json::to_cbor(body)); }

// The CBOR body of a sensor data status.
json ReportBody(const Bytes& message) {
  EXPECT_EQ(Hex(Bytes(message.begin(), message.begin() + 3)), "c1f105");
  const std::size_t length = (message[3] >> 1) + 1u;
  EXPECT_EQ(message.size(), 6 + length);
  return json::from_cbor(message.begin() + 6, message.end());
}

class SensorNodeTest : public ::testing::Test {
 protected:
  SensorNode MakeNode(std::uint16_t type) const {
    sim::meshd::SensorIdentity identity;
    identity.address = 0x0105;
    identity.device_id = {0x5E, 0x05, 0x00, 0x00, 0x01, 0x05};
    identity.device_type = type;
    identity.version.parts = {1, 0, 0, 0};
    SensorNode node(identity, start_);
    node.SetMinute(1s, start_);
    return node;
  }
  // Every report the node sends from `from` to `to`, stepping 100 ms.
  static std::vector<json> Reports(SensorNode& node, SensorClock::time_point from, SensorClock::time_point to) {
    std::vector<json> reports;
    for (auto now = from; now <= to; now += 100ms) {
      for (const auto& message : node.Due(now)) reports.push_back(ReportBody(message));
    }
    return reports;
  }

  const SensorClock::time_point start_ = SensorClock::now();
};

TEST_F(SensorNodeTest, AnnouncesOnTheGatewaysBeaconAndOnlyThenReports) {
  SensorNode node = MakeNode(0x0101);
  EXPECT_TRUE(Reports(node, start_, start_ + 5s).empty()) << "no gateway known yet";
  const auto replies = node.Hear(kBeacon, start_ + 5s);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(Hex(replies[0]), "c4f105" "0120" "00" "5e0500000105" "0101" "01000000" "0501");
  EXPECT_EQ(node.Gateway(), 0x0001);
  EXPECT_EQ(node.Hear(kBeacon, start_ + 35s).size(), 1u) << "every beacon is answered";

  // Default folds: temp and humi every fold minute (here 1 s).
  const auto reports = Reports(node, start_ + 5s, start_ + 15s);
  int temp = 0;
  for (const auto& report : reports) {
    EXPECT_FALSE(report.contains("c"));
    temp += report.at("k") == "temp";
    if (report.at("k") == "temp") {
      EXPECT_TRUE(report.at("v").is_number_float()) << report;
    }
  }
  EXPECT_GE(temp, 9);
  EXPECT_LE(temp, 11);
  // The last reports' bodies are kept, oldest first, as a test compares them with what arrived.
  const json recent = node.Describe().at("recent_reports");
  ASSERT_FALSE(recent.empty());
  EXPECT_EQ(recent.back(), reports.back());
  EXPECT_LE(recent.size(), 32u);
}

// What the stand-in lists at the cloud for each node: its device ids with their default kinds.
TEST_F(SensorNodeTest, DefaultKindsNameEveryDeviceIdOfTheNode) {
  EXPECT_EQ(MakeNode(0x0101).DefaultKinds(), (json{{"5e0500000105", {"humi", "temp"}}}));
  EXPECT_EQ(MakeNode(SensorNode::kThreeChannelType).DefaultKinds(),
            (json{{"5e0500000105", {"temp"}},
                  {"5e0500000105_1", {"current"}},
                  {"5e0500000105_2", {"current"}},
                  {"5e0500000105_3", {"current"}}}));
}

TEST_F(SensorNodeTest, TakesFoldsPerChannelEchoesThemAndReportsAtTheirPace) {
  SensorNode node = MakeNode(SensorNode::kThreeChannelType);
  node.Hear(kBeacon, start_);
  const auto echo = node.Hear(Folds({{"PH", 2}, {"CH", 2}}), start_);
  ASSERT_EQ(echo.size(), 1u);
  EXPECT_EQ(Hex(echo[0]), "c4f105" "0220" "00" + Hex(json::to_cbor(json{{"PH", 2}, {"CH", 2}})));
  EXPECT_TRUE(node.Hear(Folds({{"PH", 2}, {"CH", 7}}), start_).empty()) << "no such channel";

  int ph = 0;
  for (const auto& report : Reports(node, start_, start_ + 20s)) {
    if (report.at("k") != "PH") continue;
    ++ph;
    EXPECT_EQ(report.at("c"), 2);
  }
  EXPECT_GE(ph, 9);
  EXPECT_LE(ph, 11);
  EXPECT_EQ(node.Describe().at("channels").at("2").at("folds"), (json{{"PH", 2}}));
}

// Counting values tell every reading apart: each kind counts on its own channel, and a get
// takes the next number too.
TEST_F(SensorNodeTest, CountingValuesNumberEachKindsReportsPerChannel) {
  SensorNode node = MakeNode(SensorNode::kThreeChannelType);
  node.SetCountingValues(true);
  node.Hear(kBeacon, start_);
  std::map<std::string, std::vector<int>> values;  // "kind/channel" -> values in order
  for (const auto& report : Reports(node, start_, start_ + 10s)) {
    values[report.at("k").get<std::string>() + "/" + std::to_string(report.value("c", 0))].push_back(report.at("v"));
  }
  ASSERT_EQ(values.size(), 4u) << "temp on the main channel, current on channels 1 to 3";
  for (const auto& [key, numbers] : values) {
    ASSERT_FALSE(numbers.empty()) << key;
    for (std::size_t index = 0; index < numbers.size(); ++index) EXPECT_EQ(numbers[index], static_cast<int>(index) + 1) << key;
  }
  const auto got = node.Hear(Get({{"current", 2}}), start_ + 10s);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(ReportBody(got[0]).at("v"), static_cast<int>(values.at("current/2").size()) + 1);

  node.SetCountingValues(false);
  const auto drifting = Reports(node, start_ + 10s, start_ + 12s);
  ASSERT_FALSE(drifting.empty());
  EXPECT_TRUE(drifting.front().at("v").is_number_float()) << drifting.front();
}

TEST_F(SensorNodeTest, AnswersBeaconSettingsAndSensorDataGets) {
  SensorNode node = MakeNode(SensorNode::kThreeChannelType);
  node.Hear(kBeacon, start_);
  const auto ack = node.Hear({0xC3, 0xF1, 0x05, 0x06, 0x20, 0x01}, start_);
  ASSERT_EQ(ack.size(), 1u);
  EXPECT_EQ(Hex(ack[0]), "c4f105062000" "01");

  const auto main = node.Hear(Get(json::array({"temp"})), start_);
  ASSERT_EQ(main.size(), 1u);
  EXPECT_EQ(ReportBody(main[0]).at("k"), "temp");
  const auto sub = node.Hear(Get({{"current", 3}}), start_);
  ASSERT_EQ(sub.size(), 1u);
  EXPECT_EQ(ReportBody(sub[0]).at("c"), 3);
  EXPECT_TRUE(node.Hear(Get(json::array({1, 2})), start_).empty());
  EXPECT_TRUE(node.Hear({0xC0, 0xF1, 0x05, 0xFF}, start_).empty()) << "not CBOR";
}

TEST_F(SensorNodeTest, FetchesANewerFirmwareBlockByBlockAndAnnouncesItsNewVersion) {
  SensorNode node = MakeNode(0x0101);
  node.Hear(kBeacon, start_);
  // Type 1, version 1.2.3+4, three blocks (the gateway counts its image in 16-byte blocks), nonce.
  const Bytes offer{0xC3, 0xF1, 0x05, 0x07, 0x20, 0xFC, 0x01, 0x00, 1, 2, 3, 4, 3, 0, 9, 9, 9, 9};
  auto requests = node.Hear(offer, start_);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(Hex(requests[0]), "c4f105072000" "00" "0100" "0000");
  EXPECT_TRUE(node.Hear(offer, start_).empty()) << "already fetching it";
  // No block for 12 s: asked again.
  bool asked_again = false;
  for (const auto& message : node.Due(start_ + 13s)) asked_again |= Hex(message) == Hex(requests[0]);
  EXPECT_TRUE(asked_again);

  for (std::uint16_t block = 0; block < 3; ++block) {
    Bytes data{0xC3, 0xF1, 0x05, 0x07, 0x20, 0xFB, 0x01, 0x00, static_cast<std::uint8_t>(block), 0x00};
    data.resize(26, static_cast<std::uint8_t>(block));
    const auto replies = node.Hear(data, start_ + 14s);
    ASSERT_EQ(replies.size(), 1u);
    if (block < 2) {
      EXPECT_EQ(Hex(replies[0]).substr(18), (block == 0 ? "0100" : "0200"));
    } else {
      EXPECT_EQ(Hex(replies[0]).substr(0, 10), "c4f1050120") << "announces itself with the new version";
    }
  }
  EXPECT_EQ(node.Describe().at("version"), "1.2.3+4");
  EXPECT_TRUE(node.Hear(offer, start_ + 20s).empty()) << "not newer any more";
}

TEST_F(SensorNodeTest, ScriptedFaultsSilenceOrMangleWhatItSends) {
  SensorNode node = MakeNode(0x0101);
  node.Hear(kBeacon, start_);
  node.SetFaults({0.0, true, false});
  EXPECT_TRUE(Reports(node, start_, start_ + 5s).empty());
  node.SetFaults({0.0, false, true});
  int sent = 0;
  for (auto now = start_ + 5s; now < start_ + 30s; now += 100ms) {
    for (const auto& message : node.Due(now)) {
      ++sent;
      EXPECT_FALSE(message.empty());
    }
  }
  EXPECT_GT(sent, 0);
  node.SetFaults({1.0, false, false});
  EXPECT_TRUE(node.Hear(kBeacon, start_ + 200s).empty()) << "everything lost";
  node.SetFaults({});
  EXPECT_EQ(Hex(node.LeaveGateway().at(0)), "c4f105092000");
  EXPECT_EQ(node.Gateway(), 0);
}

}  // namespace
