#include "plc/control_client.h"

#include <stdexcept>

#include <boost/asio.hpp>

namespace sim_plc {

nlohmann::json ControlCall(const std::string& socket_path, const nlohmann::json& command) {
  namespace net = boost::asio;
  net::io_context io;
  net::local::stream_protocol::socket socket(io);
  boost::system::error_code error;
  socket.connect(net::local::stream_protocol::endpoint(socket_path), error);
  if (error) throw std::runtime_error("stand-in PLC control " + socket_path + ": " + error.message());
  net::write(socket, net::buffer(command.dump() + "\n"));
  net::streambuf reply;
  net::read_until(socket, reply, '\n');
  std::istream stream(&reply);
  std::string line;
  std::getline(stream, line);
  return nlohmann::json::parse(line);
}

}  // namespace sim_plc
