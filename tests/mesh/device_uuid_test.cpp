#include "mesh/device_uuid.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(DeviceUuidTest, TheStoredUuidBecomesVersionFourVariantOneKeepingEveryOtherByte) {
  const std::string prefix = "quellaron_";
  std::vector<std::uint8_t> stored(prefix.begin(), prefix.end());
  for (const std::uint8_t byte : {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}) stored.push_back(byte);

  const std::vector<std::uint8_t> uuid = mesh_uuid::Rfc4122(stored);
  ASSERT_EQ(uuid.size(), 16u);
  EXPECT_EQ(uuid[6] >> 4, 4);                     // 'r' 0x72 -> 0x42
  EXPECT_EQ(uuid[6] & 0x0F, stored[6] & 0x0F);
  EXPECT_EQ(uuid[8] >> 6, 2);                     // 'n' 0x6E -> 0xAE
  EXPECT_EQ(uuid[8] & 0x3F, stored[8] & 0x3F);
  for (std::size_t at = 0; at < 16; ++at) {
    if (at != 6 && at != 8) {
      EXPECT_EQ(uuid[at], stored[at]) << at;
    }
  }
}

TEST(DeviceUuidTest, AValueOfAnotherSizeIsLeftForTheDaemonToRefuse) {
  const std::vector<std::uint8_t> short_uuid(10, 0xFF);
  EXPECT_EQ(mesh_uuid::Rfc4122(short_uuid), short_uuid);
}
