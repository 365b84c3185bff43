#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

// A blocking TCP client whose operations end by a deadline: each starts an asynchronous
// operation and runs the I/O context until the deadline at most; an operation still pending
// then is ended by closing the socket. Everything runs on the calling thread: an address
// literal needs no lookup, and a host name is looked up by the system's resolver on that
// thread (asio's asynchronous lookup would start a thread of its own). Not thread-safe: one
// user at a time.
class TCPClient {
 public:
  using Clock = std::chrono::steady_clock;
  using Deadline = Clock::time_point;

  TCPClient() = default;
  virtual ~TCPClient() = default;
  TCPClient(const TCPClient&) = delete;
  TCPClient& operator=(const TCPClient&) = delete;

  // Closes any open connection, finds the host's addresses and tries each in turn until one
  // connects or the deadline passes. The unspecified address (0.0.0.0, ::) is never connected
  // to: the system would take it for this host.
  bool Connect(const std::string& host, const std::string& port, Deadline deadline);
  // Sends all of `bytes`.
  bool Write(const std::vector<unsigned char>& bytes, Deadline deadline);
  // Receives exactly `count` bytes into `out` (replacing its content); `received` tells how
  // many arrived (also when the read failed).
  bool Read(std::vector<unsigned char>& out, std::size_t count, Deadline deadline, std::size_t& received);
  void Close();

  bool IsOpen() const { return socket_.is_open(); }
  // Whether the open connection can carry another request: the peer has not closed it and no
  // byte waits unread on it. Looks without waiting.
  bool IsReusable();

  // The error of the last failed operation (operation_aborted after a time-out).
  const boost::system::error_code& Error() const { return error_; }
  bool TimedOut() const { return timed_out_; }
  // Whether the last failure was the peer closing or resetting the connection.
  bool PeerClosed() const;

 private:
  // Runs the I/O context until the started operation completes or the deadline passes; then
  // the socket is closed, and the context runs until the operation's handler has been called.
  void RunUntil(Deadline deadline);
  bool Endpoints(const std::string& host, const std::string& port,
                 std::vector<boost::asio::ip::tcp::endpoint>& endpoints);

  boost::asio::io_context io_;
  boost::asio::ip::tcp::socket socket_{io_};
  boost::system::error_code error_;
  bool timed_out_ = false;
};
