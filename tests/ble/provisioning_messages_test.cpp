// The provisioning message formats: reply bytes, device information, the encryption names
// of every kind of network a scan reports, and the "WL" entries built from scan results.

#include <gtest/gtest.h>

#include "ble/provisioning_messages.h"

using ble::Bytes;
using nlohmann::json;

TEST(ProvisioningMessages, FixedRepliesAreOneMapWithR) {
  const std::vector<std::pair<const json*, Bytes>> cases{
      {&ble::ReplyM(), {0xA1, 0x61, 'R', 0x61, 'M'}},
      {&ble::ReplyS(), {0xA1, 0x61, 'R', 0x61, 'S'}},
      {&ble::ReplyWS(), {0xA1, 0x61, 'R', 0x62, 'W', 'S'}},
      {&ble::ReplyWP(), {0xA1, 0x61, 'R', 0x62, 'W', 'P'}},
      {&ble::ReplyWLE(), {0xA1, 0x61, 'R', 0x63, 'W', 'L', 'E'}},
      {&ble::ReplyWCS(), {0xA1, 0x61, 'R', 0x63, 'W', 'C', 'S'}},
      {&ble::ReplyWCF(), {0xA1, 0x61, 'R', 0x63, 'W', 'C', 'F'}},
  };
  for (const auto& [reply, bytes] : cases) EXPECT_EQ(ble::EncodeReply(*reply), bytes) << reply->dump();
}

TEST(ProvisioningMessages, DeviceInformationIsBase64OfTheTexts) {
  const auto reply = ble::DeviceInfoReply("0a1b2c3d4e5f0001", "0a1b2c3d4e5f");
  EXPECT_EQ(reply, json::parse(R"({"R":"I","s":"MGExYjJjM2Q0ZTVmMDAwMQ==","d":"MGExYjJjM2Q0ZTVm"})"));
  const Bytes bytes = ble::EncodeReply(reply);
  // Keys in ascending byte order: "R" before "d" before "s".
  const Bytes head{0xA3, 0x61, 'R', 0x61, 'I', 0x61, 'd'};
  EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()));
}

TEST(ProvisioningMessages, NoIdentityIsTheSingleNullByte) {
  for (const auto& [serial, id] : std::vector<std::pair<std::string, std::string>>{
           {"", ""}, {"", "0a1b2c3d4e5f"}, {"0a1b2c3d4e5f0001", ""}}) {
    EXPECT_EQ(ble::EncodeReply(ble::DeviceInfoReply(serial, id)), (Bytes{0xF6}));
  }
}

TEST(ProvisioningMessages, EncryptionNamesOfEveryKind) {
  const std::vector<std::pair<const char*, const char*>> cases{
      {R"({"enabled":false})", "none"},
      {R"({"enabled":true,"wep":["open","shared"],"ciphers":["wep-40","wep-104"]})", "wep"},
      {R"({"enabled":true,"wpa":[1],"authentication":["psk"],"ciphers":["tkip"]})", "psk+tkip"},
      {R"({"enabled":true,"wpa":[2],"authentication":["psk"],"ciphers":["ccmp"]})", "psk2+ccmp"},
      {R"({"enabled":true,"wpa":[1,2],"authentication":["psk"],"ciphers":["tkip","ccmp"]})", "psk-mixed+tkip+ccmp"},
      {R"({"enabled":true,"wpa":[2],"authentication":["802.1x"],"ciphers":["ccmp"]})", ""},
      {R"({"enabled":true,"wpa":[2],"authentication":["none","802.1x"],"ciphers":["ccmp"]})", ""},
      {R"({"enabled":true,"wpa":[2],"authentication":["none"],"ciphers":["wep-40","ccmp"]})", "wep"},
      // WPA3: no table entry, so the name is empty and the ciphers follow the "+".
      {R"({"enabled":true,"wpa":[3],"authentication":["sae"],"ciphers":["ccmp"]})", "+ccmp"},
      {R"({"enabled":true,"wpa":[2,3],"authentication":["psk","sae"],"ciphers":["ccmp"]})", "+ccmp"},
      {R"({"enabled":true,"wpa":[2],"authentication":["psk"],"ciphers":["wep-40","ccmp","wep-104"]})", "psk2+ccmp"},
      // Missing lists count as empty.
      {R"({"enabled":true,"authentication":["psk"]})", "+"},
      {R"({"enabled":true})", "none+"},
      {R"({"enabled":true,"wpa":"2","authentication":"psk","ciphers":7})", "none+"},
      {R"("open")", ""},
      {R"(null)", ""},
  };
  for (const auto& [encryption, name] : cases) {
    EXPECT_EQ(ble::EncryptionConvertor(json::parse(encryption)), name) << encryption;
  }
}

TEST(ProvisioningMessages, AccessPointEntriesCopyBssidSsidAndQuality) {
  const auto office = json::parse(
      R"({"ssid":"Office","bssid":"D8:0D:17:2B:4C:10","quality":62,"quality_max":70,
          "encryption":{"enabled":true,"wpa":[2],"authentication":["psk"],"ciphers":["ccmp"]}})");
  EXPECT_EQ(ble::AccessPointReply(office),
            json::parse(R"({"R":"WL","P":{"b":"D8:0D:17:2B:4C:10","s":"Office","q":62,"e":"psk2+ccmp"}})"));

  const std::vector<const char*> left_out{
      R"({"bssid":"00:11:22:33:44:55","encryption":{"enabled":false}})",  // no ssid
      R"({"ssid":"CorpWLAN","encryption":{"enabled":true,"wpa":[2],"authentication":["802.1x"],"ciphers":["ccmp"]}})",
      R"({"ssid":"NoEncryption"})",
      R"(["ssid"])",
      R"(7)",
  };
  for (const auto* result : left_out) EXPECT_FALSE(ble::AccessPointReply(json::parse(result))) << result;
}

TEST(ProvisioningMessages, RequestsMustBeOneWholeCborItem) {
  EXPECT_EQ(ble::DecodeRequest({0xA1, 0x61, 'C', 0x61, 'I'}), json::parse(R"({"C":"I"})"));
  const std::vector<Bytes> broken{{}, {0xA1, 0x61, 'C'}, {0xA1, 0x61, 'C', 0x61, 'I', 0x00}, {0xFF}, {'{', '}'}};
  for (const auto& value : broken) EXPECT_THROW(ble::DecodeRequest(value), json::exception);
}
