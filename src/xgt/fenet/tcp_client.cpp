#include "xgt/fenet/tcp_client.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/connect.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

namespace asio = boost::asio;
using asio::ip::tcp;

void TCPClient::RunUntil(Deadline deadline) {
  timed_out_ = false;
  io_.restart();
  io_.run_until(deadline);
  if (!io_.stopped()) {
    timed_out_ = true;
    Close();
    io_.run();
  }
}

bool TCPClient::Endpoints(const std::string& host, const std::string& port, std::vector<tcp::endpoint>& endpoints) {
  // The system's lookup on this thread: immediate for an address literal; for a host name it
  // blocks this thread, bounded by the resolver's own time-outs.
  tcp::resolver resolver(io_);
  const auto found = resolver.resolve(host, port, error_);
  if (error_) return false;
  for (const auto& entry : found) endpoints.push_back(entry.endpoint());
  return true;
}

bool TCPClient::Connect(const std::string& host, const std::string& port, Deadline deadline) {
  Close();
  timed_out_ = false;
  std::vector<tcp::endpoint> endpoints;
  if (!Endpoints(host, port, endpoints)) return false;
  error_ = asio::error::host_not_found;
  for (const auto& endpoint : endpoints) {
    // The unspecified address would reach this host itself; it names no peer.
    if (endpoint.address().is_unspecified()) {
      error_ = boost::system::errc::make_error_code(boost::system::errc::address_not_available);
      continue;
    }
    if (Clock::now() >= deadline) {
      timed_out_ = true;
      error_ = asio::error::timed_out;
      return false;
    }
    error_ = asio::error::would_block;
    socket_.async_connect(endpoint, [this](const boost::system::error_code& error) { error_ = error; });
    RunUntil(deadline);
    if (!error_) return true;
    Close();
  }
  return false;
}

bool TCPClient::Write(const std::vector<unsigned char>& bytes, Deadline deadline) {
  error_ = asio::error::would_block;
  asio::async_write(socket_, asio::buffer(bytes),
                    [this](const boost::system::error_code& error, std::size_t) { error_ = error; });
  RunUntil(deadline);
  return !error_;
}

bool TCPClient::Read(std::vector<unsigned char>& out, std::size_t count, Deadline deadline, std::size_t& received) {
  out.assign(count, 0);
  received = 0;
  error_ = asio::error::would_block;
  asio::async_read(socket_, asio::buffer(out), [this, &received](const boost::system::error_code& error, std::size_t size) {
    error_ = error;
    received = size;
  });
  RunUntil(deadline);
  return !error_;
}

bool TCPClient::IsReusable() {
  if (!socket_.is_open()) return false;
  boost::system::error_code error;
  socket_.non_blocking(true, error);
  if (error) return false;
  unsigned char byte = 0;
  socket_.receive(asio::buffer(&byte, 1), tcp::socket::message_peek, error);
  boost::system::error_code ignored;
  socket_.non_blocking(false, ignored);
  return error == asio::error::would_block;
}

bool TCPClient::PeerClosed() const {
  return error_ == asio::error::eof || error_ == asio::error::connection_reset || error_ == asio::error::broken_pipe;
}

void TCPClient::Close() {
  boost::system::error_code ignored;
  socket_.close(ignored);
}
