// Accessors and write-through setters of NVRAM.
#include <cctype>
#include <cstdlib>
#include <stdexcept>

#include "log/json_text.h"
#include "log/log.h"
#include "log/secret.h"
#include "nvram/base64.h"
#include "nvram/nvram.h"

namespace {

constexpr std::size_t kKeySize = 16;

// Reads a field under the lock.
template <typename T>
T Read(std::mutex& lock, const T& field) {
  const std::lock_guard<std::mutex> guard(lock);
  return field;
}

// Replaces a field under the lock; true when the value changed.
template <typename T>
bool Change(std::mutex& lock, T& field, const T& value) {
  const std::lock_guard<std::mutex> guard(lock);
  if (field == value) return false;
  field = value;
  return true;
}

}  // namespace

bool NVRAM::Replace(std::string& field, const std::string& text) { return Change(lock_, field, text); }

std::string NVRAM::AccessToken() const { return Read(lock_, access_token_); }
void NVRAM::AccessToken(const std::string& token) {
  if (Replace(access_token_, token)) SetValue("auth", "access_token", token, kPackage);
}
std::string NVRAM::RefreshToken() const { return Read(lock_, refresh_token_); }
void NVRAM::RefreshToken(const std::string& token) {
  if (Replace(refresh_token_, token)) SetValue("auth", "refresh_token", token, kPackage);
}
void NVRAM::StoreTokens(const std::string& access_token, const std::string& refresh_token) {
  AccessToken(access_token);
  RefreshToken(refresh_token);
}
std::string NVRAM::ClientID() const { return Read(lock_, client_id_); }
std::string NVRAM::ClientSecret() const { return Read(lock_, client_secret_); }

bool NVRAM::MeshEnable() const { return Read(lock_, enable_); }
void NVRAM::MeshEnable(const bool& enable) {
  if (Change(lock_, enable_, enable)) SetValue("mesh", "enable", enable ? "1" : "0", kPackage);
}
std::uint32_t NVRAM::NetIdx() const { return Read(lock_, net_idx_); }
void NVRAM::NetIdx(const std::uint32_t& index) {
  if (Change(lock_, net_idx_, index)) SetValue("mesh", "net_idx", std::to_string(index), kPackage);
}
std::uint16_t NVRAM::NetAddr() const { return Read(lock_, net_addr_); }
void NVRAM::NetAddr(const std::uint16_t& address) {
  if (address == 0 || address >= 0x8000) throw std::runtime_error("Address error.");
  if (Change(lock_, net_addr_, address)) SetValue("mesh", "net_addr", std::to_string(address), kPackage);
}
std::uint16_t NVRAM::GroupAddr() const { return Read(lock_, group_addr_); }
void NVRAM::GroupAddr(const std::uint16_t& address) {
  if (address < 0xCA00 || address > 0xFC00) throw std::runtime_error("Group Address Error.");
  if (Change(lock_, group_addr_, address)) SetValue("mesh", "group_addr", std::to_string(address), kPackage);
}
std::uint64_t NVRAM::Token() const { return Read(lock_, token_); }
void NVRAM::Token(const std::uint64_t& token) {
  if (Change(lock_, token_, token)) SetValue("mesh", "token", std::to_string(token), kPackage);
}
std::uint16_t NVRAM::TTL() const { return Read(lock_, ttl_); }
void NVRAM::TTL(const std::uint16_t& ttl) {
  if (Change(lock_, ttl_, ttl)) SetValue("mesh", "ttl", std::to_string(ttl), kPackage);
}

void NVRAM::SetKey(std::string& field, const char* option, const std::string& base64_key, bool log_key) {
  if (!Replace(field, base64_key)) return;
  if (log_key) LOG_VERBOSE << logging::Secret(base64_key);
  SetValue("mesh", option, base64_key, kPackage);
}

std::vector<std::uint8_t> NVRAM::KeyBytes(const std::string& field, bool verbose) const {
  const std::vector<std::uint8_t> decoded = base64::Decode(Read(lock_, field));
  if (verbose) {
    LOG_VERBOSE << "len : " << decoded.size();
  } else {
    LOG_DEBUG << "len : " << decoded.size();
  }
  std::vector<std::uint8_t> key(kKeySize, 0);
  std::copy_n(decoded.begin(), std::min(decoded.size(), kKeySize), key.begin());
  return key;
}

std::vector<std::uint8_t> NVRAM::MeshNetKey() const { return KeyBytes(netkey_, false); }
void NVRAM::MeshNetKey(const std::vector<std::uint8_t>& key) {
  if (key.size() != kKeySize) throw std::invalid_argument("Key size is invalid");
  SetKey(netkey_, "netkey", base64::Encode(key), true);
}
void NVRAM::MeshNetKey(const std::string& base64_key) {
  if (base64_key.empty()) throw std::invalid_argument("Key size is invalid");
  SetKey(netkey_, "netkey", base64_key, true);
}
std::vector<std::uint8_t> NVRAM::MeshAppKey() const { return KeyBytes(appkey_, false); }
void NVRAM::MeshAppKey(const std::vector<std::uint8_t>& key) {
  if (key.size() != kKeySize) throw std::invalid_argument("Key size is invalid");
  SetKey(appkey_, "appkey", base64::Encode(key), false);
}
void NVRAM::MeshAppKey(const std::string& base64_key) {
  if (base64_key.empty()) throw std::invalid_argument("Key size is invalid");
  SetKey(appkey_, "appkey", base64_key, true);
}
std::vector<std::uint8_t> NVRAM::MeshDevKey() const { return KeyBytes(devkey_, true); }
void NVRAM::MeshDevKey(const std::vector<std::uint8_t>& key) {
  if (key.size() != kKeySize) throw std::invalid_argument("Key size is invalid");
  SetKey(devkey_, "devkey", base64::Encode(key), false);
}

