#include "ota/ota_manager.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <exception>
#include <fstream>
#include <stdexcept>

#include "ipc/ubus.h"
#include "log/log.h"
#include "common/command.h"
#include "nvram/firmware_settings.h"
#include "ota/firmware_config.h"
#include "server/cloud_client.h"

using nlohmann::json;

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

OTAManager::OTAManager(OTAServices services, OTAManagerOptions options)
    : services_(services),
      options_(std::move(options)),
      sessions_([this] { return services_.settings.OTASession(); }, options_.clock) {}

OTAManager::~OTAManager() = default;

std::string OTAManager::PathOf(const std::string& name) const { return options_.download_directory + name; }

void OTAManager::StartTimers() {
  check_timer_id_ = check_timers_.Add(options_.first_run, [this](bool cancelled) { CheckNewFirmware(cancelled); });
  ScheduleSweep(options_.first_run);
}

void OTAManager::CheckNewFirmware(bool cancelled) {
  if (cancelled) return;
  try {
    if (!IsUpgrading()) {
      json document;
      if (services_.cloud.FirmwareConfigTest(document)) ApplyDocument(document);
    }
  } catch (const std::exception& error) {
    LOG_ERROR << "Firmware check failed: " << error.what();
  }
  ScheduleCheck();
}

void OTAManager::ScheduleCheck() {
  std::uint32_t minutes = services_.settings.FWCheck();
  if (minutes == 0 || minutes > kMaxCheckMinutes) {
    const std::uint32_t bounded = minutes == 0 ? 1 : kMaxCheckMinutes;
    LOG_WARN << "Firmware check period of " << minutes << " minutes taken as " << bounded;
    minutes = bounded;
  }
  check_timer_id_ =
      check_timers_.Add(options_.check_unit * minutes, [this](bool cancelled) { CheckNewFirmware(cancelled); });
}

void OTAManager::CheckSession(bool cancelled) {
  if (cancelled) return;
  ExpireSessions();
  ScheduleSweep(options_.sweep_period);
}

void OTAManager::ExpireSessions() { sessions_.Expire(); }

void OTAManager::ScheduleSweep(std::chrono::milliseconds delay) {
  session_timer_id_ = session_timers_.Add(delay, [this](bool cancelled) { CheckSession(cancelled); });
}

void OTAManager::ApplyDocument(const json& document) {
  const auto config = ota::ReadFirmwareConfig(document);
  if (!config) {
    LOG_ERROR << "Firmware configuration refused: it needs \"url\" (a text), \"sensor\" and \"gateway\"";
    return;
  }
  if (!ota::IsAcceptedDownloadUrl(config->url)) {
    LOG_ERROR << "Firmware download url refused: " << config->url.substr(0, 256);
    return;
  }
  download_url_ = config->url;
  for (const auto& problem : config->problems) LOG_ERROR << "Firmware configuration: " << problem;
  const auto apply = [this](const std::vector<json>& entries, void (OTAManager::*update)(const FirmwareInfo&)) {
    for (const auto& entry : entries) {
      FirmwareInfo info;
      try {
        info = ota::ReadFirmwareInfo(entry);
      } catch (const std::exception& error) {
        LOG_ERROR << "Firmware entry refused: " << error.what();
        continue;
      }
      LOG_VERBOSE << info.name << " " << info.version << " " << info.type;
      (this->*update)(info);
    }
  };
  apply(config->sensor, &OTAManager::UpdateDeviceFirmware);
  apply(config->gateway, &OTAManager::UpdateGatewayFirmware);
}

bool OTAManager::IsUpgrading() const {
  LOG_VERBOSE << "Enter";
  return sessions_.Any();
}

int OTAManager::CompareOpenWRTVersion(const std::string& current, const std::string& offered) const {
  const auto first = ota::SystemVersion::Parse(current);
  const auto second = ota::SystemVersion::Parse(offered);
  LOG_VERBOSE << "V1 : " << first.ToString();
  LOG_VERBOSE << "V2 : " << second.ToString();
  return ota::CompareVersions(first, second);
}

