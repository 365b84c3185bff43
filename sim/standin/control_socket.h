#pragma once

#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

namespace sim::standin {

// A stand-in's control interface: a unix stream socket taking one JSON command per line and
// answering each with one JSON line, from a thread of its own. A line that is not JSON, or a
// command that throws, is answered {"ok":false,"error":text}.
class ControlSocket {
 public:
  using Execute = std::function<nlohmann::json(const nlohmann::json& command)>;

  ControlSocket(std::string path, Execute execute);
  ~ControlSocket();
  ControlSocket(const ControlSocket&) = delete;
  ControlSocket& operator=(const ControlSocket&) = delete;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// Sends one command to a control socket and returns the reply; throws std::runtime_error when
// the socket cannot be reached.
nlohmann::json ControlCall(const std::string& socket_path, const nlohmann::json& command);

}  // namespace sim::standin
