#include "ota/firmware_info.h"

void from_json(const nlohmann::json& json, FirmwareInfo& info) {
  info = FirmwareInfo{};
  if (!json.is_object() || !json.contains("type") || !json.contains("name") || !json.contains("version")) return;
  info.type = json.at("type").get<std::string>();
  info.name = json.at("name").get<std::string>();
  info.version = json.at("version").get<std::string>();
}

void to_json(nlohmann::json& json, const FirmwareInfo& info) {
  json = nlohmann::json{{"type", info.type}, {"name", info.name}, {"version", info.version}};
}
