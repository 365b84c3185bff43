// The first boot: the identity is read from the controller (ten attempts), stored with the
// host name, a reboot is asked for, and the advertisement names the new identity. Against
// the project's bus broker and platform objects, with a controller double.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "ble/bluetooth_le.h"
#include "ble_test_support.h"
#include "bluetoothd/bluetoothd.h"
#include "ipc/bus_fixture.h"
#include "ipc/ubus.h"
#include "support/private_dbus.h"
#include "support/sandbox.h"
#include "support/subprocess.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::WaitUntil;
using VendorStatus = HciController::VendorStatus;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class FirstBoot : public ::testing::Test {
 protected:
  void SetUp() override {
    config_ = ipc_test::MakeTempDirectory("quellaron-config");
    fs::copy(testing_support::SourcePath("sim/sandbox/rootfs/etc/config"), config_);
    // A gateway fresh from the factory: first boot, no identity yet.
    auto ferrowick = ReadFile(fs::path(config_) / "ferrowick");
    ferrowick = std::regex_replace(ferrowick, std::regex("option first_boot '0'"), "option first_boot '1'");
    ferrowick = std::regex_replace(ferrowick, std::regex("\toption (device_id|serial_number) '[0-9a-f]*'\n"), "");
    std::ofstream(fs::path(config_) / "ferrowick") << ferrowick;
    platform_ = std::make_unique<testing_support::Subprocess>(std::vector<std::string>{
        testing_support::BuildPath("sim/platform/platformd"), "-s", broker_.Socket(), "-c", config_});
    ASSERT_TRUE(WaitUntil([&] { return ipc::UBUS(5, broker_.Socket()).Call("uci", "configs", "", nullptr); }));
    store_ = std::make_unique<NVRAM>(broker_.Socket());
    store_->Init();
    ASSERT_TRUE(store_->FirstBoot());
    ASSERT_EQ(store_->DeviceID(), "");
  }
  void TearDown() override {
    ble_.reset();
    store_.reset();
  }

  bool Start(std::deque<HciController::VendorAnswer> answers) {
    hci_ = std::make_shared<ble_test::ScriptedHci>(std::move(answers));
    BlePlatform platform;
    platform.bus_address = bus_.Address();
    platform.hci = hci_;
    platform.ubus_socket = broker_.Socket();
    platform.identity_retry = 10ms;
    ble_ = std::make_unique<BluetoothLE>(poster_, *store_, platform);
    return ble_->Initialize();
  }
  int Reboots() {
    int reboots = -1;
    ipc::UBUS(5, broker_.Socket()).Call("platform", "state", "{}", [&](const char* text) {
      reboots = json::parse(text).value("reboots", -1);
    });
    return reboots;
  }

  ipc_test::LogCapture log_;
  ipc_test::BrokerProcess broker_;
  std::string config_;
  std::unique_ptr<testing_support::Subprocess> platform_;
  testing_support::PrivateDBus bus_;
  sim::bluetoothd::Bluetoothd bluetoothd_{bus_.Address()};
  std::shared_ptr<ble_test::RecordingPoster> poster_ = std::make_shared<ble_test::RecordingPoster>();
  std::shared_ptr<ble_test::ScriptedHci> hci_;
  std::unique_ptr<NVRAM> store_;
  std::unique_ptr<BluetoothLE> ble_;
};

}  // namespace

TEST_F(FirstBoot, IdentityIsReadStoredAndARebootRequested) {
  // Two failed attempts first: the third one answers.
  ASSERT_TRUE(Start({{VendorStatus::timed_out, {}}, {VendorStatus::read_failed, {}}, {VendorStatus::ok, ble_test::IdentityPacket()}}));
  EXPECT_EQ(hci_->Commands(), 3);
  const auto& store = *store_;
  EXPECT_EQ(store.DeviceID(), ble_test::kPacketDeviceId);
  EXPECT_EQ(store.SerialNumber(), ble_test::kPacketSerial);
  EXPECT_FALSE(store.FirstBoot());
  EXPECT_TRUE(WaitUntil([&] { return Reboots() == 1; }));
  const auto ferrowick = ReadFile(fs::path(config_) / "ferrowick");
  EXPECT_NE(ferrowick.find("option device_id '0a1b2c3d4e5f'"), std::string::npos) << ferrowick;
  EXPECT_NE(ferrowick.find("option first_boot '0'"), std::string::npos) << ferrowick;
  EXPECT_NE(ReadFile(fs::path(config_) / "system").find("quellaron-0a1b2c3d4e5f"), std::string::npos);
  EXPECT_TRUE(log_.Contains("org::bluez::ReadAddresses return false"));

  ASSERT_TRUE(bluetoothd_.Adapter().WaitForRegistrations(10s));
  EXPECT_EQ(bluetoothd_.Adapter().Status()["advertisement"]["properties"]["LocalName"], "R907_0a1b2c3d4e5f");
}

TEST_F(FirstBoot, TenFailedAttemptsPublishNothing) {
  EXPECT_FALSE(Start({{VendorStatus::open_failed, {}}}));
  EXPECT_EQ(hci_->Commands(), 10);
  EXPECT_TRUE(store_->FirstBoot());
  EXPECT_EQ(Reboots(), 0);
  EXPECT_TRUE(log_.Contains("Device Open Failed"));
  EXPECT_FALSE(bluetoothd_.Adapter().WaitForRegistrations(500ms));
  EXPECT_EQ(bluetoothd_.Adapter().Status()["application"], nullptr);
}
