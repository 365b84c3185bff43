// The firmware configuration document as the firmware host sends it: parsed, its url
// checked, every entry read as a device and as a gateway entry, its versions compared.

#include <cstddef>
#include <cstdint>
#include <regex>
#include <stdexcept>
#include <string>

#include "ota/firmware_config.h"
#include "packet_fuzz_support.h"

namespace {

void ReadEntry(const nlohmann::json& entry) {
  FirmwareInfo info;
  try {
    info = ota::ReadFirmwareInfo(entry);
  } catch (const std::invalid_argument&) {
    return;
  } catch (const nlohmann::json::type_error&) {
    return;
  }
  try {
    const auto device = ota::ReadDeviceEntry(info);
    fuzz_support::Require(device.type >= 0 && device.type <= 0xFFFF, "device type fits 16 bits");
    fuzz_support::Require(ota::IsPlainFileName(device.name), "device name is plain");
    fuzz_support::Require(device.name.find('/') == std::string::npos, "no slash in a device name");
    if (device.version) {
      fuzz_support::Require(ota::CompareVersions(*device.version, *device.version) == 0, "a version equals itself");
    }
  } catch (const std::invalid_argument&) {
  }
  try {
    const auto system = ota::SystemVersion::Parse(info.version);
    fuzz_support::Require(ota::CompareVersions(system, system) == 0, "a system version equals itself");
  } catch (const std::invalid_argument&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::StartSilentLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto document = nlohmann::json::parse(data, data + size, nullptr, false);
  if (document.is_discarded()) return 0;
  const auto config = ota::ReadFirmwareConfig(document);
  if (!config) return 0;
  const bool accepted = ota::IsAcceptedDownloadUrl(config->url);
  if (config->url.size() <= 512) {
    static const std::regex pattern(
        R"(https?://(www.)?[-a-zA-Z0-9@:%._\+~#=]{2,256}\.[a-z]{2,4}\b([-a-zA-Z0-9@:%_\+.~#?&//=]*))");
    fuzz_support::Require(accepted == std::regex_match(config->url, pattern), "the url check agrees with its pattern");
  }
  for (const auto& entry : config->sensor) ReadEntry(entry);
  for (const auto& entry : config->gateway) ReadEntry(entry);
  return 0;
}
