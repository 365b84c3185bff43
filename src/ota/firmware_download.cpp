#include "ota/firmware_download.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

#include "curl/curl_easy.h"
#include "curl/curl_exception.h"
#include "ota/download_sink.h"
#include "ota/transfer_deadline.h"

namespace ota {
namespace {

// Prints the libcurl failures recorded so far and forgets them, so each failed download
// shows only what happened since the last one.
void PrintTraceback() {
  for (const auto& [message, operation] : curl::curl_exception::get_traceback()) {
    std::cout << "ERROR: " << message << " ::::: FUNCTION: " << operation << std::endl;
  }
  curl::curl_exception::clear_traceback();
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

// Free bytes for an unprivileged writer in `directory`; throws std::runtime_error.
std::uint64_t FreeBytes(const std::string& directory) {
  struct statvfs status {};
  if (::statvfs(directory.c_str(), &status) != 0) {
    throw std::runtime_error("cannot read the free space of " + directory + ": " + std::strerror(errno));
  }
  return static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
}

// Ends a transfer that is past its deadline (libcurl's progress callback).
struct DeadlineWatch {
  TransferDeadline deadline;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::uint64_t announced = 0;
  std::uint64_t received = 0;
  bool passed = false;

  static int Check(void* data, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
    auto& watch = *static_cast<DeadlineWatch*>(data);
    watch.announced = static_cast<std::uint64_t>(std::max<curl_off_t>(total, 0));
    watch.received = static_cast<std::uint64_t>(std::max<curl_off_t>(now, 0));
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - watch.start);
    watch.passed = watch.deadline.Passed(elapsed, watch.announced, watch.received);
    return watch.passed ? 1 : 0;
  }

  std::string Describe() const {
    const std::uint64_t size = announced > 0 ? announced : received;
    const auto allowed = std::chrono::ceil<std::chrono::seconds>(deadline.Allowed(size));
    return "not complete after " + std::to_string(allowed.count()) + " s, the time allowed for " +
           std::to_string(size) + " bytes";
  }
};

bool IsHttps(const std::string& url) { return url.compare(0, 8, "https://") == 0; }

// The transfer into `sink`: the HTTP status, or the failure.
DownloadOutcome Transfer(const std::string& url, DownloadSink& sink, const DownloadOptions& options, long& status) {
  DeadlineWatch watch{TransferDeadline(options.deadline_floor, options.deadline_rate)};
  try {
    curl::curl_easy easy(sink.Writer());
    sink.AnnouncedBy([&easy]() -> std::optional<std::uint64_t> {
      const curl_off_t length = easy.get_info_off(CURLINFO_CONTENT_LENGTH_DOWNLOAD_T);
      if (length < 0) return std::nullopt;
      return static_cast<std::uint64_t>(length);
    });
    // An https document never sends the gateway to plain http, and no url to another scheme.
    const char* const protocols = IsHttps(url) ? "https" : "http,https";
    easy.add(CURLOPT_URL, url.c_str());
    easy.add(CURLOPT_PROTOCOLS_STR, protocols);
    easy.add(CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    easy.add(CURLOPT_FOLLOWLOCATION, 1L);
    easy.add(CURLOPT_MAXREDIRS, 5L);
    easy.add(CURLOPT_VERBOSE, 1L);
    easy.add(CURLOPT_NOSIGNAL, 1L);
    easy.add(CURLOPT_LOW_SPEED_LIMIT, options.low_speed_limit);
    easy.add(CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.low_speed_time.count()));
    easy.add(CURLOPT_NOPROGRESS, 0L);
    easy.add(CURLOPT_XFERINFOFUNCTION, &DeadlineWatch::Check);
    easy.add(CURLOPT_XFERINFODATA, &watch);
    if (!options.ca_file.empty()) easy.add(CURLOPT_CAINFO, options.ca_file.c_str());
    easy.perform();
    status = easy.get_info(CURLINFO_RESPONSE_CODE);
    return {true, {}};
  } catch (const curl::curl_exception& error) {
    PrintTraceback();
    if (!sink.Refusal().empty()) return {false, "Firmware download of " + url + " refused: " + sink.Refusal()};
    if (watch.passed) return {false, "Firmware download of " + url + " ended: " + watch.Describe()};
    return {false, std::string(error.what()) + ": " + error.message() + " (" + error.operation() + ") downloading " +
                       url};
  }
}

}  // namespace

std::string PartialPath(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, start) + "." + path.substr(start) + ".part";
}

DownloadOutcome DownloadFile(const std::string& url, const std::string& path, const DownloadLimits& limits,
                             const DownloadOptions& options) {
  const std::string partial = PartialPath(path);
  std::remove(path.c_str());
  std::remove(partial.c_str());
  DownloadAllowance allowance{limits.max_size, 0, options.free_margin};
  if (limits.document_size) allowance.limit = std::min(allowance.limit, *limits.document_size);
  try {
    allowance.free = FreeBytes(DirectoryOf(path));
  } catch (const std::runtime_error& error) {
    return {false, "Firmware download of " + url + " refused: " + error.what()};
  }
  if (limits.document_size) {
    if (const auto refusal = allowance.Refuses(*limits.document_size, "in the document")) {
      return {false, "Firmware download of " + url + " refused: " + *refusal};
    }
  }
  std::ofstream file(partial, std::ios::binary | std::ios::trunc);
  if (!file) return {false, "Cannot open " + partial + " for writing"};
  DownloadSink sink(file, allowance);
  long status = 0;
  DownloadOutcome outcome = Transfer(url, sink, options, status);
  file.close();
  if (outcome.done && (status < 200 || status > 299)) {
    outcome = {false, "Firmware download failed: " + url + " answered " + std::to_string(status)};
  } else if (outcome.done && file.fail()) {
    outcome = {false, "Cannot write " + partial};
  } else if (outcome.done && std::rename(partial.c_str(), path.c_str()) != 0) {
    outcome = {false, "Cannot rename " + partial + " to " + path};
  }
  if (!outcome.done) std::remove(partial.c_str());
  return outcome;
}

}  // namespace ota
