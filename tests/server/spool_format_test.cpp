// The spool's segment files byte for byte: the same bytes on every processor, so a spool
// written by one router (or build) is read by the next.
#include "server/spool_format.h"

#include <gtest/gtest.h>

#include <string>

#include "packet/hex.h"

namespace {

std::string Bytes(const std::string& hex) {
  const auto bytes = packet_test::FromHex(hex);
  return std::string(bytes.begin(), bytes.end());
}

TEST(SpoolFormat, HeaderAndRecordHaveTheirFixedBytes) {
  const std::string header = Bytes(
      "51 4E 53 50 4F 4F 4C 31  08 07 06 05 04 03 02 01  18 17 16 15 14 13 12 11"
      "00 F1 53 65 00 00 00 00  CD B0 1D D2");
  EXPECT_EQ(spool::EncodeHeader({0x0102030405060708, 0x1112131415161718, 1700000000}), header);
  const auto decoded_header = spool::DecodeHeader(header);
  ASSERT_TRUE(decoded_header);
  EXPECT_EQ(decoded_header->first_sequence, 0x0102030405060708u);
  EXPECT_EQ(decoded_header->delivered_before, 0x1112131415161718u);
  EXPECT_EQ(decoded_header->created, 1700000000);

  // A negative time too: the signed fields travel as two's complement.
  const spool::Record record{spool::RecordType::kReading, 0x2122232425262728, -2, R"({"a":1})"};
  const std::string bytes = Bytes(
      "07 00 00 00  77 A0 41 68  01  28 27 26 25 24 23 22 21  FE FF FF FF FF FF FF FF"
      "7B 22 61 22 3A 31 7D");
  EXPECT_EQ(spool::EncodeRecord(record), bytes);
  EXPECT_EQ(spool::DocumentLength(bytes), 7u);
  const auto decoded = spool::DecodeRecord(bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->type, record.type);
  EXPECT_EQ(decoded->sequence, record.sequence);
  EXPECT_EQ(decoded->time, record.time);
  EXPECT_EQ(decoded->document, record.document);
}

}  // namespace
