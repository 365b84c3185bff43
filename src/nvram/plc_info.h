#pragma once

#include <cstdint>
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

// One entry of the cloud's PLC list. Throws (std::exception with a text for the log) when
// "id" or "name" is missing or mistyped, or "base"/"slot" is not an unsigned decimal number.
PLCInfo FromServerEntry(const nlohmann::json& entry);
