// The gateway against BlueZ's own mesh daemon (bluetooth-meshd, with no radio) in its
// sandbox, with simulated sensor nodes that are nodes of their own in that daemon: its
// D-Bus API, key ring, configuration server, network and transport layers and storage, all
// real. The first run joins (Import, token stored, the four configuration steps answered by
// the daemon's configuration server) and its beacon reaches the nodes; their announcements and
// reports reach the stand-in cloud; folds and beacon settings pushed over the cloud's websocket
// reach the nodes; a firmware image is served block by block; a node leaves; the mesh daemon
// killed and restarted from its storage, and the gateway restarted with its token, are
// survived.

#include <dirent.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sensor_sandbox.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::Subprocess;
using testing_support::WaitUntil;

namespace {

// The keys sim/sandbox/mesh-mode stores for the gateway, handed to the sensor nodes too.
constexpr const char* kNetKey = "11111111111111111111111111111111";
constexpr const char* kAppKey = "22222222222222222222222222222222";
constexpr const char* kFirmwareImage = "sensor-node_1.0.1-0.bin";

// A value as the gateway reports it: a floating-point one as a float in six decimals, an
// integer as its digits.
std::string AsReported(const json& value) {
  if (!value.is_number_float()) return std::to_string(value.get<long long>());
  char text[64];
  std::snprintf(text, sizeof text, "%f", static_cast<double>(value.get<float>()));
  return text;
}

class SandboxedRealMesh : public testing_support::SensorSandbox {
 protected:
  void StartWithRealDaemon() {
    Start({true, true, {}});
    if (HasFatalFailure()) return;
    ASSERT_TRUE(Nodes({{"cmd", "join"}, {"net_key", kNetKey}, {"app_key", kAppKey}}).at("ok"));
    ASSERT_TRUE(WaitUntil([&] { return NodesReady(); }, 30s)) << Nodes({{"cmd", "nodes"}}).dump();
  }

  // The control of the simulated nodes.
  json Nodes(const json& command) const {
    return sim::standin::ControlCall(Root() + "/run/sim/meshnodes.sock", command);
  }
  bool NodesReady() const {
    const json nodes = Nodes({{"cmd", "nodes"}});
    for (const auto& node : nodes.at("nodes")) {
      if (node.at("state") != "ready") return false;
    }
    return true;
  }

  // The mesh daemon's stored configuration of the node at `address` (its node.json).
  json StoredNode(std::uint16_t address) const {
    char wanted[5];
    std::snprintf(wanted, sizeof wanted, "%04x", address);
    const std::string storage = Root() + "/var/lib/bluetooth/mesh";
    for (const auto& entry : StoredNodeDirectories()) {
      std::ifstream file(storage + "/" + entry + "/node.json");
      const json node = json::parse(file, nullptr, false);
      if (!node.is_discarded() && node.value("unicastAddress", "") == wanted) return node;
    }
    return json();
  }
  std::vector<std::string> StoredNodeDirectories() const {
    std::vector<std::string> names;
    DIR* directory = opendir((Root() + "/var/lib/bluetooth/mesh").c_str());
    if (directory == nullptr) return names;
    while (const dirent* entry = readdir(directory)) {
      const std::string name = entry->d_name;
      if (name.size() == 32) names.push_back(name);  // a node's UUID
    }
    closedir(directory);
    return names;
  }

  // The process id of the sandbox's bluetooth-meshd; 0 while there is none.
  int MeshDaemonPid() const {
    Subprocess find({"/usr/bin/pgrep", "--ns", std::to_string(daemon_->Pid()), "--nslist", "mnt", "-x", "bluetooth-meshd"});
    if (!find.Wait(10s).has_value()) return 0;
    return std::atoi(find.Output().c_str());
  }

  std::size_t Count(const std::string& text, std::size_t from = 0) const {
    const std::string output = daemon_->Output();
    std::size_t count = 0;
    for (auto at = output.find(text, from); at != std::string::npos; at = output.find(text, at + 1)) ++count;
    return count;
  }

  // The latest reading of `device` the cloud took is among the bodies the node says it sent on
  // `channel`, its value written as the gateway writes numbers.
  ::testing::AssertionResult SentByTheNode(std::size_t index, const std::string& device, int channel) const {
    const auto readings = Readings();  // before the node's list, which then holds them all
    const json sensor = Sensor(index);
    std::set<std::pair<std::string, std::string>> sent;
    for (const auto& body : sensor.at("recent_reports")) {
      if (body.value("c", 0) == channel) sent.insert({body.at("k"), AsReported(body.at("v"))});
    }
    if (readings.count(device) == 0) return ::testing::AssertionFailure() << "no reading of " << device;
    const json& latest = readings.at(device).back();
    if (sent.count({latest.at("k"), latest.at("v")}) == 0) {
      return ::testing::AssertionFailure() << latest << " is not among what " << device
                                           << " sent: " << sensor.at("recent_reports");
    }
    return ::testing::AssertionSuccess();
  }
};

}  // namespace

