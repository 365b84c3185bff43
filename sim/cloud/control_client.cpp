#include "cloud/control_client.h"

#include <stdexcept>

#include "cloud/net.h"

namespace sim::cloud {

ControlClient::ControlClient(std::string socket_path) : socket_path_(std::move(socket_path)) {}

nlohmann::json ControlClient::Call(const std::string& method, const std::string& target,
                                   const nlohmann::json& body) const {
  return CallRaw(method, target, body.is_null() ? std::string() : body.dump());
}

nlohmann::json ControlClient::CallRaw(const std::string& method, const std::string& target,
                                      const std::string& body) const {
  net::io_context io;
  net::local::stream_protocol::socket socket(io);
  socket.connect(net::local::stream_protocol::endpoint(socket_path_));
  http::request<http::string_body> request(http::string_to_verb(method), target, 11);
  request.set(http::field::host, "control");
  request.body() = body;
  request.prepare_payload();
  http::write(socket, request);
  beast::flat_buffer buffer;
  http::response<http::string_body> response;
  http::read(socket, buffer, response);
  if (response.result_int() != 200) {
    throw std::runtime_error("control " + method + " " + target + ": " + std::to_string(response.result_int()) +
                             " " + response.body());
  }
  return nlohmann::json::parse(response.body());
}

}  // namespace sim::cloud
