#include "ble/mesh_credentials.h"

#include <stdexcept>

#include "ble/provisioning_messages.h"
#include "log/json_text.h"
#include "nvram/base64.h"

namespace ble {

namespace {

constexpr std::size_t kKeySize = 16;

struct AddressRange {
  std::int64_t first;
  std::int64_t last;
};
constexpr AddressRange kUnicast{0x0001, 0x7FFF};
// The range the configuration store keeps for the gateway's group address.
constexpr AddressRange kGroup{0xCA00, 0xFC00};

std::invalid_argument Refusal(const char* name, const std::string& why) {
  return std::invalid_argument(std::string("\"") + name + "\" " + why);
}

const nlohmann::json& Field(const nlohmann::json& request, const char* name) {
  const auto found = request.find(name);
  if (found == request.end()) throw Refusal(name, "is missing");
  return *found;
}

// The key's canonical Base64 text: a phone's encoder may add a line break, nothing else.
std::string Key(const nlohmann::json& request, const char* name) {
  const auto& value = Field(request, name);
  if (!IsUtf8Text(value)) throw Refusal(name, "is not a UTF-8 text");
  const auto& text = value.get_ref<const std::string&>();
  const auto first = text.find_first_not_of(" \t\r\n");
  const auto last = text.find_last_not_of(" \t\r\n");
  const std::string key = first == std::string::npos ? "" : text.substr(first, last - first + 1);
  const auto bytes = base64::DecodeCanonical(key);
  if (!bytes || bytes->size() != kKeySize) throw Refusal(name, "is not Base64 of 16 bytes");
  return key;
}

std::uint16_t Address(const nlohmann::json& request, const char* name, AddressRange range) {
  const auto& value = Field(request, name);
  if (!value.is_number_integer() || value.get<std::int64_t>() < range.first || value.get<std::int64_t>() > range.last) {
    throw Refusal(name, "is not an address from " + std::to_string(range.first) + " to " +
                            std::to_string(range.last) + ": " + logging::JsonText(value));
  }
  return static_cast<std::uint16_t>(value.get<std::int64_t>());
}

}  // namespace

MeshCredentials ReadMeshCredentials(const nlohmann::json& request) {
  MeshCredentials credentials;
  credentials.network_key = Key(request, "n");
  credentials.application_key = Key(request, "a");
  credentials.unicast = Address(request, "u", kUnicast);
  if (request.contains("g")) credentials.group = Address(request, "g", kGroup);
  return credentials;
}

}  // namespace ble
