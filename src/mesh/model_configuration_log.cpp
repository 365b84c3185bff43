#include "mesh/model_configuration_log.h"

#include <cstdint>
#include <vector>

#include <fmt/format.h>

#include "log/log.h"

namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) text += fmt::format("{:02x}", byte);
  return text;
}

void LogSubscription(const sdbus::Variant& address) {
  if (address.containsValueOfType<std::uint16_t>()) {
    LOG_DEBUG << "[Group address] : " << address.get<std::uint16_t>();
  } else if (address.containsValueOfType<std::vector<std::uint8_t>>()) {
    LOG_DEBUG << "[Virtual labels] : " << Hex(address.get<std::vector<std::uint8_t>>());
  } else {
    LOG_DEBUG << "[Unknown address type] : " << address.peekValueType();
  }
}

void LogEntry(const std::string& key, const sdbus::Variant& value) {
  LOG_DEBUG << key;
  if (key == "Bindings" && value.containsValueOfType<std::vector<std::uint16_t>>()) {
    for (const std::uint16_t index : value.get<std::vector<std::uint16_t>>()) LOG_DEBUG << index;
  } else if (key == "PublicationPeriod" && value.containsValueOfType<std::uint32_t>()) {
    LOG_DEBUG << value.get<std::uint32_t>();
  } else if (key == "Vendor" && value.containsValueOfType<std::uint16_t>()) {
    LOG_DEBUG << value.get<std::uint16_t>();
  } else if (key == "Subscriptions" && value.containsValueOfType<std::vector<sdbus::Variant>>()) {
    for (const sdbus::Variant& address : value.get<std::vector<sdbus::Variant>>()) LogSubscription(address);
  } else {
    LOG_DEBUG << "(value of type " << value.peekValueType() << ")";
  }
}

}  // namespace

void LogModelConfiguration(const std::map<std::string, sdbus::Variant>& config) {
  for (const auto& [key, value] : config) {
    try {
      LogEntry(key, value);
    } catch (const sdbus::Error& error) {
      LOG_ERROR << key << ": " << error.getMessage();
    }
  }
}
