#include "xgt/fenet/tcp_client.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/connect.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

namespace asio = boost::asio;
using asio::ip::tcp;

template <typename OnTimeout>
void TCPClient::RunFor(Duration timeout, OnTimeout on_timeout) {
  timed_out_ = false;
  io_.restart();
  io_.run_for(timeout);
  if (!io_.stopped()) {
    timed_out_ = true;
    on_timeout();
    io_.run();
  }
}

bool TCPClient::Connect(const std::string& host, const std::string& port, Duration timeout) {
  Close();
  tcp::resolver resolver(io_);
  tcp::resolver::results_type endpoints;
  error_ = asio::error::would_block;
  resolver.async_resolve(host, port, [&](const boost::system::error_code& error, tcp::resolver::results_type found) {
    error_ = error;
    endpoints = std::move(found);
  });
  RunFor(timeout, [&] { resolver.cancel(); });
  if (error_) return false;
  error_ = asio::error::host_not_found;
  for (const auto& entry : endpoints) {
    // The unspecified address would reach this host itself; it names no peer.
    if (entry.endpoint().address().is_unspecified()) {
      error_ = boost::system::errc::make_error_code(boost::system::errc::address_not_available);
      continue;
    }
    error_ = asio::error::would_block;
    socket_.async_connect(entry.endpoint(), [&](const boost::system::error_code& error) { error_ = error; });
    RunFor(timeout, [&] { Close(); });
    if (!error_) return true;
    Close();
  }
  return false;
}

bool TCPClient::Write(const std::vector<unsigned char>& bytes, Duration timeout) {
  error_ = asio::error::would_block;
  asio::async_write(socket_, asio::buffer(bytes),
                    [&](const boost::system::error_code& error, std::size_t) { error_ = error; });
  RunFor(timeout, [&] { Close(); });
  return !error_;
}

bool TCPClient::Read(std::vector<unsigned char>& out, std::size_t count, Duration timeout) {
  out.assign(count, 0);
  error_ = asio::error::would_block;
  asio::async_read(socket_, asio::buffer(out), [&](const boost::system::error_code& error, std::size_t) {
    error_ = error;
  });
  RunFor(timeout, [&] { Close(); });
  return !error_;
}

void TCPClient::Close() {
  boost::system::error_code ignored;
  socket_.close(ignored);
}
