#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// One PLC's description, shared by the cloud's PLC list, the PLC manager and the
// configuration store.
struct PLCInfo {
  std::uint32_t id = 0;
  std::string name;
  std::string vendor = "ls";
  std::string proto = "fenet";
  std::string ip_address = "0.0.0.0";
  int base = 0;
  int slot = 0;
  std::vector<std::string> plc_addresses;  // "<device_id>.<sensor_type>.<addr>"

  bool operator==(const PLCInfo& other) const;
  bool operator!=(const PLCInfo& other) const { return !(*this == other); }
};

// The stored form: {"id","name","vendor","proto","ip","base","slot","mem_dev"}, numbers as
// numbers; an empty address list is written as "" (which removes the option in UCI).
nlohmann::ordered_json ToStoredJson(const PLCInfo& info);

// The longest text the gateway takes for each field of an entry of the cloud's PLC list, in
// bytes. The address parts make texts of at most 48 + 1 + 64 + 1 + 32 characters.
struct PLCEntryBounds {
  static constexpr std::size_t kName = 128;
  static constexpr std::size_t kVendor = 16;
  static constexpr std::size_t kProto = 16;
  static constexpr std::size_t kIpAddress = 253;  // the longest host name
  static constexpr std::size_t kDeviceId = 48;    // the value's id: 48 hexadecimal digits
  static constexpr std::size_t kSensorType = 64;  // the value's key
  static constexpr std::size_t kAddr = 32;        // "<type>.<device>.<address>[.<bit>]"
  static constexpr int kLargestPosition = 15;     // base and slot share one byte, 4 bits each
};

// An entry of the cloud's PLC list that the gateway refuses on its own: a field longer than its
// bound, or a base or slot outside its 4 bits. Only that entry is refused; `id` names it.
class RefusedPLCEntry : public std::invalid_argument {
 public:
  RefusedPLCEntry(std::uint32_t id, const std::string& reason);
  std::uint32_t Id() const { return id_; }

 private:
  std::uint32_t id_;
};

// One entry of the cloud's PLC list. Throws (std::exception with a text for the log) when
// "id" or "name" is missing or mistyped, or "base"/"slot" is not an unsigned decimal number;
// throws RefusedPLCEntry for a field beyond its bound (PLCEntryBounds). An element of
// "plc_addresses" whose device_id, sensor_type or addr is longer than its bound is left out,
// with one error line.
PLCInfo FromServerEntry(const nlohmann::json& entry);
