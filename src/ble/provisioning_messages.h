#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// The message formats of BLE provisioning: every characteristic value is one JSON object
// encoded in CBOR; requests carry the command in "C", replies the reply code in "R".
namespace ble {

using Bytes = std::vector<std::uint8_t>;

// The fixed replies, parsed once from their JSON text.
const nlohmann::json& ReplyM();
const nlohmann::json& ReplyS();
const nlohmann::json& ReplyWS();
const nlohmann::json& ReplyWP();
const nlohmann::json& ReplyWLE();
const nlohmann::json& ReplyWCS();
const nlohmann::json& ReplyWCF();

// A request decoded from one written value: the whole value must be one CBOR item.
// Throws nlohmann::json::exception when it is not CBOR.
nlohmann::json DecodeRequest(const Bytes& value);

// The reply encoded for the phone.
Bytes EncodeReply(const nlohmann::json& reply);

// {"s": base64 of the serial-number text, "d": base64 of the device-id text}, or null when
// either is empty.
nlohmann::json GenerateDeviceInfo(const std::string& serial_number, const std::string& device_id);

// The reply to "I": {"R":"I"} merged with the device information (null replaces it).
nlohmann::json DeviceInfoReply(const std::string& serial_number, const std::string& device_id);

// The OpenWrt encryption name ("psk2+ccmp", "none", "wep", ...) of the "encryption" object
// of one scan result; empty for a network the gateway cannot join.
std::string EncryptionConvertor(const nlohmann::json& encryption);

// The "WL" reply for one scan result, or nothing when the result is left out of the list.
std::optional<nlohmann::json> AccessPointReply(const nlohmann::json& result);

// True for a JSON string whose bytes are valid UTF-8.
bool IsUtf8Text(const nlohmann::json& value);

}  // namespace ble
