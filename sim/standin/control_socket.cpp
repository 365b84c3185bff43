#include "standin/control_socket.h"

#include <unistd.h>

#include <stdexcept>
#include <thread>

#include <boost/asio.hpp>

namespace sim::standin {

namespace net = boost::asio;
using unix_stream = net::local::stream_protocol;

namespace {

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(unix_stream::socket socket, const ControlSocket::Execute& execute)
      : socket_(std::move(socket)), execute_(execute) {}

  void Start() {
    net::async_read_until(socket_, input_, '\n', [self = shared_from_this()](boost::system::error_code error, std::size_t) {
      if (error) return;
      std::istream stream(&self->input_);
      std::string line;
      std::getline(stream, line);
      nlohmann::json reply;
      try {
        reply = self->execute_(nlohmann::json::parse(line));
      } catch (const std::exception& failure) {
        reply = {{"ok", false}, {"error", failure.what()}};
      }
      self->output_ = reply.dump() + "\n";
      net::async_write(self->socket_, net::buffer(self->output_), [self](boost::system::error_code write_error, std::size_t) {
        if (!write_error) self->Start();
      });
    });
  }

 private:
  unix_stream::socket socket_;
  const ControlSocket::Execute& execute_;
  net::streambuf input_;
  std::string output_;
};

}  // namespace

class ControlSocket::Impl {
 public:
  Impl(std::string path, Execute execute) : path_(std::move(path)), execute_(std::move(execute)) {
    ::unlink(path_.c_str());
    acceptor_.open();
    acceptor_.bind(unix_stream::endpoint(path_));
    acceptor_.listen();
    Accept();
    thread_ = std::thread([this] { io_.run(); });
  }

  ~Impl() {
    io_.stop();
    thread_.join();
    ::unlink(path_.c_str());
  }

 private:
  void Accept() {
    acceptor_.async_accept([this](boost::system::error_code error, unix_stream::socket socket) {
      if (error) return;
      std::make_shared<Session>(std::move(socket), execute_)->Start();
      Accept();
    });
  }

  std::string path_;
  Execute execute_;
  net::io_context io_;
  unix_stream::acceptor acceptor_{io_};
  std::thread thread_;
};

ControlSocket::ControlSocket(std::string path, Execute execute)
    : impl_(std::make_unique<Impl>(std::move(path), std::move(execute))) {}

ControlSocket::~ControlSocket() = default;

nlohmann::json ControlCall(const std::string& socket_path, const nlohmann::json& command) {
  net::io_context io;
  unix_stream::socket socket(io);
  boost::system::error_code error;
  socket.connect(unix_stream::endpoint(socket_path), error);
  if (error) throw std::runtime_error("control socket " + socket_path + ": " + error.message());
  net::write(socket, net::buffer(command.dump() + "\n"));
  net::streambuf reply;
  net::read_until(socket, reply, '\n');
  std::istream stream(&reply);
  std::string line;
  std::getline(stream, line);
  return nlohmann::json::parse(line);
}

}  // namespace sim::standin
