// The gateway's story with simulated sensor nodes, in its sandbox among every stand-in:
// provisioned by the phone it ends up reporting their readings; their readings reach the
// stand-in cloud under their device ids (sub-devices with their channel suffix); folds and
// beacon settings pushed over the cloud's websocket reach the nodes and change their
// reporting; a cloud outage of a minute loses no reading; restarts of the mesh daemon and of
// the daemon itself are survived.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sensor_sandbox.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::WaitUntil;

namespace {

class SandboxedSensors : public testing_support::SensorSandbox {
 protected:
  void Start(bool mesh_mode) { SensorSandbox::Start({mesh_mode, false, {}}); }
  json Meshd(const json& command) const { return sim::standin::ControlCall(Root() + "/run/sim/meshd.sock", command); }
};

}  // namespace

TEST_F(SandboxedSensors, ANewGatewayProvisionedByThePhoneReportsSensorReadings) {
  Start(false);
  const auto bluetoothd = [&](const json& command) {
    return sim::standin::ControlCall(Root() + "/run/sim/bluetoothd.sock", command);
  };
  ASSERT_EQ(bluetoothd({{"cmd", "wait_registered"}, {"timeout_ms", 20000}})["ok"], true) << daemon_->Output();
  EXPECT_EQ(ReadingCount(), 0u) << "no mesh before provisioning";
  const auto session = bluetoothd({{"cmd", "provision"},
                                   {"ssid", "Office"},
                                   {"key", "s3cret-pass"},
                                   {"mesh", {{"n", "AAECAwQFBgcICQoLDA0ODw=="}, {"a", "EBESExQVFhcYGRobHB0eHw=="}, {"u", 1}, {"g", 0xCA00}}}});
  ASSERT_EQ(session["ok"], true) << session.dump() << daemon_->Output();
  EXPECT_TRUE(WaitUntil([&] { return EveryDeviceReported(); }, 120s)) << daemon_->Output();
}

TEST_F(SandboxedSensors, ReadingsReachTheCloudAndPushedSettingsReachTheNodes) {
  Start(true);
  const json sensors = Sensors();
  ASSERT_EQ(sensors.size(), 2u);
  const std::string single = sensors[0].at("id");
  const std::string three = sensors[1].at("id");
  EXPECT_EQ(sensors[1].at("device_ids"), (json{three, three + "_1", three + "_2", three + "_3"}));

  // Readings of every device, the three-channel one's channels under their suffixed ids.
  ASSERT_TRUE(WaitUntil([&] { return EveryDeviceReported(); }, 90s)) << daemon_->Output();
  const auto readings = Readings();
  for (const auto& reading : readings.at(single)) {
    EXPECT_TRUE(reading.at("k") == "temp" || reading.at("k") == "humi") << reading;
    EXPECT_TRUE(reading.at("v").is_string()) << "values are reported as text: " << reading;
    EXPECT_TRUE(reading.contains("ts"));
  }
  EXPECT_EQ(readings.at(three + "_2").front().at("k"), "current");

  PushedSettingsReachTheFirstNode();
}

TEST_F(SandboxedSensors, ACloudOutageOfAMinuteLosesNoReadingAndTheLedTellsIt) {
  Start(true);
  ASSERT_TRUE(WaitUntil([&] { return EveryDeviceReported(); }, 90s)) << daemon_->Output();

  // The cloud goes away: no connection accepted, every request and the channel dropped.
  Cloud().Call("POST", "/refuse", {{"refuse", true}});
  Cloud().Call("POST", "/faults", {{"path", ""}, {"drop", true}});
  Cloud().Call("POST", "/channel/drop", json::object());
  const std::size_t before = ReadingCount();
  const int sent_before = ReportsSent();
  EXPECT_TRUE(WaitUntil([&] { return ReportsSent() >= sent_before + 36; }, 120s)) << "the nodes go on reporting";
  // A minute out of reach turns the LED to "server not connected"; the first delivery after
  // the outage turns it back.
  EXPECT_TRUE(daemon_->WaitForOutput("SYS_EVT_SERVER_DISCONNECTED", 150s)) << daemon_->Output();
  Cloud().Call("DELETE", "/faults");
  Cloud().Call("POST", "/refuse", {{"refuse", false}});
  EXPECT_TRUE(daemon_->WaitForOutput("Cloud reachable again", 90s)) << daemon_->Output();

  // The nodes fall silent; every reading they sent reaches the cloud, in order per device.
  ASSERT_TRUE(Meshd({{"cmd", "sensor_faults"}, {"silent", true}}).at("ok"));
  const auto sent = static_cast<std::size_t>(ReportsSent());
  EXPECT_TRUE(WaitUntil([&] { return ReadingCount() >= sent; }, 120s))
      << ReadingCount() << " readings of " << sent << " sent; " << before << " before the outage";
  EXPECT_EQ(ReadingCount(), sent);
  for (const auto& [device, values] : Readings()) {
    for (std::size_t index = 1; index < values.size(); ++index) {
      EXPECT_LE(values[index - 1].at("ts"), values[index].at("ts")) << device;
    }
  }
}

TEST_F(SandboxedSensors, RestartsOfTheMeshDaemonAndOfTheDaemonAreSurvived) {
  Start(true);
  ASSERT_TRUE(WaitUntil([&] { return EveryDeviceReported(); }, 90s)) << daemon_->Output();

  // The mesh daemon restarts: the gateway attaches again and the readings go on.
  ASSERT_TRUE(Meshd({{"cmd", "restart"}, {"off_ms", 1000}}).at("ok"));
  ASSERT_TRUE(WaitUntil([&] { return !Meshd({{"cmd", "status"}}).at("name_owned"); }, 10s));
  std::size_t count = ReadingCount();
  ASSERT_TRUE(WaitUntil([&] { return Meshd({{"cmd", "status"}}).at("nodes")[0].at("attached") == true; }, 60s))
      << daemon_->Output();
  EXPECT_TRUE(WaitUntil([&] { return MoreReadingsThan(count + 3); }, 60s)) << daemon_->Output();

  // The daemon restarts: it attaches with its token (no new join) and the readings go on.
  ASSERT_TRUE(Meshd({{"cmd", "clear"}}).at("ok"));
  RestartDaemon();
  count = ReadingCount();
  EXPECT_TRUE(WaitUntil([&] { return MoreReadingsThan(count + 3); }, 90s)) << daemon_->Output();
  const json records = Meshd({{"cmd", "records"}}).at("records");
  for (const auto& record : records) {
    EXPECT_NE(record.value("member", ""), "Import") << "attached with the stored token";
  }
}
