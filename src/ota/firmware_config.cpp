#include "ota/firmware_config.h"

#include <cctype>
#include <regex>
#include <stdexcept>

namespace ota {
namespace {

using nlohmann::json;

void ReadEntries(const json& document, const char* member, std::vector<json>& entries,
                 std::vector<std::string>& problems) {
  const json& list = document.at(member);
  if (!list.is_array()) {
    problems.push_back(std::string("\"") + member + "\" is not an array");
    return;
  }
  entries.assign(list.begin(), list.end());
}

int ReadDeviceType(const std::string& text) {
  if (text.empty() || text.size() > 5) throw std::invalid_argument("device firmware type '" + text + "' is not a number");
  int type = 0;
  for (const char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
      throw std::invalid_argument("device firmware type '" + text + "' is not a number");
    }
    type = type * 10 + (c - '0');
  }
  if (type > 0xFFFF) throw std::invalid_argument("device firmware type '" + text + "' is out of range");
  return type;
}

}  // namespace

std::optional<FirmwareConfig> ReadFirmwareConfig(const json& document) {
  if (!document.is_object() || !document.contains("url") || !document.contains("sensor") ||
      !document.contains("gateway") || !document.at("url").is_string()) {
    return std::nullopt;
  }
  FirmwareConfig config;
  config.url = document.at("url").get<std::string>();
  ReadEntries(document, "sensor", config.sensor, config.problems);
  ReadEntries(document, "gateway", config.gateway, config.problems);
  return config;
}

bool IsAcceptedDownloadUrl(const std::string& url) {
  if (url.size() > kMaxUrlLength) return false;
  static const std::regex pattern(
      R"(https?://(www.)?[-a-zA-Z0-9@:%._\+~#=]{2,256}\.[a-z]{2,4}\b([-a-zA-Z0-9@:%_\+.~#?&//=]*))",
      std::regex::ECMAScript);
  return std::regex_match(url, pattern);
}

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name.front() == '.' || name.front() == '-') return false;
  for (const char c : name) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                         c == '_' || c == '+' || c == '-';
    if (!allowed) return false;
  }
  return true;
}

FirmwareInfo ReadFirmwareInfo(const json& entry) {
  if (!entry.is_object()) throw std::invalid_argument("firmware entry is not an object");
  return entry.get<FirmwareInfo>();
}

void CheckFileName(const std::string& name) {
  if (!IsPlainFileName(name)) throw std::invalid_argument("firmware name '" + name + "' is not a plain file name");
}

DeviceEntry ReadDeviceEntry(const FirmwareInfo& info) {
  CheckFileName(info.name);
  DeviceEntry device;
  device.type = ReadDeviceType(info.type);
  device.name = info.name;
  device.version_text = info.version;
  if (!info.version.empty()) device.version = FirmwareVersion::Parse(info.version);
  return device;
}

}  // namespace ota
