// The stand-in bluetoothd refuses what the real one refuses: a GATT tree without a service or
// with a malformed characteristic, and a malformed advertisement; and it is driven through
// its control socket.

#include <gtest/gtest.h>

#include <future>
#include <optional>

#include "ble/gatt_application.h"
#include "ble/gatt_characteristic1.h"
#include "ble/gatt_manager1.h"
#include "ble/gatt_service1.h"
#include "ble/le_advertisement1.h"
#include "ble/le_advertising_manager1.h"
#include "bluetoothd/bluetoothd.h"
#include "standin/control_socket.h"
#include "support/private_dbus.h"
#include "support/temp_directory.h"

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

constexpr const char* kUuid = "050aa155-6040-457c-b2d3-888bb5f5d49a";

class StandInBluetoothd : public ::testing::Test {
 protected:
  StandInBluetoothd() : connection_(sdbus::createSessionBusConnectionWithAddress(bus_.Address())) {
    connection_->enterEventLoopAsync();
  }
  ~StandInBluetoothd() override { connection_->leaveEventLoop(); }

  // The registrations are asynchronous, as the daemon makes them: bluetoothd reads the tree
  // from the registering connection, whose event loop must stay free to answer.
  using Outcome = std::promise<std::optional<std::string>>;
  static org::bluez::ReplyCallback Into(const std::shared_ptr<Outcome>& outcome) {
    return [outcome](const std::optional<sdbus::Error>& error) {
      outcome->set_value(error ? std::optional<std::string>(error->getName() + ": " + error->getMessage())
                               : std::nullopt);
    };
  }
  // The error bluetoothd answers RegisterApplication with, or nothing.
  std::optional<std::string> RegisterApplication(const std::string& path) {
    org::bluez::GattManager1 manager(*connection_, "/org/bluez/hci0");
    auto outcome = std::make_shared<Outcome>();
    auto future = outcome->get_future();
    manager.RegisterApplicationAsync(path, Into(outcome));
    return future.get();
  }
  std::optional<std::string> RegisterAdvertisement(org::bluez::LEAdvertisement1& advertisement) {
    auto manager = std::make_shared<org::bluez::LEAdvertisingManager1>(*connection_, "/org/bluez/hci0");
    auto outcome = std::make_shared<Outcome>();
    auto future = outcome->get_future();
    advertisement.Register(manager, Into(outcome));
    return future.get();
  }

  testing_support::PrivateDBus bus_;
  sim::bluetoothd::Bluetoothd bluetoothd_{bus_.Address()};
  std::unique_ptr<sdbus::IConnection> connection_;
};

}  // namespace

TEST_F(StandInBluetoothd, RegistersAWellFormedApplication) {
  org::bluez::GattApplication application(*connection_, "/app");
  auto service = std::make_shared<org::bluez::GattService1>(*connection_, "/app/service", kUuid);
  auto characteristic = std::make_shared<org::bluez::GattCharacteristic1>(
      *connection_, "/app/service", "char", "d9c30001-9c01-5f71-7565-6c6c61726f6e", false, false, true);
  characteristic->AddFlag("notify");
  EXPECT_EQ(RegisterApplication("/app"), std::nullopt);
  const auto registered = bluetoothd_.Adapter().RegisteredApplication();
  ASSERT_TRUE(registered);
  EXPECT_EQ(registered->tree.service_uuid, kUuid);
  EXPECT_EQ(registered->tree.characteristics.at("d9c30001-9c01-5f71-7565-6c6c61726f6e"), "/app/service/char");
  // A second registration of the same application is refused.
  EXPECT_EQ(RegisterApplication("/app"), "org.bluez.Error.AlreadyExists: Already Exists");
}

