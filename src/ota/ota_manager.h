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
#include "ota/firmware_activity.h"
#include "ota/firmware_config.h"
#include "ota/firmware_download.h"
#include "ota/firmware_fetcher.h"
#include "ota/firmware_image.h"
#include "ota/firmware_info.h"
#include "ota/firmware_sessions.h"
#include "ota/firmware_status.h"
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
  // A folder of the manager's own, emptied at start; RAM on a router.
  std::string download_directory = "/var/quellaron-firmware/";
  std::string sysupgrade = "/sbin/sysupgrade";
  std::string opkg = "opkg";  // looked up in PATH, as a shell would
  std::string own_package = "quellaron-app";
  std::string bus_socket = ipc::kDefaultSocket;
  std::chrono::milliseconds first_run{std::chrono::seconds(10)};
  std::chrono::milliseconds check_unit{std::chrono::minutes(1)};  // `FWCheck` counts these
  std::chrono::milliseconds sweep_period{std::chrono::minutes(1)};
  ota::DownloadOptions download;
  ota::SessionClock clock = ota::SystemSeconds;
  // Device firmware types held in memory at once (each image at most 65,535 blocks, 1 MiB).
  std::size_t max_image_types = 8;
};

// Keeps the gateway and its mesh devices on the firmware the cloud publishes: checks the
// firmware configuration document periodically, upgrades the system image and packages
// with the router's tools, and holds device images in memory, served block by block to at
// most `OTASession` devices at once. Files are fetched into a folder of its own and removed
// once installed, refused or failed; with a signing key set, nothing is installed or served
// without a valid signature. A newer device image waits in memory until no device is
// reading its type, so a device never gets blocks of two images. The application makes one
// per process and hands it to the mesh component as its FirmwareSource.
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

  // Empties the download folder, then arms the first firmware check and the first session
  // sweep.
  virtual void StartTimers();
  void CheckNewFirmware(bool cancelled);
  void CheckSession(bool cancelled);
  // The sweep itself: ends the sessions idle for 301 s or stalled for 600 s, then puts in
  // place the waiting images no device reads any more.
  void ExpireSessions();

  bool IsUpgrading() const;
  // 1 when `offered` is the greater system version, 0 when equal, -1 when smaller; throws
  // std::invalid_argument when either is not of the form major.minor.patch.
  int CompareOpenWRTVersion(const std::string& current, const std::string& offered) const;

  // Fetches a file into the download folder (signed, when a key is set); on failure nothing
  // of it is left.
  bool GetFirmwareFile(const std::string& name, const ota::DownloadLimits& limits = {});
  bool CheckFirmwareFile(const std::string& name, const std::string& version) const;
  std::optional<std::vector<ota::Block>> ExtractBinary(const std::string& name) const;

  // Apply one entry of the document; a malformed entry is refused with one error line.
  void UpdateGatewayFirmware(const FirmwareInfo& info);
  void UpdateDeviceFirmware(const FirmwareInfo& info);
  void UpdateFirmwareInfo(int type, const std::string& version, int blocks);
  // Admits or refreshes the session of the device at `address` reading block `index` of `type`.
  bool UpdateSession(std::uint16_t address, int type, int index);

  // For the mesh component: the firmware it announces, and one 16-byte block of a type's
  // image for the device at `address` (false when there is no such image or block, or no
  // room for another downloading device).
  std::vector<FirmwareListEntry> FirmwareList() const override;
  bool FirmwareBlock(std::uint16_t address, int type, int index, ota::Block& output) override;

  // A copy of what the manager holds and has done lately, for the operator: each part is
  // copied under its own lock, none held when this returns. No url, key or token is in it.
  ota::FirmwareStatus Status() const;

 private:
  using Blocks = std::vector<ota::Block>;
  struct Image {
    ota::FirmwareVersion version;
    // Shared with block readers, so replacing an image never frees blocks being copied.
    std::shared_ptr<const Blocks> blocks;
  };

  std::string PathOf(const std::string& name) const;
  void ApplyDocument(const nlohmann::json& document);
  // Downloads, checks and splits one device image, whose file is removed again; nothing on
  // failure (logged).
  std::shared_ptr<const Blocks> FetchImage(const ota::DeviceEntry& entry, std::optional<std::uint64_t> size);
  // The version of `type` held, or waiting to be put in place; nothing when none is.
  std::optional<ota::FirmwareVersion> NewestHeld(int type) const;
  // Puts `image` in place for `type` now, or keeps it waiting while a device reads the type.
  void Offer(int type, const std::string& version_text, Image image);
  // Puts in place every waiting image whose type no device reads any more.
  void InstallWaitingImages();
  void InstallLocked(int type, const std::string& version_text, Image image);  // image_lock_ held
  // Runs an install tool on a fetched file, logs how it ended, and removes the file.
  void Install(const std::vector<std::string>& argv, const std::string& name);
  void UpdateSystem(const FirmwareInfo& info);
  void UpdatePackage(const FirmwareInfo& info);
  std::string CurrentSystemVersion() const;
  std::string InstalledPackageVersion(const std::string& package) const;
  void ScheduleCheck();
  void ScheduleSweep(std::chrono::milliseconds delay);

  struct WaitingImage {
    std::string version_text;
    Image image;
  };

  const OTAServices services_;
  OTAManagerOptions options_;
  ota::FirmwareFetcher fetcher_;
  mutable std::mutex firmware_list_lock_;
  std::vector<FirmwareListEntry> firmware_list_;
  // Guards the images and the waiting images; taken before the sessions' own lock, so a
  // session never opens on an image that is being replaced.
  mutable std::mutex image_lock_;
  std::unordered_map<int, Image> images_;
  std::unordered_map<int, WaitingImage> waiting_;
  std::string download_url_;  // check thread only
  ota::FirmwareSessions sessions_;
  ota::FirmwareActivity activity_;
  // Destroyed first: their handlers use everything above.
  timer::TimerQueue check_timers_;
  timer::TimerQueue session_timers_;
  std::uint64_t check_timer_id_ = 0;    // check thread only
  std::uint64_t session_timer_id_ = 0;  // sweep thread only
};
