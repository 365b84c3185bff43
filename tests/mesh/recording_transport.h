#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "mesh/mesh_transport.h"
#include "support/gate.h"

namespace mesh_test {

// A transport that records every hand-over. Device-key sends fail when told to; while held,
// a send waits inside the transport (once recorded) until released; `on_send` (set before
// the first send) sees each application-key send, as a node answering it would.
class RecordingTransport : public MeshTransport {
 public:
  using Clock = std::chrono::steady_clock;
  struct Sent {
    std::string how;  // "Send" or "DevKeySend"
    std::uint16_t address;
    std::vector<std::uint8_t> data;
    Clock::time_point at;
  };

  void Send(std::uint16_t address, const std::vector<std::uint8_t>& data) override {
    Record("Send", address, data);
    if (on_send) on_send(address, data);
    gate_.Pass();
  }
  void DevKeySend(const std::vector<std::uint8_t>& data, std::function<void()> failed) override {
    Record("DevKeySend", 0, data);
    if (fail_device_key_) failed();
  }

  void Hold() { gate_.Close(); }
  void Release() { gate_.Open(); }
  // Waits (with a deadline) until `count` hand-overs were recorded.
  bool WaitFor(std::size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, deadline, [&] { return sent_.size() >= count; });
  }
  std::vector<Sent> All() {
    const std::lock_guard<std::mutex> guard(lock_);
    return sent_;
  }
  std::vector<Sent> SentTo(std::uint16_t address) {
    std::vector<Sent> matching;
    for (const Sent& sent : All()) {
      if (sent.address == address) matching.push_back(sent);
    }
    return matching;
  }
  std::size_t Count() {
    const std::lock_guard<std::mutex> guard(lock_);
    return sent_.size();
  }

  bool fail_device_key_ = false;
  std::function<void(std::uint16_t address, const std::vector<std::uint8_t>& data)> on_send;

 private:
  void Record(const char* how, std::uint16_t address, const std::vector<std::uint8_t>& data) {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      sent_.push_back({how, address, data, Clock::now()});
    }
    changed_.notify_all();
  }

  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Sent> sent_;
  testing_support::Gate gate_;
};

}  // namespace mesh_test
