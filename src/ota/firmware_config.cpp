#include "ota/firmware_config.h"

#include <cctype>
#include <cstring>
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
  if (text.empty() || text.size() > 5)
    throw std::invalid_argument("device firmware type '" + text + "' is not a number");
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

bool InHostClass(char c) {
  return c != '\0' && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       std::strchr("-@:%._+~#=", c) != nullptr);
}

bool InPathClass(char c) {
  return c != '\0' && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       std::strchr("-@:%_+.~#?&/=", c) != nullptr);
}

bool IsWordCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Whether text[from..] is what the download url pattern allows after the scheme and the
// optional "www.": `[-a-zA-Z0-9@:%._\+~#=]{2,256}\.[a-z]{2,4}\b([-a-zA-Z0-9@:%_\+.~#?&//=]*)`, the
// whole rest. Written out instead of using std::regex, whose matcher recurses once per
// character: a few hundred characters from the network would overflow a 128 KiB thread stack.
bool MatchesHostAndPath(const std::string& text, std::size_t from) {
  const std::size_t size = text.size();
  // path_from[i]: text[i..] is all path characters.
  std::vector<bool> path_from(size + 1, true);
  for (std::size_t at = size; at > from; --at) path_from[at - 1] = path_from[at] && InPathClass(text[at - 1]);
  // The host part ends at a '.' after 2 to 256 host characters (all of them host characters).
  for (std::size_t length = 0; length <= 256 && from + length < size; ++length) {
    const std::size_t dot = from + length;
    if (length >= 2 && text[dot] == '.') {
      std::size_t letters = 0;
      while (letters < 4 && dot + 1 + letters < size && text[dot + 1 + letters] >= 'a' &&
             text[dot + 1 + letters] <= 'z') {
        ++letters;
        const std::size_t end = dot + 1 + letters;
        const bool boundary = end == size || !IsWordCharacter(text[end]);
        if (letters >= 2 && boundary && path_from[end]) return true;
      }
    }
    if (!InHostClass(text[dot])) return false;
  }
  return false;
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
  std::size_t start = 0;
  if (url.compare(0, 8, "https://") == 0) {
    start = 8;
  } else if (url.compare(0, 7, "http://") == 0) {
    start = 7;
  } else {
    return false;
  }
  const std::string rest = url.substr(start);
  // The optional "www." (its '.' matching any character but a line end) is either taken...
  if (rest.size() >= 4 && rest.compare(0, 3, "www") == 0 && rest[3] != '\n' && rest[3] != '\r' &&
      MatchesHostAndPath(rest, 4)) {
    return true;
  }
  return MatchesHostAndPath(rest, 0);  // ...or not
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
