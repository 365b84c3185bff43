#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "mesh/mesh_qos.h"

// A sensor device (or one channel of a multi-channel device) the gateway has heard announce
// itself: its identity, its fold and beacon settings, which it pushes to the device, and the
// watchdogs that re-send a setting the device did not acknowledge or poll a kind of
// measurement that did not arrive in time. Shared by the registry and the threads using it;
// its own lock keeps the settings and the kind watchdogs consistent across those threads.
class MeshNode {
 public:
  using Send = std::function<void(unsigned short, std::vector<unsigned char>)>;

  MeshNode(std::uint16_t address, std::uint16_t device_type, std::string id, std::string version,
           std::uint16_t extra_value, Send send, std::uint16_t channel, const WatchdogTiming& timing);
  virtual ~MeshNode();
  MeshNode(const MeshNode&) = delete;
  MeshNode& operator=(const MeshNode&) = delete;

  // Stores the folds (the kind watchdogs come from the first folds only), starts the FOLD
  // watchdog and sends the folds to the device.
  void UpdateFolds(const nlohmann::json& folds);
  // Main nodes only: stores the setting, starts the BEACON watchdog and sends it.
  void UpdateBeacon(bool enable);
  // A report of `kind` arrived: its watchdog starts over.
  void KindReceived(const std::string& kind);
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

 private:
  void SendFolds(const nlohmann::json& folds);
  void SendBeacon(bool enable);

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

  mutable std::mutex lock_;  // folds, beacon setting, kind watchdogs
  nlohmann::json folds_;
  bool beacon_enable_ = false;
  std::unordered_map<std::string, std::unique_ptr<MeshQoS>> kind_watchdogs_;

  // Last, so they are destroyed first: no expiry calls into a node being taken apart.
  std::unique_ptr<MeshQoS> info_;
  std::unique_ptr<MeshQoS> fold_;
  std::unique_ptr<MeshQoS> beacon_;
};
