#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ota/firmware_info.h"
#include "ota/firmware_version.h"

namespace ota {

// The firmware configuration document: the download base URL and the raw "sensor" and
// "gateway" entries, each read on its own (one malformed entry does not spoil the others).
struct FirmwareConfig {
  std::string url;
  std::vector<nlohmann::json> sensor;
  std::vector<nlohmann::json> gateway;
  // Why a member was left out (a "sensor" or "gateway" that is not an array).
  std::vector<std::string> problems;
};

// Nothing when the document is not an object or lacks "url", "sensor" or "gateway", or its
// "url" is not a text.
std::optional<FirmwareConfig> ReadFirmwareConfig(const nlohmann::json& document);

// Whether the download base URL has the accepted form, the whole text matching
// "https?://(www.)?[-a-zA-Z0-9@:%._\+~#=]{2,256}\.[a-z]{2,4}\b([-a-zA-Z0-9@:%_\+.~#?&//=]*)"
// (ECMAScript): http or https, a host name with a top-level domain, an optional path.
bool IsAcceptedDownloadUrl(const std::string& url);

// A name that can only name a file directly inside the download directory and never reads
// as an option: not empty, not starting with '.' or '-', only letters, digits and "._+-".
bool IsPlainFileName(const std::string& name);

// A device entry checked: its type a decimal firmware type (0 to 65535), its name a plain
// file name and its version a four-part version, or empty (which counts as older than any).
struct DeviceEntry {
  int type = 0;
  std::string name;
  std::string version_text;
  std::optional<FirmwareVersion> version;  // nothing for an empty version text
};

// One entry of the document; throws std::invalid_argument when it is not an object and
// nlohmann::json::type_error when a member is not a text.
FirmwareInfo ReadFirmwareInfo(const nlohmann::json& entry);
// Throws std::invalid_argument for a malformed device entry.
DeviceEntry ReadDeviceEntry(const FirmwareInfo& info);
// Throws std::invalid_argument when the name is not a plain file name.
void CheckFileName(const std::string& name);

}  // namespace ota
