#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Reports the REST client's buffer holds by default: a 30-minute outage of 100 mesh nodes
// (a third of them three-channel) at five-minute folds plus one PLC of 50 addresses at
// one-minute folds, about 3,300 readings, with room to spare.
inline constexpr std::size_t kDefaultReportCapacity = 4000;

// The report spool's defaults. 32 MiB holds some 40 hours' outage of that load (about
// 0.8 MB of readings an hour) and replays in minutes; readings older than three days (an
// outage over a long weekend) are not sent; 30 s between flushes to storage matches the
// kernel's own write-back of dirty pages (vm.dirty_expire_centisecs), so a shorter interval
// would add flash writes and a longer one save few, and a power cut loses at most the
// readings of the last 30 s.
inline constexpr std::uint32_t kDefaultSpoolSizeMiB = 32;
inline constexpr std::uint32_t kDefaultSpoolTtlHours = 72;
inline constexpr std::uint32_t kDefaultSpoolFlushSeconds = 30;

// Where and how the REST client keeps the readings waiting for the cloud on storage.
struct ReportSpoolSettings {
  std::string directory;  // empty: no spool, readings wait in memory only
  std::uint32_t size_mib = kDefaultSpoolSizeMiB;
  std::uint32_t ttl_hours = kDefaultSpoolTtlHours;  // 0: readings never expire
  std::uint32_t flush_seconds = kDefaultSpoolFlushSeconds;
};

// The persistent values the cloud clients (the REST client and the websocket client) read,
// and the tokens they store. The daemon's is the configuration store itself; component
// tests hand in values of their own.
class CloudSettings {
 public:
  virtual ~CloudSettings() = default;

  virtual std::string AccessToken() const = 0;
  virtual std::string RefreshToken() const = 0;
  // Stores both tokens after a successful device authorisation.
  virtual void StoreTokens(const std::string& access_token, const std::string& refresh_token) = 0;
  virtual std::string ClientID() const = 0;
  virtual std::string ClientSecret() const = 0;
  // The configured API base URL (may be empty) and the host part of it.
  virtual std::string URL() const = 0;
  virtual std::string Host() const = 0;
  virtual std::string DeviceID() const = 0;
  // Whether the cloud's certificate is verified, and against which CA file (empty: the
  // system's CA store).
  virtual bool TlsVerify() const = 0;
  virtual std::string CAFile() const = 0;
  // Whether the REST client merges pending reports into one request, and how many reports
  // it keeps while the cloud cannot take them.
  virtual bool ReportBatching() const = 0;
  virtual std::size_t ReportCapacity() const = 0;
  // The spool of pending readings on persistent storage.
  virtual ReportSpoolSettings Spool() const = 0;
};
