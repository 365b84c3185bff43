#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "mesh/mesh_message.h"
#include "mesh/mesh_qos.h"
#include "mesh/mesh_status.h"

// A sensor device (or one channel of a multi-channel device) the gateway has heard announce
// itself: its identity, its fold and beacon settings, which it pushes to the device, and the
// watchdogs that re-send a setting the device did not acknowledge or poll a kind of
// measurement that did not arrive in time. Shared by the registry and the threads using it;
// its own lock keeps the settings and the kind watchdogs consistent across those threads.
//
// Settings go out as control records keyed by node and setting, so at most one copy of each
// waits in the queue; at its turn a record checks the node (on the sending thread) and is
// dropped when the node is gone or has acknowledged that setting, and otherwise starts the
// setting's watchdog as it goes out. A node must be owned by a std::shared_ptr (make_shared)
// before its first setting: the records reach it through a weak pointer.
class MeshNode : public std::enable_shared_from_this<MeshNode> {
 public:
  // Queues a control record (the control queue in the daemon).
  using Send = std::function<void(const MeshMessage&)>;
  // A sink without a queue: a record is due at once, and handed over as address and bytes when
  // its turn lets it go.
  using SendBytes = std::function<void(unsigned short, std::vector<unsigned char>)>;

  MeshNode(std::uint16_t address, std::uint16_t device_type, std::string id, std::string version,
           std::uint16_t extra_value, Send send, std::uint16_t channel, const WatchdogTiming& timing);
  MeshNode(std::uint16_t address, std::uint16_t device_type, std::string id, std::string version,
           std::uint16_t extra_value, SendBytes send, std::uint16_t channel, const WatchdogTiming& timing);
  virtual ~MeshNode();
  MeshNode(const MeshNode&) = delete;
  MeshNode& operator=(const MeshNode&) = delete;

  // Stores the folds (the kind watchdogs come from the first folds only) and queues them for
  // the device; the FOLD watchdog starts when they go out. Null or empty folds are ignored;
  // folds that are not an object of whole minutes from 1 to 1440 are refused with a line.
  void UpdateFolds(const nlohmann::json& folds);
  // Main nodes only: stores the setting and queues it; the BEACON watchdog starts when it goes out.
  void UpdateBeacon(bool enable);
  // The kinds of report whose arrival a node remembers at most (a device cannot grow it).
  static constexpr std::size_t kReportKindsKept = 16;

  // A report of `kind` arrived: its watchdog starts over, and its time is remembered.
  void KindReceived(const std::string& kind);
  // The device acknowledged the folds (the beacon setting) last sent.
  void FoldsAcknowledged();
  void BeaconAcknowledged();
  // Asks the device for one kind of measurement (a kind watchdog expired).
  void CallbackQoS(const std::string& kind);
  bool FoldsEmpty() const;
  // How long the node may stay unheard before it counts as gone: twice its longest fold plus
  // a minute, so one lost report does not remove it; 0 without folds.
  std::time_t StaleAfterSeconds() const;

  std::uint16_t Address() const { return address_; }
  std::uint16_t DeviceType() const { return device_type_; }
  std::uint32_t IdHash() const { return id_hash_; }
  const std::string& Id() const { return id_; }
  const std::string& Version() const { return version_; }
  bool IsSubDevice() const { return sub_device_; }
  std::uint16_t Channel() const { return channel_; }
  std::time_t LastSeen() const { return last_seen_; }
  void Seen() { last_seen_ = std::time(nullptr); }
  void SeenAt(std::time_t when) { last_seen_ = when; }
  nlohmann::json Folds() const;
  // A copy of the node's identity and settings; the fetch of its settings is not the node's
  // to know (settings_fetch_pending stays false).
  mesh::NodeStatus Status() const;

 private:
  // The copies of one setting: the newest version, the one last sent, the one acknowledged.
  struct Delivery {
    std::uint64_t current = 0;
    std::uint64_t sent = 0;
    std::uint64_t acknowledged = 0;
  };

  static mesh::SettingDelivery StateOf(const Delivery& delivery);
  bool AcceptableFolds(const nlohmann::json& folds) const;
  void QueueFolds(const nlohmann::json& folds);
  void QueueBeacon(bool enable);
  // Queues a setting under its key; at the record's turn `turn` decides whether it goes out.
  void QueueSetting(const char* setting, std::vector<unsigned char> bytes, bool (MeshNode::*turn)());
  bool FoldsTurn();
  bool BeaconTurn();
  // With the lock held: whether a copy of the setting goes out; starts its watchdog if so.
  static bool Turn(Delivery& delivery, MeshQoS& watchdog);

  const std::uint16_t address_;
  const std::uint16_t device_type_;
  const std::uint32_t id_hash_;
  const std::string id_;
  const std::string version_;
  const bool sub_device_;
  const std::uint16_t channel_;
  const Send send_;
  const WatchdogTiming timing_;
  std::atomic<std::time_t> last_seen_;

  mutable std::mutex lock_;  // folds, beacon setting, their deliveries, kind watchdogs, reports
  nlohmann::json folds_;
  Delivery folds_delivery_;
  bool beacon_enable_ = false;
  Delivery beacon_delivery_;
  std::unordered_map<std::string, std::unique_ptr<MeshQoS>> kind_watchdogs_;
  std::map<std::string, std::time_t> last_reports_;  // kind -> arrival, at most kReportKindsKept

  // Last, so they are destroyed first: no expiry calls into a node being taken apart.
  std::unique_ptr<MeshQoS> info_;
  std::unique_ptr<MeshQoS> fold_;
  std::unique_ptr<MeshQoS> beacon_;
};
