// The daemon in its sandbox provisioned by the stand-in bluetoothd's simulated phone: the
// identity read, the Wi-Fi scan with every kind of network, the chosen network stored and
// brought up, the mesh keys and addresses stored, and after "S" and the phone's disconnect
// the switch to mesh mode (GATT service withdrawn, bluetoothd restarted). Also a phone that
// floods the gateway, and a bluetoothd that starts well after the daemon.

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "standin/control_socket.h"
#include "sandboxed_gateway.h"
#include "support/sandbox.h"
#include "support/subprocess.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::SourcePath;
using testing_support::Subprocess;
using testing_support::WaitUntil;

namespace {

json BluetoothdAt(const std::string& root, const json& command) {
  return sim::standin::ControlCall(root + "/run/sim/bluetoothd.sock", command);
}

class SandboxedProvisioning : public testing_support::SandboxedGateway {
 protected:
  json Bluetoothd(const json& command) const { return BluetoothdAt(Root(), command); }
};

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

}  // namespace

TEST_F(SandboxedProvisioning, PhoneProvisionsTheGatewayIntoMeshMode) {
  ASSERT_EQ(Bluetoothd({{"cmd", "wait_registered"}, {"timeout_ms", 20000}})["ok"], true) << daemon_->Output();
  const auto status = Bluetoothd({{"cmd", "status"}});
  EXPECT_EQ(status["adapter"]["advertisement"]["properties"]["LocalName"], "R907_0a1b2c3d4e5f");
  EXPECT_EQ(status["adapter"]["powered"], true);

  const auto session = Bluetoothd({{"cmd", "provision"},
                                   {"ssid", "Office"},
                                   {"key", "s3cret-pass"},
                                   {"mesh", {{"n", "AAECAwQFBgcICQoLDA0ODw=="}, {"a", "EBESExQVFhcYGRobHB0eHw=="}, {"u", 1}, {"g", 0xCA00}}}});
  ASSERT_EQ(session["ok"], true) << session.dump() << daemon_->Output();
  EXPECT_EQ(session["identity"], json::parse(R"({"R":"I","d":"MGExYjJjM2Q0ZTVm","s":"MGExYjJjM2Q0ZTVmMDAwMQ=="})"));
  // Every network of the scenario but the 802.1x one, each with its encryption name.
  std::map<std::string, std::string> networks;
  for (const auto& network : session["networks"]) networks[network["s"]] = network["e"];
  EXPECT_EQ(networks, (std::map<std::string, std::string>{
                          {"Office", "psk2+ccmp"}, {"HomeNet", "psk-mixed+tkip+ccmp"}, {"CafeGuest", "none"},
                          {"OldPrinter", "wep"}}));
  EXPECT_EQ(session["wifi"], "WCS");

  const auto wireless = File("/etc/config/wireless");
  EXPECT_NE(wireless.find("option ssid 'Office'"), std::string::npos) << wireless;
  EXPECT_NE(wireless.find("option encryption 'psk2+ccmp'"), std::string::npos) << wireless;

  // After "S" and the disconnect: mesh mode stored, the GATT service withdrawn, bluetoothd
  // restarted for the mesh daemon.
  ASSERT_TRUE(WaitUntil([&] { return File("/var/log/sim/tools.log").find("bluetoothd restart") != std::string::npos; }, 20s))
      << daemon_->Output();
  const auto settings = File("/etc/config/ferrowick");
  EXPECT_NE(settings.find("option enable '1'"), std::string::npos) << settings;
  EXPECT_NE(settings.find("option netkey 'AAECAwQFBgcICQoLDA0ODw=='"), std::string::npos) << settings;
  EXPECT_NE(settings.find("option appkey 'EBESExQVFhcYGRobHB0eHw=='"), std::string::npos) << settings;
  EXPECT_NE(settings.find("option net_addr '1'"), std::string::npos) << settings;
  EXPECT_NE(settings.find("option devkey '"), std::string::npos) << settings;
  EXPECT_EQ(Bluetoothd({{"cmd", "status"}})["adapter"]["application"], nullptr);
  EXPECT_EQ(Bluetoothd({{"cmd", "status"}})["adapter"]["advertisement"], nullptr);
}

TEST_F(SandboxedProvisioning, GarbageAndAPhoneThatLeavesEarlyChangeNothing) {
  ASSERT_EQ(Bluetoothd({{"cmd", "wait_registered"}, {"timeout_ms", 20000}})["ok"], true) << daemon_->Output();
  ASSERT_EQ(Bluetoothd({{"cmd", "connect"}})["ok"], true);
  ASSERT_EQ(Bluetoothd({{"cmd", "subscribe"}})["ok"], true);
  for (const char* hex : {"ff", "a16143", "820102", "a1614305", ""}) {
    EXPECT_EQ(Bluetoothd({{"cmd", "write"}, {"hex", hex}})["ok"], true) << hex;
  }
  EXPECT_EQ(Bluetoothd({{"cmd", "replies"}, {"count", 1}, {"timeout_ms", 1500}})["replies"], json::array());
  EXPECT_EQ(Bluetoothd({{"cmd", "disconnect"}})["ok"], true);

  const auto session = Bluetoothd({{"cmd", "provision"}, {"leave_after", "I"}});
  ASSERT_EQ(session["ok"], true) << session.dump();
  EXPECT_EQ(session["left_after"], "I");
  // The gateway stays in provisioning: still advertising, nothing restarted.
  EXPECT_FALSE(WaitUntil([&] { return File("/var/log/sim/tools.log").find("bluetoothd restart") != std::string::npos; }, 3s));
  EXPECT_NE(Bluetoothd({{"cmd", "status"}})["adapter"]["application"], nullptr);
  EXPECT_NE(daemon_->Output().find("wrong command. reject"), std::string::npos);
}

