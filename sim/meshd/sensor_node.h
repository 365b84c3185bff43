#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "meshd/node_state.h"
#include "meshd/sensor_wire.h"

namespace sim::meshd {

using SensorClock = std::chrono::steady_clock;

// What a simulated node does wrong, scripted from the control socket.
struct SensorFaults {
  double loss = 0.0;       // share of messages lost each way, 0 to 1
  bool silent = false;     // sends nothing at all
  bool malformed = false;  // sends garbage instead of its reports
};

struct SensorIdentity {
  std::uint16_t address = 0;
  std::array<std::uint8_t, 6> device_id{};
  std::uint16_t device_type = 0;  // 0x192: three channels besides the main one
  sensor_wire::FirmwareVersion version;
  std::uint16_t firmware_type = 1;
};

// One simulated sensor node: it learns the gateway from its beacon and answers each beacon
// with its announcement (so a gateway that forgot it, restarted or aged out, knows it again),
// reports each kind of its folds at the fold's pace (values that drift over time), takes
// folds and beacon settings and acknowledges them, answers sensor-data gets, takes a newer
// firmware offered to its type block by block, and can leave. Time comes in from the caller,
// so the node itself holds no thread. With counting values each report of a kind carries the
// number of that kind's reports so far on its channel (1, 2, 3, ...) instead of a drifting
// reading, so every reading can be told apart.
class SensorNode {
 public:
  static constexpr std::uint16_t kThreeChannelType = 0x192;

  SensorNode(SensorIdentity identity, SensorClock::time_point now);

  // A message the node hears; the replies it sends to the gateway.
  std::vector<Bytes> Hear(const Bytes& message, SensorClock::time_point now);
  // Reports, announcements and block requests due by `now`.
  std::vector<Bytes> Due(SensorClock::time_point now);
  SensorClock::time_point NextDue() const;
  std::vector<Bytes> LeaveGateway();

  void SetFaults(const SensorFaults& faults) { faults_ = faults; }
  // How long one fold minute lasts (a fold of n minutes reports every n of them).
  void SetMinute(std::chrono::milliseconds minute, SensorClock::time_point now);
  void SetCountingValues(bool counting) { counting_values_ = counting; }

  std::uint16_t Address() const { return identity_.address; }
  std::uint16_t Gateway() const { return gateway_; }
  std::string Id() const;
  std::vector<std::string> DeviceIds() const;
  // Device id → the kinds it measures before the cloud's folds arrive.
  nlohmann::json DefaultKinds() const;
  nlohmann::json Describe() const;

 private:
  struct Channel {
    nlohmann::json folds;  // kind → minutes
    std::map<std::string, SensorClock::time_point> next_report;
    std::map<std::string, std::int64_t> reports_of_kind;  // for counting values
    int folds_acknowledged = 0;
  };
  struct FirmwareTransfer {
    bool active = false;
    std::uint16_t type = 0;
    sensor_wire::FirmwareVersion version;
    std::uint16_t blocks = 0;
    std::uint16_t next_block = 0;
    Bytes image;
    SensorClock::time_point retry_at{};
    int retries = 0;
  };

  std::vector<Bytes> OnGatewayInfo(const sensor_wire::GatewayMessage& message, SensorClock::time_point now);
  std::vector<Bytes> OnFolds(nlohmann::json body, SensorClock::time_point now);
  std::vector<Bytes> OnDataGet(const nlohmann::json& body, SensorClock::time_point now);
  std::vector<Bytes> OnFirmwareOffer(const sensor_wire::GatewayMessage& message, SensorClock::time_point now);
  std::vector<Bytes> OnFirmwareBlock(const sensor_wire::GatewayMessage& message, SensorClock::time_point now);
  Bytes Report(std::uint16_t channel, const std::string& kind, SensorClock::time_point now);
  nlohmann::json Value(Channel& channel, const std::string& kind, SensorClock::time_point now);
  Bytes Announce() const;
  void Schedule(Channel& channel, SensorClock::time_point now);
  std::vector<Bytes> Outgoing(std::vector<Bytes> messages);
  bool Lost();

  SensorIdentity identity_;
  SensorClock::time_point created_;
  std::chrono::milliseconds minute_{std::chrono::minutes(1)};
  SensorFaults faults_;
  bool counting_values_ = false;
  std::uint16_t gateway_ = 0;  // unicast address of the gateway, once its beacon was heard
  bool beacon_enabled_ = false;
  int beacon_acknowledged_ = 0;
  int reports_sent_ = 0;  // well-formed reports that went out
  std::deque<nlohmann::json> recent_reports_;  // the bodies of the last ones, oldest first
  int gets_answered_ = 0;
  std::map<std::uint16_t, Channel> channels_;
  FirmwareTransfer firmware_;
  std::vector<std::string> installed_;  // firmware versions taken over the air
  std::minstd_rand random_;
};

}  // namespace sim::meshd