TEST_F(StandInBluetoothd, RefusesMalformedApplications) {
  {
    org::bluez::GattApplication empty(*connection_, "/empty");
    EXPECT_EQ(RegisterApplication("/empty"), "org.bluez.Error.Failed: No object received");
  }
  {
    // A characteristic without a service.
    org::bluez::GattApplication application(*connection_, "/orphan");
    org::bluez::GattCharacteristic1 characteristic(*connection_, "/orphan/service", "char",
                                                   "d9c30001-9c01-5f71-7565-6c6c61726f6e", false, false, true);
    characteristic.AddFlag("notify");
    EXPECT_EQ(RegisterApplication("/orphan"), "org.bluez.Error.Failed: No valid service object found");
  }
  {
    // A characteristic without flags, and one whose UUID is not one.
    org::bluez::GattApplication application(*connection_, "/bad");
    org::bluez::GattService1 service(*connection_, "/bad/service", kUuid);
    org::bluez::GattCharacteristic1 flagless(*connection_, "/bad/service", "char1",
                                             "d9c30001-9c01-5f71-7565-6c6c61726f6e", false, false, true);
    EXPECT_EQ(RegisterApplication("/bad"), "org.bluez.Error.Failed: No valid service object found");
  }
  {
    org::bluez::GattApplication application(*connection_, "/baduuid");
    org::bluez::GattService1 service(*connection_, "/baduuid/service", "not-a-uuid");
    EXPECT_EQ(RegisterApplication("/baduuid"), "org.bluez.Error.Failed: No valid service object found");
  }
  EXPECT_FALSE(bluetoothd_.Adapter().RegisteredApplication());
  EXPECT_EQ(bluetoothd_.Adapter().Status()["refusals"].size(), 4u);
}

TEST_F(StandInBluetoothd, RefusesMalformedAdvertisements) {
  {
    org::bluez::LEAdvertisement1 sideways(*connection_, "/adv1");
    sideways.Type("sideways").LocalName("R907_x");
    EXPECT_EQ(RegisterAdvertisement(sideways), "org.bluez.Error.Failed: Failed to parse advertisement.");
  }
  {
    org::bluez::LEAdvertisement1 intervals(*connection_, "/adv2");
    intervals.MinInterval(100).MaxInterval(20);
    EXPECT_EQ(RegisterAdvertisement(intervals), "org.bluez.Error.Failed: Failed to parse advertisement.");
  }
  {
    org::bluez::LEAdvertisement1 uuids(*connection_, "/adv3");
    uuids.ServiceUUIDs({"zz"});
    EXPECT_EQ(RegisterAdvertisement(uuids), "org.bluez.Error.Failed: Failed to parse advertisement.");
  }
  EXPECT_FALSE(bluetoothd_.Adapter().RegisteredAdvertisement());
  org::bluez::LEAdvertisement1 good(*connection_, "/adv4");
  good.LocalName("R907_x").ServiceUUIDs({kUuid}).MinInterval(20).MaxInterval(100);
  EXPECT_EQ(RegisterAdvertisement(good), std::nullopt);
  EXPECT_EQ(bluetoothd_.Adapter().Status()["advertisement"]["properties"]["Type"], "peripheral");
  good.Unregister();
  EXPECT_FALSE(bluetoothd_.Adapter().RegisteredAdvertisement());
}

TEST_F(StandInBluetoothd, ControlSocket) {
  const auto directory = testing_support::MakeTempDirectory("bluetoothd");
  const auto socket = directory + "/control.sock";
  sim::standin::ControlSocket server(socket, [this](const json& command) { return bluetoothd_.Control(command); });
  const auto status = sim::standin::ControlCall(socket, {{"cmd", "status"}});
  EXPECT_EQ(status["ok"], true);
  EXPECT_EQ(status["phone"]["connected"], false);
  EXPECT_EQ(status["adapter"]["application"], nullptr);
  // Without an application the phone has nothing to connect to.
  const auto refused = sim::standin::ControlCall(socket, {{"cmd", "connect"}});
  EXPECT_EQ(refused["ok"], false);
  EXPECT_EQ(refused["error"], "no GATT application is registered");
  EXPECT_EQ(sim::standin::ControlCall(socket, {{"cmd", "fly"}})["ok"], false);
  EXPECT_EQ(sim::standin::ControlCall(socket, {{"cmd", "wait_registered"}, {"timeout_ms", 50}})["ok"], false);
}
