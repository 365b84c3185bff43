// The firmware manager's readers of outside input: version texts, the configuration
// document, file names, image headers and blocks.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ota/firmware_config.h"
#include "ota/firmware_image.h"
#include "ota/firmware_version.h"

using nlohmann::json;

namespace {

std::string Tuple(const ota::FirmwareVersion& v) {
  return std::to_string(v.major) + "," + std::to_string(v.minor) + "," + std::to_string(v.patch) + "," +
         std::to_string(v.build);
}

}  // namespace

TEST(FirmwareVersionTest, FourPartVersions) {
  const std::vector<std::pair<std::string, std::string>> accepted{
      {"1.2.3-4", "1,2,3,4"},
      {"1.2.3+4", "1,2,3,4"},
      {"1-2+3.4.5", "1,2,3,4"},        // pieces beyond the fourth are not read
      {"256.257.65537.7", "0,1,1,7"},  // truncated to 8, 8 and 16 bits
      {"0.0.0.4294967295", "0,0,0,4294967295"}};
  for (const auto& [text, fields] : accepted) EXPECT_EQ(Tuple(ota::FirmwareVersion::Parse(text)), fields) << text;
  for (const std::string text :
       {"", "1.2.3", "1.2.3.", "1..3.4", "1.2.x.4", "1.2.3.4294967296", " 1.2.3.4", "1.2.3.-4"}) {
    EXPECT_THROW(ota::FirmwareVersion::Parse(text), std::invalid_argument) << text;
  }
  const auto v = [](const char* text) { return ota::FirmwareVersion::Parse(text); };
  EXPECT_EQ(ota::CompareVersions(v("1.2.3-4"), v("1.2.3-5")), 1);
  EXPECT_EQ(ota::CompareVersions(v("1.2.3-4"), v("1.2.3+4")), 0);
  EXPECT_EQ(ota::CompareVersions(v("1.2.3-4"), v("1.1.9-9")), -1);
  EXPECT_EQ(ota::CompareVersions(v("1.2.3-4"), v("2.0.0-0")), 1);
}

TEST(FirmwareVersionTest, SystemVersions) {
  const auto compare = [](const char* current, const char* offered) {
    return ota::CompareVersions(ota::SystemVersion::Parse(current), ota::SystemVersion::Parse(offered));
  };
  EXPECT_EQ(compare("21.2.1", "21.2.0"), -1);
  EXPECT_EQ(compare("21.2.1", "21.2.1"), 0);
  EXPECT_EQ(compare("21.2.1", "21.10.0"), 1);
  EXPECT_EQ(compare("24.10.4", "24.10.4-rc1"), 0);  // like "%d.%d.%d": the rest is not read
  EXPECT_EQ(ota::SystemVersion::Parse(" -1.+2.3").ToString(), "-1.2.3");
  for (const std::string text : {"", "21.2", "21..2", "v21.2.1", "21.2.x", "99999999999.1.1"}) {
    EXPECT_THROW(ota::SystemVersion::Parse(text), std::invalid_argument) << text;
  }
}

TEST(FirmwareConfigTest, DownloadUrlsAndNames) {
  for (const std::string url :
       {"https://firmware.example.com/files", "http://www.example.org", "https://fw.test.localhost:8443/a/b"}) {
    EXPECT_TRUE(ota::IsAcceptedDownloadUrl(url)) << url;
  }
  for (const std::string& url :
       std::vector<std::string>{"ftp://example.com/x", "https://127.0.0.1/files", "https://example.com/a b",
                                "example.com", "https://example.com/files\n", "https://example.COM/x"}) {
    EXPECT_FALSE(ota::IsAcceptedDownloadUrl(url)) << url;
  }
  // The same answers as the pattern itself, on texts probing each of its parts.
  const std::regex pattern(
      R"(https?://(www.)?[-a-zA-Z0-9@:%._\+~#=]{2,256}\.[a-z]{2,4}\b([-a-zA-Z0-9@:%_\+.~#?&//=]*))");
  const std::vector<std::string> probes{"https://www.example.com",
                                        "https://www/a.com",
                                        "https://wwwXab.com",
                                        "https://www\nab.com",
                                        "http://a.bc",
                                        "http://ab.c",
                                        "http://ab.cdefg",
                                        "http://ab.cdef_",
                                        "http://ab.cdef/x",
                                        "http://ab.cd.ef.gh:80/p?q=1&r=%41#f",
                                        "http://a_b.cd",
                                        "http://" + std::string(256, 'h') + ".io",
                                        "http://" + std::string(257, 'h') + ".io",
                                        "http://x.io/" + std::string(1, '\0'),
                                        "https://ab.cd\xc3\xa9",
                                        "https://ab.cd1",
                                        "https://ab.cd-1",
                                        "https://.ab.cd"};
  for (const auto& probe : probes) {
    EXPECT_EQ(ota::IsAcceptedDownloadUrl(probe), std::regex_match(probe, pattern)) << probe;
  }
  // Long texts cost no stack: the check is not a recursive matcher.
  EXPECT_TRUE(ota::IsAcceptedDownloadUrl("https://firmware.example.com/" + std::string(100000, 'a')));
  for (const std::string name : {"sensor_1.2.3-4.bin", "quellaron-app_1.0.1-1_mipsel_24kc.ipk", "a+b", "X"}) {
    EXPECT_TRUE(ota::IsPlainFileName(name)) << name;
  }
  for (const std::string name : {"", ".", "..", "../etc/passwd", "a/b", ".hidden", "-rf", "a b", "a;reboot",
                                 "$(reboot)", "a`id`", "a\nb", "caf\xc3\xa9"}) {
    EXPECT_FALSE(ota::IsPlainFileName(name)) << name;
  }
}

