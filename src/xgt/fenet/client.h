#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "packet/unix_clock.h"
#include "xgt/fenet/memory_address.h"
#include "xgt/fenet/response_packet.h"
#include "xgt/fenet/tcp_client.h"

namespace xgt::fenet {

// Where and how the client reaches its PLC; the defaults are the daemon's. An exchange has one
// deadline: `connect_timeout` to connect when no connection is open, then `answer_timeout` for
// the request to go out and the whole answer to come back.
struct ClientOptions {
  std::string port = "2004";
  std::chrono::milliseconds connect_timeout{1000};
  std::chrono::milliseconds answer_timeout{5000};
  packet::UnixClock clock = packet::SystemUnixTime;
};

// How one read request ended.
struct ReadOutcome {
  enum class Status {
    kRead,        // `values` holds one value per variable, in order
    kRefused,     // the PLC answered with an error state
    kUnanswered,  // no valid answer: no connection, time-out, closed, short or mismatched frame
  };
  Status status = Status::kUnanswered;
  std::vector<std::uint64_t> values;
  std::string reason;  // why it failed, one line for the log
};

// Reads variables from one PLC over FEnet on one kept connection: opened by the first read,
// reused by the next ones, closed by any failure, so the next read connects again. One
// exchange at a time, each answer belonging to the request just sent. A connection the PLC
// closed while idle is noticed before the next request and replaced without a failure. Keeps
// the map from value id to memory address. Thread-safe: the map and the PLC's host, base and
// slot have a lock of their own, so they can be changed while a read is in flight; a change
// applies from the next read (a new host with a new connection).
class Client {
 public:
  // The largest frame body accepted after the header: a full continuous read and its fields.
  static constexpr std::size_t kMaxResponseBody = 1400 + 16;
  using Result = std::pair<bool, nlohmann::json>;

  Client(std::string host, std::uint8_t base, std::uint8_t slot, ClientOptions options = {});
  virtual ~Client() = default;
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Inserts the address, or replaces the stored one when any field differs.
  void AddMemoryAddress(const std::string& id, const MemoryAddress& address);
  // Forgets every address whose id is not in `ids`.
  void KeepMemoryAddresses(const std::unordered_set<std::string>& ids);
  std::optional<MemoryAddress> FindMemoryAddress(const std::string& id) const;
  void SetParams(std::uint8_t base, std::uint8_t slot, const std::string& host);
  std::string Host() const;

  // One request for 1 to 16 addresses of one data type. Logs nothing: the caller decides
  // what a failure is worth.
  ReadOutcome Read(const std::vector<MemoryAddress>& addresses);
  // (true, {"address": "D100", "value": first block as unsigned 64-bit}) or (false, null), with
  // one error line saying why.
  Result ReadMemory(const MemoryAddress& address);
  // (true, {"nodes":[{"id":id,"vs":[{"k":key,"ts":now,"v":value text}]}]}) or (false, null).
  Result ReadMemory(const std::string& id);
  // Writing is not offered; nothing is sent.
  bool WriteMemory() const { return false; }

  // The Unix time a reading is stamped with.
  std::int64_t Now() const { return options_.clock(); }

 private:
  struct Target {
    std::string host;
    std::uint8_t base = 0;
    std::uint8_t slot = 0;
  };
  Target CurrentTarget() const;
  // The request out and one whole frame in, on the kept connection or a new one. An empty
  // reason on success.
  std::string Exchange(const std::string& host, const std::vector<unsigned char>& request,
                       std::vector<unsigned char>& frame);
  // One attempt on the open connection; `untouched` tells whether the PLC sent nothing back.
  std::string SendAndReceive(const std::string& host, const std::vector<unsigned char>& request,
                             std::vector<unsigned char>& frame, bool& untouched);
  std::string Connect(const std::string& host);
  // What the frame says: the values, a refusal, or a frame that does not answer the read.
  static ReadOutcome Interpret(const std::string& host, const std::vector<MemoryAddress>& addresses,
                               const std::vector<unsigned char>& frame);

  const ClientOptions options_;
  mutable std::mutex params_lock_;  // host_, base_, slot_, addresses_
  std::string host_;
  std::uint8_t base_;
  std::uint8_t slot_;
  std::unordered_map<std::string, MemoryAddress> addresses_;
  std::mutex exchange_lock_;  // one exchange with the PLC at a time; the members below
  TCPClient tcp_;
  std::string connected_host_;  // the host of the open connection
};

}  // namespace xgt::fenet
