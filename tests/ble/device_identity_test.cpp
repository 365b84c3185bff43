// The identity read from the controller's 30-byte answer, and how a failed step is told.

#include <gtest/gtest.h>

#include "ble/device_identity.h"
#include "ble_test_support.h"

using namespace std::chrono_literals;
using VendorStatus = HciController::VendorStatus;

TEST(DeviceIdentity, ParsesTheThirtyByteAnswer) {
  const auto identity = ble::ParseIdentityPacket(ble_test::IdentityPacket());
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->device_id, ble_test::kPacketDeviceId);
  EXPECT_EQ(identity->serial_number, ble_test::kPacketSerial);
  for (const std::size_t size : {0u, 29u, 31u, 260u}) {
    EXPECT_FALSE(ble::ParseIdentityPacket(std::vector<std::uint8_t>(size, 0x11))) << size;
  }
}

TEST(DeviceIdentity, SendsTheVendorCommandAndReportsEachFailure) {
  ble_test::ScriptedHci answered({{VendorStatus::ok, ble_test::IdentityPacket()}});
  const auto identity = ble::ReadAddresses(answered, 50ms);
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->device_id, ble_test::kPacketDeviceId);
  EXPECT_EQ(answered.LastOcf(), 0x012);
  EXPECT_EQ(answered.LastAnswerSize(), 30u);
  EXPECT_EQ(answered.LastParameters().size(), 4u);

  for (const auto status : {VendorStatus::open_failed, VendorStatus::filter_failed, VendorStatus::send_failed,
                            VendorStatus::read_failed, VendorStatus::timed_out}) {
    ble_test::ScriptedHci failing({{status, {}}});
    EXPECT_FALSE(ble::ReadAddresses(failing, 50ms));
  }
}
