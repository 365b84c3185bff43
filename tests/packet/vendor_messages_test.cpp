#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "packet/hex.h"
#include "packet/log_capture.h"
#include "packet/model_payload.h"
#include "packet/sensor_data/get.h"
#include "packet/sensor_setting/ota_announcement.h"
#include "packet/sensor_setting/set.h"
#include "packet/sensor_setting/status.h"
#include "packet/serialization.h"

namespace {

using nlohmann::json;
using packet::Deserialization;
using packet::Serialization;
using packet_test::Concat;
using packet_test::FromHex;
using packet_test::ToHex;
namespace set = packet::sensor_setting::set;
namespace status = packet::sensor_setting::status;

packet::UnixClock FixedClock(std::int64_t seconds) {
  return [seconds] { return seconds; };
}

set::NonceSource FixedNonce(set::OTA::Nonce value) {
  return [value](set::OTA::Nonce& nonce) {
    nonce = value;
    return true;
  };
}

set::OTAData::Block CountingBlock() {
  set::OTAData::Block block{};
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(0x10 + i);
  return block;
}

struct WireExample {
  std::string name;
  std::function<std::vector<unsigned char>()> serialize;
  std::string bytes;
};

TEST(VendorMessages, SerialiseToTheirWireBytes) {
  const std::vector<WireExample> examples = {
      {"GatewayInfo", [] { return Serialization(set::GatewayInfo{0x0001, 0xFC88, FixedClock(1593835520)}); },
       "C3 F1 05 01 20 01 00 88 FC 00 00 00 5F"},
      {"BeaconCtrl on", [] { return Serialization(set::BeaconCtrl{true}); }, "C3 F1 05 06 20 01"},
      {"BeaconCtrl off", [] { return Serialization(set::BeaconCtrl{false}); }, "C3 F1 05 06 20 00"},
      {"OTAData", [] { return Serialization(set::OTAData{1, 0, CountingBlock()}); },
       "C3 F1 05 07 20 FB 01 00 00 00 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F"},
      {"OTAData block 0x1234", [] { return Serialization(set::OTAData{0x0102, 0x1234, {}}); },
       "C3 F1 05 07 20 FB 02 01 34 12 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {"OTA announcement",
       [] {
         return Serialization(set::MakeOTAAnnouncement(1, "1.2.3+4", 0x12345, FixedNonce({0xDE, 0xAD, 0xBE, 0xEF})));
       },
       "C3 F1 05 07 20 FC 01 00 01 02 03 04 45 23 DE AD BE EF"},
      {"sensor data get, channel 0", [] { return Serialization(packet::sensor_data::get::Data{"temp", 0}); },
       "C0 F1 05 81 64 74 65 6D 70"},
      {"sensor data get, channel 2", [] { return Serialization(packet::sensor_data::get::Data{"temp", 2}); },
       "C0 F1 05 A1 64 74 65 6D 70 02"},
      {"FoldsCtrl, channel 0", [] { return Serialization(set::FoldsCtrl{json{{"temp", 10}}, 0}); },
       "C3 F1 05 02 20 A1 64 74 65 6D 70 0A"},
      {"FoldsCtrl, channel 2", [] { return Serialization(set::FoldsCtrl{json{{"temp", 10}}, 2}); },
       "C3 F1 05 02 20 A2 62 43 48 02 64 74 65 6D 70 0A"},
  };
  for (const WireExample& example : examples) {
    EXPECT_EQ(ToHex(example.serialize()), ToHex(FromHex(example.bytes))) << example.name;
  }
}

TEST(VendorMessages, GatewayInfoReadsTheClockWhenWritten) {
  std::int64_t now = 1;
  const set::GatewayInfo info(0x0001, 0xFC88, [&now] { return now; });
  now = 0x01020304;
  EXPECT_EQ(ToHex(Serialization(info)), "C3 F1 05 01 20 01 00 88 FC 04 03 02 01");
}

TEST(VendorMessages, OTAAnnouncementKeepsLowBitsOfEachNumber) {
  struct Case {
    std::string version;
    int size;
    std::array<std::uint8_t, 4> numbers;
    std::uint16_t size_field;
  };
  const std::vector<Case> cases = {
      {"1.2.3+4", 100, {1, 2, 3, 4}, 100},
      {"300.2.1+0", 0x10000, {44, 2, 1, 0}, 0},
      {"-1.0.0+0", 5, {0xFF, 0, 0, 0}, 5},
      {"2.5", 7, {2, 5, 0, 0}, 7},  // missing numbers are 0
      {"", 7, {0, 0, 0, 0}, 7},
      {"99999999999999999999.1.1+1", 7, {0xFF, 1, 1, 1}, 7},  // saturates, no overflow
      {"4294967297.1.1+1", 7, {1, 1, 1, 1}, 7},  // past 32 bits, still the low byte
  };
  for (const Case& c : cases) {
    const set::OTA ota = set::MakeOTAAnnouncement(3, c.version, c.size, FixedNonce({1, 2, 3, 4}));
    EXPECT_EQ(ota.FirmwareType, 3);
    EXPECT_EQ((std::array<std::uint8_t, 4>{ota.Major, ota.Minor, ota.Patch, ota.Build}), c.numbers) << c.version;
    EXPECT_EQ(ota.FirmwareSize, c.size_field) << c.version;
  }
}

TEST(VendorMessages, OTAAnnouncementWithoutRandomBytesUsesAZeroNonceAndLogs) {
  packet_test::LogCapture log;
  const set::OTA ota = set::MakeOTAAnnouncement(1, "1.0.0+0", 1, [](set::OTA::Nonce& nonce) {
    nonce.fill(0x55);
    return false;
  });
  EXPECT_EQ(ota.SessionNonce, (set::OTA::Nonce{0, 0, 0, 0}));
  EXPECT_NE(log.Text().find("no random bytes"), std::string::npos);

  const set::OTA random = set::MakeOTAAnnouncement(1, "1.0.0+0", 1);
  const set::OTA other = set::MakeOTAAnnouncement(1, "1.0.0+0", 1);
  EXPECT_NE(random.SessionNonce, other.SessionNonce);  // 2^-32 chance of a false failure
}

TEST(VendorMessages, FoldsThatCannotCarryAChannelOrExceedAMessageSerialiseToNothing) {
  packet_test::LogCapture log;
  EXPECT_TRUE(Serialization(set::FoldsCtrl{json::array({1, 2}), 1}).empty());
  json big = json::object();
  for (int i = 0; i < 60; ++i) big["kind" + std::to_string(i)] = i;
  EXPECT_TRUE(Serialization(set::FoldsCtrl{big, 0}).empty());
  EXPECT_NE(log.Text().find("exceed 380 bytes"), std::string::npos);
  // Null folds on a channel become an object holding only the channel.
  EXPECT_EQ(ToHex(Serialization(set::FoldsCtrl{json(), 3})), "C3 F1 05 02 20 A1 62 43 48 03");
}

TEST(VendorMessages, PayloadSplitsOpcodeAndParameters) {
  const auto bytes = FromHex("C4 F1 05 01 20 00 AA");
  packet::ModelPayload payload(bytes.size());
  ASSERT_TRUE(Deserialization(payload, bytes));
  EXPECT_EQ(payload.Folded(), packet::kFoldedSensorSettingStatus);
  EXPECT_EQ(payload.Folded(), 0xC405F1u);
  EXPECT_EQ(ToHex(payload.Parameters), "01 20 00 AA");

  packet::ModelPayload bare(3);
  ASSERT_TRUE(Deserialization(bare, FromHex("C1 F1 05")));
  EXPECT_EQ(bare.Folded(), 0xC105F1u);
  EXPECT_TRUE(bare.Parameters.empty());
}

TEST(VendorMessages, PayloadShorterThanItsOpcodeOrItsLengthIsRejected) {
  packet_test::LogCapture log;
  for (const char* bytes : {"", "C1", "C1 F1"}) {
    const auto data = FromHex(bytes);
    packet::ModelPayload payload(data.size());
    EXPECT_FALSE(Deserialization(payload, data)) << bytes;
  }
  packet::ModelPayload longer(5);
  EXPECT_FALSE(Deserialization(longer, FromHex("C1 F1 05 00")));
}

TEST(VendorMessages, SettingHeaderTakesItsDataFromTheParameterLength) {
  const auto parameters = FromHex("02 20 7E A1 62 43 48 01");
  status::Header header(parameters.size());
  ASSERT_TRUE(Deserialization(header, parameters));
  EXPECT_EQ(header.Identifier, packet::sensor_setting::kSensorFold);
  EXPECT_EQ(header.SubCommand, 0x7E);
  EXPECT_EQ(header.DataLength, 5);
  EXPECT_EQ(ToHex(header.Data), "A1 62 43 48 01");
  EXPECT_EQ(header.HeaderLength, 3u);

  const std::vector<unsigned char> largest = Concat(FromHex("07 20 00"), std::vector<unsigned char>(255, 0xAB));
  status::Header full(largest.size());
  ASSERT_TRUE(Deserialization(full, largest));
  EXPECT_EQ(full.DataLength, 255);
  EXPECT_EQ(full.Data.size(), 255u);
}

TEST(VendorMessages, SettingHeaderTooShortOrWithDataOver255BytesIsRejected) {
  packet_test::LogCapture log;
  for (const std::size_t length : {0, 1, 2}) {
    const std::vector<unsigned char> parameters(length, 0x20);
    status::Header header(length);
    EXPECT_FALSE(Deserialization(header, parameters)) << length;
  }
  const std::vector<unsigned char> oversized = Concat(FromHex("07 20 00"), std::vector<unsigned char>(256, 0xAB));
  status::Header header(oversized.size());
  EXPECT_FALSE(Deserialization(header, oversized));
  EXPECT_NE(log.Text().find("256 bytes exceeds 255"), std::string::npos);

  status::Header promised_more(10);
  EXPECT_FALSE(Deserialization(promised_more, FromHex("01 20 00 01 02")));
}

TEST(VendorMessages, DeviceInfoDecodesIdentifierTypeAndVersion) {
  status::DeviceInfo info;
  ASSERT_TRUE(Deserialization(info, FromHex("00 1A 2B 3C 4D 5E 92 01 01 02 03 04 EF BE")));
  EXPECT_EQ(info.DeviceID, "001a2b3c4d5e");
  EXPECT_EQ(info.DeviceType, 0x0192);
  EXPECT_EQ(info.Version, "1.2.3+4");
  EXPECT_EQ(info.Extra, 0xBEEF);

  ASSERT_TRUE(Deserialization(info, FromHex("FF FF FF FF FF FF 00 00 FF 00 FF 0A 00 00")));
  EXPECT_EQ(info.DeviceID, "ffffffffffff");
  EXPECT_EQ(info.Version, "255.0.255+10");
}

TEST(VendorMessages, DeviceFoldsMovesTheChannelOutOfTheFolds) {
  struct Case {
    json body;
    json folds;
    std::int32_t channel;
  };
  const std::vector<Case> cases = {
      {json{{"temp", 10}, {"CH", 2}}, json{{"temp", 10}}, 2},
      {json{{"temp", 10}}, json{{"temp", 10}}, 0},
      {json{{"CH", 1.9}}, json::object(), 1},
      {json{{"CH", 1e30}}, json::object(), 2147483647},  // saturates instead of overflowing
      {json{{"CH", true}}, json::object(), 1},
      {json::array({"temp"}), json::array({"temp"}), 0},
  };
  for (const Case& c : cases) {
    const auto cbor = json::to_cbor(c.body);
    status::DeviceFolds folds(cbor.size());
    ASSERT_TRUE(Deserialization(folds, cbor)) << c.body;
    EXPECT_EQ(folds.Folds, c.folds) << c.body;
    EXPECT_EQ(folds.Channel, c.channel) << c.body;
  }
}

TEST(VendorMessages, DeviceFoldsWithABadBodyIsRejected) {
  packet_test::LogCapture log;
  const std::vector<std::vector<unsigned char>> bodies = {
      json::to_cbor(json{{"CH", "two"}}),
      FromHex("A1 62 43"),                 // cut inside a key
      FromHex("A1 62 43 48 01 00"),        // a second item after the first
      FromHex("C1 1A 5F 00 00 00"),        // a tag
      FromHex("FF"),
      {},
  };
  for (const auto& body : bodies) {
    status::DeviceFolds folds(body.size());
    EXPECT_FALSE(Deserialization(folds, body)) << ToHex(body);
  }
  status::DeviceFolds longer(10);
  EXPECT_FALSE(Deserialization(longer, json::to_cbor(json{{"t", 1}})));
}

TEST(VendorMessages, FirmwareBlockRequestDecodesAndRejectsShortInput) {
  status::OTA request;
  ASSERT_TRUE(Deserialization(request, FromHex("09 01 00 34 12")));
  EXPECT_EQ(request.Command, 9);
  EXPECT_EQ(request.FirmwareType, 1);
  EXPECT_EQ(request.BlockIndex, 0x1234);

  packet_test::LogCapture log;
  status::OTA short_request;
  EXPECT_FALSE(Deserialization(short_request, FromHex("09 01 00 34")));
  status::DeviceInfo short_info;
  EXPECT_FALSE(Deserialization(short_info, FromHex("00 1A 2B 3C 4D 5E 92 01 01 02 03 04 EF")));
}

}  // namespace
