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
#include "ota/tool_outcome.h"
#include "server/cloud_client.h"

using nlohmann::json;

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// No bound but the size the document gives, when it gives one (and the room in the folder).
ota::DownloadLimits SizedByDocument(std::optional<std::uint64_t> size) {
  ota::DownloadLimits limits;
  limits.document_size = size;
  return limits;
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
      fetcher_(options_.download_directory, options_.download),
      sessions_([this] { return services_.settings.OTASession(); }, options_.clock) {}

OTAManager::~OTAManager() = default;

std::string OTAManager::PathOf(const std::string& name) const { return fetcher_.PathOf(name); }

void OTAManager::StartTimers() {
  fetcher_.Prepare();
  check_timer_id_ = check_timers_.Add(options_.first_run, [this](bool cancelled) { CheckNewFirmware(cancelled); });
  ScheduleSweep(options_.first_run);
}

void OTAManager::CheckNewFirmware(bool cancelled) {
  if (cancelled) return;
  try {
    // Sessions no longer hold the check back: a device image waits for its readers instead.
    InstallWaitingImages();
    json document;
    if (services_.cloud.FirmwareConfigTest(document)) ApplyDocument(document);
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

void OTAManager::ExpireSessions() {
  sessions_.Expire();
  InstallWaitingImages();
}

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
  activity_.DocumentRead(options_.clock());
  for (const auto& problem : config->problems) LOG_ERROR << "Firmware configuration: " << problem;
  const auto apply = [this](const char* target, const std::vector<json>& entries,
                            void (OTAManager::*update)(const FirmwareInfo&)) {
    for (const auto& entry : entries) {
      FirmwareInfo info;
      try {
        info = ota::ReadFirmwareInfo(entry);
      } catch (const std::exception& error) {
        LOG_ERROR << "Firmware entry refused: " << error.what();
        continue;
      }
      LOG_VERBOSE << info.name << " " << info.version << " " << info.type;
      activity_.Offered(target, info);
      (this->*update)(info);
    }
  };
  apply("sensor", config->sensor, &OTAManager::UpdateDeviceFirmware);
  apply("gateway", config->gateway, &OTAManager::UpdateGatewayFirmware);
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

bool OTAManager::GetFirmwareFile(const std::string& name, const ota::DownloadLimits& limits) {
  if (!ota::IsPlainFileName(name)) {
    LOG_ERROR << "Firmware name '" << name << "' is not a plain file name";
    return false;
  }
  if (download_url_.empty()) {
    LOG_ERROR << "No firmware download url yet for " << name;
    return false;
  }
  activity_.DownloadStarted(name, options_.clock());
  const bool done = fetcher_.Fetch(download_url_, name, limits, services_.settings.FirmwareKey());
  activity_.DownloadEnded(done, options_.clock());
  return done;
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

std::shared_ptr<const OTAManager::Blocks> OTAManager::FetchImage(const ota::DeviceEntry& entry,
                                                                  std::optional<std::uint64_t> size) {
  const ota::DownloadLimits limits{ota::kMaxImageBlocks * sizeof(ota::Block), size};
  if (!GetFirmwareFile(entry.name, limits)) return nullptr;
  std::optional<Blocks> blocks;
  if (CheckFirmwareFile(entry.name, entry.version_text)) {
    LOG_VERBOSE << entry.name;
    blocks = ExtractBinary(entry.name);
  }
  fetcher_.Remove(entry.name);  // the blocks are the one copy kept
  if (!blocks) return nullptr;
  return std::make_shared<const Blocks>(std::move(*blocks));
}

std::optional<ota::FirmwareVersion> OTAManager::NewestHeld(int type) const {
  const std::lock_guard<std::mutex> guard(image_lock_);
  if (const auto waiting = waiting_.find(type); waiting != waiting_.end()) return waiting->second.image.version;
  if (const auto found = images_.find(type); found != images_.end()) return found->second.version;
  return std::nullopt;
}

void OTAManager::UpdateDeviceFirmware(const FirmwareInfo& info) {
  ota::DeviceEntry entry;
  try {
    entry = ota::ReadDeviceEntry(info);
  } catch (const std::invalid_argument& error) {
    LOG_ERROR << "Device firmware entry refused: " << error.what();
    return;
  }
  const std::optional<ota::FirmwareVersion> stored = NewestHeld(entry.type);
  if (!entry.version) {
    // Counts as older than a stored image; without one there is nothing to check a file against.
    if (!stored) LOG_ERROR << "Device firmware entry " << entry.name << " has no version";
    return;
  }
  if (stored && ota::CompareVersions(*stored, *entry.version) != 1) return;
  if (!stored) {
    const std::lock_guard<std::mutex> guard(image_lock_);
    if (images_.size() >= options_.max_image_types) {
      LOG_ERROR << "Device firmware " << entry.name << " refused: " << images_.size()
                << " firmware types are held already, the most kept at once";
      return;
    }
  }
  const auto blocks = FetchImage(entry, info.size);
  if (!blocks) return;
  Offer(entry.type, entry.version_text, Image{*entry.version, blocks});
}

void OTAManager::Offer(int type, const std::string& version_text, Image image) {
  const std::lock_guard<std::mutex> guard(image_lock_);
  if (sessions_.Reads(type)) {
    LOG_INFO << "Device firmware " << version_text << " of type " << type
             << " waits until no device is downloading that type";
    waiting_[type] = WaitingImage{version_text, std::move(image)};
    return;
  }
  waiting_.erase(type);
  InstallLocked(type, version_text, std::move(image));
}

void OTAManager::InstallWaitingImages() {
  const std::lock_guard<std::mutex> guard(image_lock_);
  for (auto waiting = waiting_.begin(); waiting != waiting_.end();) {
    if (sessions_.Reads(waiting->first)) {
      ++waiting;
      continue;
    }
    InstallLocked(waiting->first, waiting->second.version_text, std::move(waiting->second.image));
    waiting = waiting_.erase(waiting);
  }
}

void OTAManager::InstallLocked(int type, const std::string& version_text, Image image) {
  const int blocks = static_cast<int>(image.blocks->size());
  images_[type] = std::move(image);
  // Under the image lock, so the list and the images change together.
  UpdateFirmwareInfo(type, version_text, blocks);
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

void OTAManager::Install(const std::vector<std::string>& argv, const std::string& name) {
  try {
    ota::LogToolOutcome(argv, common::RunCommand(argv, common::Capture::kOutputAndErrors));
  } catch (const std::runtime_error& error) {
    LOG_ERROR << error.what();
  }
  // Installed or failed, the file has served its purpose (a system upgrade that proceeds
  // never returns here: the router restarts).
  fetcher_.Remove(name);
}

void OTAManager::UpdateSystem(const FirmwareInfo& info) {
  const std::string current = CurrentSystemVersion();
  activity_.SystemVersionRead(current);
  if (CompareOpenWRTVersion(current, info.version) != 1) return;
  if (IsUpgrading() || !GetFirmwareFile(info.name, SizedByDocument(info.size))) return;
  Install({options_.sysupgrade, "-c", PathOf(info.name)}, info.name);
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
  activity_.PackageVersionRead(package, installed);
  int order = 1;  // nothing installed: anything offered is newer
  if (!installed.empty()) order = offered ? ota::CompareVersions(ota::FirmwareVersion::Parse(installed), *offered) : -1;
  if (order != 1) return;
  LOG_VERBOSE << "New APP Firmware";
  if (!GetFirmwareFile(info.name, SizedByDocument(info.size))) return;
  if (Lower(package) == options_.own_package && IsUpgrading()) {
    LOG_INFO << package << " is not installed while devices are downloading firmware";
    fetcher_.Remove(info.name);
    return;
  }
  Install({options_.opkg, "install", PathOf(info.name)}, info.name);
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

bool OTAManager::UpdateSession(std::uint16_t address, int type, int index) {
  return sessions_.Update(address, type, index);
}

std::vector<FirmwareListEntry> OTAManager::FirmwareList() const {
  const std::lock_guard<std::mutex> guard(firmware_list_lock_);
  return firmware_list_;
}

bool OTAManager::FirmwareBlock(std::uint16_t address, int type, int index, ota::Block& output) {
  // One step under the image lock: a block outside the image opens no session, and the
  // image cannot be replaced between the session's admission and the copy.
  const std::lock_guard<std::mutex> guard(image_lock_);
  const auto found = images_.find(type);
  if (found == images_.end()) return false;
  const Blocks& blocks = *found->second.blocks;
  if (index < 0 || static_cast<std::size_t>(index) >= blocks.size()) return false;
  if (!UpdateSession(address, type, index)) return false;
  output = blocks[static_cast<std::size_t>(index)];
  return true;
}

ota::FirmwareStatus OTAManager::Status() const {
  ota::FirmwareStatus status;
  status.taken_at = options_.clock();
  activity_.CopyInto(status);
  for (const FirmwareListEntry& entry : FirmwareList()) {
    status.images.push_back(ota::DeviceImageStatus{entry.type, entry.version, entry.blocks});
  }
  // The image lock before the sessions' own, as everywhere; the sizes match the sessions.
  const std::lock_guard<std::mutex> guard(image_lock_);
  for (const auto& [type, waiting] : waiting_) {
    status.waiting.push_back(
        ota::DeviceImageStatus{type, waiting.version_text, static_cast<int>(waiting.image.blocks->size())});
  }
  std::sort(status.waiting.begin(), status.waiting.end(),
            [](const ota::DeviceImageStatus& one, const ota::DeviceImageStatus& other) { return one.type < other.type; });
  status.sessions = sessions_.Snapshot();
  for (ota::SessionStatus& session : status.sessions) {
    const auto image = images_.find(session.type);
    if (image != images_.end()) session.blocks = static_cast<int>(image->second.blocks->size());
  }
  return status;
}
