#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace sim::cloud {

// Talks to a running stand-in's control interface (see control_api.h) over its socket.
class ControlClient {
 public:
  explicit ControlClient(std::string socket_path);

  // One request; throws std::runtime_error when the stand-in answers other than 200.
  nlohmann::json Call(const std::string& method, const std::string& target,
                      const nlohmann::json& body = nlohmann::json()) const;
  // The same with a raw body (files).
  nlohmann::json CallRaw(const std::string& method, const std::string& target, const std::string& body) const;

  nlohmann::json Requests() const { return Call("GET", "/requests"); }
  nlohmann::json Channels() const { return Call("GET", "/channel"); }

 private:
  std::string socket_path_;
};

}  // namespace sim::cloud