bool NVRAM::MeshCredentialsStored() const {
  const std::lock_guard<std::mutex> guard(lock_);
  const auto is_key = [](const std::string& text) {
    const auto key = base64::DecodeCanonical(text);
    return key && key->size() == kKeySize;
  };
  return is_key(netkey_) && is_key(appkey_) && is_key(devkey_) && net_addr_ != 0 && net_addr_ < 0x8000;
}

std::string NVRAM::DeviceID() const { return Read(lock_, device_id_); }
void NVRAM::DeviceID(const std::string& device_id) {
  if (Replace(device_id_, device_id)) SetValue("sys", "device_id", device_id, kPackage);
}
std::string NVRAM::SerialNumber() const { return Read(lock_, serial_number_); }
void NVRAM::SerialNumber(const std::string& serial_number) {
  if (Replace(serial_number_, serial_number)) SetValue("sys", "serial_number", serial_number, kPackage);
}
std::string NVRAM::URL() const { return Read(lock_, url_); }
std::string NVRAM::Host() const { return Read(lock_, host_); }
bool NVRAM::TlsVerify() const { return Read(lock_, tls_verify_); }
std::string NVRAM::CAFile() const { return Read(lock_, ca_file_); }
bool NVRAM::ReportBatching() const { return Read(lock_, report_batching_); }
std::size_t NVRAM::ReportCapacity() const { return Read(lock_, report_capacity_); }
ReportSpoolSettings NVRAM::Spool() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return {spool_dir_, spool_size_, spool_ttl_, spool_flush_};
}
bool NVRAM::FirstBoot() const { return Read(lock_, first_boot_); }
void NVRAM::ClearFirstBoot() {
  Change(lock_, first_boot_, false);
  SetValue("sys", "first_boot", "0", kPackage);
}
std::uint32_t NVRAM::OTASession() const { return Read(lock_, ota_session_); }
void NVRAM::OTASession(const std::uint32_t& sessions) {
  Change(lock_, ota_session_, sessions);
  SetValue("sys", "ota_session", std::to_string(sessions), kPackage);
}
std::uint32_t NVRAM::FWCheck() const { return Read(lock_, fw_check_); }
void NVRAM::FWCheck(const std::uint32_t& minutes) {
  Change(lock_, fw_check_, minutes);
  SetValue("sys", "fw_check", std::to_string(minutes), kPackage);
}
std::string NVRAM::FirmwareKey() const { return Read(lock_, firmware_key_); }
void NVRAM::FirmwareKey(const std::string& key) {
  if (Replace(firmware_key_, key)) SetValue("sys", "firmware_key", key, kPackage);
}

std::uint32_t NVRAM::LogLevel() const { return Read(lock_, log_level_); }

std::uint32_t NVRAM::ProvisioningWindow() const { return Read(lock_, provisioning_window_); }
void NVRAM::ProvisioningWindow(const std::uint32_t& minutes) {
  if (Change(lock_, provisioning_window_, minutes)) {
    SetValue("sys", "provisioning_window", std::to_string(minutes), kPackage);
  }
}

std::vector<PLCInfo> NVRAM::PLCList() const { return Read(lock_, plc_list_); }
void NVRAM::PLCList(const std::vector<PLCInfo>& list) {
  for (const auto& info : list) LOG_VERBOSE << logging::JsonText(ToStoredJson(info));
  const std::lock_guard<std::mutex> guard(lock_);
  plc_list_ = list;
}
void NVRAM::AddPLC(const PLCInfo& info) { AddSection("plc", ToStoredJson(info), kPackage); }
void NVRAM::UpdatePLC(const PLCInfo& info) {
  Set("plc", ToStoredJson(info), nlohmann::ordered_json{{"id", info.id}}, kPackage);
}
void NVRAM::DeletePLC(const PLCInfo& info) { Delete("plc", nlohmann::ordered_json{{"id", info.id}}, kPackage); }

void NVRAM::Hostname(const std::string& hostname) {
  Set("system", nlohmann::ordered_json{{"hostname", hostname}}, nullptr, "system");
}

void NVRAM::Wireless(const std::string& ssid, const std::string& encryption, const std::string& key) {
  nlohmann::ordered_json values;
  values["ssid"] = ssid;
  values["encryption"] = encryption;
  values["key"] = key;
  SetSection("default_radio0", values, "wireless");
}

std::vector<std::uint8_t> NVRAM::DeviceUUID() const {
  const std::string prefix = "quellaron_";
  std::vector<std::uint8_t> uuid(prefix.begin(), prefix.end());
  const std::string device_id = DeviceID();
  for (std::size_t at = 0; at < device_id.size(); at += 2) {
    const std::string piece = device_id.substr(at, 2);
    unsigned value = 0;
    for (const char digit : piece) {
      if (!std::isxdigit(static_cast<unsigned char>(digit))) break;
      value = value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(digit))
                                                    ? digit - '0'
                                                    : std::tolower(static_cast<unsigned char>(digit)) - 'a' + 10);
    }
    uuid.push_back(static_cast<std::uint8_t>(value & 0xFF));
  }
  return uuid;
}
