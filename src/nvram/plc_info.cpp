#include "nvram/plc_info.h"

#include <limits>
#include <stdexcept>

#include "nvram/decimal.h"

namespace {

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

PLCInfo FromServerEntry(const nlohmann::json& entry) {
  PLCInfo info;
  info.id = entry.at("id").get<std::uint32_t>();
  info.name = entry.at("name").get<std::string>();
  if (!entry.is_object()) return info;
  if (entry.contains("ip_address")) info.ip_address = entry["ip_address"].get<std::string>();
  if (entry.contains("vendor")) info.vendor = entry["vendor"].get<std::string>();
  if (entry.contains("proto")) info.proto = entry["proto"].get<std::string>();
  if (entry.contains("base")) info.base = IndexOf(entry["base"], "base");
  if (entry.contains("slot")) info.slot = IndexOf(entry["slot"], "slot");
  if (entry.contains("plc_addresses")) {
    for (const auto& address : entry["plc_addresses"]) {
      info.plc_addresses.push_back(address.at("device_id").get<std::string>() + "." +
                                   address.at("sensor_type").get<std::string>() + "." +
                                   address.at("addr").get<std::string>());
    }
  }
  return info;
}
