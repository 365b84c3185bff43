#include "status/firmware_documents.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "status/seconds_ago.h"

using nlohmann::json;

namespace status {
namespace {

template <typename T>
json OrNull(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

json Images(const std::vector<ota::DeviceImageStatus>& images) {
  json list = json::array();
  for (const auto& image : images) {
    list.push_back({{"type", image.type}, {"version", image.version}, {"blocks", image.blocks}});
  }
  return list;
}

json Installed(const ota::FirmwareStatus& firmware) {
  json packages = json::object();
  for (const auto& [package, version] : firmware.packages) {
    packages[package] = version.empty() ? json(nullptr) : json(version);
  }
  return json{{"system", OrNull(firmware.system_version)},
              {"packages", std::move(packages)},
              {"devices", Images(firmware.images)}};
}

json Offered(const std::vector<ota::OfferedFirmware>& offered) {
  json list = json::array();
  for (const auto& entry : offered) {
    list.push_back({{"target", entry.target},
                    {"type", entry.type},
                    {"name", entry.name},
                    {"version", entry.version},
                    {"size", OrNull(entry.size)}});
  }
  return list;
}

const char* DownloadState(const ota::DownloadStatus& download) {
  if (!download.ended) return "downloading";
  return download.done ? "done" : "failed";
}

json Downloads(const std::vector<ota::DownloadStatus>& downloads, std::int64_t now) {
  json list = json::array();
  for (const auto& download : downloads) {
    list.push_back({{"name", download.name},
                    {"state", DownloadState(download)},
                    {"started", SecondsAgo(now, download.started)},
                    {"ended", download.ended ? json(SecondsAgo(now, *download.ended)) : json(nullptr)}});
  }
  return list;
}

json Sessions(const std::vector<ota::SessionStatus>& sessions, std::int64_t now) {
  json list = json::array();
  for (const auto& session : sessions) {
    list.push_back({{"address", session.address},
                    {"type", session.type},
                    {"block", session.block},
                    {"blocks", OrNull(session.blocks)},
                    {"last_request", SecondsAgo(now, session.last_request)}});
  }
  return list;
}

}  // namespace

json FirmwareSummary(const ota::FirmwareStatus& firmware) {
  const bool downloading = std::any_of(firmware.downloads.begin(), firmware.downloads.end(),
                                       [](const ota::DownloadStatus& download) { return !download.ended; });
  return json{{"downloading", downloading}, {"sessions", firmware.sessions.size()}};
}

json FirmwareDocument(const ota::FirmwareStatus& firmware) {
  return json{{"installed", Installed(firmware)},
              {"waiting", Images(firmware.waiting)},
              {"checked", firmware.checked ? json(SecondsAgo(firmware.taken_at, *firmware.checked)) : json(nullptr)},
              {"offered", Offered(firmware.offered)},
              {"downloads", Downloads(firmware.downloads, firmware.taken_at)},
              {"sessions", Sessions(firmware.sessions, firmware.taken_at)}};
}

}  // namespace status
