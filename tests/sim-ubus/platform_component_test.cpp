// The bus CLI, the platform objects and the configuration store together on the broker.
#include <gtest/gtest.h>

#include <mutex>
#include <regex>

#include "ipc/ubus.h"
#include "ipc/ubus_listener.h"
#include "nvram/nvram.h"
#include "platform_fixture.h"
#include "support/sandbox.h"
#include "support/subprocess.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using sim_ubus_test::PlatformFixture;
using testing_support::WaitUntil;

namespace {

// Collects the events of some types on a listener of its own.
class EventLog {
 public:
  EventLog(const std::string& socket, const std::vector<std::string>& types) : listener_(30, socket) {
    for (const auto& type : types) {
      EXPECT_TRUE(listener_.RegisterEventHandler(type, [this, type](const char* text) {
        const std::lock_guard<std::mutex> guard(lock_);
        events_.push_back(type + " " + text);
      }));
    }
    listener_.ServerStart();
  }
  std::vector<std::string> Events() {
    const std::lock_guard<std::mutex> guard(lock_);
    return events_;
  }
  bool WaitFor(std::size_t count) {
    return WaitUntil([&] { return Events().size() >= count; });
  }

 private:
  ipc::UBUSListener listener_;
  std::mutex lock_;
  std::vector<std::string> events_;
};

}  // namespace

TEST(BusCli, ListsCallsAndReportsFailuresAsThePlatformToolDoes) {
  PlatformFixture platform;
  std::string output;
  EXPECT_EQ(platform.Cli({"list"}, output), 0);
  EXPECT_EQ(output, "iwinfo\nnetwork.interface.wan\nplatform\nsystem\nuci\n");
  EXPECT_EQ(platform.Cli({"list", "network.*"}, output), 0);
  EXPECT_EQ(output, "network.interface.wan\n");

  EXPECT_EQ(platform.Cli({"-v", "list", "iwinfo"}, output), 0);
  EXPECT_TRUE(std::regex_match(output, std::regex("'iwinfo' @[0-9a-f]{8}\n\t\"scan\":\\{\"device\":\"String\"\\}\n")))
      << output;

  EXPECT_EQ(platform.Cli({"call", "uci", "get", R"({"config":"ferrowick","section":"sys"})"}, output), 0);
  EXPECT_EQ(output,
            "{\n\t\"values\": {\n\t\t\".anonymous\": false,\n\t\t\".type\": \"sys\",\n\t\t\".name\": \"sys\",\n"
            "\t\t\"url\": \"https://cloud.example.test/api/v1\",\n\t\t\"first_boot\": \"1\"\n\t}\n}\n");
  EXPECT_EQ(platform.Cli({"call", "uci", "get", R"({"config":"ferrowick","section":"auth"})"}, output), 0);
  EXPECT_EQ(output, "");

  EXPECT_EQ(platform.Cli({"call", "network.interface.lan", "status"}, output), 4);
  EXPECT_EQ(output, "Command failed: Not found\n");
  EXPECT_EQ(platform.Cli({"call", "uci", "nosuchmethod", R"({"config":"ferrowick"})"}, output), 253);
  EXPECT_EQ(output, "Command failed: ubus call uci nosuchmethod {\"config\":\"ferrowick\"} (Method not found)\n");
  EXPECT_EQ(platform.Cli({"call", "uci", "get", "{"}, output), 244);
  EXPECT_EQ(output, "Command failed: ubus call uci get { (Parsing message data failed)\n");
  EXPECT_EQ(platform.Cli({"send", "x", "[1]"}, output), 12);
  EXPECT_EQ(output, "Command failed: Parsing message data failed\n");
  EXPECT_EQ(platform.Cli({"call", "uci"}, output), 254);
  EXPECT_NE(output.find("Usage:"), std::string::npos);
}