bool OTAManager::GetFirmwareFile(const std::string& name) {
  if (!ota::IsPlainFileName(name)) {
    LOG_ERROR << "Firmware name '" << name << "' is not a plain file name";
    return false;
  }
  if (download_url_.empty()) {
    LOG_ERROR << "No firmware download url yet for " << name;
    return false;
  }
  return ota::DownloadFile(download_url_ + "/" + name, PathOf(name), options_.download);
}

bool OTAManager::CheckFirmwareFile(const std::string& name, const std::string& version) const {
  std::ifstream file(PathOf(name), std::ios::binary);
  if (!file) {
    LOG_ERROR << "파일[" << name << "]이 없습니다.";
    return false;
  }
  std::array<std::uint8_t, kHeaderLength> bytes{};
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  const auto header = ota::ReadImageHeader(bytes.data(), static_cast<std::size_t>(file.gcount()));
  if (!header) {
    LOG_ERROR << "Firmware file [" << name << "] is shorter than its " << kHeaderLength << "-byte header";
    return false;
  }
  if (header->magic != kHeaderMagic) {
    LOG_ERROR << "헤더 매직번호가 다릅니다.";
    return false;
  }
  if (version.empty()) {
    LOG_ERROR << "Firmware file [" << name << "] has no version to be checked against";
    return false;
  }
  try {
    const auto expected = ota::FirmwareVersion::Parse(version);
    if (header->version == expected) return true;
    LOG_ERROR << "Firmware file [" << name << "] holds version " << header->version.ToString() << ", not " << version;
  } catch (const std::invalid_argument& error) {
    LOG_ERROR << error.what();
  }
  return false;
}

std::optional<std::vector<ota::Block>> OTAManager::ExtractBinary(const std::string& name) const {
  const std::string path = PathOf(name);
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    LOG_ERROR << "Cannot open " << path;
    return std::nullopt;
  }
  auto blocks = ota::SplitBlocks(file);
  if (!blocks)
    LOG_ERROR << "Firmware file [" << name << "] is unreadable or larger than " << ota::kMaxImageBlocks << " blocks";
  return blocks;
}

std::shared_ptr<const OTAManager::Blocks> OTAManager::FetchImage(const std::string& name, const std::string& version) {
  if (!GetFirmwareFile(name) || !CheckFirmwareFile(name, version)) return nullptr;
  LOG_VERBOSE << name;
  auto blocks = ExtractBinary(name);
  if (!blocks) return nullptr;
  return std::make_shared<const Blocks>(std::move(*blocks));
}

void OTAManager::UpdateDeviceFirmware(const FirmwareInfo& info) {
  ota::DeviceEntry entry;
  try {
    entry = ota::ReadDeviceEntry(info);
  } catch (const std::invalid_argument& error) {
    LOG_ERROR << "Device firmware entry refused: " << error.what();
    return;
  }
  std::optional<ota::FirmwareVersion> stored;
  {
    const std::lock_guard<std::mutex> guard(image_lock_);
    const auto found = images_.find(entry.type);
    if (found != images_.end()) stored = found->second.version;
  }
  if (!entry.version) {
    // Counts as older than a stored image; without one there is nothing to check a file against.
    if (!stored) LOG_ERROR << "Device firmware entry " << entry.name << " has no version";
    return;
  }
  if (stored && ota::CompareVersions(*stored, *entry.version) != 1) return;
  const auto blocks = FetchImage(entry.name, entry.version_text);
  if (!blocks) return;
  {
    const std::lock_guard<std::mutex> guard(image_lock_);
    images_[entry.type] = Image{*entry.version, blocks};
  }
  UpdateFirmwareInfo(entry.type, entry.version_text, static_cast<int>(blocks->size()));
}

