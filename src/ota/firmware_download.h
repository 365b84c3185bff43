#pragma once

#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace ota {

struct DownloadOptions {
  // A transfer slower than `low_speed_limit` bytes per second for `low_speed_time` is aborted.
  long low_speed_limit = 1;
  std::chrono::seconds low_speed_time{60};
  // Every transfer ends after `deadline_floor` plus one second per `deadline_rate` bytes of
  // its size (TransferDeadline): 5 min, then 4 KiB/s on average.
  std::chrono::milliseconds deadline_floor{std::chrono::minutes(5)};
  std::uint64_t deadline_rate = 4096;
  // Bytes a download must leave free in its folder: one more file of the log's.
  std::uint64_t free_margin = 2u * 1024u * 1024u;
  // Trusted certificates for the firmware host; empty: the system's store.
  std::string ca_file;
};

// What one download may take: the largest file of its kind, and the size the firmware
// document gives it, when it gives one.
struct DownloadLimits {
  std::uint64_t max_size = std::numeric_limits<std::uint64_t>::max();
  std::optional<std::uint64_t> document_size;
};

// How a download ended: done, or why not (the text of one log line).
struct DownloadOutcome {
  bool done = false;
  std::string failure;
};

// Downloads `url` into `path`. An earlier copy of `path` and of its temporary file are
// removed first, so their room counts as free. The size the document or the server
// announces, and then what arrives, must fit the limits and leave `free_margin` free in the
// folder. The body goes to a temporary file beside `path` (the file name prefixed by '.' and
// suffixed ".part", a name no firmware entry can have), which replaces `path` only when the
// whole transfer succeeded with an HTTP status of 200 to 299; otherwise it is removed.
// Redirects stay on https when `url` is https, and on http or https otherwise. Nothing is
// logged: the caller logs the failure.
DownloadOutcome DownloadFile(const std::string& url, const std::string& path, const DownloadLimits& limits,
                             const DownloadOptions& options);

// The temporary name DownloadFile writes `path` under.
std::string PartialPath(const std::string& path);

}  // namespace ota
