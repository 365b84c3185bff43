#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "meshd/node_state.h"
#include "meshd/sensor_node.h"

namespace sim::meshd {

// The simulated sensor nodes around the gateway, on one thread that sleeps until the next
// report is due or a message arrives. Messages the gateway sends reach the nodes addressed
// (their unicast address, the announcement group or all nodes); what the nodes send goes out
// through `Transmit` (source, destination, bytes), called without the field's lock held.
class SensorField {
 public:
  using Transmit = std::function<void(std::uint16_t source, std::uint16_t destination, Bytes data)>;
  static constexpr std::uint16_t kFirstAddress = 0x0100;

  explicit SensorField(Transmit transmit);
  ~SensorField();
  SensorField(const SensorField&) = delete;
  SensorField& operator=(const SensorField&) = delete;

  // Adds `count` nodes at the next free addresses; every `three_channel_every`-th is a
  // three-channel device (0: none). Returns their descriptions.
  nlohmann::json Add(int count, int three_channel_every);
  // Queues a message the gateway sent; false when no node listens to `destination`.
  bool Hear(std::uint16_t source, std::uint16_t destination, const Bytes& data);
  bool Listens(std::uint16_t destination) const;

  // Control commands: "sensors", "add_sensors", "sensor_faults", "leave", "pace",
  // "sensor_values".
  nlohmann::json Control(const nlohmann::json& command);

 private:
  struct Heard {
    std::uint16_t destination = 0;
    Bytes data;
  };
  struct Sent {
    std::uint16_t source = 0;
    std::uint16_t destination = 0;
    Bytes data;
  };

  void Run();
  void Deliver(const Heard& heard, SensorClock::time_point now, std::vector<Sent>& out);
  static void Collect(const SensorNode& node, std::vector<Bytes> messages, std::vector<Sent>& out);
  void SendOut(std::vector<Sent>& out);
  std::vector<SensorNode*> Addressed(const nlohmann::json& command);
  nlohmann::json Describe() const;
  bool ListensLocked(std::uint16_t destination) const;

  Transmit transmit_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Heard> inbox_;
  std::vector<std::unique_ptr<SensorNode>> nodes_;
  std::chrono::milliseconds minute_{std::chrono::minutes(1)};
  bool counting_values_ = false;  // for every node, those added later too
  std::uint16_t next_address_ = kFirstAddress;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace sim::meshd
