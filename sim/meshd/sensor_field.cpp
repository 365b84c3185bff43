#include "meshd/sensor_field.h"

#include <algorithm>
#include <stdexcept>

namespace sim::meshd {

namespace {

constexpr std::size_t kMaxNodes = 1000;
constexpr std::size_t kMaxInbox = 1000;

bool IsBroadcast(std::uint16_t destination) { return destination == sensor_wire::kAnnounceGroup || destination == 0xFFFF; }

// Device ids 5e:05:00:00 followed by the node's address, so scripts can tell them apart.
std::array<std::uint8_t, 6> DeviceId(std::uint16_t address) {
  return {0x5E, 0x05, 0x00, 0x00, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF)};
}

}  // namespace

SensorField::SensorField(Transmit transmit) : transmit_(std::move(transmit)), thread_([this] { Run(); }) {}

SensorField::~SensorField() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

nlohmann::json SensorField::Add(int count, int three_channel_every) {
  nlohmann::json added = nlohmann::json::array();
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (count < 0 || nodes_.size() + static_cast<std::size_t>(count) > kMaxNodes) {
      throw std::invalid_argument("at most " + std::to_string(kMaxNodes) + " sensors");
    }
    const auto now = SensorClock::now();
    for (int index = 0; index < count; ++index) {
      SensorIdentity identity;
      identity.address = next_address_++;
      identity.device_id = DeviceId(identity.address);
      const bool three = three_channel_every > 0 && (nodes_.size() + 1) % static_cast<std::size_t>(three_channel_every) == 0;
      identity.device_type = three ? SensorNode::kThreeChannelType : 0x0101;
      identity.version.parts = {1, 0, 0, 0};
      auto node = std::make_unique<SensorNode>(identity, now);
      node->SetMinute(minute_, now);
      node->SetCountingValues(counting_values_);
      added.push_back(node->Describe());
      nodes_.push_back(std::move(node));
    }
  }
  wake_.notify_all();
  return added;
}

bool SensorField::ListensLocked(std::uint16_t destination) const {
  if (IsBroadcast(destination)) return !nodes_.empty();
  return std::any_of(nodes_.begin(), nodes_.end(), [destination](const auto& node) { return node->Address() == destination; });
}

bool SensorField::Listens(std::uint16_t destination) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return ListensLocked(destination);
}

bool SensorField::Hear(std::uint16_t /*source*/, std::uint16_t destination, const Bytes& data) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!ListensLocked(destination)) return false;
    if (inbox_.size() >= kMaxInbox) return true;  // the radio is saturated: lost
    inbox_.push_back({destination, data});
  }
  wake_.notify_all();
  return true;
}

void SensorField::Collect(const SensorNode& node, std::vector<Bytes> messages, std::vector<Sent>& out) {
  for (auto& message : messages) out.push_back({node.Address(), node.Gateway(), std::move(message)});
}

void SensorField::Deliver(const Heard& heard, SensorClock::time_point now, std::vector<Sent>& out) {
  for (const auto& node : nodes_) {
    if (!IsBroadcast(heard.destination) && node->Address() != heard.destination) continue;
    // The replies go to the gateway the node knows after hearing the message.
    auto replies = node->Hear(heard.data, now);
    Collect(*node, std::move(replies), out);
  }
}

void SensorField::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    auto next = SensorClock::time_point::max();
    for (const auto& node : nodes_) next = std::min(next, node->NextDue());
    if (inbox_.empty()) {
      if (next == SensorClock::time_point::max()) {
        wake_.wait(lock, [this] { return stopping_ || !inbox_.empty(); });
      } else {
        wake_.wait_until(lock, next, [this] { return stopping_ || !inbox_.empty(); });
      }
      if (stopping_) break;
    }
    const auto now = SensorClock::now();
    std::vector<Sent> out;
    while (!inbox_.empty()) {
      const Heard heard = std::move(inbox_.front());
      inbox_.pop_front();
      Deliver(heard, now, out);
    }
    for (const auto& node : nodes_) Collect(*node, node->Due(now), out);
    lock.unlock();
    SendOut(out);
    lock.lock();
  }
}

// Without the field's lock: what a node sends to a gateway it knows.
void SensorField::SendOut(std::vector<Sent>& out) {
  for (auto& sent : out) {
    if (sent.destination != 0) transmit_(sent.source, sent.destination, std::move(sent.data));
  }
}

std::vector<SensorNode*> SensorField::Addressed(const nlohmann::json& command) {
  std::vector<SensorNode*> addressed;
  for (const auto& node : nodes_) {
    if (!command.contains("address") || command.at("address").get<std::uint16_t>() == node->Address()) {
      addressed.push_back(node.get());
    }
  }
  if (command.contains("address") && addressed.empty()) throw std::invalid_argument("no sensor at that address");
  return addressed;
}

nlohmann::json SensorField::Describe() const {
  nlohmann::json sensors = nlohmann::json::array();
  for (const auto& node : nodes_) {
    nlohmann::json description = node->Describe();
    description["device_ids"] = node->DeviceIds();
    description["kinds"] = node->DefaultKinds();
    sensors.push_back(std::move(description));
  }
  return {{"ok", true}, {"minute_ms", minute_.count()}, {"counting_values", counting_values_}, {"sensors", sensors}};
}

nlohmann::json SensorField::Control(const nlohmann::json& command) {
  const std::string name = command.value("cmd", std::string{});
  if (name == "add_sensors") {
    return {{"ok", true}, {"added", Add(command.value("count", 1), command.value("three_channel_every", 0))}};
  }
  std::vector<Sent> out;
  nlohmann::json reply{{"ok", true}};
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (name == "sensors") return Describe();
    if (name == "sensor_faults") {
      SensorFaults faults;
      faults.loss = std::clamp(command.value("loss", 0.0), 0.0, 1.0);
      faults.silent = command.value("silent", false);
      faults.malformed = command.value("malformed", false);
      for (auto* node : Addressed(command)) node->SetFaults(faults);
    } else if (name == "leave") {
      for (auto* node : Addressed(command)) {
        const std::uint16_t gateway = node->Gateway();
        for (auto& message : node->LeaveGateway()) out.push_back({node->Address(), gateway, std::move(message)});
      }
    } else if (name == "pace") {
      minute_ = std::chrono::milliseconds(std::max<std::int64_t>(command.at("minute_ms").get<std::int64_t>(), 100));
      const auto now = SensorClock::now();
      for (const auto& node : nodes_) node->SetMinute(minute_, now);
      reply["minute_ms"] = minute_.count();
    } else if (name == "sensor_values") {
      counting_values_ = command.at("counting").get<bool>();
      for (const auto& node : nodes_) node->SetCountingValues(counting_values_);
    } else {
      return {{"ok", false}, {"error", "unknown command " + name}};
    }
  }
  wake_.notify_all();
  SendOut(out);
  return reply;
}

}  // namespace sim::meshd
