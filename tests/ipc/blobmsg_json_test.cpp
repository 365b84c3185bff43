#include <gtest/gtest.h>

#include <limits>

#include "ipc/blobmsg_json.h"

namespace {

using ipc::blobmsg::FromJson;
using ipc::blobmsg::Members;
using ipc::blobmsg::Node;
using ipc::blobmsg::ToJson;
using ipc::blobmsg::Type;

std::string RoundTrip(const std::string& json) {
  const auto members = FromJson(json);
  if (!members) return "<rejected>";
  // Through the wire form, as a listener would receive it.
  const auto bytes = ipc::blobmsg::Encode(*members);
  Members decoded;
  std::string error;
  if (!ipc::blobmsg::Decode(bytes.data(), bytes.size(), decoded, error)) return "<undecodable: " + error + ">";
  return ToJson(decoded);
}

}  // namespace

TEST(BlobmsgJson, ConvertsEveryValueTheWayThePlatformLibraryDoes) {
  struct Case {
    std::string json;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {R"({})", R"({})"},
      {R"({"s":"text","t":true,"f":false,"n":null})", R"({"s":"text","t":true,"f":false,"n":null})"},
      {R"({"i":2147483647,"j":-2147483648,"k":2147483648,"l":-2147483649})",
       R"({"i":2147483647,"j":-2147483648,"k":2147483648,"l":-2147483649})"},
      {R"({"big":18446744073709551615,"huge":99999999999999999999,"tiny":-99999999999999999999})",
       R"({"big":9223372036854775807,"huge":9223372036854775807,"tiny":-9223372036854775808})"},
      {R"({"a":1.0,"b":0.25,"c":1e3,"d":-1.25,"e":1e-7,"f":123456789.123456789})",
       R"({"a":1.000000,"b":0.250000,"c":1000.000000,"d":-1.250000,"e":0.000000,"f":123456789.123457})"},
      {R"({"nested":{"list":[1,"two",false,[],{}],"t":{"k":{"deep":[[1]]}}}})",
       R"({"nested":{"list":[1,"two",false,[],{}],"t":{"k":{"deep":[[1]]}}}})"},
      {R"({"dup":1,"other":3,"dup":2})", R"({"dup":2,"other":3})"},
      {R"({"cut":"a\u0000b"})", R"({"cut":"a"})"},
      {R"({"esc":"q\" b\\ \b\f\n\r\t \u0001 / \u00e9"})", "{\"esc\":\"q\\\" b\\\\ \\b\\u000c\\n\\r\\t \\u0001 / \xc3\xa9\"}"},
      {R"({"":"x","k":"v"})", R"({"x","k":"v"})"},
      {"", "<rejected>"},
      {"{", "<rejected>"},
      {"[1,2]", "<rejected>"},
      {"\"text\"", "<rejected>"},
      {"7", "<rejected>"},
      {"null", "<rejected>"},
      {R"({"a":tru})", "<rejected>"},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(RoundTrip(test.json), test.expected) << test.json;
  }
}

TEST(BlobmsgJson, ChoosesTheIntegerWidthByValue) {
  const auto members = FromJson(R"({"small":7,"large":5000000000,"real":7.0,"flag":true})");
  ASSERT_TRUE(members);
  ASSERT_EQ(members->size(), 4u);
  EXPECT_EQ((*members)[0].type, Type::kInt32);
  EXPECT_EQ((*members)[1].type, Type::kInt64);
  EXPECT_EQ((*members)[2].type, Type::kDouble);
  EXPECT_EQ((*members)[3].type, Type::kInt8);
}

TEST(BlobmsgJson, PrintsSpecialNumbersAndLargeIdsAsTheCLibraryDoes) {
  const Members members = {Node::Double("nan", std::numeric_limits<double>::quiet_NaN()),
                           Node::Double("inf", -std::numeric_limits<double>::infinity()),
                           Node::Double("big", 1e300), Node::Int32("id", static_cast<std::int32_t>(0xd0ce56a9u))};
  const std::string text = ToJson(members);
  const std::string big = text.substr(text.find("\"big\":") + 6, text.find(",\"id\"") - text.find("\"big\":") - 6);
  EXPECT_EQ(text.substr(0, 22), R"({"nan":nan,"inf":-inf,)");
  EXPECT_EQ(big.size(), 301u + 7u) << big;
  EXPECT_EQ(big.substr(0, 4), "1000");
  EXPECT_EQ(big.substr(301), ".000000");
  EXPECT_EQ(text.substr(text.find(",\"id\"")), ",\"id\":-791783767}");
}

TEST(BlobmsgDecode, RejectsMalformedInput) {
  struct Case {
    std::string what;
    std::vector<std::uint8_t> bytes;
  };
  const std::vector<Case> cases = {
      {"head truncated", {0x83, 0x00}},
      {"length below the head", {0x83, 0x00, 0x00, 0x02}},
      {"length past the end", {0x83, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00}},
      {"plain attribute", {0x03, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00}},
      {"unknown type", {0x89, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00}},
      {"name too long", {0x83, 0x00, 0x00, 0x08, 0x00, 0x09, 0x61, 0x00}},
      {"name without NUL", {0x83, 0x00, 0x00, 0x08, 0x00, 0x01, 0x61, 0x62}},
      {"string without NUL", {0x83, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x61, 0, 0, 0}},
      {"int32 of 2 bytes", {0x85, 0x00, 0x00, 0x0a, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0, 0}},
      {"bool of 2 bytes", {0x87, 0x00, 0x00, 0x0a, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0, 0}},
      {"double of 4 bytes", {0x88, 0x00, 0x00, 0x0c, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}},
      {"bad member in a table",
       {0x82, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x85, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00}},
  };
  for (const auto& test : cases) {
    Members members;
    std::string error;
    EXPECT_FALSE(ipc::blobmsg::Decode(test.bytes.data(), test.bytes.size(), members, error)) << test.what;
    EXPECT_FALSE(error.empty()) << test.what;
  }
}

TEST(BlobmsgDecode, RejectsNestingBeyondTheLimitWithoutExhaustingTheStack) {
  Node node = Node::Array("");
  for (int depth = 0; depth < ipc::blobmsg::kMaxDepth + 5; ++depth) node = Node::Array("", {node});
  const auto bytes = ipc::blobmsg::Encode({node});
  Members members;
  std::string error;
  EXPECT_FALSE(ipc::blobmsg::Decode(bytes.data(), bytes.size(), members, error));
  EXPECT_EQ(error, "nesting too deep");
}
