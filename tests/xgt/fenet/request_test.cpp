#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packet/hex.h"
#include "xgt/fenet/read_request_packet.h"
#include "xgt/fenet/variable_name.h"
#include "xgt/fenet/write_request_packet.h"

namespace {

using packet_test::FromHex;
using packet_test::ToHex;
using namespace xgt::fenet;

// "LSIS-XGT" and two zero bytes, PLC info 0, CPU info 0, client-to-PLC 0x33, invoke id 0.
const std::string kHeaderStart = "4C 53 49 53 2D 58 47 54 00 00 00 00 00 33 00 00";

std::string Header(const std::string& length, const std::string& position) {
  return kHeaderStart + " " + length + " " + position + " 00";
}

std::string Ascii(const std::string& text) { return ToHex(std::vector<unsigned char>(text.begin(), text.end())); }

struct WireExample {
  std::string name;
  std::vector<unsigned char> frame;
  std::string bytes;
};

TEST(FenetRequests, EncodeToTheirWireBytes) {
  const std::vector<WireExample> examples = {
      {"word read of D100, base 0, slot 1", ReadRequestPacket(0, 1, 'D', DataType::kWord, 100).Encode(),
       Header("10 00", "01") + " 54 00 02 00 00 00 01 00 06 00 " + Ascii("%DW100")},
      {"bit read of M5 bit 10", ReadRequestPacket(0, 0, 'M', DataType::kBit, 5, 10).Encode(),
       Header("0F 00", "00") + " 54 00 00 00 00 00 01 00 05 00 " + Ascii("%MX5a")},
      {"base 2, slot 3", ReadRequestPacket(2, 3, 'P', DataType::kByte, 7).Encode(),
       Header("0E 00", "23") + " 54 00 01 00 00 00 01 00 04 00 " + Ascii("%PB7")},
      {"continuous read, count cut to 1400", ReadRequestPacket(0, 0, 'D', 200, 2000).Encode(),
       Header("12 00", "00") + " 54 00 14 00 00 00 01 00 06 00 " + Ascii("%DB200") + " 78 05"},
      {"continuous read of 16 bytes", ReadRequestPacket(1, 0, 'M', 0, 16).Encode(),
       Header("10 00", "10") + " 54 00 14 00 00 00 01 00 04 00 " + Ascii("%MB0") + " 10 00"},
      {"continuous write", WriteRequestPacket(0, 1, 'D', 10, {0xAA, 0xBB, 0xCC}).Encode(),
       Header("14 00", "01") + " 58 00 14 00 00 00 01 00 05 00 " + Ascii("%DB10") + " 03 00 AA BB CC"},
  };
  for (const WireExample& example : examples) {
    EXPECT_EQ(ToHex(example.frame), ToHex(FromHex(example.bytes))) << example.name;
  }
}

TEST(FenetRequests, HeaderLengthCountsEverythingAfterTheHeader) {
  ReadRequestPacket request(0, 0);
  EXPECT_EQ(request.GetHeader().Length, 8);
  ASSERT_TRUE(request.AddVariable('D', DataType::kWord, 100));
  ASSERT_TRUE(request.AddVariable('D', DataType::kWord, 1234));
  EXPECT_EQ(request.GetHeader().Length, 8 + 8 + 9);
  EXPECT_EQ(request.Encode().size(), Header::kSize + request.GetHeader().Length);

  const ReadRequestPacket continuous(0, 0, 'D', 0, 10);
  EXPECT_EQ(continuous.Encode().size(), Header::kSize + continuous.GetHeader().Length);
  const WriteRequestPacket write(0, 0, 'D', 0, std::vector<unsigned char>(100, 1));
  EXPECT_EQ(write.Encode().size(), Header::kSize + write.GetHeader().Length);
}

TEST(FenetRequests, AddVariableRules) {
  ReadRequestPacket request(0, 0);
  EXPECT_FALSE(request.AddVariable('D', DataType::kContinuous, 1));
  for (std::uint32_t i = 0; i < ReadRequestPacket::kMaxVariables; ++i) {
    ASSERT_TRUE(request.AddVariable('D', DataType::kDoubleWord, i)) << i;
  }
  EXPECT_EQ(request.Type(), DataType::kDoubleWord);  // the first variable sets the request's type
  EXPECT_FALSE(request.AddVariable('D', DataType::kDoubleWord, 16));
  EXPECT_EQ(request.Variables().size(), 16u);

  ReadRequestPacket mixed(0, 0, 'D', DataType::kWord, 1);
  EXPECT_FALSE(mixed.AddVariable('M', DataType::kBit, 1, 2));  // one data type per request
  EXPECT_TRUE(mixed.AddVariable('M', DataType::kWord, 2));

  ReadRequestPacket continuous(0, 0, 'D', 0, 10);
  EXPECT_FALSE(continuous.AddVariable('D', DataType::kByte, 1));
  EXPECT_EQ(continuous.Variables().size(), 1u);

  const auto frame = request.Encode();
  EXPECT_EQ(frame[26], 16);  // block count
}

TEST(FenetRequests, OversizedWriteEncodesToNothing) {
  EXPECT_FALSE(WriteRequestPacket(0, 0, 'D', 0, std::vector<unsigned char>(1400, 1)).Encode().empty());
  EXPECT_TRUE(WriteRequestPacket(0, 0, 'D', 0, std::vector<unsigned char>(1401, 1)).Encode().empty());
}

TEST(FenetRequests, CompanyIdIsCutOrZeroFilledToTenBytes) {
  const auto encode = [](const xgt::fenet::Header& header) {
    packet::ByteWriter writer;
    header.Encode(writer);
    return ToHex(std::vector<unsigned char>(writer.View().begin(), writer.View().begin() + 14));
  };
  EXPECT_EQ(encode(xgt::fenet::Header(0, 0, "LSIS-XGT-LONGER", 0x11)), Ascii("LSIS-XGT-L") + " 00 00 00 11");
  EXPECT_EQ(encode(xgt::fenet::Header(0, 0, "AB")), Ascii("AB") + " 00 00 00 00 00 00 00 00 00 00 00 33");
}

TEST(FenetNames, VariableNamesAndAddressTexts) {
  struct Case {
    char device;
    DataType type;
    std::uint32_t address;
    std::uint32_t bit;
    std::string name;
    std::string text;
  };
  const std::vector<Case> cases = {
      {'D', DataType::kWord, 100, 0, "%DW100", "D100"},
      {'M', DataType::kBit, 10, 11, "%MX10b", "M10.b"},
      {'M', DataType::kBit, 5, 10, "%MX5a", "M5.a"},
      {'P', DataType::kByte, 0, 0, "%PB0", "P0"},
      {'D', DataType::kDoubleWord, 4294967295u, 0, "%DD4294967295", "D4294967295"},
      {'K', DataType::kLongWord, 7, 3, "%KL7", "K7"},  // the bit only counts for the bit type
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VariableName(c.device, c.type, c.address, c.bit), c.name);
    EXPECT_EQ(MemoryAddressText(c.device, c.type, c.address, c.bit), c.text);
  }
  EXPECT_EQ(DataTypeFromLetter('X'), DataType::kBit);
  EXPECT_EQ(DataTypeFromLetter('L'), DataType::kLongWord);
  EXPECT_FALSE(DataTypeFromLetter('Q').has_value());
  EXPECT_FALSE(DataTypeFromLetter('x').has_value());
}

}  // namespace
