#include "bluetoothd/control_server.h"

#include <unistd.h>

#include <istream>
#include <stdexcept>

namespace sim_bluetoothd {

namespace net = boost::asio;
using local = net::local::stream_protocol;

ControlServer::ControlServer(const std::string& socket_path, Handler handler)
    : socket_path_(socket_path), handler_(std::move(handler)), acceptor_(io_) {
  ::unlink(socket_path_.c_str());
  acceptor_.open(local());
  acceptor_.bind(local::endpoint(socket_path_));
  acceptor_.listen();
  thread_ = std::thread([this] { Serve(); });
}

ControlServer::~ControlServer() {
  boost::system::error_code ignored;
  acceptor_.close(ignored);
  ::shutdown(acceptor_.native_handle(), SHUT_RDWR);
  if (thread_.joinable()) thread_.join();
  ::unlink(socket_path_.c_str());
}

void ControlServer::Serve() {
  while (true) {
    boost::system::error_code error;
    local::socket socket(io_);
    acceptor_.accept(socket, error);
    if (error) return;
    net::streambuf input;
    while (net::read_until(socket, input, '\n', error) > 0 && !error) {
      std::istream stream(&input);
      std::string line;
      std::getline(stream, line);
      nlohmann::json reply;
      try {
        reply = handler_(nlohmann::json::parse(line));
      } catch (const std::exception& failure) {
        reply = {{"ok", false}, {"error", failure.what()}};
      }
      net::write(socket, net::buffer(reply.dump() + "\n"), error);
      if (error) break;
    }
  }
}

nlohmann::json ControlCall(const std::string& socket_path, const nlohmann::json& command) {
  net::io_context io;
  local::socket socket(io);
  boost::system::error_code error;
  socket.connect(local::endpoint(socket_path), error);
  if (error) throw std::runtime_error("stand-in bluetoothd control " + socket_path + ": " + error.message());
  net::write(socket, net::buffer(command.dump() + "\n"));
  net::streambuf reply;
  net::read_until(socket, reply, '\n');
  std::istream stream(&reply);
  std::string line;
  std::getline(stream, line);
  return nlohmann::json::parse(line);
}

}  // namespace sim_bluetoothd
