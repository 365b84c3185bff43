#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "packet/config/model_resp_opcode.h"
#include "packet/config/requests.h"
#include "packet/config/status.h"
#include "packet/hex.h"
#include "packet/log_capture.h"
#include "packet/serialization.h"

namespace {

using packet::Deserialization;
using packet::Serialization;
using packet_test::FromHex;
using packet_test::ToHex;
namespace config = packet::config;

std::vector<unsigned char> AppKey() {
  std::vector<unsigned char> key;
  for (unsigned char b = 0; b < 16; ++b) key.push_back(static_cast<unsigned char>(0xA0 + b));
  return key;
}

struct WireExample {
  std::string name;
  std::function<std::vector<unsigned char>()> serialize;
  std::string bytes;
};

// The gateway's own configuration: element 0x0001, group 0xFC88, TTL 3, vendor model 0x05F1/0x0001.
TEST(ConfigMessages, SerialiseToTheirWireBytes) {
  const std::vector<WireExample> examples = {
      {"DefaultTTLGet", [] { return Serialization(config::DefaultTTLGet{}); }, "80 0C"},
      {"DefaultTTLSet", [] { return Serialization(config::DefaultTTLSet{3}); }, "80 0D 03"},
      {"AppKeyGet", [] { return Serialization(config::AppKeyGet{0}); }, "80 01 00 00"},
      {"AppKeyAdd", [] { return Serialization(config::AppKeyAdd{{0, 0, 0}, AppKey()}); },
       "00 00 00 00 A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF"},
      {"VendorModelAppGet", [] { return Serialization(config::VendorModelAppGet{1, 0x05F1, 1}); },
       "80 4D 01 00 F1 05 01 00"},
      {"ModelAppBind vendor", [] { return Serialization(config::ModelAppBind{1, 0, 0x05F1, 1, true}); },
       "80 3D 01 00 00 00 F1 05 01 00"},
      {"ModelAppBind SIG model", [] { return Serialization(config::ModelAppBind{1, 0, 0x05F1, 1, false}); },
       "80 3D 01 00 00 00 01 00"},
      {"VendorModelSubscriptionGet",
       [] { return Serialization(config::VendorModelSubscriptionGet{1, 0x05F1, 1}); }, "80 2B 01 00 F1 05 01 00"},
      {"ModelSubscriptionAdd vendor",
       [] { return Serialization(config::ModelSubscriptionAdd{1, 0xFC88, 0x05F1, 1, true}); },
       "80 1B 01 00 88 FC F1 05 01 00"},
      {"ModelSubscriptionAdd SIG model",
       [] { return Serialization(config::ModelSubscriptionAdd{1, 0xFC88, 0x05F1, 1, false}); },
       "80 1B 01 00 88 FC 01 00"},
      {"little-endian parameters", [] { return Serialization(config::VendorModelAppGet{0x1234, 0x05F1, 1}); },
       "80 4D 34 12 F1 05 01 00"},
  };
  for (const WireExample& example : examples) {
    EXPECT_EQ(ToHex(example.serialize()), ToHex(FromHex(example.bytes))) << example.name;
  }
}

TEST(ConfigMessages, OpcodeWidthFollowsItsRange) {
  const std::vector<std::pair<std::uint32_t, std::string>> encodable = {
      {0x00, "00"},          {0x7E, "7E"},          {0x8000, "80 00"},       {0x800C, "80 0C"},
      {0xBFFF, "BF FF"},     {0xC00000, "C0 00 00"}, {0xC1F105, "C1 F1 05"}, {0xFFFFFF, "FF FF FF"},
  };
  for (const auto& [opcode, bytes] : encodable) {
    EXPECT_EQ(ToHex(Serialization(config::ModelOPCode{opcode})), ToHex(FromHex(bytes))) << std::hex << opcode;
  }
}

TEST(ConfigMessages, UnencodableOpcodeOrKeySizeSerialisesToNothingWithAnErrorLine) {
  packet_test::LogCapture log;
  for (const std::uint32_t opcode : {0x7Fu, 0xFFu, 0x7FFFu, 0xC000u, 0xBFFFFFu, 0x1000000u}) {
    EXPECT_EQ(config::ModelOPCode{opcode}.Length(), 0) << std::hex << opcode;
    EXPECT_TRUE(Serialization(config::ModelOPCode{opcode}).empty()) << std::hex << opcode;
  }
  EXPECT_TRUE(Serialization(config::AppKeyAdd{{0, 0, 0}, std::vector<unsigned char>(15, 1)}).empty());
  EXPECT_TRUE(Serialization(config::AppKeyAdd{{0, 0, 0}, std::vector<unsigned char>(17, 1)}).empty());
  const std::string text = log.Text();
  EXPECT_NE(text.find("ERROR"), std::string::npos);
  EXPECT_NE(text.find("Serialization@"), std::string::npos) << text;
  EXPECT_NE(text.find("application key has 15 bytes"), std::string::npos) << text;
}

struct ReplyExample {
  std::string bytes;
  std::uint32_t opcode;
  std::string parameters;
};

TEST(ConfigMessages, RepliesSplitIntoOpcodeAndParameters) {
  const std::vector<ReplyExample> examples = {
      {"80 0E 07", 0x800E, "07"},
      {"00 11 22 33", 0x00, "11 22 33"},
      {"7E", 0x7E, ""},
      {"C1 F1 05", 0xC1F105, ""},
      {"C1 F1 05 AA", 0xC1F105, "AA"},
      {"80 03 00 00 00 00", 0x8003, "00 00 00 00"},
      {"7F", 0x7F, ""},           // reserved: nothing more is read
      {"7F 80 0E 07", 0x7F, ""},  // and the rest is not taken as parameters
  };
  for (const ReplyExample& example : examples) {
    const auto bytes = FromHex(example.bytes);
    config::ModelRespOPCode reply(static_cast<std::uint32_t>(bytes.size()));
    ASSERT_TRUE(Deserialization(reply, bytes)) << example.bytes;
    EXPECT_EQ(reply.OPCode, example.opcode) << example.bytes;
    EXPECT_EQ(ToHex(reply.Parameters), ToHex(FromHex(example.parameters))) << example.bytes;
  }
}

TEST(ConfigMessages, RepliesTooShortOrWithAWrongLengthAreRejected) {
  packet_test::LogCapture log;
  struct Case {
    std::string bytes;
    std::uint32_t length;
  };
  const std::vector<Case> cases = {
      {"", 0},          {"", 1},           {"80", 1},          {"C1 F1", 2},
      {"80 0E", 1},     {"C1 F1 05", 2},   {"80 0E 07", 4},    {"80 0E 07", 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    config::ModelRespOPCode reply(c.length);
    EXPECT_FALSE(Deserialization(reply, FromHex(c.bytes))) << c.bytes << " length " << c.length;
  }
  EXPECT_NE(log.Text().find("Deserialization@"), std::string::npos);
}

TEST(ConfigMessages, StatusRepliesDecodeTheirFields) {
  EXPECT_EQ(Deserialization<config::DefaultTTLStatus>(FromHex("07")).TTL, 7);

  const auto app = Deserialization<config::ModelAppStatus>(FromHex("00 01 00 00 00 F1 05 01 00"));
  EXPECT_EQ(app.Status, 0);
  EXPECT_EQ(app.ElementAddress, 0x0001);
  EXPECT_EQ(app.AppKeyIndex(), 0);
  EXPECT_EQ(app.CompanyID, 0x05F1);
  EXPECT_EQ(app.ModelID, 0x0001);

  const auto subscription = Deserialization<config::ModelSubscriptionStatus>(FromHex("02 34 12 88 FC F1 05 01 00"));
  EXPECT_EQ(subscription.Status, 2);
  EXPECT_EQ(subscription.ElementAddress, 0x1234);
  EXPECT_EQ(subscription.Address(), 0xFC88);
}

TEST(ConfigMessages, TruncatedStatusGivesADefaultObjectAndAnErrorLine) {
  packet_test::LogCapture log;
  EXPECT_EQ(Deserialization<config::DefaultTTLStatus>({}).TTL, 0);
  const auto app = Deserialization<config::ModelAppStatus>(FromHex("05 01 00 00 00 F1 05 01"));
  EXPECT_EQ(app.Status, 0);
  EXPECT_EQ(app.ElementAddress, 0);
  EXPECT_EQ(app.CompanyID, 0);
  const std::string text = log.Text();
  EXPECT_NE(text.find("ERROR"), std::string::npos);
  EXPECT_NE(text.find("input stream error"), std::string::npos) << text;
}

}  // namespace
