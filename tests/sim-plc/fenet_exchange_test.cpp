// The stand-in PLC's request check: a well-formed read passes, and each wrong field is named.
#include "plc/fenet_exchange.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "xgt/fenet/read_request_packet.h"

namespace {

std::vector<std::uint8_t> WordRead() {
  return xgt::fenet::ReadRequestPacket(0, 1, 'D', xgt::fenet::DataType::kWord, 100).Encode();
}

}  // namespace

TEST(StandInPlcRequestCheck, AWellFormedReadPassesAndItsAnswerCarriesTheValue) {
  const auto request = sim::plc::CheckReadRequest(WordRead(), 0x01);
  EXPECT_TRUE(request.problems.empty());
  EXPECT_EQ(request.variable, "%DW100");
  EXPECT_EQ(request.ref.address, 100u);
  const auto bit = sim::plc::CheckReadRequest(
      xgt::fenet::ReadRequestPacket(0, 1, 'M', xgt::fenet::DataType::kBit, 10, 11).Encode(), 0x01);
  EXPECT_TRUE(bit.problems.empty());
  EXPECT_EQ(bit.ref.address, 10u);
  EXPECT_EQ(bit.ref.bit, 11u);
  const auto answer = sim::plc::ReadResponse(request, {0x34, 0x12});
  EXPECT_EQ(sim::plc::BodyLength(answer), answer.size() - sim::plc::kHeaderSize);
  EXPECT_EQ(answer.back(), 0x12);
}

TEST(StandInPlcRequestCheck, ARequestOfUpToSixteenVariablesPassesAndIsAnsweredBlockByBlock) {
  xgt::fenet::ReadRequestPacket packet(0, 1);
  for (std::uint32_t word = 0; word < 16; ++word) ASSERT_TRUE(packet.AddVariable('D', xgt::fenet::DataType::kWord, word));
  auto frame = packet.Encode();
  const auto request = sim::plc::CheckReadRequest(frame, 0x01);
  EXPECT_TRUE(request.problems.empty()) << request.problems.front();
  ASSERT_EQ(request.refs.size(), 16u);
  EXPECT_EQ(request.variables[15], "%DW15");
  EXPECT_EQ(request.refs[15].address, 15u);
  const auto answer = sim::plc::ReadResponse(request, std::vector<std::vector<std::uint8_t>>(16, {0x34, 0x12}));
  EXPECT_EQ(sim::plc::BodyLength(answer), answer.size() - sim::plc::kHeaderSize);
  EXPECT_EQ(answer.size(), sim::plc::kHeaderSize + 10 + 16 * 4);
  // A 17th variable (written by hand: the gateway's packet refuses it) is named.
  frame[26] = 17;
  const std::string name = "%DW16";
  frame.push_back(static_cast<std::uint8_t>(name.size()));
  frame.push_back(0);
  frame.insert(frame.end(), name.begin(), name.end());
  frame[16] = static_cast<std::uint8_t>(frame.size() - sim::plc::kHeaderSize);
  EXPECT_EQ(sim::plc::CheckReadRequest(frame, 0x01).problems.front(), "block count is 17, not 1 to 16");
}

TEST(StandInPlcRequestCheck, EachWrongFieldIsNamed) {
  struct Case {
    std::function<void(std::vector<std::uint8_t>&)> spoil;
    const char* problem;
  };
  const Case cases[] = {
      {[](auto& f) { f[0] = 'X'; }, "company id"},
      {[](auto& f) { f[13] = 0x11; }, "source of frame is 0x11"},
      {[](auto& f) { f[16] = 15; }, "length field 15"},
      {[](auto& f) { f[18] = 0x02; }, "FEnet position is 0x2"},
      {[](auto& f) { f[19] = 1; }, "checksum"},
      {[](auto& f) { f[20] = 0x58; }, "command is 0x58"},
      {[](auto& f) { f[22] = 0x14; }, "data type 0x14"},
      {[](auto& f) { f[22] = 0x03; }, "type letter W does not match"},
      {[](auto& f) { f[26] = 2; }, "block count is 2"},
      {[](auto& f) { f[28] = 9; }, "variable name length 9"},
      {[](auto& f) { f[30] = '$'; }, "is not %<device><type><address>"},
      {[](auto& f) { f[33] = 'x'; }, "is not a decimal number"},
      {[](auto& f) { f.resize(24); }, "too short"},
  };
  for (const auto& c : cases) {
    auto frame = WordRead();
    c.spoil(frame);
    const auto request = sim::plc::CheckReadRequest(frame, 0x01);
    ASSERT_FALSE(request.problems.empty()) << c.problem;
    EXPECT_NE(request.problems.front().find(c.problem), std::string::npos)
        << c.problem << " vs " << request.problems.front();
  }
}