TEST(BusCli, ListenPrintsWhatSendSends) {
  PlatformFixture platform;
  testing_support::Subprocess listener({testing_support::BuildPath("sim/ubus-cli/ubus"), "-s", platform.Socket(), "-t",
                                        "20", "listen", "button", "network.interface"});
  std::string output;
  // The listener registers in the background: send until it has heard one.
  EXPECT_TRUE(WaitUntil([&] {
    platform.Cli({"send", "button", R"({"event":"reset"})"}, output);
    return listener.Output().find(R"({ "button": {"event":"reset"} })") != std::string::npos;
  }));
  EXPECT_EQ(platform.Cli({"send", "network.interface", R"({"action":"ifup","interface":"wan"})"}, output), 0);
  EXPECT_EQ(output, "");
  EXPECT_TRUE(listener.WaitForOutput(R"({ "network.interface": {"action":"ifup","interface":"wan"} })", 10s));
}

TEST(PlatformObjects, WanDownAndUpEmitNetifdEventsAndChangeTheStatus) {
  PlatformFixture platform;
  EventLog events(platform.Socket(), {"network.interface"});
  ipc::UBUS bus(30, platform.Socket());
  std::string status;
  ASSERT_TRUE(bus.Call("network.interface.wan", "status", "", [&](const char* text) { status = text; }));
  EXPECT_NE(status.find(R"("up":true)"), std::string::npos);
  EXPECT_NE(status.find(R"("ipv4-address":[{"address":"192.168.1.23","mask":24}])"), std::string::npos);

  ASSERT_TRUE(bus.Call("network.interface.wan", "down", "", nullptr));
  ASSERT_TRUE(events.WaitFor(2));
  ASSERT_TRUE(bus.Call("network.interface.wan", "status", "", [&](const char* text) { status = text; }));
  EXPECT_EQ(status, R"({"up":false,"pending":false,"available":true,"autostart":false,"dynamic":false,"proto":"dhcp","device":"eth1","data":{}})");

  ASSERT_TRUE(bus.Call("network.interface.wan", "up", "", nullptr));
  ASSERT_TRUE(events.WaitFor(3));
  EXPECT_EQ(events.Events(), (std::vector<std::string>{
                                 R"(network.interface {"action":"ifdown","interface":"wan"})",
                                 R"(network.interface {"action":"ifdown","interface":"wan"})",
                                 R"(network.interface {"action":"ifup","interface":"wan"})"}));
}

TEST(PlatformObjects, ScanBoardRebootAndButton) {
  PlatformFixture platform;
  EventLog events(platform.Socket(), {"button"});
  ipc::UBUS bus(30, platform.Socket());
  std::string reply;
  ASSERT_TRUE(bus.Call("iwinfo", "scan", R"({"device":"wlan0"})", [&](const char* text) { reply = text; }));
  EXPECT_EQ(reply.rfind(R"({"results":[{"ssid":"Office","bssid":"D8:0D:17:2B:4C:10","mode":"Master")", 0), 0u) << reply;
  EXPECT_FALSE(bus.Call("iwinfo", "scan", R"({"device":"phy0-ap0"})", nullptr));
  EXPECT_FALSE(bus.Call("iwinfo", "scan", "", nullptr));

  ASSERT_TRUE(bus.Call("uci", "set", R"({"config":"system","type":"system","values":{"hostname":"quellaron-0a1b"}})", nullptr));
  ASSERT_TRUE(bus.Call("uci", "commit", R"({"config":"system"})", nullptr));
  ASSERT_TRUE(bus.Call("system", "board", "", [&](const char* text) { reply = text; }));
  EXPECT_NE(reply.find(R"("hostname":"quellaron-0a1b")"), std::string::npos) << reply;
  EXPECT_NE(reply.find(R"("release":{"distribution":"OpenWrt","version":"24.10.4")"), std::string::npos);

  ASSERT_TRUE(bus.Call("system", "reboot", "", [&](const char*) { ADD_FAILURE() << "reboot has no reply data"; }));
  ASSERT_TRUE(bus.Call("platform", "button", R"({"event":"reset"})", nullptr));
  ASSERT_TRUE(events.WaitFor(1));
  EXPECT_EQ(events.Events(), std::vector<std::string>{R"(button {"event":"reset"})"});
  ASSERT_TRUE(bus.Call("platform", "state", "", [&](const char* text) { reply = text; }));
  EXPECT_EQ(reply, R"({"wan_up":true,"reboots":1})");
}

