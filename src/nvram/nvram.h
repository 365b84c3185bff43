#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ipc/ubus.h"
#include "nvram/cloud_settings.h"
#include "nvram/firmware_settings.h"
#include "nvram/mesh_settings.h"
#include "nvram/plc_info.h"
#include "nvram/plc_settings.h"
#include "nvram/provisioning_settings.h"

// The daemon's persistent settings: an in-memory copy loaded from UCI at start-up, and
// setters that write every change through to UCI (object "uci" on the bus, then a
// commit). The application creates it (Singleton<NVRAM>) and hands each component the
// narrow settings interface it needs.
// Every field is guarded by one lock held only while it is read or replaced, never during
// a bus call, so a reader on any thread sees either the old or the new value.
class NVRAM : public MeshSettings,
              public CloudSettings,
              public PlcSettings,
              public FirmwareSettings,
              public ProvisioningSettings {
 public:
  static constexpr const char* kPackage = "ferrowick";
  static constexpr std::uint32_t kDefaultLogLevel = 6;

  explicit NVRAM(std::string socket_path = ipc::kDefaultSocket);
  ~NVRAM() override;
  NVRAM(const NVRAM&) = delete;
  NVRAM& operator=(const NVRAM&) = delete;

  // Resets every setting to its default, then loads them all.
  void Init();
  void Load();
  void LoadSystem();
  void LoadAuth();
  void LoadMesh();
  void LoadPLC();

  // Generic UCI writes; each but Commit is followed by a commit of the package. Failures
  // are logged by the bus client and otherwise ignored.
  void Commit(const std::string& package);
  void AddSection(const std::string& type, const nlohmann::ordered_json& values, const std::string& package);
  void SetSection(const std::string& section, const nlohmann::ordered_json& values, const std::string& package);
  void SetValue(const std::string& section, const std::string& option, const std::string& value,
                const std::string& package);
  void Set(const std::string& type, const nlohmann::ordered_json& values, const nlohmann::ordered_json& match,
           const std::string& package);
  void Delete(const std::string& type, const nlohmann::ordered_json& match, const std::string& package);

  std::string AccessToken() const override;
  void AccessToken(const std::string& token);
  std::string RefreshToken() const override;
  void RefreshToken(const std::string& token);
  // Both tokens, one write each.
  void StoreTokens(const std::string& access_token, const std::string& refresh_token) override;
  std::string ClientID() const override;
  std::string ClientSecret() const override;

  bool MeshEnable() const;
  void MeshEnable(const bool& enable);
  std::uint32_t NetIdx() const;
  void NetIdx(const std::uint32_t& index);
  std::uint16_t NetAddr() const override;
  void NetAddr(const std::uint16_t& address) override;  // throws std::runtime_error "Address error."
  std::uint16_t GroupAddr() const override;
  void GroupAddr(const std::uint16_t& address) override;  // throws std::runtime_error "Group Address Error."
  std::uint64_t Token() const override;
  void Token(const std::uint64_t& token) override;
  std::uint16_t TTL() const override;
  void TTL(const std::uint16_t& ttl);

  // Keys: 16 bytes, stored as Base64; setters throw std::invalid_argument "Key size is invalid".
  std::vector<std::uint8_t> MeshNetKey() const override;
  void MeshNetKey(const std::vector<std::uint8_t>& key);
  void MeshNetKey(const std::string& base64_key) override;
  std::vector<std::uint8_t> MeshAppKey() const override;
  void MeshAppKey(const std::vector<std::uint8_t>& key);
  void MeshAppKey(const std::string& base64_key) override;
  std::vector<std::uint8_t> MeshDevKey() const override;
  void MeshDevKey(const std::vector<std::uint8_t>& key) override;
  bool MeshCredentialsStored() const override;

  std::string DeviceID() const override;
  void DeviceID(const std::string& device_id) override;
  std::string SerialNumber() const override;
  void SerialNumber(const std::string& serial_number) override;
  std::string URL() const override;
  std::string Host() const override;
  // Whether the cloud's certificate is verified ("sys" option tls_verify), and the CA
  // file to verify it against ("sys" option ca_file; empty: the system's CA store).
  bool TlsVerify() const override;
  std::string CAFile() const override;
  // "sys" options report_batching (default on) and report_capacity (reports).
  bool ReportBatching() const override;
  std::size_t ReportCapacity() const override;
  // "sys" options spool_dir, spool_size (MiB), spool_ttl (hours) and spool_flush (seconds).
  ReportSpoolSettings Spool() const override;
  bool FirstBoot() const override;
  void ClearFirstBoot() override;
  std::uint32_t OTASession() const override;
  void OTASession(const std::uint32_t& sessions);
  std::uint32_t FWCheck() const override;
  void FWCheck(const std::uint32_t& minutes);
  // "sys" option firmware_key (default empty: images are not signed).
  std::string FirmwareKey() const override;
  void FirmwareKey(const std::string& key);
  // "sys" option log_level: the log's threshold, 1 (fatal) to 6 (verbose, the default).
  std::uint32_t LogLevel() const;
  // "sys" option provisioning_window (minutes; 0, the default: always).
  std::uint32_t ProvisioningWindow() const override;
  void ProvisioningWindow(const std::uint32_t& minutes);

  std::vector<PLCInfo> PLCList() const override;
  void PLCList(const std::vector<PLCInfo>& list);
  void AddPLC(const PLCInfo& info) override;
  void UpdatePLC(const PLCInfo& info) override;
  void DeletePLC(const PLCInfo& info) override;

  void Hostname(const std::string& hostname) override;
  void Wireless(const std::string& ssid, const std::string& encryption, const std::string& key);

  // "quellaron_" followed by the device id read as hexadecimal digit pairs.
  std::vector<std::uint8_t> DeviceUUID() const override;

 private:
  // One option of a named section: its default and how its stored text is taken.
  struct Option;
  // The options of "sys", "auth" and "mesh", built on first use.
  static const std::vector<Option>& Options();

  // Puts every option's default in place and empties the PLC list.
  void ResetToDefaults();
  // Calls "uci" `method` with `argument` on a fresh connection; `on_reply` gets each reply.
  bool CallUci(const std::string& method, const nlohmann::ordered_json& argument,
               const ipc::CallbackHandler& on_reply = nullptr) const;
  void LoadNamedSection(const std::string& section);
  // Takes one member of a section's reply; unknown options are skipped. Throws
  // std::invalid_argument naming the option when its stored value cannot be taken.
  void ApplyOption(const std::string& section, const std::string& option, const nlohmann::json& value);
  // Stores `text` into `field` unless equal; true when it changed.
  bool Replace(std::string& field, const std::string& text);
  void SetKey(std::string& field, const char* option, const std::string& base64_key, bool log_key);
  std::vector<std::uint8_t> KeyBytes(const std::string& field, bool verbose) const;

  const std::string socket_path_;
  mutable std::mutex lock_;

  // The settings; their defaults are in Options().
  std::string access_token_;
  std::string refresh_token_;
  std::string client_id_;
  std::string client_secret_;
  std::uint32_t net_idx_{};
  std::uint16_t net_addr_{};
  std::uint16_t group_addr_{};
  bool enable_{};
  std::string devkey_;
  std::string appkey_;
  std::string netkey_;
  std::uint64_t token_{};
  std::uint16_t ttl_{};
  std::string device_id_;
  std::string serial_number_;
  std::string url_;
  std::string host_;  // derived from url_, not stored
  bool tls_verify_{};
  std::string ca_file_;
  bool report_batching_{};
  std::uint32_t report_capacity_{};
  std::string spool_dir_;
  std::uint32_t spool_size_{};
  std::uint32_t spool_ttl_{};
  std::uint32_t spool_flush_{};
  bool first_boot_{};
  std::uint32_t ota_session_{};
  std::uint32_t fw_check_{};
  std::string firmware_key_;
  std::uint32_t provisioning_window_{};
  std::uint32_t log_level_{};
  std::vector<PLCInfo> plc_list_;
};
