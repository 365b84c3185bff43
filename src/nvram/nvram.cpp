#include "nvram/nvram.h"

#include <initializer_list>
#include <limits>
#include <string_view>

#include "log/json_text.h"
#include "log/log.h"
#include "nvram/decimal.h"

namespace {

constexpr std::int32_t kCallTimeoutSeconds = ipc::kDefaultCallTimeoutSeconds;

// Options whose values never appear in a log line.
const std::initializer_list<std::string_view> kSecretOptions = {"key", "netkey", "appkey", "devkey",
                                                                "access_token", "refresh_token", "client_secret"};

// A PLC's base or slot: an unsigned number, kept in an int.
int IndexOf(const std::string& text, const char* what) {
  return static_cast<int>(decimal::ParseDigits(text, std::numeric_limits<int>::digits, what));
}

bool IsEmptyMatch(const nlohmann::ordered_json& match) {
  return match.is_null() || (match.is_object() && match.empty()) || (match.is_array() && match.empty());
}

}  // namespace

NVRAM::NVRAM(std::string socket_path) : socket_path_(std::move(socket_path)) { ResetToDefaults(); }

NVRAM::~NVRAM() = default;

void NVRAM::Init() {
  ResetToDefaults();
  Load();
  LOG_DEBUG << "Settings loaded: url " << URL() << ", mesh " << (MeshEnable() ? "enabled" : "disabled") << ", "
            << PLCList().size() << " PLC(s)";
}

void NVRAM::Load() {
  LoadSystem();
  LoadAuth();
  LoadMesh();
  LoadPLC();
}

void NVRAM::LoadSystem() { LoadNamedSection("sys"); }
void NVRAM::LoadAuth() { LoadNamedSection("auth"); }
void NVRAM::LoadMesh() { LoadNamedSection("mesh"); }

bool NVRAM::CallUci(const std::string& method, const nlohmann::ordered_json& argument,
                    const ipc::CallbackHandler& on_reply) const {
  ipc::UBUS bus(kCallTimeoutSeconds, socket_path_);
  return bus.Call("uci", method, argument.dump(), on_reply);
}

void NVRAM::LoadNamedSection(const std::string& section) {
  nlohmann::ordered_json argument;
  argument["config"] = kPackage;
  argument["section"] = section;
  CallUci("get", argument, [&](const char* text) {
    try {
      // Members in ascending name order, as the sorted object yields them.
      const nlohmann::json reply = nlohmann::json::parse(text);
      for (const auto& [option, value] : reply.at("values").items()) ApplyOption(section, option, value);
    } catch (const std::exception& error) {
      LOG_ERROR << error.what();
    }
  });
}

void NVRAM::LoadPLC() {
  nlohmann::ordered_json argument;
  argument["config"] = kPackage;
  argument["type"] = "plc";
  CallUci("get", argument, [&](const char* text) {
    try {
      const auto reply = nlohmann::ordered_json::parse(text);
      for (const auto& [name, section] : reply.at("values").items()) {
        PLCInfo info;
        // "u" (unknown) on purpose: an incomplete stored section yields a PLC the manager refuses.
        info.vendor = "u";
        info.proto = "u";
        const bool complete = section.contains("id") && section.contains("vendor") && section.contains("proto") &&
                              section.contains("ip") && section.contains("base") && section.contains("slot");
        if (complete) {
          info.id = static_cast<std::uint32_t>(decimal::ParseDigits(section["id"].get<std::string>(), 32, "id"));
          info.name = section.at("name").get<std::string>();
          info.vendor = section["vendor"].get<std::string>();
          info.proto = section["proto"].get<std::string>();
          info.ip_address = section["ip"].get<std::string>();
          info.base = IndexOf(section["base"].get<std::string>(), "base");
          info.slot = IndexOf(section["slot"].get<std::string>(), "slot");
          if (section.contains("mem_dev")) {
            if (!section["mem_dev"].is_array()) throw std::invalid_argument("PLC " + name + ": mem_dev is not a list");
            info.plc_addresses = section["mem_dev"].get<std::vector<std::string>>();
          }
        }
        const std::lock_guard<std::mutex> guard(lock_);
        plc_list_.push_back(std::move(info));
      }
    } catch (const std::exception& error) {
      LOG_ERROR << error.what();
    }
  });
}

void NVRAM::Commit(const std::string& package) {
  nlohmann::ordered_json argument;
  argument["config"] = package;
  CallUci("commit", argument);
}

void NVRAM::AddSection(const std::string& type, const nlohmann::ordered_json& values, const std::string& package) {
  nlohmann::ordered_json argument;
  argument["config"] = package;
  argument["type"] = type;
  argument["values"] = values;
  CallUci("add", argument);
  Commit(package);
}

void NVRAM::SetSection(const std::string& section, const nlohmann::ordered_json& values, const std::string& package) {
  nlohmann::ordered_json argument;
  argument["config"] = package;
  argument["section"] = section;
  argument["values"] = values;
  CallUci("set", argument);
  Commit(package);
}

void NVRAM::SetValue(const std::string& section, const std::string& option, const std::string& value,
                     const std::string& package) {
  nlohmann::ordered_json values;
  values[option] = value;
  SetSection(section, values, package);
}

void NVRAM::Set(const std::string& type, const nlohmann::ordered_json& values, const nlohmann::ordered_json& match,
                const std::string& package) {
  nlohmann::ordered_json argument;
  argument["config"] = package;
  argument["type"] = type;
  argument["values"] = values;
  if (!IsEmptyMatch(match)) argument["match"] = match;
  LOG_VERBOSE << logging::JsonText(argument, kSecretOptions);
  CallUci("set", argument);
  Commit(package);
}

void NVRAM::Delete(const std::string& type, const nlohmann::ordered_json& match, const std::string& package) {
  nlohmann::ordered_json argument;
  argument["config"] = package;
  argument["type"] = type;
  if (!IsEmptyMatch(match)) argument["match"] = match;
  CallUci("delete", argument);
  Commit(package);
}