TEST(PlatformObjects, ACommittedWirelessChangeBringsTheWanUp) {
  PlatformFixture platform(R"({"wan":{"up":false},"wireless":{"apply_delay_ms":100}})");
  EventLog events(platform.Socket(), {"network.interface"});
  NVRAM nvram(platform.Socket());
  nvram.Wireless("Office", "psk2", "s3cret-pass");
  ASSERT_TRUE(events.WaitFor(1));
  EXPECT_EQ(events.Events(), std::vector<std::string>{R"(network.interface {"action":"ifup","interface":"wan"})"});
  EXPECT_EQ(platform.ReadConfig("wireless"),
            "\nconfig wifi-iface 'default_radio0'\n\toption ssid 'Office'\n\toption encryption 'psk2'\n"
            "\toption key 's3cret-pass'\n\n");
}

TEST(PlatformObjects, ComeBackOnARestartedBroker) {
  PlatformFixture platform;
  platform.RestartBroker();
  // Like rpcd and netifd, the stand-in connects again and adds its objects anew.
  ipc::UBUS bus(30, platform.Socket());
  EXPECT_TRUE(WaitUntil([&] { return bus.Call("platform", "state", "", nullptr); }, 20s)) << platform.PlatformOutput();
  EventLog events(platform.Socket(), {"network.interface"});
  std::string status;
  ASSERT_TRUE(bus.Call("network.interface.wan", "down", "", nullptr));
  ASSERT_TRUE(events.WaitFor(2)) << "its events go over the new connection";
  ASSERT_TRUE(bus.Call("network.interface.wan", "status", "", [&](const char* text) { status = text; }));
  EXPECT_NE(status.find(R"("up":false)"), std::string::npos) << status;
  EXPECT_NE(platform.PlatformOutput().find("platform: objects registered again"), std::string::npos);
}

TEST(ConfigurationStore, WritesReachTheFilesAndLoadBack) {
  PlatformFixture platform;
  NVRAM nvram(platform.Socket());
  nvram.Init();
  EXPECT_EQ(nvram.TTL(), 5);
  EXPECT_TRUE(nvram.FirstBoot());
  EXPECT_EQ(nvram.Host(), "cloud.example.test");
  ASSERT_EQ(nvram.PLCList().size(), 1u);
  EXPECT_EQ(nvram.PLCList()[0].proto, "tcp");

  nvram.TTL(9);
  nvram.ClearFirstBoot();
  nvram.DeviceID("0a1b2c3d4e5f");
  nvram.MeshNetKey(std::vector<std::uint8_t>(16, 0x11));
  nvram.Hostname("quellaron-0a1b2c3d4e5f");
  PLCInfo added;
  added.id = 8;
  added.name = "line2";
  added.ip_address = "192.168.10.21";
  nvram.AddPLC(added);
  PLCInfo renamed = nvram.PLCList()[0];
  renamed.name = "line1b";
  renamed.plc_addresses = {"x.y.W.D.1", "x.y.W.D.2"};
  nvram.UpdatePLC(renamed);

  const std::string file = platform.ReadConfig("ferrowick");
  EXPECT_NE(file.find("\toption ttl '9'\n"), std::string::npos) << file;
  EXPECT_NE(file.find("\toption first_boot '0'\n"), std::string::npos);
  EXPECT_NE(file.find("\toption netkey 'EREREREREREREREREREREQ=='\n"), std::string::npos);
  EXPECT_NE(platform.ReadConfig("system").find("option hostname 'quellaron-0a1b2c3d4e5f'"), std::string::npos);

  NVRAM reloaded(platform.Socket());
  reloaded.Init();
  EXPECT_EQ(reloaded.TTL(), 9);
  EXPECT_FALSE(reloaded.FirstBoot());
  EXPECT_EQ(reloaded.DeviceID(), "0a1b2c3d4e5f");
  EXPECT_EQ(reloaded.MeshNetKey(), std::vector<std::uint8_t>(16, 0x11));
  const auto list = reloaded.PLCList();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], renamed);
  EXPECT_EQ(list[1], added) << "an empty address list is stored as \"\" and loads back empty";

  reloaded.DeletePLC(renamed);
  NVRAM after_delete(platform.Socket());
  after_delete.Init();
  ASSERT_EQ(after_delete.PLCList().size(), 1u);
  EXPECT_EQ(after_delete.PLCList()[0], added);
}
