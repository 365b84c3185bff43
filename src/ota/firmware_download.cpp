#include "ota/firmware_download.h"

#include <cstdio>
#include <fstream>
#include <iostream>

#include "curl/curl_easy.h"
#include "curl/curl_exception.h"
#include "log/log.h"

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

// The transfer into `file`; the HTTP status, or nothing after a libcurl failure (logged).
long Transfer(const std::string& url, std::ofstream& file, const DownloadOptions& options) {
  try {
    curl::curl_easy easy(curl::response_writer::to(file));
    easy.add(CURLOPT_URL, url.c_str());
    easy.add(CURLOPT_FOLLOWLOCATION, 1L);
    easy.add(CURLOPT_VERBOSE, 1L);
    easy.add(CURLOPT_NOSIGNAL, 1L);
    easy.add(CURLOPT_LOW_SPEED_LIMIT, options.low_speed_limit);
    easy.add(CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.low_speed_time.count()));
    if (!options.ca_file.empty()) easy.add(CURLOPT_CAINFO, options.ca_file.c_str());
    easy.perform();
    return easy.get_info(CURLINFO_RESPONSE_CODE);
  } catch (const curl::curl_exception& error) {
    LOG_ERROR << error.what() << ": " << error.message() << " (" << error.operation() << ") downloading " << url;
    PrintTraceback();
    return 0;
  }
}

}  // namespace

std::string PartialPath(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, start) + "." + path.substr(start) + ".part";
}

bool DownloadFile(const std::string& url, const std::string& path, const DownloadOptions& options) {
  const std::string partial = PartialPath(path);
  std::ofstream file(partial, std::ios::binary | std::ios::trunc);
  if (!file) {
    LOG_ERROR << "Cannot open " << partial << " for writing";
    return false;
  }
  const long status = Transfer(url, file, options);
  file.close();
  bool done = status >= 200 && status <= 299 && !file.fail();
  if (status != 0 && !done) LOG_ERROR << "Firmware download failed: " << url << " answered " << status;
  if (done && std::rename(partial.c_str(), path.c_str()) != 0) {
    LOG_ERROR << "Cannot rename " << partial << " to " << path;
    done = false;
  }
  if (!done) std::remove(partial.c_str());
  return done;
}

}  // namespace ota
