#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "cloud/control_client.h"
#include "standin/control_socket.h"
#include "support/sandbox.h"
#include "support/subprocess.h"
#include "support/wait.h"

namespace testing_support {

// The daemon in its sandbox with two simulated sensor nodes (the second a three-channel
// device) whose fold minute lasts ten seconds, so their six kinds report less than once a
// second, the cloud client's pace. The daemon runs twice: the first run may be stopped by a
// test ("first run ended"), the second replaces the shell and is stopped in TearDown.
class SensorSandbox : public ::testing::Test {
 protected:
  struct Setup {
    bool mesh_mode = true;     // network keys stored, as after provisioning
    bool real_meshd = false;   // BlueZ's bluetooth-meshd instead of sim-meshd
    // Sandbox scripts (such as with-spool) and their arguments, run before the daemon.
    std::vector<std::string> wrappers;
  };

  void Start(const Setup& setup) {
    const std::map<std::string, std::string> environment{{"QUELLARON_SENSORS", "2"},
                                                         {"QUELLARON_SENSOR_THREE_CHANNEL_EVERY", "2"},
                                                         {"QUELLARON_SENSOR_MINUTE_MS", "10000"},
                                                         {"QUELLARON_MESHD", setup.real_meshd ? "real" : "sim"}};
    sensors_socket_ = setup.real_meshd ? "/run/sim/meshnodes.sock" : "/run/sim/meshd.sock";
    std::vector<std::string> command{"/bin/bash", SourcePath("sim/sandbox/sandbox"), "--build", BuildPath(""), "--",
                                     SourcePath("sim/sandbox/with-tokens")};
    if (setup.mesh_mode) command.push_back(SourcePath("sim/sandbox/mesh-mode"));
    command.insert(command.end(), setup.wrappers.begin(), setup.wrappers.end());
    for (const std::string part : {"/bin/bash", "-c", R"("$0"; echo "first run ended"; exec "$0")"}) {
      command.push_back(part);
    }
    command.push_back(BuildPath("src/app/quellaron"));
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    daemon_ = std::make_unique<Subprocess>(command);
    for (const auto& [name, value] : environment) unsetenv(name.c_str());
    ASSERT_TRUE(daemon_->WaitForOutput("[App::Init@", std::chrono::seconds(60))) << daemon_->Output();
  }
  void TearDown() override {
    if (!daemon_) return;
    daemon_->Signal(SIGTERM);
    EXPECT_TRUE(daemon_->Wait(std::chrono::seconds(30)).has_value());
  }
  // Stops the first run of the daemon; the second starts at once.
  void RestartDaemon() {
    Subprocess stop({"/usr/bin/pkill", "-TERM", "-x", "-P", std::to_string(daemon_->Pid()), "quellaron"});
    ASSERT_TRUE(stop.Wait(std::chrono::seconds(10)).has_value());
    ASSERT_TRUE(daemon_->WaitForOutput("first run ended", std::chrono::seconds(30))) << daemon_->Output();
  }

  std::string Root() const { return "/proc/" + std::to_string(daemon_->Pid()) + "/root"; }
  sim::cloud::ControlClient Cloud() const { return sim::cloud::ControlClient(Root() + "/run/sim/cloud.sock"); }
  // A command to the stand-in that simulates the sensors.
  nlohmann::json SensorsControl(const nlohmann::json& command) const {
    return sim::standin::ControlCall(Root() + sensors_socket_, command);
  }
  // The simulated sensors as their stand-in describes them.
  nlohmann::json Sensors() const { return SensorsControl({{"cmd", "sensors"}}).at("sensors"); }
  nlohmann::json Sensor(std::size_t index) const { return Sensors().at(index); }
  int ReportsSent() const {
    int sent = 0;
    for (const auto& sensor : Sensors()) sent += sensor.at("reports_sent").get<int>();
    return sent;
  }
  // The report documents the cloud accepted, in order.
  std::vector<nlohmann::json> Reports() const {
    std::vector<nlohmann::json> reports;
    for (const auto& request : Cloud().Requests()) {
      if (request.value("target", "").find("/gateways/report") == std::string::npos) continue;
      if (request.value("status", 0) != 200) continue;
      reports.push_back(nlohmann::json::parse(request.at("body").get<std::string>()));
    }
    return reports;
  }
  // The readings the cloud accepted, per device id (one request may carry several reports).
  std::map<std::string, std::vector<nlohmann::json>> Readings() const {
    std::map<std::string, std::vector<nlohmann::json>> readings;
    for (const auto& body : Reports()) {
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
    const nlohmann::json sensors = Sensors();
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

  // The cloud's settings (the device entries) reach the first node; then folds and a beacon
  // change pushed over the websocket: the node takes and acknowledges them and reports what
  // the new folds name.
  void PushedSettingsReachTheFirstNode() {
    using namespace std::chrono_literals;
    const std::string device = Sensor(0).at("id");
    ASSERT_TRUE(WaitUntil([&] { return Sensor(0).at("channels").at("0").at("folds_acknowledged") >= 1; }, 60s));
    ASSERT_TRUE(WaitUntil([&] { return Sensor(0).at("beacon_acknowledged") >= 1; }, 60s));

    Cloud().Call("POST", "/channel/folds", {{"device_id", device}, {"folds", {{{"key", "PH"}, {"fold", 1}}}}});
    const nlohmann::json pushed{{"PH", 1}};
    ASSERT_TRUE(WaitUntil([&] { return Sensor(0).at("channels").at("0").at("folds") == pushed; }, 60s)) << Sensor(0);
    ASSERT_TRUE(WaitUntil(
        [&] {
          const auto now = Readings();
          return now.count(device) != 0 && now.at(device).back().at("k") == "PH";
        },
        60s));

    const int beacons = Sensor(0).at("beacon_acknowledged");
    Cloud().Call("POST", "/channel/beacon", {{"device_id", device}, {"ble_enabled", false}});
    ASSERT_TRUE(WaitUntil([&] { return Sensor(0).at("beacon_acknowledged") > beacons; }, 60s)) << Sensor(0);
    EXPECT_FALSE(Sensor(0).at("beacon_enabled"));
  }

  std::unique_ptr<Subprocess> daemon_;
  std::string sensors_socket_;
};

}  // namespace testing_support
