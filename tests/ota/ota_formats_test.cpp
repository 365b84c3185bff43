// The firmware manager's readers of outside input (version texts, the configuration
// document, file names, image headers and blocks, signing keys and signatures) and its
// rules of downloads and tool output.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>

#include "nvram/base64.h"
#include "ota/download_allowance.h"
#include "ota/firmware_config.h"
#include "ota/firmware_image.h"
#include "ota/firmware_version.h"
#include "ota/signature_key.h"
#include "ota/tool_outcome.h"
#include "ota/transfer_deadline.h"
#include "support/temp_directory.h"

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
  // An optional "size" is a whole number of bytes.
  EXPECT_EQ(ota::ReadFirmwareInfo(json{{"type", "1"}, {"name", "a"}, {"version", "1"}, {"size", 4096}}).size, 4096u);
  EXPECT_FALSE(ota::ReadFirmwareInfo(json{{"type", "1"}, {"name", "a"}, {"version", "1"}}).size);
  for (const json& size : {json(-1), json(1.5), json("4096")}) {
    EXPECT_THROW(ota::ReadFirmwareInfo(json{{"type", "1"}, {"name", "a"}, {"version", "1"}, {"size", size}}),
                 std::invalid_argument)
        << size;
  }

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

TEST(DownloadRules, TheDeadlineGrowsWithTheSizeFromItsFloor) {
  using std::chrono::milliseconds;
  const ota::TransferDeadline deadline(std::chrono::minutes(5), 4096);
  EXPECT_EQ(deadline.Allowed(0), std::chrono::minutes(5));
  EXPECT_EQ(deadline.Allowed(20 * 1024 * 1024), std::chrono::minutes(5) + std::chrono::seconds(5120));
  EXPECT_EQ(deadline.Allowed(2048), std::chrono::minutes(5) + milliseconds(500));
  EXPECT_LT(deadline.Allowed(UINT64_MAX), std::chrono::hours(24 * 366 * 101));  // saturates, no overflow
  // The announced size counts; without one, what has arrived so far.
  EXPECT_FALSE(deadline.Passed(std::chrono::minutes(6), 4096 * 120, 10));
  EXPECT_TRUE(deadline.Passed(std::chrono::minutes(6), 4096 * 30, 10));
  EXPECT_TRUE(deadline.Passed(std::chrono::minutes(6), 0, 600));  // a trickle of 2 bytes a second
  EXPECT_FALSE(deadline.Passed(std::chrono::minutes(6), 0, 4096 * 120));

  const ota::DownloadAllowance allowance{1000, 5000, 2000};
  EXPECT_FALSE(allowance.Refuses(1000, "announced"));
  EXPECT_EQ(*allowance.Refuses(1001, "announced"), "1001 bytes announced, more than the 1000 allowed");
  const ota::DownloadAllowance cramped{10000, 5000, 2000};
  EXPECT_FALSE(cramped.Refuses(3000, "received"));
  EXPECT_EQ(*cramped.Refuses(3001, "received"), "3001 bytes received do not fit: 5000 bytes are free and 2000 stay free");
  EXPECT_EQ((ota::DownloadAllowance{10, 1, 2}.Room()), 0u);
}

namespace {

// An Ed25519 key pair made in memory, and its signatures.
class TestSigner {
 public:
  TestSigner() : key_(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), &EVP_PKEY_free) {}
  std::vector<std::uint8_t> RawPublicKey() const {
    std::vector<std::uint8_t> raw(32);
    std::size_t length = raw.size();
    EVP_PKEY_get_raw_public_key(key_.get(), raw.data(), &length);
    return raw;
  }
  std::vector<std::uint8_t> DerPublicKey() const {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key_.get(), &der);
    std::vector<std::uint8_t> bytes(der, der + length);
    OPENSSL_free(der);
    return bytes;
  }
  std::vector<std::uint8_t> Sign(const std::string& content) const {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    std::vector<std::uint8_t> signature(64);
    std::size_t length = signature.size();
    EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get());
    EVP_DigestSign(context.get(), signature.data(), &length, reinterpret_cast<const unsigned char*>(content.data()),
                   content.size());
    return signature;
  }

 private:
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key_;
};

}  // namespace

TEST(SignatureKeyTest, TakesEitherKeyFormAndChecksWholeFiles) {
  const TestSigner signer;
  const TestSigner stranger;
  const std::string directory = testing_support::MakeTempDirectory("signature");
  const std::string image = directory + "/image.bin";
  const std::string content = "firmware image " + std::string(5000, 'x');
  std::ofstream(image, std::ios::binary) << content;
  const std::string empty = directory + "/empty.bin";
  std::ofstream(empty, std::ios::binary).flush();

  for (const auto& key : {signer.RawPublicKey(), signer.DerPublicKey()}) {
    const auto parsed = ota::SignatureKey::FromBase64(base64::Encode(key));
    std::string problem;
    EXPECT_TRUE(parsed.Verifies(image, signer.Sign(content), problem)) << problem;
    EXPECT_TRUE(parsed.Verifies(empty, signer.Sign(""), problem)) << problem;
    EXPECT_FALSE(parsed.Verifies(image, stranger.Sign(content), problem));
    EXPECT_EQ(problem, "its signature does not match the signing key");
    EXPECT_FALSE(parsed.Verifies(image, signer.Sign(content + "!"), problem));
    auto truncated = signer.Sign(content);
    truncated.pop_back();
    EXPECT_FALSE(parsed.Verifies(image, truncated, problem));
    EXPECT_EQ(problem, "its signature has 63 bytes, not 64");
    EXPECT_FALSE(parsed.Verifies(directory + "/none.bin", signer.Sign(content), problem));
    EXPECT_NE(problem.find("cannot open"), std::string::npos) << problem;
  }
  // Keys that are not Ed25519 public keys in Base64.
  const auto raw = base64::Encode(signer.RawPublicKey());
  for (const std::string& text : {std::string(), std::string("not a key"), raw + " ", raw.substr(0, 40),
                                 base64::Encode(std::vector<std::uint8_t>(44, 7))}) {
    EXPECT_THROW(ota::SignatureKey::FromBase64(text), std::invalid_argument) << text;
  }
  std::remove(image.c_str());
  std::remove(empty.c_str());
  ::rmdir(directory.c_str());
}

TEST(ToolOutcomeTest, TheTailIsTheLastLinesOnOneLine) {
  EXPECT_EQ(ota::OutputTail(""), "");
  EXPECT_EQ(ota::OutputTail("Saving config files...\n"), "Saving config files...");
  EXPECT_EQ(ota::OutputTail("one\r\ntwo\n\n"), "one | two");
  std::string long_output;
  for (int line = 0; line < 100; ++line) long_output += "line " + std::to_string(line) + "\n";
  const std::string tail = ota::OutputTail(long_output);
  EXPECT_LE(tail.size(), 512u * 2);
  EXPECT_EQ(tail.substr(tail.size() - 7), "line 99");
  EXPECT_EQ(tail.compare(0, 5, "line "), 0) << tail;  // begins at a line start
}
