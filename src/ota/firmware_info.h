#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

// One entry of the firmware configuration document: a device firmware ("type" a decimal
// device firmware type) or a gateway one ("SYSTEM" or "APP").
struct FirmwareInfo {
  std::string type;
  std::string name;
  std::string version;
  // The file's size in bytes ("size"), when the document gives it.
  std::optional<std::uint64_t> size{};
};

// Read only when "type", "name" and "version" are all present (otherwise the fields stay
// empty); a present member that is not a text throws nlohmann::json::type_error, a "size"
// that is not a whole number of bytes std::invalid_argument.
void from_json(const nlohmann::json& json, FirmwareInfo& info);
void to_json(nlohmann::json& json, const FirmwareInfo& info);
