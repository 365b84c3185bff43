#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "packet/hex.h"
#include "packet/log_capture.h"
#include "packet/sensor_data/status.h"
#include "packet/serialization.h"

namespace {

using nlohmann::json;
using packet::Deserialization;
using packet_test::Concat;
using packet_test::FromHex;
using packet_test::ToHex;
using packet::sensor_data::status::Data;
using packet::sensor_data::status::Header;

constexpr std::int64_t kNow = 1700000000;

// A sensor data status message body: header byte for the body length, two carried bytes, the CBOR.
std::vector<unsigned char> Message(const std::vector<unsigned char>& cbor) {
  const auto first = static_cast<unsigned char>(((cbor.size() - 1) << 1) | 1);
  return Concat({first, 0xAB, 0xCD}, cbor);
}

bool Decode(Data& data, const std::vector<unsigned char>& bytes) { return Deserialization(data, bytes); }

Data FixedTimeData() {
  return Data([] { return kNow; });
}

TEST(SensorData, HeaderGivesTheBodyLength) {
  const std::vector<std::pair<unsigned char, std::size_t>> cases = {
      {0x09, 5}, {0x08, 5}, {0x00, 1}, {0x01, 1}, {0xFF, 128}, {0xFE, 128}};
  for (const auto& [first, length] : cases) {
    Header header;
    ASSERT_TRUE(Deserialization(header, {first, 0x00, 0x00}));
    EXPECT_EQ(header.BodyLength(), length) << int{first};
  }
}

TEST(SensorData, ValueBecomesTextAndTheTimeIsAdded) {
  struct Case {
    std::string name;
    std::vector<unsigned char> v;  // CBOR of the "v" item
    std::string text;
  };
  const std::vector<Case> cases = {
      {"integer", FromHex("07"), "7"},
      {"negative integer", FromHex("23"), "-4"},
      {"single float", FromHex("FA 3F C0 00 00"), "1.500000"},
      {"double, rounded to single first", FromHex("FB 40 35 4C CC CC CC CC CD"), "21.299999"},
      {"half float", FromHex("F9 3E 00"), "1.500000"},
      {"negative float", FromHex("FA C1 A4 00 00"), "-20.500000"},
      {"true", FromHex("F5"), "1"},
      {"false", FromHex("F4"), "0"},
      {"64-bit integer keeps its low 32 bits", FromHex("1B 00 00 00 01 00 00 00 05"), "5"},
      {"double beyond single precision", FromHex("FB 7E 37 E4 3C 88 00 75 9C"), "inf"},
      {"NaN", FromHex("F9 7E 00"), "nan"},
  };
  for (const Case& c : cases) {
    // {"k": "temp", "v": <item>}
    const auto cbor = Concat(FromHex("A2 61 6B 64 74 65 6D 70 61 76"), c.v);
    Data data = FixedTimeData();
    ASSERT_TRUE(Decode(data, Message(cbor))) << c.name;
    EXPECT_EQ(data.Value, (json{{"k", "temp"}, {"v", c.text}, {"ts", kNow}})) << c.name;
    EXPECT_EQ(data.Channel, 0) << c.name;
  }
}

TEST(SensorData, ChannelMemberMovesIntoTheChannel) {
  Data data = FixedTimeData();
  ASSERT_TRUE(Decode(data, Message(json::to_cbor(json{{"k", "hum"}, {"v", 40}, {"c", 3}}))));
  EXPECT_EQ(data.Channel, 3);
  EXPECT_EQ(data.Value, (json{{"k", "hum"}, {"v", "40"}, {"ts", kNow}}));
  EXPECT_EQ(ToHex(std::vector<unsigned char>(data.Bytes.begin() + 1, data.Bytes.end())), "AB CD");
}

TEST(SensorData, LongestBodyOf128Bytes) {
  json value{{"k", std::string(120, 'x')}, {"v", 1}};
  auto cbor = json::to_cbor(value);
  ASSERT_EQ(cbor.size(), 128u);
  Data data = FixedTimeData();
  ASSERT_TRUE(Decode(data, Message(cbor)));
  EXPECT_EQ(data.Body.size(), 128u);
  EXPECT_EQ(data.Value["v"], "1");
}

TEST(SensorData, BadBodiesGiveANullValueWithAnErrorLine) {
  packet_test::LogCapture log;
  const std::vector<std::pair<std::string, std::vector<unsigned char>>> cases = {
      {"no v", Message(json::to_cbor(json{{"k", "temp"}}))},
      {"v is text", Message(json::to_cbor(json{{"k", "temp"}, {"v", "hot"}}))},
      {"v is null", Message(json::to_cbor(json{{"v", nullptr}}))},
      {"not a map", Message(json::to_cbor(json::array({1, 2})))},
      {"c is text", Message(json::to_cbor(json{{"v", 1}, {"c", "x"}}))},
      {"body cut", FromHex("09 00 00 A1 61 76")},
      {"header cut", FromHex("09 00")},
      {"empty", {}},
      {"trailing item inside the body", FromHex("09 00 00 A1 61 76 01 00")},
      {"invalid CBOR", FromHex("00 00 00 FF")},
  };
  for (const auto& [name, bytes] : cases) {
    const Data data = Deserialization<Data>(bytes);
    EXPECT_TRUE(data.Value.is_null()) << name;
    EXPECT_EQ(data.Channel, 0) << name;
  }
  const std::string text = log.Text();
  EXPECT_NE(text.find("type must be number, but is string"), std::string::npos) << text;
  EXPECT_NE(text.find("Deserialization@"), std::string::npos);
}

TEST(SensorData, BytesAfterTheBodyAreIgnored) {
  const auto bytes = Concat(Message(json::to_cbor(json{{"v", 2}})), FromHex("DE AD BE EF"));
  const Data data = Deserialization<Data>(bytes);
  EXPECT_EQ(data.Value["v"], "2");
}

}  // namespace
