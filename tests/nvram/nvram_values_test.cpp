// The pure parts of the configuration store: number texts, Base64, URL hosts, PLC records.
#include <gtest/gtest.h>

#include "nvram/base64.h"
#include "nvram/decimal.h"
#include "nvram/plc_info.h"
#include "nvram/url_host.h"

TEST(Decimal, FlagsAcceptOnlyTheLexicalFormsOfZeroAndOne) {
  for (const std::string yes : {"1", "+1", "0001", "+01"}) EXPECT_TRUE(decimal::ParseFlag(yes, "f")) << yes;
  for (const std::string no : {"0", "-0", "+0", "000", "-000"}) EXPECT_FALSE(decimal::ParseFlag(no, "f")) << no;
  for (const std::string bad : {"", "2", "-1", "true", "1 ", " 1", "10", "+", "--0"}) {
    EXPECT_THROW(decimal::ParseFlag(bad, "f"), std::invalid_argument) << bad;
  }
}

TEST(Decimal, NumbersMustBeUnsignedDecimalsOfTheFieldWidth) {
  EXPECT_EQ(decimal::ParseUnsigned("65535", 16, "n"), 65535u);
  EXPECT_EQ(decimal::ParseUnsigned("+7", 16, "n"), 7u);
  EXPECT_EQ(decimal::ParseUnsigned("18446744073709551615", 64, "n"), 18446744073709551615u);
  for (const std::string bad : {"65536", "-1", "", "x", "7x", " 7", "0x10", "+"}) {
    EXPECT_THROW(decimal::ParseUnsigned(bad, 16, "n"), std::invalid_argument) << bad;
  }
}

// PLC ids, bases and slots are unsigned: decimal digits only, no sign of either kind.
TEST(Decimal, DigitsAreDecimalDigitsOnly) {
  EXPECT_EQ(decimal::ParseDigits("0", 31, "n"), 0u);
  EXPECT_EQ(decimal::ParseDigits("007", 31, "n"), 7u);
  EXPECT_EQ(decimal::ParseDigits("2147483647", 31, "n"), 2147483647u);
  for (const std::string bad : {"-3", "+-3", "+3", "-0", "", "3.5", " 3", "3 ", "2147483648", "0x1"}) {
    EXPECT_THROW(decimal::ParseDigits(bad, 31, "n"), std::invalid_argument) << bad;
  }
}

TEST(Base64, EncodesAndDecodesKeys) {
  const std::vector<std::uint8_t> key = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                         0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
  EXPECT_EQ(base64::Encode(key), "ABEiM0RVZneImaq7zN3u/w==");
  EXPECT_EQ(base64::Decode("ABEiM0RVZneImaq7zN3u/w=="), key);
  EXPECT_EQ(base64::Encode({'a'}), "YQ==");
  EXPECT_EQ(base64::Encode({'a', 'b'}), "YWI=");
  EXPECT_EQ(base64::Decode("YWJj"), (std::vector<std::uint8_t>{'a', 'b', 'c'}));
  EXPECT_EQ(base64::Decode("YW!!"), (std::vector<std::uint8_t>{'a'}));
  EXPECT_TRUE(base64::Decode("").empty());
}

// Only the text Encode gives for its bytes: padding included, no stray bits, nothing around.
TEST(Base64, CanonicalDecodingRefusesEveryOtherText) {
  EXPECT_EQ(base64::DecodeCanonical("ABEiM0RVZneImaq7zN3u/w=="), base64::Decode("ABEiM0RVZneImaq7zN3u/w=="));
  EXPECT_EQ(base64::DecodeCanonical("YWJj"), (std::vector<std::uint8_t>{'a', 'b', 'c'}));
  EXPECT_EQ(base64::DecodeCanonical(""), std::vector<std::uint8_t>{});
  for (const std::string bad : {"ABEiM0RVZneImaq7zN3u/w", "ABEiM0RVZneImaq7zN3u/x==", "ABEiM0RVZneImaq7zN3u/w==\n",
                                " YWJj", "YW!j", "YQ=", "YQ==YQ=="}) {
    EXPECT_FALSE(base64::DecodeCanonical(bad)) << bad;
  }
}

TEST(UrlHost, TakesTheHostOfHttpHttpsAndWebsocketUrlsOnly) {
  struct Case {
    std::string url;
    std::optional<std::string> host;
  };
  const std::vector<Case> cases = {
      {"https://cloud.example.test/api/v1", "cloud.example.test"},
      {"https://cloud.example.test:8443/api/v1", "cloud.example.test"},
      {"http://10.0.0.1", "10.0.0.1"},
      {"https://h.example/p?q=1#frag", "h.example"},
      {"ftp://cloud.example.test/api/v1", std::nullopt},
      {"cloud.example.test", std::nullopt},
      {"https://", std::nullopt},
      {"https://a b/", std::nullopt},
      {"wss://cloud.example.test/cable?access_token=t", "cloud.example.test"},
      {"wss:///cable?access_token=t", std::nullopt},
      {"https://[::1]:8443/api", "::1"},
      {"https://h.example:port/", std::nullopt},
  };
  for (const auto& test : cases) EXPECT_EQ(HostOfUrl(test.url), test.host) << test.url;
}

