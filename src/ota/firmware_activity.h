#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ota/firmware_info.h"
#include "ota/firmware_status.h"

namespace ota {

// What the firmware check has done lately, for the operator: when the cloud's document was
// last read and what it offered, the gateway's versions as the check found them, and the
// recent downloads. Bounded: a document's first kOfferedKept entries, kPackagesKept packages
// and the kDownloadsKept newest downloads. Safe from any thread; each call takes its lock.
class FirmwareActivity {
 public:
  static constexpr std::size_t kOfferedKept = 64;
  static constexpr std::size_t kPackagesKept = 16;
  static constexpr std::size_t kDownloadsKept = 8;

  // A document was read at `when`: what it offers replaces the last one's.
  void DocumentRead(std::int64_t when);
  void Offered(const std::string& target, const FirmwareInfo& entry);
  void SystemVersionRead(const std::string& version);  // empty: unreadable
  void PackageVersionRead(const std::string& package, const std::string& version);  // empty: not installed
  void DownloadStarted(const std::string& name, std::int64_t when);
  // Ends the download in progress.
  void DownloadEnded(bool done, std::int64_t when);

  // Fills the fields of `status` this keeps.
  void CopyInto(FirmwareStatus& status) const;

 private:
  mutable std::mutex lock_;
  std::optional<std::int64_t> checked_;
  std::vector<OfferedFirmware> offered_;
  std::optional<std::string> system_version_;
  std::map<std::string, std::string> packages_;
  std::deque<DownloadStatus> downloads_;  // newest first
};

}  // namespace ota
