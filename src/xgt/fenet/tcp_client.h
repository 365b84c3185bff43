#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

// A blocking TCP client with a time-out on every operation: each starts an asynchronous
// operation and runs the I/O context for at most the time-out; an operation still pending
// then is ended by closing the socket (or cancelling the resolution). Not thread-safe: one
// user at a time.
class TCPClient {
 public:
  using Duration = std::chrono::steady_clock::duration;

  TCPClient() = default;
  virtual ~TCPClient() = default;
  TCPClient(const TCPClient&) = delete;
  TCPClient& operator=(const TCPClient&) = delete;

  // Closes any open connection, resolves `host` and tries each endpoint in turn, each
  // attempt bounded by `timeout`. The unspecified address (0.0.0.0, ::) is never connected
  // to: the system would take it for this host.
  bool Connect(const std::string& host, const std::string& port, Duration timeout);
  // Sends all of `bytes`.
  bool Write(const std::vector<unsigned char>& bytes, Duration timeout);
  // Receives exactly `count` bytes into `out` (replacing its content).
  bool Read(std::vector<unsigned char>& out, std::size_t count, Duration timeout);
  void Close();

  // The error of the last failed operation (operation_aborted after a time-out).
  const boost::system::error_code& Error() const { return error_; }
  bool TimedOut() const { return timed_out_; }

 private:
  // Runs the I/O context until the started operation completes or `timeout` passes; then
  // `on_timeout` ends it, and the context runs until its handler has been called.
  template <typename OnTimeout>
  void RunFor(Duration timeout, OnTimeout on_timeout);

  boost::asio::io_context io_;
  boost::asio::ip::tcp::socket socket_{io_};
  boost::system::error_code error_;
  bool timed_out_ = false;
};
