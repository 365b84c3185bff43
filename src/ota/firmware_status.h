#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ota {

// Times below are seconds since the epoch, read from the firmware manager's clock.

// A device firmware image held in memory.
struct DeviceImageStatus {
  int type = 0;
  std::string version;
  int blocks = 0;  // 16-byte blocks
};

// One entry of the last firmware document the cloud sent.
struct OfferedFirmware {
  std::string target;  // "sensor" or "gateway"
  std::string type;
  std::string name;
  std::string version;
  std::optional<std::uint64_t> size;  // bytes, when the document gives it
};

// One fetch of a file from the firmware host.
struct DownloadStatus {
  std::string name;
  std::int64_t started = 0;
  std::optional<std::int64_t> ended;  // nothing while in progress
  bool done = false;                  // once ended: the file arrived (and its signature held)
};

// A device reading an image block by block.
struct SessionStatus {
  std::uint16_t address = 0;
  int type = 0;
  int block = 0;                  // the block it asked for last
  std::optional<int> blocks;      // of the image it reads; nothing when that image is gone
  std::int64_t last_request = 0;
};

// A copy of the firmware manager's state, taken part by part under each part's own lock.
struct FirmwareStatus {
  std::int64_t taken_at = 0;  // the clock the times are read against
  std::optional<std::int64_t> checked;  // when the cloud's firmware document was last read
  // The gateway's own versions as last read by a check; nothing until one needed them.
  std::optional<std::string> system_version;
  std::map<std::string, std::string> packages;  // package -> installed version, empty: not installed
  std::vector<DeviceImageStatus> images;   // served to devices, in the order announced
  std::vector<DeviceImageStatus> waiting;  // newer images waiting until no device reads their type
  std::vector<OfferedFirmware> offered;
  std::vector<DownloadStatus> downloads;  // newest first
  std::vector<SessionStatus> sessions;    // by address
};

}  // namespace ota
