#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packet/hex.h"
#include "xgt/fenet/response_packet.h"

namespace {

using packet_test::FromHex;
using packet_test::ToHex;
using xgt::fenet::ResponsePacket;

// A PLC's header: "LSIS-XGT", PLC info, CPU info, PLC-to-client 0x11, invoke id, length, position, checksum.
std::vector<unsigned char> Frame(const std::string& body) {
  const std::vector<unsigned char> header =
      FromHex("4C 53 49 53 2D 58 47 54 00 00 00 00 A0 11 00 00 0C 00 01 00");
  std::vector<unsigned char> frame = header;
  const auto tail = FromHex(body);
  frame.insert(frame.end(), tail.begin(), tail.end());
  return frame;
}

// Command 0x0055, word type, reserved, error state 0, one block of 2 bytes: 0x1234.
const std::string kWordRead = "55 00 02 00 00 00 00 00 01 00 02 00 34 12";

TEST(FenetResponse, DecodesFieldByField) {
  struct Case {
    std::string name;
    std::string body;
    std::uint16_t error_state;
    std::uint8_t error_code;
    std::vector<std::uint64_t> blocks;
    std::string data;
    std::optional<std::uint64_t> first;
  };
  const std::vector<Case> cases = {
      {"one word", kWordRead, 0, 0, {0x1234}, "", 0x1234},
      {"two blocks of 8 and 1 bytes", "55 00 04 00 00 00 00 00 02 00 08 00 01 02 03 04 05 06 07 88 01 00 FF", 0, 0,
       {0x8807060504030201ULL, 0xFF}, "", 0x8807060504030201ULL},
      {"empty block", "55 00 02 00 00 00 00 00 01 00 00 00", 0, 0, {0}, "", 0},
      {"error state 0xFFFF, code 0x12", "55 00 02 00 00 00 FF FF 12", 0xFFFF, 0x12, {}, "", std::nullopt},
      {"no block", "55 00 02 00 00 00 00 00 00 00", 0, 0, {}, "", std::nullopt},
      {"continuous data", "55 00 14 00 00 00 00 00 01 00 03 00 AA BB CC", 0, 0, {}, "AA BB CC", std::nullopt},
      {"not a read response keeps no data", "59 00 14 00 00 00 00 00 01 00 03 00 AA BB CC", 0, 0, {}, "",
       std::nullopt},
  };
  for (const Case& c : cases) {
    ResponsePacket response;
    ASSERT_TRUE(response.Decode(Frame(c.body))) << c.name;
    EXPECT_EQ(response.ErrorState, c.error_state) << c.name;
    EXPECT_EQ(response.ErrorCode, c.error_code) << c.name;
    std::vector<std::uint64_t> values;
    for (const auto& block : response.Blocks) values.push_back(block.Value());
    EXPECT_EQ(values, c.blocks) << c.name;
    EXPECT_EQ(ToHex(response.Data), c.data) << c.name;
    EXPECT_EQ(response.FirstValue(), c.first) << c.name;
  }
}

TEST(FenetResponse, HeaderIsTakenAsItComes) {
  ResponsePacket response;
  ASSERT_TRUE(response.Decode(Frame(kWordRead)));
  EXPECT_EQ(response.ResponseHeader.CompanyId(), "LSIS-XGT");
  EXPECT_EQ(response.ResponseHeader.SourceOfFrame, 0x11);
  EXPECT_EQ(response.ResponseHeader.CpuInfo, 0xA0);
  EXPECT_EQ(response.ResponseHeader.Length, 12);
  EXPECT_EQ(response.ResponseHeader.FenetPosition, 0x01);
  EXPECT_EQ(response.Command, 0x55);
  EXPECT_EQ(response.DataTypeCode, 2);
}

TEST(FenetResponse, EveryTruncationFails) {
  for (const std::string& body : {kWordRead, std::string("55 00 14 00 00 00 00 00 01 00 03 00 AA BB CC"),
                                  std::string("55 00 02 00 00 00 FF FF 12")}) {
    const auto frame = Frame(body);
    for (std::size_t length = 0; length < frame.size(); ++length) {
      ResponsePacket response;
      EXPECT_FALSE(response.Decode(std::vector<unsigned char>(frame.begin(), frame.begin() + length)))
          << body << " cut at " << length;
    }
  }
}

TEST(FenetResponse, OversizedBlocksAndCountsFail) {
  const std::vector<std::string> bodies = {
      "55 00 02 00 00 00 00 00 01 00 09 00 01 02 03 04 05 06 07 08 09",  // a block over 8 bytes
      "55 00 02 00 00 00 00 00 FF FF 02 00 34 12",                       // 65535 blocks promised
      "55 00 14 00 00 00 00 00 01 00 FF FF AA",                          // 65535 data bytes promised
  };
  for (const std::string& body : bodies) {
    ResponsePacket response;
    EXPECT_FALSE(response.Decode(Frame(body))) << body;
  }
}

TEST(FenetResponse, BytesAfterTheLastFieldAreIgnoredAndDecodingResetsEarlierState) {
  ResponsePacket response;
  ASSERT_TRUE(response.Decode(Frame(kWordRead + " 99 99 99")));
  EXPECT_EQ(response.FirstValue(), 0x1234u);
  ASSERT_TRUE(response.Decode(Frame("55 00 02 00 00 00 01 00 07")));
  EXPECT_TRUE(response.Blocks.empty());
  EXPECT_EQ(response.FirstValue(), std::nullopt);
}

}  // namespace
