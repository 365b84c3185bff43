#include "meshd/daemon_faults.h"

#include <stdexcept>

namespace sim::meshd {

namespace {

// {"opcode":HEX,"status":N} (no status: unanswered), or null for none.
std::optional<ConfigRefusal> Refusal(const nlohmann::json& value) {
  if (value.is_null()) return std::nullopt;
  const auto opcode = ParseOpcode(FromHex(value.at("opcode").get<std::string>()));
  if (!opcode) throw std::invalid_argument("refuse: not an opcode");
  ConfigRefusal refusal{opcode->first, std::nullopt};
  if (value.contains("status") && !value.at("status").is_null()) {
    refusal.status = value.at("status").get<std::uint8_t>();
  }
  return refusal;
}

}  // namespace

nlohmann::json DaemonFaults::Apply(const nlohmann::json& command) {
  if (command.value("reset", false)) *this = DaemonFaults{};
  if (command.contains("join")) {
    const std::string value = command.at("join").get<std::string>();
    if (value != "complete" && value != "failed" && value != "silent") throw std::invalid_argument("join: " + value);
    join = value;
  }
  if (command.contains("join_failed_reason")) join_failed_reason = command.at("join_failed_reason").get<std::string>();
  if (command.contains("import_error")) {
    const auto& error = command.at("import_error");
    if (error.is_null()) {
      import_error.reset();
    } else {
      import_error = std::make_pair(error.value("name", std::string("org.bluez.mesh.Error.Failed")),
                                    error.value("message", std::string("Operation failed")));
    }
  }
  if (command.contains("appkey_status")) {
    const auto& status = command.at("appkey_status");
    config.appkey_status = status.is_null() ? std::nullopt : std::optional<std::uint8_t>(status.get<std::uint8_t>());
  }
  if (command.contains("short_app_status")) config.short_app_status = command.at("short_app_status").get<bool>();
  if (command.contains("config_server")) config.silent = command.at("config_server").get<std::string>() == "silent";
  if (command.contains("refuse")) config.refuse = Refusal(command.at("refuse"));
  return Reply();
}

nlohmann::json DaemonFaults::Reply() const {
  nlohmann::json json{{"ok", true},
                      {"join", join},
                      {"join_failed_reason", join_failed_reason},
                      {"short_app_status", config.short_app_status},
                      {"config_server", config.silent ? "silent" : "normal"}};
  json["import_error"] =
      import_error ? nlohmann::json{{"name", import_error->first}, {"message", import_error->second}} : nlohmann::json(nullptr);
  json["appkey_status"] = config.appkey_status ? nlohmann::json(*config.appkey_status) : nlohmann::json(nullptr);
  json["refuse"] = nullptr;
  if (config.refuse) {
    json["refuse"] = {{"opcode", ToHex(EncodeOpcode(config.refuse->opcode))}};
    if (config.refuse->status) json["refuse"]["status"] = *config.refuse->status;
  }
  return json;
}

}  // namespace sim::meshd
