// The options of the named sections "sys", "auth" and "mesh": each one's default and how
// its stored text is taken into its field.
#include <algorithm>
#include <functional>
#include <stdexcept>
#include <type_traits>

#include "nvram/decimal.h"
#include "nvram/deployment.h"
#include "nvram/nvram.h"
#include "nvram/url_host.h"

struct NVRAM::Option {
  const char* section;
  const char* name;
  std::function<void(NVRAM&)> set_default;
  // Takes the stored text; throws std::invalid_argument naming the option when it cannot.
  std::function<void(NVRAM&, const std::string&)> load;
};

const std::vector<NVRAM::Option>& NVRAM::Options() {
  static const std::vector<Option> options = [] {
    // Texts default to empty and are taken unchanged.
    const auto text = [](const char* section, const char* name, std::string NVRAM::*field) {
      return Option{section, name, [field](NVRAM& nvram) { (nvram.*field).clear(); },
                    [field](NVRAM& nvram, const std::string& stored) { nvram.*field = stored; }};
    };
    const auto flag = [](const char* section, const char* name, bool NVRAM::*field, bool fallback) {
      return Option{section, name, [field, fallback](NVRAM& nvram) { nvram.*field = fallback; },
                    [field, name](NVRAM& nvram, const std::string& stored) {
                      nvram.*field = decimal::ParseFlag(stored, name);
                    }};
    };
    // Unsigned decimal of the field's width.
    const auto number = [](const char* section, const char* name, auto field, std::uint64_t fallback) {
      using Number = std::remove_reference_t<decltype(std::declval<NVRAM&>().*field)>;
      return Option{section, name, [field, fallback](NVRAM& nvram) { nvram.*field = static_cast<Number>(fallback); },
                    [field, name](NVRAM& nvram, const std::string& stored) {
                      nvram.*field = static_cast<Number>(decimal::ParseUnsigned(stored, sizeof(Number) * 8, name));
                    }};
    };
    // The host is derived from the URL: empty while no URL is stored, the deployment's
    // cloud host when the stored URL is not usable.
    const Option url{"sys", "url",
                     [](NVRAM& nvram) {
                       nvram.url_.clear();
                       nvram.host_.clear();
                     },
                     [](NVRAM& nvram, const std::string& stored) {
                       nvram.url_ = stored;
                       nvram.host_ = HostOfUrl(stored).value_or(deployment::kDefaultCloudHost);
                     }};
    return std::vector<Option>{
        text("auth", "access_token", &NVRAM::access_token_),
        text("auth", "refresh_token", &NVRAM::refresh_token_),
        text("auth", "client_id", &NVRAM::client_id_),
        text("auth", "client_secret", &NVRAM::client_secret_),
        flag("mesh", "enable", &NVRAM::enable_, false),
        number("mesh", "net_idx", &NVRAM::net_idx_, 0),
        number("mesh", "net_addr", &NVRAM::net_addr_, 0),
        // Outside the range the GroupAddr setter accepts, kept on purpose: when the phone sends no
        // group address, this is the one the gateway announces to its nodes.
        number("mesh", "group_addr", &NVRAM::group_addr_, 0xFC88),
        number("mesh", "token", &NVRAM::token_, 0),
        number("mesh", "ttl", &NVRAM::ttl_, 3),
        text("mesh", "netkey", &NVRAM::netkey_),
        text("mesh", "appkey", &NVRAM::appkey_),
        text("mesh", "devkey", &NVRAM::devkey_),
        text("sys", "device_id", &NVRAM::device_id_),
        text("sys", "serial_number", &NVRAM::serial_number_),
        url,
        flag("sys", "tls_verify", &NVRAM::tls_verify_, false),
        text("sys", "ca_file", &NVRAM::ca_file_),
        flag("sys", "report_batching", &NVRAM::report_batching_, true),
        number("sys", "report_capacity", &NVRAM::report_capacity_, kDefaultReportCapacity),
        text("sys", "spool_dir", &NVRAM::spool_dir_),
        number("sys", "spool_size", &NVRAM::spool_size_, kDefaultSpoolSizeMiB),
        number("sys", "spool_ttl", &NVRAM::spool_ttl_, kDefaultSpoolTtlHours),
        number("sys", "spool_flush", &NVRAM::spool_flush_, kDefaultSpoolFlushSeconds),
        flag("sys", "first_boot", &NVRAM::first_boot_, false),
        number("sys", "ota_session", &NVRAM::ota_session_, 2),
        number("sys", "fw_check", &NVRAM::fw_check_, 1440),
        text("sys", "firmware_key", &NVRAM::firmware_key_),
        // Minutes of advertising after start or a press of the button; 0: always.
        number("sys", "provisioning_window", &NVRAM::provisioning_window_, 0),
        // The log's threshold, 1 (fatal) to 6 (verbose, the default: every line).
        Option{"sys", "log_level", [](NVRAM& nvram) { nvram.log_level_ = kDefaultLogLevel; },
               [](NVRAM& nvram, const std::string& stored) {
                 nvram.log_level_ = static_cast<std::uint32_t>(decimal::ParseInRange(stored, 1, 6, "log_level"));
               }},
    };
  }();
  return options;
}

void NVRAM::ResetToDefaults() {
  const std::lock_guard<std::mutex> guard(lock_);
  for (const Option& option : Options()) option.set_default(*this);
  plc_list_.clear();
}

void NVRAM::ApplyOption(const std::string& section, const std::string& option, const nlohmann::json& value) {
  const auto& options = Options();
  const auto found = std::find_if(options.begin(), options.end(), [&](const Option& known) {
    return section == known.section && option == known.name;
  });
  if (found == options.end()) return;
  // UCI options are texts; a list is not one. The value itself stays out of the line: it
  // may be a secret.
  if (!value.is_string()) throw std::invalid_argument("Invalid value for " + option + ": not a text");
  const std::string stored = value.get<std::string>();
  const std::lock_guard<std::mutex> guard(lock_);
  found->load(*this, stored);
}
