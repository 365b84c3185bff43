#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <boost/asio.hpp>
#include <nlohmann/json.hpp>

namespace sim_bluetoothd {

// A unix socket taking one JSON command per line and answering one JSON line each, served
// one connection at a time on a thread of its own (commands such as "provision" take long).
class ControlServer {
 public:
  using Handler = std::function<nlohmann::json(const nlohmann::json&)>;

  ControlServer(const std::string& socket_path, Handler handler);
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

 private:
  void Serve();

  const std::string socket_path_;
  const Handler handler_;
  boost::asio::io_context io_;
  boost::asio::local::stream_protocol::acceptor acceptor_;
  std::thread thread_;
};

// Sends one command to a control socket and returns the reply; throws std::runtime_error
// when the socket cannot be reached.
nlohmann::json ControlCall(const std::string& socket_path, const nlohmann::json& command);

}  // namespace sim_bluetoothd