TEST(PLCInfoJson, StoredFormKeepsTheOptionOrderAndWritesAnEmptyListAsEmptyText) {
  PLCInfo info;
  info.id = 8;
  info.name = "line2";
  info.ip_address = "192.168.10.21";
  info.slot = 2;
  info.plc_addresses = {"p.q.X.M.1.2", "p.q.X.M.1.3"};
  EXPECT_EQ(ToStoredJson(info).dump(),
            R"({"id":8,"name":"line2","vendor":"ls","proto":"fenet","ip":"192.168.10.21","base":0,"slot":2,"mem_dev":["p.q.X.M.1.2","p.q.X.M.1.3"]})");
  info.plc_addresses.clear();
  EXPECT_EQ(ToStoredJson(info)["mem_dev"], "");
}

TEST(PLCInfoJson, ServerEntriesFillTheRecordOrFailWithAReason) {
  const auto full = FromServerEntry(nlohmann::json::parse(
      R"({"id":3,"name":"press","ip_address":"10.1.1.5","vendor":"ls","proto":"fenet","base":"1","slot":"4",
          "plc_addresses":[{"device_id":"0a1b","sensor_type":"temp","addr":"W.D.100"}]})"));
  EXPECT_EQ(full.id, 3u);
  EXPECT_EQ(full.name, "press");
  EXPECT_EQ(full.ip_address, "10.1.1.5");
  EXPECT_EQ(full.base, 1);
  EXPECT_EQ(full.slot, 4);
  EXPECT_EQ(full.plc_addresses, std::vector<std::string>{"0a1b.temp.W.D.100"});

  const auto minimal = FromServerEntry(nlohmann::json::parse(R"({"id":4,"name":"m"})"));
  EXPECT_EQ(minimal.vendor, "ls");
  EXPECT_EQ(minimal.proto, "fenet");
  EXPECT_EQ(minimal.ip_address, "0.0.0.0");

  for (const std::string bad : {R"({"name":"x"})", R"({"id":"1","name":"x"})", R"({"id":1})",
                                R"({"id":1,"name":"x","base":"one"})", R"({"id":1,"name":"x","slot":"2.5"})",
                                R"({"id":1,"name":"x","base":"-3"})", R"({"id":1,"name":"x","slot":"+-3"})",
                                R"({"id":1,"name":"x","base":-3})", R"({"id":1,"name":"x","slot":4294967296})",
                                R"({"id":1,"name":"x","plc_addresses":[{"device_id":"a"}]})"}) {
    EXPECT_ANY_THROW(FromServerEntry(nlohmann::json::parse(bad))) << bad;
  }
}

TEST(PLCInfoJson, FieldsBeyondTheirBoundsRefuseTheirEntryOrLeaveOutTheirAddress) {
  using nlohmann::json;
  const auto entry = [](json extra) {
    json value{{"id", 5}, {"name", "n"}};
    value.update(extra);
    return value;
  };
  const std::string hex48(48, 'a');
  // At the bounds: taken.
  const auto widest = FromServerEntry(entry({{"name", std::string(128, 'n')},
                                             {"vendor", std::string(16, 'v')},
                                             {"proto", std::string(16, 'p')},
                                             {"ip_address", std::string(253, 'h')},
                                             {"base", "15"},
                                             {"slot", 15u},
                                             {"plc_addresses", json::array({{{"device_id", hex48},
                                                                             {"sensor_type", std::string(64, 'k')},
                                                                             {"addr", "W.D." + std::string(28, '1')}}})}}));
  EXPECT_EQ(widest.base, 15);
  EXPECT_EQ(widest.slot, 15);
  EXPECT_EQ(widest.plc_addresses.size(), 1u);
  // One past: the entry is refused, naming its id.
  for (const json& extra : {json{{"name", std::string(129, 'n')}}, json{{"vendor", std::string(17, 'v')}},
                            json{{"proto", std::string(17, 'p')}}, json{{"ip_address", std::string(254, 'h')}},
                            json{{"base", "16"}}, json{{"slot", 16u}}, json{{"base", "4294967"}}}) {
    try {
      FromServerEntry(entry(extra));
      ADD_FAILURE() << extra.dump() << " taken";
    } catch (const RefusedPLCEntry& refused) {
      EXPECT_EQ(refused.Id(), 5u) << extra.dump();
    }
  }
  // An address part one past its bound leaves out that address only.
  const auto some = FromServerEntry(entry(
      {{"plc_addresses", json::array({{{"device_id", hex48 + "a"}, {"sensor_type", "t"}, {"addr", "W.D.1"}},
                                      {{"device_id", hex48}, {"sensor_type", std::string(65, 'k')}, {"addr", "W.D.1"}},
                                      {{"device_id", hex48}, {"sensor_type", "t"}, {"addr", "W.D." + std::string(29, '1')}},
                                      {{"device_id", hex48}, {"sensor_type", "t"}, {"addr", "W.D.2"}}})}}));
  EXPECT_EQ(some.plc_addresses, std::vector<std::string>{hex48 + ".t.W.D.2"});
}
