#pragma once

#include <chrono>
#include <string>

namespace ota {

struct DownloadOptions {
  // A transfer slower than `low_speed_limit` bytes per second for `low_speed_time` is aborted.
  long low_speed_limit = 1;
  std::chrono::seconds low_speed_time{60};
  // Trusted certificates for the firmware host; empty: the system's store.
  std::string ca_file;
};

// Downloads `url` into `path`. The body goes to a temporary file beside it (`path` with the
// file name prefixed by '.' and suffixed ".part", a name no firmware entry can have), which
// replaces `path` only when the whole transfer succeeded with an HTTP status of 200 to 299;
// otherwise it is removed and `path` is left as it was. Every failure logs one error line.
bool DownloadFile(const std::string& url, const std::string& path, const DownloadOptions& options);

// The temporary name DownloadFile writes `path` under.
std::string PartialPath(const std::string& path);

}  // namespace ota
