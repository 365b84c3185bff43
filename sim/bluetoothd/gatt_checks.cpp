#include "bluetoothd/gatt_checks.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace sim::bluetoothd {

namespace {

constexpr const char* kService = "org.bluez.GattService1";
constexpr const char* kCharacteristic = "org.bluez.GattCharacteristic1";

constexpr std::array<std::string_view, 23> kFlags{
    "broadcast", "read", "write-without-response", "write", "notify", "indicate", "authenticated-signed-writes",
    "extended-properties", "reliable-write", "writable-auxiliaries", "encrypt-read", "encrypt-write",
    "encrypt-notify", "encrypt-indicate", "encrypt-authenticated-read", "encrypt-authenticated-write",
    "encrypt-authenticated-notify", "encrypt-authenticated-indicate", "secure-read", "secure-write",
    "secure-notify", "secure-indicate", "authorize"};

// A 128-bit UUID in its text form (bluetoothd also takes 16- and 32-bit forms).
bool IsUuid(const std::string& text) {
  if (text.size() == 4 || text.size() == 8) {
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
  }
  if (text.size() != 36) return false;
  for (std::size_t index = 0; index < text.size(); ++index) {
    const bool dash = index == 8 || index == 13 || index == 18 || index == 23;
    if (dash ? text[index] != '-' : std::isxdigit(static_cast<unsigned char>(text[index])) == 0) return false;
  }
  return true;
}

template <typename T>
std::optional<T> Read(const Properties& properties, const char* name) {
  const auto found = properties.find(name);
  if (found == properties.end()) return std::nullopt;
  try {
    return found->second.get<T>();
  } catch (const sdbus::Error&) {
    return std::nullopt;
  }
}

}  // namespace

GattCheck CheckApplication(const ManagedObjects& objects) {
  if (objects.empty()) return {std::nullopt, "No object received"};
  GattTree tree;
  bool failed = false;
  for (const auto& [path, interfaces] : objects) {
    const auto service = interfaces.find(kService);
    if (service == interfaces.end()) continue;
    const auto uuid = Read<std::string>(service->second, "UUID");
    if (!uuid || !IsUuid(*uuid)) {
      failed = true;
      continue;
    }
    if (tree.service_path.empty()) {
      tree.service_path = path;
      tree.service_uuid = *uuid;
    }
  }
  for (const auto& [path, interfaces] : objects) {
    const auto characteristic = interfaces.find(kCharacteristic);
    if (characteristic == interfaces.end()) continue;
    const auto uuid = Read<std::string>(characteristic->second, "UUID");
    const auto service = Read<sdbus::ObjectPath>(characteristic->second, "Service");
    const auto flags = Read<std::vector<std::string>>(characteristic->second, "Flags");
    const bool flags_valid = flags && !flags->empty() && std::all_of(flags->begin(), flags->end(), [](const auto& flag) {
      return std::find(kFlags.begin(), kFlags.end(), flag) != kFlags.end();
    });
    if (!uuid || !IsUuid(*uuid) || !service || objects.count(*service) == 0 ||
        objects.at(*service).count(kService) == 0 || !flags_valid) {
      failed = true;
      continue;
    }
    tree.characteristics[*uuid] = path;
    tree.flags[path] = *flags;
  }
  if (tree.service_path.empty() || failed) return {std::nullopt, "No valid service object found"};
  return {tree, ""};
}

std::optional<std::string> CheckAdvertisement(const Properties& properties) {
  const auto type = Read<std::string>(properties, "Type");
  if (!type || (*type != "broadcast" && *type != "peripheral")) return "Failed to parse advertisement.";
  if (properties.count("ServiceUUIDs") != 0) {
    const auto uuids = Read<std::vector<std::string>>(properties, "ServiceUUIDs");
    if (!uuids || !std::all_of(uuids->begin(), uuids->end(), IsUuid)) return "Failed to parse advertisement.";
  }
  if (properties.count("LocalName") != 0 && !Read<std::string>(properties, "LocalName")) {
    return "Failed to parse advertisement.";
  }
  if (properties.count("Discoverable") != 0 && !Read<bool>(properties, "Discoverable")) {
    return "Failed to parse advertisement.";
  }
  if (properties.count("DiscoverableTimeout") != 0 && !Read<std::uint16_t>(properties, "DiscoverableTimeout")) {
    return "Failed to parse advertisement.";
  }
  if (properties.count("TxPower") != 0 && !Read<std::int16_t>(properties, "TxPower")) {
    return "Failed to parse advertisement.";
  }
  const auto min_interval = Read<std::uint32_t>(properties, "MinInterval");
  const auto max_interval = Read<std::uint32_t>(properties, "MaxInterval");
  if ((properties.count("MinInterval") != 0 && !min_interval) ||
      (properties.count("MaxInterval") != 0 && !max_interval)) {
    return "Failed to parse advertisement.";
  }
  if (min_interval && max_interval && *min_interval > *max_interval) return "Failed to parse advertisement.";
  return std::nullopt;
}

}  // namespace sim::bluetoothd
