#include "ota/firmware_info.h"

#include <stdexcept>

void from_json(const nlohmann::json& json, FirmwareInfo& info) {
  info = FirmwareInfo{};
  if (!json.is_object() || !json.contains("type") || !json.contains("name") || !json.contains("version")) return;
  info.type = json.at("type").get<std::string>();
  info.name = json.at("name").get<std::string>();
  info.version = json.at("version").get<std::string>();
  if (json.contains("size")) {
    const nlohmann::json& size = json.at("size");
    if (!size.is_number_unsigned() && !(size.is_number_integer() && size.get<std::int64_t>() >= 0)) {
      throw std::invalid_argument("firmware \"size\" is not a number of bytes");
    }
    info.size = size.get<std::uint64_t>();
  }
}

void to_json(nlohmann::json& json, const FirmwareInfo& info) {
  json = nlohmann::json{{"type", info.type}, {"name", info.name}, {"version", info.version}};
  if (info.size) json["size"] = *info.size;
}
