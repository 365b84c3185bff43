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
