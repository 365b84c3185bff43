#include "nvram/plc_info.h"

#include <limits>
#include <optional>
#include <stdexcept>

#include "log/log.h"
#include "nvram/decimal.h"

namespace {

// The text of a field, refused (that entry only) when longer than `bound`.
std::string BoundedText(const nlohmann::json& value, std::size_t bound, const char* name, std::uint32_t id) {
  std::string text = value.get<std::string>();
  if (text.size() > bound) {
    throw RefusedPLCEntry(id, std::string(name) + " of " + std::to_string(text.size()) + " bytes; at most " +
                                  std::to_string(bound) + " are taken");
  }
  return text;
}

// A base or slot that fits its 4 bits of the FEnet position, else the entry is refused.
int Position(int value, const char* name, std::uint32_t id) {
  if (value > PLCEntryBounds::kLargestPosition) {
    throw RefusedPLCEntry(id, std::string(name) + " " + std::to_string(value) + " is outside 0 to " +
                                  std::to_string(PLCEntryBounds::kLargestPosition));
  }
  return value;
}

// One element of "plc_addresses" as an address text, or nothing (with one error line) when one
// of its parts is longer than its bound.
std::optional<std::string> AddressText(const nlohmann::json& address, std::uint32_t id) {
  const std::string device_id = address.at("device_id").get<std::string>();
  const std::string sensor_type = address.at("sensor_type").get<std::string>();
  const std::string addr = address.at("addr").get<std::string>();
  const struct {
    const char* name;
    std::size_t size;
    std::size_t bound;
  } parts[] = {{"device_id", device_id.size(), PLCEntryBounds::kDeviceId},
               {"sensor_type", sensor_type.size(), PLCEntryBounds::kSensorType},
               {"addr", addr.size(), PLCEntryBounds::kAddr}};
  for (const auto& part : parts) {
    if (part.size > part.bound) {
      LOG_ERROR << "PLC " << id << ": address left out, its " << part.name << " has " << part.size
                << " bytes; at most " << part.bound << " are taken";
      return std::nullopt;
    }
  }
  return device_id + "." + sensor_type + "." + addr;
}

// A base or slot number: an unsigned number, as a JSON number or as decimal digits.
int IndexOf(const nlohmann::json& value, const char* name) {
  constexpr auto kLargest = static_cast<std::uint64_t>(std::numeric_limits<int>::max());
  if (value.is_number_unsigned() && value.get<std::uint64_t>() <= kLargest) return value.get<int>();
  if (!value.is_string()) throw std::invalid_argument(std::string("PLC ") + name + " is not an unsigned number");
  return static_cast<int>(decimal::ParseDigits(value.get<std::string>(), std::numeric_limits<int>::digits, name));
}

}  // namespace

bool PLCInfo::operator==(const PLCInfo& other) const {
  return id == other.id && name == other.name && vendor == other.vendor && proto == other.proto &&
         ip_address == other.ip_address && base == other.base && slot == other.slot &&
         plc_addresses == other.plc_addresses;
}

nlohmann::ordered_json ToStoredJson(const PLCInfo& info) {
  nlohmann::ordered_json stored;
  stored["id"] = info.id;
  stored["name"] = info.name;
  stored["vendor"] = info.vendor;
  stored["proto"] = info.proto;
  stored["ip"] = info.ip_address;
  stored["base"] = info.base;
  stored["slot"] = info.slot;
  stored["mem_dev"] = info.plc_addresses.empty() ? nlohmann::ordered_json("") : nlohmann::ordered_json(info.plc_addresses);
  return stored;
}

RefusedPLCEntry::RefusedPLCEntry(std::uint32_t id, const std::string& reason)
    : std::invalid_argument("PLC " + std::to_string(id) + " refused: " + reason), id_(id) {}

PLCInfo FromServerEntry(const nlohmann::json& entry) {
  PLCInfo info;
  info.id = entry.at("id").get<std::uint32_t>();
  const auto id = info.id;
  info.name = BoundedText(entry.at("name"), PLCEntryBounds::kName, "name", id);
  if (!entry.is_object()) return info;
  if (entry.contains("ip_address")) {
    info.ip_address = BoundedText(entry["ip_address"], PLCEntryBounds::kIpAddress, "ip_address", id);
  }
  if (entry.contains("vendor")) info.vendor = BoundedText(entry["vendor"], PLCEntryBounds::kVendor, "vendor", id);
  if (entry.contains("proto")) info.proto = BoundedText(entry["proto"], PLCEntryBounds::kProto, "proto", id);
  if (entry.contains("base")) info.base = Position(IndexOf(entry["base"], "base"), "base", id);
  if (entry.contains("slot")) info.slot = Position(IndexOf(entry["slot"], "slot"), "slot", id);
  if (entry.contains("plc_addresses")) {
    for (const auto& address : entry["plc_addresses"]) {
      if (auto text = AddressText(address, id)) info.plc_addresses.push_back(std::move(*text));
    }
  }
  return info;
}
