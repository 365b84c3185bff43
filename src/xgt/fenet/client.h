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

// Where and how the client reaches its PLC; the defaults are the daemon's.
struct ClientOptions {
  std::string port = "2004";
  std::chrono::milliseconds connect_timeout{1000};
  std::chrono::milliseconds write_timeout{5000};
  std::chrono::milliseconds read_timeout{5000};
  packet::UnixClock clock = packet::SystemUnixTime;
};

// Reads single variables from one PLC over FEnet: one fresh connection per read, one read
// at a time. Keeps the map from value id to memory address. Thread-safe: the map and the
// PLC's host, base and slot have a lock of their own, so they can be changed while a read
// is in flight; a change applies from the next read.
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

  // (true, {"address": "D100", "value": first block as unsigned 64-bit}) or (false, null).
  Result ReadMemory(const MemoryAddress& address);
  // (true, {"nodes":[{"id":id,"vs":[{"k":key,"ts":now,"v":value text}]}]}) or (false, null).
  Result ReadMemory(const std::string& id);
  // Writing is not offered; nothing is sent.
  bool WriteMemory() const { return false; }

 private:
  struct Target {
    std::string host;
    std::uint8_t base = 0;
    std::uint8_t slot = 0;
  };
  Target CurrentTarget() const;
  // One connection: the request out, one whole response in. False with one error line.
  bool Exchange(const std::string& host, const std::vector<unsigned char>& request, ResponsePacket& response);
  bool ReceiveFrame(const std::string& host, std::vector<unsigned char>& frame);

  const ClientOptions options_;
  mutable std::mutex params_lock_;  // host_, base_, slot_, addresses_
  std::string host_;
  std::uint8_t base_;
  std::uint8_t slot_;
  std::unordered_map<std::string, MemoryAddress> addresses_;
  std::mutex exchange_lock_;  // one exchange with the PLC at a time
  TCPClient tcp_;
};

}  // namespace xgt::fenet
