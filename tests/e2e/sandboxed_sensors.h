#pragma once

#include <signal.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cloud/control_client.h"
#include "standin/control_socket.h"
#include "support/sandbox.h"
#include "support/subprocess.h"

namespace testing_support {

// The daemon in its sandbox in mesh mode (or provisioning mode) with simulated sensor nodes
// in range of the stand-in mesh daemon, authorised at the stand-in cloud; it runs twice, so a
// test may end the first run and watch the second. Stopped with SIGTERM after each test.
class SandboxedSensors : public ::testing::Test {
 protected:
  using json = nlohmann::json;

  // Two nodes, the second a three-channel device; a fold minute lasts ten seconds for them,
  // so their six kinds report less than once a second, the cloud client's pace. `wrappers`
  // (sandbox scripts such as with-spool and their arguments) run before the daemon.
  void Start(bool mesh_mode, const std::vector<std::string>& wrappers = {}) {
    setenv("QUELLARON_SENSORS", "2", 1);
    setenv("QUELLARON_SENSOR_THREE_CHANNEL_EVERY", "2", 1);
    setenv("QUELLARON_SENSOR_MINUTE_MS", "10000", 1);
    std::vector<std::string> command{"/bin/bash", SourcePath("sim/sandbox/sandbox"), "--build", BuildPath(""), "--",
                                     SourcePath("sim/sandbox/with-tokens")};
    if (mesh_mode) command.push_back(SourcePath("sim/sandbox/mesh-mode"));
    command.insert(command.end(), wrappers.begin(), wrappers.end());
    // Two runs of the daemon: the first may be stopped by a test, the second replaces the shell.
    for (const std::string part : {"/bin/bash", "-c", R"("$0"; echo "first run ended"; exec "$0")"}) {
      command.push_back(part);
    }
    command.push_back(BuildPath("src/app/quellaron"));
    daemon_ = std::make_unique<Subprocess>(command);
    unsetenv("QUELLARON_SENSORS");
    unsetenv("QUELLARON_SENSOR_THREE_CHANNEL_EVERY");
    unsetenv("QUELLARON_SENSOR_MINUTE_MS");
    ASSERT_TRUE(daemon_->WaitForOutput("[App::Init@", std::chrono::seconds(60))) << daemon_->Output();
  }
  void TearDown() override {
    if (!daemon_) return;
    daemon_->Signal(SIGTERM);
    EXPECT_TRUE(daemon_->Wait(std::chrono::seconds(30)).has_value());
  }

  std::string Root() const { return "/proc/" + std::to_string(daemon_->Pid()) + "/root"; }
  sim::cloud::ControlClient Cloud() const { return sim::cloud::ControlClient(Root() + "/run/sim/cloud.sock"); }
  json Meshd(const json& command) const { return sim::standin::ControlCall(Root() + "/run/sim/meshd.sock", command); }
  json Sensors() const { return Meshd({{"cmd", "sensors"}}).at("sensors"); }
  json Sensor(std::size_t index) const { return Sensors().at(index); }
  int ReportsSent() const {
    int sent = 0;
    for (const auto& sensor : Sensors()) sent += sensor.at("reports_sent").get<int>();
    return sent;
  }
  // The readings the cloud accepted, per device id.
  std::map<std::string, std::vector<json>> Readings() const {
    std::map<std::string, std::vector<json>> readings;
    for (const auto& request : Cloud().Requests()) {
      if (request.value("target", "").find("/gateways/report") == std::string::npos) continue;
      if (request.value("status", 0) != 200) continue;
      // One request may carry the readings of several reports.
      const json body = json::parse(request.at("body").get<std::string>());
      for (const auto& node : body.at("nodes")) {
        for (const auto& reading : node.at("vs")) readings[node.at("id")].push_back(reading);
      }
    }
    return readings;
  }
  std::size_t ReadingCount() const {
    const auto readings = Readings();
    return std::accumulate(readings.begin(), readings.end(), std::size_t{0},
                           [](std::size_t sum, const auto& entry) { return sum + entry.second.size(); });
  }
  bool EveryDeviceReported() const {
    const json sensors = Sensors();
    const auto readings = Readings();
    for (const auto& sensor : sensors) {
      for (const auto& device : sensor.at("device_ids")) {
        if (readings.count(device.get<std::string>()) == 0) return false;
      }
    }
    return true;
  }
  // True once more readings than `count` have arrived.
  bool MoreReadingsThan(std::size_t count) const { return ReadingCount() > count; }

  std::unique_ptr<Subprocess> daemon_;
};


}  // namespace testing_support
