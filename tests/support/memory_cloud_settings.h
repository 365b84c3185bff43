#pragma once

#include <mutex>
#include <string>
#include <utility>

#include "nvram/cloud_settings.h"

// What MemoryCloudSettings holds.
struct CloudSettingsValues {
  std::string access_token;
  std::string refresh_token;
  std::string client_id;
  std::string client_secret;
  std::string url;
  std::string host;
  std::string device_id;
  bool tls_verify = false;
  std::string ca_file;
  bool report_batching = true;
  std::size_t report_capacity = kDefaultReportCapacity;
  ReportSpoolSettings spool;  // no spool unless a test names a directory
};

// Cloud settings held in memory, safe to read and write from several threads: what the
// component tests hand the cloud clients instead of the configuration store.
class MemoryCloudSettings : public CloudSettings {
 public:
  using Values = CloudSettingsValues;

  explicit MemoryCloudSettings(Values values = {}) : values_(std::move(values)) {}

  std::string AccessToken() const override { return Get(&Values::access_token); }
  std::string RefreshToken() const override { return Get(&Values::refresh_token); }
  void StoreTokens(const std::string& access_token, const std::string& refresh_token) override {
    const std::lock_guard<std::mutex> guard(lock_);
    values_.access_token = access_token;
    values_.refresh_token = refresh_token;
  }
  std::string ClientID() const override { return Get(&Values::client_id); }
  std::string ClientSecret() const override { return Get(&Values::client_secret); }
  std::string URL() const override { return Get(&Values::url); }
  std::string Host() const override { return Get(&Values::host); }
  std::string DeviceID() const override { return Get(&Values::device_id); }
  bool TlsVerify() const override { return Get(&Values::tls_verify); }
  std::string CAFile() const override { return Get(&Values::ca_file); }
  bool ReportBatching() const override { return Get(&Values::report_batching); }
  std::size_t ReportCapacity() const override { return Get(&Values::report_capacity); }
  ReportSpoolSettings Spool() const override { return Get(&Values::spool); }

 private:
  template <typename T>
  T Get(T Values::*field) const {
    const std::lock_guard<std::mutex> guard(lock_);
    return values_.*field;
  }

  mutable std::mutex lock_;
  Values values_;
};
