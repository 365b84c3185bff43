#pragma once

// The firmware manager's documents for the operator, built from a snapshot: no lock, no bus.
// The snapshot holds no url, key or token, so neither does a document.

#include <nlohmann/json.hpp>

#include "ota/firmware_status.h"

namespace status {

// {"downloading": whether the gateway is fetching a file from the firmware host now,
//  "sessions": how many devices are reading firmware}
nlohmann::json FirmwareSummary(const ota::FirmwareStatus& firmware);

// {"installed": {"system": the system version or null,
//                "packages": package -> installed version, null when not installed,
//                "devices": [{"type", "version", "blocks"}]: the images served},
//  "waiting": [{"type", "version", "blocks"}]: newer images waiting for their readers,
//  "checked": seconds since the cloud's document was last read, or null,
//  "offered": [{"target": "sensor"|"gateway", "type", "name", "version", "size" or null}],
//  "downloads": [{"name", "state": "downloading"|"done"|"failed", "started", "ended" or null}],
//  "sessions": [{"address", "type", "block", "blocks" or null, "last_request"}]}
// The system and package versions are those the last check read (it reads them only for a
// gateway entry); times are seconds ago, read against the snapshot's taken_at.
nlohmann::json FirmwareDocument(const ota::FirmwareStatus& firmware);

}  // namespace status