void OTAManager::UpdateGatewayFirmware(const FirmwareInfo& info) {
  try {
    ota::CheckFileName(info.name);
    const std::string type = Lower(info.type);
    if (type == "system") {
      UpdateSystem(info);
    } else if (type == "app") {
      UpdatePackage(info);
    }
  } catch (const std::exception& error) {
    LOG_ERROR << "Gateway firmware entry " << info.name << " refused: " << error.what();
  }
}

std::string OTAManager::CurrentSystemVersion() const {
  std::string version;
  ipc::UBUS bus(ipc::kDefaultCallTimeoutSeconds, options_.bus_socket);
  bus.Call("system", "board", "", [&version](const std::string& reply) {
    try {
      version = json::parse(reply).at("release").at("version").get<std::string>();
    } catch (const json::exception& error) {
      LOG_ERROR << error.what();
    }
  });
  return version;
}

void OTAManager::UpdateSystem(const FirmwareInfo& info) {
  if (CompareOpenWRTVersion(CurrentSystemVersion(), info.version) != 1) return;
  if (IsUpgrading() || !GetFirmwareFile(info.name)) return;
  const auto result = common::RunCommand({options_.sysupgrade, "-c", PathOf(info.name)});
  LOG_VERBOSE << result.output;
}

std::string OTAManager::InstalledPackageVersion(const std::string& package) const {
  const std::string output = common::RunCommand({options_.opkg, "list-installed", package}).output;
  const auto separator = output.rfind(" - ");
  return Trimmed(separator == std::string::npos ? output : output.substr(separator + 3));
}

void OTAManager::UpdatePackage(const FirmwareInfo& info) {
  const std::string package = info.name.substr(0, info.name.find('_'));
  std::optional<ota::FirmwareVersion> offered;
  if (!info.version.empty()) offered = ota::FirmwareVersion::Parse(info.version);
  const std::string installed = InstalledPackageVersion(package);
  int order = 1;  // nothing installed: anything offered is newer
  if (!installed.empty()) order = offered ? ota::CompareVersions(ota::FirmwareVersion::Parse(installed), *offered) : -1;
  if (order != 1) return;
  LOG_VERBOSE << "New APP Firmware";
  if (!GetFirmwareFile(info.name)) return;
  if (Lower(package) == options_.own_package && IsUpgrading()) {
    LOG_INFO << package << " is not installed while devices are downloading firmware";
    return;
  }
  const auto result = common::RunCommand({options_.opkg, "install", PathOf(info.name)});
  if (result.exit_status != 0)
    LOG_ERROR << "opkg install " << PathOf(info.name) << " ended with status " << result.exit_status;
}

void OTAManager::UpdateFirmwareInfo(int type, const std::string& version, int blocks) {
  LOG_VERBOSE << "type : " << type;
  LOG_VERBOSE << "version : " << version;
  LOG_VERBOSE << "size : " << blocks;
  const std::lock_guard<std::mutex> guard(firmware_list_lock_);
  const auto found = std::find_if(firmware_list_.begin(), firmware_list_.end(),
                                  [type](const FirmwareListEntry& entry) { return entry.type == type; });
  if (found != firmware_list_.end()) {
    *found = FirmwareListEntry{type, version, blocks};
  } else {
    firmware_list_.push_back(FirmwareListEntry{type, version, blocks});
  }
}

bool OTAManager::UpdateSession(std::uint16_t address) { return sessions_.Update(address); }

std::vector<FirmwareListEntry> OTAManager::FirmwareList() const {
  const std::lock_guard<std::mutex> guard(firmware_list_lock_);
  return firmware_list_;
}

bool OTAManager::FirmwareBlock(std::uint16_t address, int type, int index, ota::Block& output) {
  std::shared_ptr<const Blocks> blocks;
  {
    const std::lock_guard<std::mutex> guard(image_lock_);
    const auto found = images_.find(type);
    if (found == images_.end()) return false;
    blocks = found->second.blocks;
  }
  if (!UpdateSession(address)) return false;
  if (index < 0 || static_cast<std::size_t>(index) >= blocks->size()) return false;
  output = (*blocks)[static_cast<std::size_t>(index)];
  return true;
}