TEST_F(SandboxedRealMesh, JoinsConfiguresItselfAndAttachesAgainAfterEitherDaemonRestarts) {
  StartWithRealDaemon();

  // The first run imported its node and configured it through the daemon's configuration
  // server: its stored configuration holds the four steps, and its token is the gateway's.
  ASSERT_TRUE(WaitUntil([&] { return Sensor(0).at("gateway") == 1; }, 60s)) << "a node heard the beacon"
                                                                            << daemon_->Output();
  const json gateway = StoredNode(0x0001);
  ASSERT_FALSE(gateway.is_null()) << StoredNodeDirectories().size();
  EXPECT_EQ(gateway.at("defaultTTL"), 3);
  ASSERT_EQ(gateway.at("appKeys").size(), 1u);
  EXPECT_EQ(gateway.at("appKeys")[0].at("key"), kAppKey);
  json vendor_model;
  for (const auto& model : gateway.at("elements")[0].at("models")) {
    if (model.at("modelId") == "05f10001") vendor_model = model;
  }
  EXPECT_EQ(vendor_model.value("bind", json()), json::array({"0000"})) << gateway.at("elements");
  EXPECT_EQ(vendor_model.value("subscribe", json()), json::array({"fc88"})) << gateway.at("elements");
  std::ostringstream token;
  token << "option token '" << std::stoull(gateway.at("token").get<std::string>(), nullptr, 16) << "'";
  std::ifstream settings(Root() + "/etc/config/ferrowick");
  const std::string stored((std::istreambuf_iterator<char>(settings)), std::istreambuf_iterator<char>());
  EXPECT_NE(stored.find(token.str()), std::string::npos) << stored;
  for (const char* failure : {"Import Error", "Attach Error", "TTL Set Error", "AppKey Set Error", "Binding Error",
                              "SubscriptionAdd Error"}) {
    EXPECT_EQ(Count(failure), 0u) << failure;
  }
  ASSERT_TRUE(WaitUntil([&] { return ReadingCount() > 0; }, 60s)) << daemon_->Output();

  // The mesh daemon dies and is started again from its storage: the gateway and the nodes
  // attach again and the readings go on.
  const int killed = MeshDaemonPid();
  ASSERT_GT(killed, 0);
  const std::size_t rejoins = Count("joining it again");
  ASSERT_EQ(kill(killed, SIGKILL), 0);
  ASSERT_TRUE(WaitUntil([&] { return Count("joining it again") > rejoins; }, 30s)) << daemon_->Output();
  std::size_t count = ReadingCount();
  EXPECT_TRUE(WaitUntil([&] { return MoreReadingsThan(count + 3); }, 60s)) << daemon_->Output();
  EXPECT_TRUE(NodesReady());

  // The gateway restarts: it attaches with its stored token, imports nothing, and the
  // readings go on.
  RestartDaemon();
  const std::size_t second_run = daemon_->Output().find("first run ended");
  count = ReadingCount();
  EXPECT_TRUE(WaitUntil([&] { return MoreReadingsThan(count + 3); }, 90s)) << daemon_->Output();
  EXPECT_GT(Count("Attach2", second_run), 0u);
  EXPECT_EQ(Count("Import", second_run), 0u);
  EXPECT_EQ(StoredNodeDirectories().size(), 3u) << "the gateway and two nodes, no second gateway node";
}

TEST_F(SandboxedRealMesh, SensorTrafficCrossesTheRealDaemonBothWays) {
  StartWithRealDaemon();
  // A two-block sensor image, listed before the firmware check (10 s after start).
  Cloud().Call("PATCH", "/scenario",
               {{"firmware_files", {{kFirmwareImage, {{"image", {{"version", "1.0.1-0"}, {"size", 32}}}}}}}});
  const json sensors = Sensors();
  ASSERT_EQ(sensors.size(), 2u);
  const std::string single = sensors[0].at("id");
  const std::string three = sensors[1].at("id");

  // Announcements and reports of every device, the three-channel one's channels under their
  // suffixed ids; each report document has exactly the gateway's fields, and each reading is
  // one the node sent, its value as the gateway writes it.
  ASSERT_TRUE(WaitUntil([&] { return EveryDeviceReported(); }, 90s)) << daemon_->Output();
  for (const auto& body : Reports()) {
    ASSERT_EQ(body.size(), 1u) << body;
    for (const auto& node : body.at("nodes")) {
      EXPECT_EQ(node.size(), 2u) << node;
      for (const auto& reading : node.at("vs")) {
        EXPECT_EQ(reading.size(), 3u) << reading;
        EXPECT_TRUE(reading.at("k").is_string() && reading.at("v").is_string() && reading.at("ts").is_number_integer())
            << reading;
      }
    }
  }
  EXPECT_TRUE(SentByTheNode(0, single, 0));
  EXPECT_TRUE(SentByTheNode(1, three, 0));
  EXPECT_TRUE(SentByTheNode(1, three + "_2", 2));

  // The cloud's settings, and folds and a beacon change pushed over its websocket, reach the
  // node, which takes and acknowledges them.
  PushedSettingsReachTheFirstNode();
  if (HasFatalFailure()) return;

  // The firmware image, offered to the nodes' group, is served to each block by block.
  EXPECT_TRUE(WaitUntil(
      [&] {
        const json both = Sensors();
        return !both[0].at("installed").empty() && !both[1].at("installed").empty();
      },
      90s))
      << Sensors() << daemon_->Output();

  // A node leaves the gateway.
  const auto address = sensors[0].at("address").get<std::uint16_t>();
  ASSERT_TRUE(Nodes({{"cmd", "leave"}, {"address", address}}).at("ok"));
  EXPECT_TRUE(WaitUntil([&] { return Count("Leave Gateway from " + std::to_string(address) + " 1") > 0; }, 30s))
      << daemon_->Output();
}