// A phone that writes a thousand "WS" and a thousand pieces of garbage right after asking for
// a Wi-Fi network: its requests are dropped beyond their pace, one scan at a time holds the
// message thread, and the WAN's ifup ends the set-up in time, its "WCS" reaching the phone.
TEST_F(SandboxedProvisioning, AFloodOfRequestsLeavesTheGatewayResponsive) {
  ASSERT_EQ(Bluetoothd({{"cmd", "wait_registered"}, {"timeout_ms", 20000}})["ok"], true) << daemon_->Output();
  ASSERT_EQ(Bluetoothd({{"cmd", "connect"}})["ok"], true);
  ASSERT_EQ(Bluetoothd({{"cmd", "subscribe"}})["ok"], true);
  ASSERT_EQ(Bluetoothd({{"cmd", "write"}, {"request", {{"C", "WP"}, {"P", {{"s", "Office"}, {"e", "psk2+ccmp"}, {"k", "s3cret-pass"}}}}}})["ok"], true);
  const auto flood_started = std::chrono::steady_clock::now();
  EXPECT_EQ(Bluetoothd({{"cmd", "write"}, {"request", {{"C", "WS"}}}, {"repeat", 1000}})["ok"], true);
  EXPECT_EQ(Bluetoothd({{"cmd", "write"}, {"hex", "a16143"}, {"repeat", 1000}})["ok"], true);
  const auto flood_seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - flood_started).count();

  const auto deadline = std::chrono::steady_clock::now() + 25s;
  bool succeeded = false;
  while (!succeeded && std::chrono::steady_clock::now() < deadline) {
    const auto answer = Bluetoothd({{"cmd", "replies"}, {"count", 1}, {"timeout_ms", 2000}});
    for (const auto& reply : answer["replies"]) {
      succeeded = succeeded || reply["json"] == json{{"R", "WCS"}};
    }
  }
  EXPECT_TRUE(succeeded) << daemon_->Output();
  EXPECT_TRUE(daemon_->WaitForOutput("Network Setup Timer Canceled", 5s)) << "the ifup ended the set-up in time";
  EXPECT_NE(daemon_->Output().find("request(s) from the phone dropped"), std::string::npos);
  // Requests are taken at most as a burst of 8 and two a second; each starts a scan at most.
  const auto scans = Occurrences(daemon_->Output(), "APP_EVT_SCAN_WIRELESS_AP");
  EXPECT_GE(scans, 1u);
  EXPECT_LE(scans, static_cast<std::size_t>(8 + 2 * (flood_seconds + 1))) << daemon_->Output();
}

// bluetoothd losing the race at boot by 30 s: the first set-up fails and the LED shows the
// malfunction; when bluetoothd appears the service is published, the LED recovers, and the
// phone provisions the gateway as ever.
TEST(SandboxWithLateBluetoothd, TheGatewayIsProvisionedOnceBluetoothdAppears) {
  ::setenv("QUELLARON_BLUETOOTHD_DELAY_S", "30", 1);
  Subprocess daemon(testing_support::SandboxedDaemon());
  ::unsetenv("QUELLARON_BLUETOOTHD_DELAY_S");
  const std::string root = "/proc/" + std::to_string(daemon.Pid()) + "/root";
  EXPECT_TRUE(daemon.WaitForOutput("Bluetooth LE set-up failed", 60s)) << daemon.Output();
  EXPECT_TRUE(daemon.WaitForOutput("Bluetooth Malfunction", 30s)) << daemon.Output();

  ASSERT_TRUE(WaitUntil([&] { return ::access((root + "/run/sim/bluetoothd.sock").c_str(), F_OK) == 0; }, 90s));
  // Published as soon as its bus name appears, not at the next pause's end.
  ASSERT_EQ(BluetoothdAt(root, {{"cmd", "wait_registered"}, {"timeout_ms", 10000}})["ok"], true) << daemon.Output();
  EXPECT_TRUE(daemon.WaitForOutput("SYS_EVT_BLUETOOTH_RECOVERED", 10s)) << daemon.Output();

  const auto session = BluetoothdAt(root, {{"cmd", "provision"}, {"ssid", "Office"}, {"key", "s3cret-pass"}});
  ASSERT_EQ(session["ok"], true) << session.dump() << daemon.Output();
  EXPECT_EQ(session["wifi"], "WCS");
  EXPECT_TRUE(WaitUntil([&] {
    std::ifstream tools(root + "/var/log/sim/tools.log");
    return std::string(std::istreambuf_iterator<char>(tools), {}).find("bluetoothd restart") != std::string::npos;
  }, 20s)) << daemon.Output();
  daemon.Signal(SIGTERM);
  EXPECT_TRUE(daemon.Wait(30s).has_value());
}

// Without bluetoothd the provisioning service cannot be published: the application is told
// (the LED shows the Bluetooth malfunction).
TEST(SandboxWithoutBluetoothd, ProvisioningReportsTheMalfunction) {
  ::setenv("QUELLARON_BLUETOOTHD", "off", 1);
  Subprocess daemon(testing_support::SandboxedDaemon());
  EXPECT_TRUE(daemon.WaitForOutput("Bluetooth LE set-up failed", 60s)) << daemon.Output();
  EXPECT_TRUE(daemon.WaitForOutput("Bluetooth Malfunction", 30s)) << daemon.Output();
  daemon.Signal(SIGTERM);
  EXPECT_TRUE(daemon.Wait(30s).has_value());
}