TEST(FirmwareConfigTest, Documents) {
  EXPECT_FALSE(ota::ReadFirmwareConfig(json::array()));
  EXPECT_FALSE(ota::ReadFirmwareConfig(json{{"url", "https://a.com"}, {"sensor", json::array()}}));
  EXPECT_FALSE(ota::ReadFirmwareConfig(json{{"url", 7}, {"sensor", json::array()}, {"gateway", json::array()}}));
  const auto config = ota::ReadFirmwareConfig(
      json{{"url", "https://a.com"}, {"sensor", "not a list"}, {"gateway", json::array({1, 2})}});
  ASSERT_TRUE(config);
  EXPECT_TRUE(config->sensor.empty());
  EXPECT_EQ(config->gateway.size(), 2u);
  EXPECT_EQ(config->problems, std::vector<std::string>{"\"sensor\" is not an array"});

  // An entry lacking a member reads as empty fields; a member that is not a text throws.
  EXPECT_EQ(ota::ReadFirmwareInfo(json{{"type", "1"}, {"name", "a"}}).name, "");
  EXPECT_THROW(ota::ReadFirmwareInfo(json{{"type", 1}, {"name", "a"}, {"version", "1.0.0-0"}}), json::type_error);
  EXPECT_THROW(ota::ReadFirmwareInfo(json("text")), std::invalid_argument);

  const auto device = ota::ReadDeviceEntry(FirmwareInfo{"65535", "fw.bin", "1.2.3-4"});
  EXPECT_EQ(device.type, 65535);
  EXPECT_EQ(Tuple(*device.version), "1,2,3,4");
  EXPECT_FALSE(ota::ReadDeviceEntry(FirmwareInfo{"1", "fw.bin", ""}).version);
  const std::vector<FirmwareInfo> refused{{"", "fw.bin", "1.0.0-0"},     {"x", "fw.bin", "1.0.0-0"},
                                          {"-1", "fw.bin", "1.0.0-0"},   {"65536", "fw.bin", "1.0.0-0"},
                                          {"1", "../fw.bin", "1.0.0-0"}, {"1", "", "1.0.0-0"},
                                          {"1", "fw.bin", "1.0.0"},      {"99999999999", "fw.bin", "1.0.0-0"}};
  for (const auto& info : refused) {
    EXPECT_THROW(ota::ReadDeviceEntry(info), std::invalid_argument)
        << info.type << " " << info.name << " " << info.version;
  }
}

TEST(FirmwareImageTest, HeaderAndBlocks) {
  std::string image(100, '\0');
  const unsigned char header[] = {0x3D, 0xB8, 0xF3, 0x96};
  std::copy(std::begin(header), std::end(header), image.begin());
  image[20] = 1;
  image[21] = 2;
  image[22] = 0x03;
  image[23] = 0x01;  // patch 0x0103
  image[24] = 0x04;
  image[27] = 0x01;  // build 0x01000004
  for (std::size_t at = 32; at < image.size(); ++at) image[at] = static_cast<char>(at);
  const auto bytes = reinterpret_cast<const std::uint8_t*>(image.data());
  const auto read = ota::ReadImageHeader(bytes, image.size());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->magic, ota::kImageMagic);
  EXPECT_EQ(Tuple(read->version), "1,2,259,16777220");
  EXPECT_FALSE(ota::ReadImageHeader(bytes, 31));

  std::istringstream input(image);
  const auto blocks = ota::SplitBlocks(input);
  ASSERT_TRUE(blocks);
  ASSERT_EQ(blocks->size(), 7u);
  ota::Block last{};
  for (int index = 0; index < 4; ++index) last[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(96 + index);
  EXPECT_EQ(blocks->back(), last);  // the last 4 bytes, then 12 zeros

  std::istringstream exact(std::string(32, 'x'));
  EXPECT_EQ(ota::SplitBlocks(exact)->size(), 2u);
  std::istringstream empty("");
  EXPECT_EQ(ota::SplitBlocks(empty)->size(), 0u);
  std::istringstream too_large(std::string(16 * 3 + 1, 'x'));
  EXPECT_FALSE(ota::SplitBlocks(too_large, 3));
}
