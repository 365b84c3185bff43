#include "ble/provisioning_messages.h"

#include <map>
#include <string>

#include "log/log.h"
#include "nvram/base64.h"

namespace ble {

namespace {

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The encryption names by code: 1 WEP, 0x1N PSK, 0x2N WPA (enterprise), N the WPA versions.
const std::map<int, std::string>& EncryptionTable() {
  static const std::map<int, std::string> table{{0, "none"},       {1, "wep"},  {0x11, "psk"},
                                                {0x12, "psk2"},    {0x13, "psk-mixed"},
                                                {0x21, "wpa"},     {0x22, "wpa2"}, {0x23, "wpa-mixed"}};
  return table;
}

// A member that should be an array; missing (or of another type) it counts as empty.
const nlohmann::json& ListMember(const nlohmann::json& object, const char* name) {
  static const nlohmann::json empty = nlohmann::json::array();
  const auto found = object.find(name);
  return found != object.end() && found->is_array() ? *found : empty;
}

}  // namespace

const nlohmann::json& ReplyM() {
  static const auto reply = nlohmann::json::parse(R"({"R":"M"})");
  return reply;
}
const nlohmann::json& ReplyS() {
  static const auto reply = nlohmann::json::parse(R"({"R":"S"})");
  return reply;
}
const nlohmann::json& ReplyWS() {
  static const auto reply = nlohmann::json::parse(R"({"R":"WS"})");
  return reply;
}
const nlohmann::json& ReplyWP() {
  static const auto reply = nlohmann::json::parse(R"({"R":"WP"})");
  return reply;
}
const nlohmann::json& ReplyWLE() {
  static const auto reply = nlohmann::json::parse(R"({"R":"WLE"})");
  return reply;
}
const nlohmann::json& ReplyWCS() {
  static const auto reply = nlohmann::json::parse(R"({"R":"WCS"})");
  return reply;
}
const nlohmann::json& ReplyWCF() {
  static const auto reply = nlohmann::json::parse(R"({"R":"WCF"})");
  return reply;
}

nlohmann::json DecodeRequest(const Bytes& value) { return nlohmann::json::from_cbor(value, true, true); }

Bytes EncodeReply(const nlohmann::json& reply) { return nlohmann::json::to_cbor(reply); }

nlohmann::json GenerateDeviceInfo(const std::string& serial_number, const std::string& device_id) {
  if (serial_number.empty() || device_id.empty()) return nullptr;
  // Base64 of the texts' characters, not of the bytes their hex digits spell: the phone app decodes it so.
  nlohmann::json info{{"s", base64::Encode(TextBytes(serial_number))}, {"d", base64::Encode(TextBytes(device_id))}};
  LOG_VERBOSE << info.dump();
  return info;
}

nlohmann::json DeviceInfoReply(const std::string& serial_number, const std::string& device_id) {
  static const auto device_info = nlohmann::json::parse(R"({"R":"I"})");
  nlohmann::json reply = device_info;
  reply.merge_patch(GenerateDeviceInfo(serial_number, device_id));
  return reply;
}

std::string EncryptionConvertor(const nlohmann::json& encryption) {
  if (!encryption.is_object()) return "";
  const auto enabled = encryption.find("enabled");
  if (enabled != encryption.end() && *enabled == false) return "none";

  int code = 0;
  for (const auto& authentication : ListMember(encryption, "authentication")) {
    if (authentication == "802.1x") {
      LOG_DEBUG << authentication.get<std::string>() << " not supported.";
      return "";
    }
    // "none" gives code 1, reported as "wep", on purpose: the phone app expects that name for it.
    if (authentication == "none" && code == 0) code = 1;
    if (authentication == "psk") code = 0x10;
  }
  // A WEP network lists no key management at all, only its "wep" modes.
  if (!encryption.contains("authentication") && encryption.contains("wep")) code = 1;
  if (code != 1) {
    for (const auto& version : ListMember(encryption, "wpa")) {
      if (version.is_number_integer()) code += version.get<int>();
    }
  }
  const auto entry = EncryptionTable().find(code);
  // An unknown code keeps an empty name, so "e" starts with "+": kept as the phone app has always seen it.
  const std::string name = entry == EncryptionTable().end() ? "" : entry->second;
  if (code == 1) return name;

  std::string ciphers;
  for (const auto& cipher : ListMember(encryption, "ciphers")) {
    if (!cipher.is_string() || cipher == "wep-40" || cipher == "wep-104") continue;
    if (!ciphers.empty()) ciphers += "+";
    ciphers += cipher.get<std::string>();
  }
  return name + "+" + ciphers;
}

std::optional<nlohmann::json> AccessPointReply(const nlohmann::json& result) {
  if (!result.is_object() || !result.contains("ssid")) return std::nullopt;
  const auto encryption = result.find("encryption");
  const std::string name = EncryptionConvertor(encryption == result.end() ? nlohmann::json() : *encryption);
  if (name.empty()) return std::nullopt;
  nlohmann::json parameters{{"b", result.value("bssid", nlohmann::json())},
                            {"s", result.at("ssid")},
                            {"q", result.value("quality", nlohmann::json())},
                            {"e", name}};
  return nlohmann::json{{"R", "WL"}, {"P", std::move(parameters)}};
}

bool IsUtf8Text(const nlohmann::json& value) {
  if (!value.is_string()) return false;
  try {
    (void)value.dump();  // the strict dump refuses what is not UTF-8
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
  return true;
}

}  // namespace ble
