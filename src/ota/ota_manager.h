#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "ipc/bus_defaults.h"
#include "ota/firmware_download.h"
#include "ota/firmware_image.h"
#include "ota/firmware_info.h"
#include "ota/firmware_sessions.h"
#include "ota/firmware_source.h"
#include "ota/firmware_version.h"
#include "timer/timer_queue.h"

class FirmwareSettings;
class CloudClient;

// The services the firmware manager uses; the application hands in the process's (the
// configuration store and the cloud client), which outlive it.
struct OTAServices {
  FirmwareSettings& settings;
  CloudClient& cloud;
};

// Where the manager keeps its files, which tools it runs, and its periods; the defaults are
// the daemon's.
struct OTAManagerOptions {
  std::string download_directory = "/var/";  // a file name is appended directly
  std::string sysupgrade = "/sbin/sysupgrade";
  std::string opkg = "opkg";  // looked up in PATH, as a shell would
  std::string own_package = "quellaron-app";
  std::string bus_socket = ipc::kDefaultSocket;
  std::chrono::milliseconds first_run{std::chrono::seconds(10)};
  std::chrono::milliseconds check_unit{std::chrono::minutes(1)};  // `FWCheck` counts these
  std::chrono::milliseconds sweep_period{std::chrono::minutes(1)};
  ota::DownloadOptions download;
  ota::SessionClock clock = ota::SystemSeconds;
};

// Keeps the gateway and its mesh devices on the firmware the cloud publishes: checks the
// firmware configuration document periodically, upgrades the system image and packages
// with the router's tools, and holds device images in memory, served block by block to at
// most `OTASession` devices at once. The application makes one per process and hands it to
// the mesh component as its FirmwareSource.
//
// The check (downloads and tools included) runs on one timer thread, the session sweep on
// another, so a slow download never delays the sweep.
class OTAManager : public FirmwareSource {
 public:
  static constexpr std::uint32_t kHeaderMagic = ota::kImageMagic;
  static constexpr std::size_t kHeaderLength = ota::kImageHeaderLength;
  // The longest check period, so the deadline stays within the clock's range.
  static constexpr std::uint32_t kMaxCheckMinutes = 366u * 24u * 60u;

  explicit OTAManager(OTAServices services, OTAManagerOptions options = {});
  ~OTAManager() override;
  OTAManager(const OTAManager&) = delete;
  OTAManager& operator=(const OTAManager&) = delete;

  // Arms the first firmware check and the first session sweep.
  virtual void StartTimers();
  void CheckNewFirmware(bool cancelled);
  void CheckSession(bool cancelled);
  // The sweep itself: removes the sessions idle for 301 s or more.
  void ExpireSessions();

  bool IsUpgrading() const;
  // 1 when `offered` is the greater system version, 0 when equal, -1 when smaller; throws
  // std::invalid_argument when either is not of the form major.minor.patch.
  int CompareOpenWRTVersion(const std::string& current, const std::string& offered) const;

  bool GetFirmwareFile(const std::string& name);
  bool CheckFirmwareFile(const std::string& name, const std::string& version) const;
  std::optional<std::vector<ota::Block>> ExtractBinary(const std::string& name) const;

  // Apply one entry of the document; a malformed entry is refused with one error line.
  void UpdateGatewayFirmware(const FirmwareInfo& info);
  void UpdateDeviceFirmware(const FirmwareInfo& info);
  void UpdateFirmwareInfo(int type, const std::string& version, int blocks);
  bool UpdateSession(std::uint16_t address);

  // For the mesh component: the firmware it announces, and one 16-byte block of a type's
  // image for the device at `address` (false when there is no such image or block, or no
  // room for another downloading device).
  std::vector<FirmwareListEntry> FirmwareList() const override;
  bool FirmwareBlock(std::uint16_t address, int type, int index, ota::Block& output) override;

 private:
  using Blocks = std::vector<ota::Block>;
  struct Image {
    ota::FirmwareVersion version;
    // Shared with block readers, so replacing an image never frees blocks being copied.
    std::shared_ptr<const Blocks> blocks;
  };

  std::string PathOf(const std::string& name) const;
  void ApplyDocument(const nlohmann::json& document);
  // Downloads, checks and splits one device image; nothing on failure (logged).
  std::shared_ptr<const Blocks> FetchImage(const std::string& name, const std::string& version);
  void UpdateSystem(const FirmwareInfo& info);
  void UpdatePackage(const FirmwareInfo& info);
  std::string CurrentSystemVersion() const;
  std::string InstalledPackageVersion(const std::string& package) const;
  void ScheduleCheck();
  void ScheduleSweep(std::chrono::milliseconds delay);

  const OTAServices services_;
  OTAManagerOptions options_;
  mutable std::mutex firmware_list_lock_;
  std::vector<FirmwareListEntry> firmware_list_;
  mutable std::mutex image_lock_;
  std::unordered_map<int, Image> images_;
  std::string download_url_;  // check thread only
  ota::FirmwareSessions sessions_;
  // Destroyed first: their handlers use everything above.
  timer::TimerQueue check_timers_;
  timer::TimerQueue session_timers_;
  std::uint64_t check_timer_id_ = 0;    // check thread only
  std::uint64_t session_timer_id_ = 0;  // sweep thread only
};
