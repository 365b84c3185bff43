// The firmware manager among the stand-ins: the stand-in cloud as the firmware host (its
// name resolved to the loopback address by libcurl, its certificate trusted), the bus
// stand-ins for the configuration store and the board, recording sysupgrade and opkg in a
// scratch directory that also stands in for "/var/", a clock of the test's own.
#include "ota/ota_manager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "nvram/nvram.h"
#include "platform_fixture.h"
#include "server/server_api.h"
#include "sim-cloud/stand_in_cloud.h"
#include "support/memory_cloud_settings.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::WaitUntil;

namespace {

const char* const kSysupgrade = R"(#!/bin/sh
echo "$*" >> "$(dirname "$0")/sysupgrade.log"
cp "$2" "$(dirname "$0")/flashed"
echo "Saving config files..."
)";

// Answers list-installed from the file "installed" ("name - version" lines); records installs.
const char* const kOpkg = R"(#!/bin/sh
here=$(dirname "$0")
case "$1" in
  list-installed) grep "^$2 - " "$here/installed" ;;
  install) echo "$*" >> "$here/opkg.log" ;;
esac
exit 0
)";

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::string Read(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteTool(const std::string& path, const char* text) {
  std::ofstream(path) << text;
  ::chmod(path.c_str(), 0755);
}

json Entry(const std::string& type, const std::string& name, const std::string& version) {
  return json{{"type", type}, {"name", name}, {"version", version}};
}

class OTAManagerTest : public ::testing::Test {
 protected:
  OTAManagerTest() {
    store_.Init();
    tools_ = scratch_.Path() + "/tools";
    var_ = scratch_.Path() + "/var/";
    ::mkdir(tools_.c_str(), 0755);
    ::mkdir(var_.c_str(), 0755);
    WriteTool(tools_ + "/sysupgrade", kSysupgrade);
    WriteTool(tools_ + "/opkg", kOpkg);
    Installed("");
    ServerAPIOptions options;
    options.default_base_url = cloud_.BaseURL();
    options.firmware_config_url = "https://" + cloud_.HostPort() + "/firmware.conf";
    options.request_timeout = 10s;
    options.start_worker = false;
    cloud_client_ = std::make_unique<ServerAPI>(cloud_settings_, options);
  }

  OTAManagerOptions Options() {
    OTAManagerOptions options;
    options.download_directory = var_;
    options.sysupgrade = tools_ + "/sysupgrade";
    options.opkg = tools_ + "/opkg";
    options.bus_socket = platform_.Socket();
    options.download.ca_file = cloud_.Directory() + "/cert.pem";
    options.download.low_speed_time = 2s;
    options.clock = [this] { return now_.load(); };
    return options;
  }
  OTAServices Services() { return {store_, *cloud_client_}; }
  std::unique_ptr<OTAManager> MakeManager() { return std::make_unique<OTAManager>(Services(), Options()); }

  std::string DownloadUrl() const {
    return "https://firmware.test.localhost:" + std::to_string(cloud_.Port()) + "/files";
  }
  // Publishes a document and the firmware host's files.
  void Publish(const json& sensor, const json& gateway, const json& files = json::object()) {
    cloud_.Control().Call("PUT", "/scenario",
                          json{{"firmware_conf", {{"url", DownloadUrl()}, {"sensor", sensor}, {"gateway", gateway}}},
                               {"firmware_files", files}});
  }
  static json Image(const std::string& version, std::size_t size = 100) {
    return json{{"image", {{"version", version}, {"size", size}}}};
  }
  void Installed(const std::string& lines) { std::ofstream(tools_ + "/installed") << lines; }
  std::size_t Downloads(const std::string& name) const { return cloud_.RequestsTo("/files/" + name).size(); }
  std::string OpkgLog() const { return Read(tools_ + "/opkg.log"); }
  std::string SysupgradeLog() const { return Read(tools_ + "/sysupgrade.log"); }
  // No temporary download file is left in the download directory.
  bool NoPartialFiles() const { return std::system(("ls -A " + var_ + " | grep -q part").c_str()) != 0; }

  testing_support::LogCapture log_;
  sim_ubus_test::PlatformFixture platform_{R"({"board":{"release":{"version":"21.2.1"}}})"};
  NVRAM store_{platform_.Socket()};
  testing_support::StandInCloud cloud_;
  testing_support::ScratchDirectory scratch_;
  std::string tools_;
  std::string var_;
  MemoryCloudSettings cloud_settings_;
  std::unique_ptr<ServerAPI> cloud_client_;
  std::atomic<std::int64_t> now_{1'700'000'000};
};

using Entries = std::vector<FirmwareListEntry>;

std::string Describe(const Entries& entries) {
  std::string text;
  for (const auto& entry : entries) {
    text += std::to_string(entry.type) + ":" + entry.version + ":" + std::to_string(entry.blocks) + " ";
  }
  return text;
}

}  // namespace

TEST_F(OTAManagerTest, DeviceImageIsDownloadedCheckedAndServedInBlocks) {
  Publish(json::array({Entry("1", "sensor_1.2.3-4.bin", "1.2.3-4")}), json::array(),
          {{"sensor_1.2.3-4.bin", Image("1.2.3-4", 100)}});
  auto manager = MakeManager();
  manager->CheckNewFirmware(false);

  EXPECT_EQ(Describe(manager->FirmwareList()), "1:1.2.3-4:7 ");
  EXPECT_EQ(Read(var_ + "sensor_1.2.3-4.bin").size(), 100u);
  EXPECT_TRUE(NoPartialFiles());
  ota::Block block{};
  ASSERT_TRUE(manager->FirmwareBlock(0x0101, 1, 0, block));
  EXPECT_EQ(block[0], 0x3D);
  EXPECT_EQ(block[3], 0x96);
  ASSERT_TRUE(manager->FirmwareBlock(0x0101, 1, 6, block));
  const ota::Block last{96, 97, 98, 99, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(block, last);  // the image's last 4 bytes, then 12 zeros
  EXPECT_FALSE(manager->FirmwareBlock(0x0101, 1, 7, block));
  EXPECT_FALSE(manager->FirmwareBlock(0x0101, 2, 0, block));  // no image of that type
  EXPECT_TRUE(log_.Contains("sensor_1.2.3-4.bin 1.2.3-4 1"));
  EXPECT_TRUE(log_.Contains("size : 7"));
}

TEST_F(OTAManagerTest, AtMostTwoDevicesDownloadUntilOneIsIdleFor301Seconds) {
  Publish(json::array({Entry("1", "fw.bin", "1.0.0-1")}), json::array(), {{"fw.bin", Image("1.0.0-1")}});
  auto manager = MakeManager();
  manager->CheckNewFirmware(false);
  ota::Block block{};
  ASSERT_TRUE(manager->FirmwareBlock(1, 1, 0, block));
  now_ += 100;
  ASSERT_TRUE(manager->FirmwareBlock(2, 1, 0, block));
  EXPECT_TRUE(manager->IsUpgrading());
  EXPECT_FALSE(manager->FirmwareBlock(3, 1, 0, block));
  EXPECT_TRUE(log_.Contains("Session Full @3"));

  now_ += 200;  // device 1 idle for 300 s
  manager->ExpireSessions();
  EXPECT_FALSE(manager->FirmwareBlock(3, 1, 0, block));
  now_ += 1;  // 301 s
  manager->ExpireSessions();
  EXPECT_TRUE(log_.Contains("Session Delete @1"));
  EXPECT_TRUE(manager->FirmwareBlock(3, 1, 1, block));
  EXPECT_FALSE(log_.Contains("Session Delete @2"));
  EXPECT_TRUE(manager->FirmwareBlock(2, 1, 1, block));  // refreshed, not admitted again

  now_ += 301;
  manager->ExpireSessions();
  EXPECT_FALSE(manager->IsUpgrading());
}

TEST_F(OTAManagerTest, OnlyAGreaterDeviceVersionReplacesAnImageInItsPlace) {
  Publish(json::array({Entry("1", "one_1.bin", "1.0.0-1"), Entry("2", "two_1.bin", "2.0.0-1")}), json::array(),
          {{"one_1.bin", Image("1.0.0-1", 100)}, {"two_1.bin", Image("2.0.0-1", 48)}});
  auto manager = MakeManager();
  manager->CheckNewFirmware(false);
  ASSERT_EQ(Describe(manager->FirmwareList()), "1:1.0.0-1:7 2:2.0.0-1:3 ");

  // Equal (written differently), smaller and empty versions download nothing.
  for (const std::string version : {"1.0.0+1", "0.9.9-9", ""}) {
    Publish(json::array({Entry("1", "one_x.bin", version)}), json::array(), {{"one_x.bin", Image(version)}});
    manager->CheckNewFirmware(false);
    EXPECT_EQ(Downloads("one_x.bin"), 0u) << version;
  }
  Publish(json::array({Entry("1", "one_2.bin", "1.0.1-0")}), json::array(), {{"one_2.bin", Image("1.0.1-0", 200)}});
  manager->CheckNewFirmware(false);
  EXPECT_EQ(Describe(manager->FirmwareList()), "1:1.0.1-0:13 2:2.0.0-1:3 ");
  ota::Block block{};
  EXPECT_TRUE(manager->FirmwareBlock(5, 1, 12, block));
  EXPECT_EQ(block[0], 192);
}

TEST_F(OTAManagerTest, ImagesFailingTheChecksAreNotOffered) {
  struct Case {
    const char* name;
    json file;  // null: the host does not have it
    const char* logged;
    const char* not_logged;
  };
  const std::vector<Case> cases{
      {"magic",
       {{"image", {{"version", "1.0.0-1"}, {"magic", 0x96F3B83E}}}},
       "헤더 매직번호가 다릅니다.",
       "holds version"},
      {"version", Image("1.0.0-2"), "holds version 1.0.0.2, not 1.0.0-1", "헤더 매직번호가 다릅니다."},
      {"short", {{"content", std::string(31, 'x')}}, "is shorter than its 32-byte header", "헤더 매직번호가 다릅니다."},
      {"missing", nullptr, "answered 404", "파일["},
  };
  auto manager = MakeManager();
  for (const auto& test : cases) {
    const std::string name = std::string(test.name) + ".bin";
    json files = json::object();
    if (!test.file.is_null()) files[name] = test.file;
    testing_support::LogCapture log;
    Publish(json::array({Entry("1", name, "1.0.0-1")}), json::array(), files);
    manager->CheckNewFirmware(false);
    EXPECT_TRUE(manager->FirmwareList().empty()) << test.name;
    EXPECT_TRUE(log.Contains(test.logged)) << test.name << "\n" << log.Text();
    EXPECT_FALSE(log.Contains(test.not_logged)) << test.name;
  }
  ota::Block block{};
  EXPECT_FALSE(manager->FirmwareBlock(1, 1, 0, block));
}

TEST_F(OTAManagerTest, PackagesAreInstalledOnlyWhenNewer) {
  struct Case {
    const char* installed;
    const char* offered;
    bool installs;
  };
  const std::vector<Case> cases{
      {"", "1.0.0-1", true},                   // not installed
      {"tool - 1.0.0-1\n", "1.0.0-2", true},   // older
      {"tool - 1.0.0-2\n", "1.0.0+2", false},  // equal
      {"tool - 1.1.0-0\n", "1.0.9-9", false},  // newer installed
      {"tool - 1.0.0-1\n", "", false},         // an empty offer is older
  };
  auto manager = MakeManager();
  for (const auto& test : cases) {
    Installed(test.installed);
    std::remove((tools_ + "/opkg.log").c_str());
    const std::string name = std::string("tool_") + test.offered + "_all.ipk";
    Publish(json::array(), json::array({Entry("app", name, test.offered)}), {{name, {{"content", "package"}}}});
    manager->CheckNewFirmware(false);
    EXPECT_EQ(OpkgLog(), test.installs ? "install " + var_ + name + "\n" : "") << test.installed << " " << test.offered;
  }
}

TEST_F(OTAManagerTest, TheDaemonsOwnPackageWaitsWhileDevicesDownload) {
  Installed("quellaron-app - 1.0.0-1\nother - 1.0.0-1\n");
  Publish(json::array({Entry("1", "fw.bin", "1.0.0-1")}), json::array(),
          {{"fw.bin", Image("1.0.0-1")},
           {"quellaron-app_1.0.1-1_mipsel_24kc.ipk", {{"content", "own"}}},
           {"other_1.0.1-1_all.ipk", {{"content", "other"}}}});
  auto manager = MakeManager();
  manager->CheckNewFirmware(false);
  ota::Block block{};
  ASSERT_TRUE(manager->FirmwareBlock(7, 1, 0, block));

  manager->UpdateGatewayFirmware(FirmwareInfo{"APP", "quellaron-app_1.0.1-1_mipsel_24kc.ipk", "1.0.1-1"});
  manager->UpdateGatewayFirmware(FirmwareInfo{"APP", "other_1.0.1-1_all.ipk", "1.0.1-1"});
  EXPECT_EQ(OpkgLog(), "install " + var_ + "other_1.0.1-1_all.ipk\n");

  now_ += 301;
  manager->ExpireSessions();
  manager->UpdateGatewayFirmware(FirmwareInfo{"App", "quellaron-app_1.0.1-1_mipsel_24kc.ipk", "1.0.1-1"});
  EXPECT_EQ(OpkgLog(),
            "install " + var_ + "other_1.0.1-1_all.ipk\ninstall " + var_ + "quellaron-app_1.0.1-1_mipsel_24kc.ipk\n");
}

TEST_F(OTAManagerTest, TheSystemIsUpgradedOnlyToAGreaterReleaseAndNotDuringASession) {
  auto manager = MakeManager();
  // The board runs 21.2.1.
  Publish(json::array(), json::array({Entry("SYSTEM", "old.img", "21.2.0")}), {{"old.img", {{"content", "old"}}}});
  manager->CheckNewFirmware(false);
  EXPECT_EQ(Downloads("old.img"), 0u);
  EXPECT_TRUE(log_.Contains("V1 : 21.2.1"));
  EXPECT_EQ(manager->CompareOpenWRTVersion("21.2.1", "21.2.0"), -1);

  Publish(json::array({Entry("1", "fw.bin", "1.0.0-1")}), json::array(),
          {{"fw.bin", Image("1.0.0-1")}, {"new.img", {{"content", "new image"}}}});
  manager->CheckNewFirmware(false);
  ota::Block block{};
  ASSERT_TRUE(manager->FirmwareBlock(7, 1, 0, block));
  manager->UpdateGatewayFirmware(FirmwareInfo{"SYSTEM", "new.img", "21.3.0"});
  EXPECT_EQ(Downloads("new.img"), 0u);
  EXPECT_EQ(SysupgradeLog(), "");

  now_ += 301;
  manager->ExpireSessions();
  manager->UpdateGatewayFirmware(FirmwareInfo{"system", "new.img", "21.3.0"});
  EXPECT_EQ(SysupgradeLog(), "-c " + var_ + "new.img\n");
  EXPECT_EQ(Read(tools_ + "/flashed"), "new image");
  EXPECT_TRUE(log_.Contains("Saving config files..."));
}

TEST_F(OTAManagerTest, AStalledDownloadFailsWithinTheLimitWhileSessionsStillExpire) {
  Publish(json::array({Entry("1", "fw.bin", "1.0.0-1")}), json::array(), {{"fw.bin", Image("1.0.0-1")}});
  auto options = Options();
  options.first_run = 0ms;
  options.sweep_period = 50ms;
  options.check_unit = 1h;
  options.download.low_speed_time = 3s;
  auto manager = std::make_unique<OTAManager>(Services(), options);
  manager->StartTimers();
  ASSERT_TRUE(WaitUntil([&] { return !manager->FirmwareList().empty(); })) << log_.Text();
  ota::Block block{};
  ASSERT_TRUE(manager->FirmwareBlock(9, 1, 0, block));

  // The next image stalls after 40 bytes; the check runs on its own thread meanwhile.
  Publish(json::array({Entry("1", "fw2.bin", "1.0.0-2")}), json::array(),
          {{"fw2.bin", {{"image", {{"version", "1.0.0-2"}}}, {"stall_after", 40}}}});
  now_ += 301;
  const auto started = std::chrono::steady_clock::now();
  manager->UpdateDeviceFirmware(FirmwareInfo{"1", "fw2.bin", "1.0.0-2"});
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, 2s);
  EXPECT_LT(took, 30s);
  EXPECT_TRUE(log_.Contains("fw2.bin")) << log_.Text();
  EXPECT_FALSE(Exists(var_ + "fw2.bin"));
  EXPECT_TRUE(NoPartialFiles());
  EXPECT_EQ(Describe(manager->FirmwareList()), "1:1.0.0-1:7 ");
  // The sweep ran on its own pace during the stalled transfer.
  EXPECT_TRUE(log_.Contains("Session Delete @9"));
}

TEST_F(OTAManagerTest, ATruncatedDownloadLeavesThePreviousFile) {
  Publish(json::array({Entry("1", "fw.bin", "1.0.0-1")}), json::array(), {{"fw.bin", Image("1.0.0-1", 100)}});
  auto manager = MakeManager();
  manager->CheckNewFirmware(false);
  ASSERT_EQ(Read(var_ + "fw.bin").size(), 100u);
  Publish(json::array(), json::array(),
          {{"fw.bin", {{"image", {{"version", "1.0.0-2"}, {"size", 400}}}, {"truncate_at", 64}}}});
  EXPECT_FALSE(manager->GetFirmwareFile("fw.bin"));
  EXPECT_EQ(Read(var_ + "fw.bin").size(), 100u);
  EXPECT_TRUE(NoPartialFiles());
}

TEST_F(OTAManagerTest, MalformedEntriesAndHostileNamesAreRefusedOneByOne) {
  Installed("");
  const json sensor = json::array({
      json("not an object"),
      Entry("x", "a.bin", "1.0.0-1"),
      Entry("1", "../escape.bin", "1.0.0-1"),
      Entry("1", "a;touch pwned.bin", "1.0.0-1"),
      Entry("1", ".hidden", "1.0.0-1"),
      Entry("1", "a.bin", "1.0.x-1"),
      json{{"type", "1"}, {"name", "a.bin"}, {"version", 100}},
      Entry("1", "good.bin", "1.0.0-1"),
  });
  const json gateway = json::array({
      Entry("APP", "$(touch pwned)_1.ipk", "1.0.0-1"),
      Entry("APP", "-force_1.ipk", "1.0.0-1"),
      Entry("APP", "pkg_1.ipk", "one.two"),
      Entry("SYSTEM", "sys.img", "21.x"),
      Entry("APP", "pkg_1.0.0-1.ipk", "1.0.0-1"),
  });
  Publish(sensor, gateway, {{"good.bin", Image("1.0.0-1")}, {"pkg_1.0.0-1.ipk", {{"content", "pkg"}}}});
  auto manager = MakeManager();
  manager->CheckNewFirmware(false);
  EXPECT_EQ(Describe(manager->FirmwareList()), "1:1.0.0-1:7 ");
  EXPECT_EQ(OpkgLog(), "install " + var_ + "pkg_1.0.0-1.ipk\n");
  EXPECT_FALSE(Exists(scratch_.Path() + "/escape.bin"));
  EXPECT_FALSE(Exists(var_ + "pwned"));
  EXPECT_FALSE(Exists("pwned"));
  EXPECT_EQ(cloud_.RequestsTo("/files/").size(), 2u);
  const std::string text = log_.Text();
  std::size_t errors = 0;
  for (auto at = text.find(" ERROR "); at != std::string::npos; at = text.find(" ERROR ", at + 1)) ++errors;
  EXPECT_EQ(errors, 11u) << text;

  // Documents refused whole: a member missing, a url of another form.
  for (const json& document : {json{{"url", DownloadUrl()}, {"sensor", json::array()}},
                               json{{"url", "file:///etc"}, {"sensor", json::array()}, {"gateway", json::array()}}}) {
    testing_support::LogCapture log;
    cloud_.Control().Call("PUT", "/scenario", json{{"firmware_conf", document}});
    manager->CheckNewFirmware(false);
    EXPECT_TRUE(log.Contains("refused")) << document.dump();
  }
  // A "sensor" that is not an array leaves "gateway" to be applied.
  Installed("");
  std::remove((tools_ + "/opkg.log").c_str());
  cloud_.Control().Call("PUT", "/scenario",
                        json{{"firmware_conf", {{"url", DownloadUrl()}, {"sensor", 5}, {"gateway", gateway}}},
                             {"firmware_files", {{"pkg_1.0.0-1.ipk", {{"content", "pkg"}}}}}});
  manager->CheckNewFirmware(false);
  EXPECT_EQ(OpkgLog(), "install " + var_ + "pkg_1.0.0-1.ipk\n");
}

TEST_F(OTAManagerTest, BlocksStayReadableWhileTheirImageIsReplaced) {
  const auto publish = [this](int build) {
    const std::string version = "1.0.0-" + std::to_string(build);
    const std::string name = "fw_" + std::to_string(build) + ".bin";
    Publish(json::array({Entry("1", name, version)}), json::array(), {{name, Image(version, 100 + 50 * build)}});
    return FirmwareInfo{"1", name, version};
  };
  auto manager = MakeManager();
  publish(1);
  manager->CheckNewFirmware(false);
  std::atomic<bool> done{false};
  std::atomic<int> served{0};
  std::thread reader([&] {
    ota::Block block{};
    while (!done) {
      for (int index = 0; index < 20; ++index) {
        if (manager->FirmwareBlock(1, 1, index, block)) ++served;
      }
    }
  });
  // The reader's session holds back the periodic check, so the entries are applied directly.
  for (int build = 2; build <= 5; ++build) manager->UpdateDeviceFirmware(publish(build));
  done = true;
  reader.join();
  EXPECT_GT(served.load(), 0);
  EXPECT_EQ(Describe(manager->FirmwareList()), "1:1.0.0-5:22 ");
}

TEST_F(OTAManagerTest, ACheckPeriodOfZeroMinutesIsTakenAsOne) {
  store_.FWCheck(0);
  Publish(json::array(), json::array());
  auto manager = MakeManager();
  manager->CheckNewFirmware(false);
  EXPECT_TRUE(log_.Contains("Firmware check period of 0 minutes taken as 1"));
}

TEST_F(OTAManagerTest, TheCheckRepeatsEveryFWCheckPeriodAndSkipsTheDocumentDuringASession) {
  store_.FWCheck(2);
  Publish(json::array({Entry("1", "fw.bin", "1.0.0-1")}), json::array(), {{"fw.bin", Image("1.0.0-1")}});
  auto options = Options();
  options.first_run = 100ms;
  options.check_unit = 100ms;  // FWCheck 2: every 200 ms
  auto manager = std::make_unique<OTAManager>(Services(), options);
  manager->StartTimers();
  ASSERT_TRUE(WaitUntil([&] { return cloud_.RequestsTo("/firmware.conf").size() >= 3; })) << log_.Text();
  ota::Block block{};
  ASSERT_TRUE(manager->FirmwareBlock(4, 1, 0, block));
  // Checks still run, but fetch nothing while a device downloads.
  const std::size_t fetched = cloud_.RequestsTo("/firmware.conf").size();
  const auto entered = [&] {
    const std::string text = log_.Text();
    std::size_t count = 0;
    for (auto at = text.find("] Enter"); at != std::string::npos; at = text.find("] Enter", at + 1)) ++count;
    return count;
  };
  const std::size_t before = entered();
  ASSERT_TRUE(WaitUntil([&] { return entered() >= before + 3; }));
  EXPECT_LE(cloud_.RequestsTo("/firmware.conf").size(), fetched + 1);  // one may have been under way
}
