#include "meshd/call_checks.h"

#include <map>

namespace sim::meshd {

sdbus::Error MeshError(const std::string& name, const std::string& text) {
  static const std::map<std::string, std::string> kDefaultTexts = {
      {"Failed", "Operation failed"},        {"NotAuthorized", "Permission denied"},
      {"NotFound", "Object not found"},      {"InvalidArgs", "Invalid arguments"},
      {"InProgress", "Operation already in progress"}, {"Busy", "Busy"},
      {"AlreadyExists", "Already exists"},   {"DoesNotExist", "Does not exist"}};
  const auto found = kDefaultTexts.find(name);
  const std::string message = !text.empty() ? text : found != kDefaultTexts.end() ? found->second : std::string{};
  return sdbus::Error("org.bluez.mesh.Error." + name, message);
}

nlohmann::json ErrorJson(const sdbus::Error& error) { return {{"name", error.getName()}, {"message", error.getMessage()}}; }

nlohmann::json OptionsJson(const Options& options) {
  nlohmann::json json = nlohmann::json::object();
  for (const auto& [key, value] : options) {
    if (value.containsValueOfType<bool>()) {
      json[key] = value.get<bool>();
    } else if (value.containsValueOfType<std::uint16_t>()) {
      json[key] = value.get<std::uint16_t>();
    } else {
      json[key] = value.peekValueType();
    }
  }
  return json;
}

bool ValidSendOptions(const Options& options) {
  for (const auto& [key, value] : options) {
    if (key == "ForceSegmented" && !value.containsValueOfType<bool>()) return false;
    if (key == "Vendor" && !value.containsValueOfType<std::uint16_t>()) return false;
  }
  return true;
}

sdbus::Variant GroupsVariant(const std::vector<std::uint16_t>& groups) {
  std::vector<sdbus::Variant> variants;
  for (const auto group : groups) variants.emplace_back(group);
  return sdbus::Variant(variants);
}

}  // namespace sim::meshd
