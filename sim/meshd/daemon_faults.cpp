#include "meshd/daemon_faults.h"

#include <stdexcept>

namespace sim::meshd {

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
  return json;
}

}  // namespace sim::meshd
