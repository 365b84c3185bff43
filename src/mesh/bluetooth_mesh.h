#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "mailbox/depesche_poster.h"
#include "mesh/mesh_component.h"
#include "mesh/mesh_message.h"
#include "mesh/mesh_options.h"
#include "mesh/node_registry.h"
#include "mesh/receive_dispatch.h"
#include "mesh/watchdog_timing.h"
#include "queue/thread_safe_queue.h"

class OneShotResult;
struct RegistrationAttempt;
namespace sdbus {
class IConnection;
class IProxy;
}  // namespace sdbus
namespace timer {
class TimerQueue;
}  // namespace timer
namespace org::bluez::mesh {
class Network1;
class Node1;
class Management1;
}  // namespace org::bluez::mesh

// The Bluetooth mesh gateway: exports the gateway's application tree to the mesh daemon on
// the system D-Bus, joins the mesh (importing its node with the stored keys, or attaching it
// with the stored token), configures its own node, and paces what it sends through four
// queues. The operations the application calls are virtual so it can be tested with a double.
class BluetoothMesh : public MeshComponent, public mailbox::DepescheSender {
 public:
  using Message = MeshMessage;
  class Root;
  class Application;
  class Provisioner;
  class Element;
  class Agent;
  class Outlet;

  BluetoothMesh(std::shared_ptr<mailbox::DepeschePoster> application, MeshServices services, MeshOptions options = {});
  ~BluetoothMesh() override;
  BluetoothMesh(const BluetoothMesh&) = delete;
  BluetoothMesh& operator=(const BluetoothMesh&) = delete;

  // Exports the objects, starts the D-Bus event loop and joins; false when joining failed
  // (the objects stay exported, and the gateway joins again when the mesh daemon reappears).
  bool Initialize() override;
  // Joins the mesh daemon and configures the gateway's node; true on success.
  bool Registration();
  // Withdraws the objects and leaves the bus.
  void Deinitialize() override;

  // The daemon calls whose outcome arrives in the current attempt's results.
  void Import();
  void Attach();
  // Attaches with the stored token and waits for the daemon's answer; throws the daemon's
  // error (sdbus::Error).
  bool Attach2();

  // Queue one configuration message for the gateway's own node; its status reply (or an
  // error reply to the send) completes the matching result.
  void TTLSet();
  void AppKeySet();
  void Binding();
  void SubscriptionAdd();
  void TTLGet();
  void AppKeyGet();
  void BindStatusGet();
  void SubscriptionGet();

  // Queues `message` for sending by its type; a received or unknown type is dropped.
  void Enqueue(const Message& message);

  // Switches the beacon of the node with `device_id`.
  void UpdateBeacon(const std::string& device_id, const bool& enable) override;
  // Hands new folds to the node with `device_id`, if there is one.
  void UpdateFolds(const std::string& device_id, const nlohmann::json& folds) override;

  // The node registry's operations.
  void AddMeshNode(const std::uint16_t& address, std::shared_ptr<MeshNode> node);
  void DeleteOldMeshNode();
  const NodeRegistry& Nodes() const { return nodes_; }

  // Periodic work; each handler does nothing when cancelled, else works and comes again.
  void HeartbeatHandler(bool cancelled);
  void NodeCheckHandler(bool cancelled);
  void GatewayBeaconHandler(bool cancelled);
  void UpdateUpgradeSignal(bool cancelled);

 protected:
  std::shared_ptr<mailbox::DepeschePoster> application_;

 private:
  MeshSettings& Store() const { return services_.settings; }
  CloudClient& Cloud() const { return services_.cloud; }
  FirmwareSource& Firmware() const { return services_.firmware; }
  std::shared_ptr<RegistrationAttempt> CurrentAttempt() const;
  std::shared_ptr<RegistrationAttempt> StartAttempt();
  // Completes every result of the current attempt with false, so no wait outlasts a stop.
  void AbandonAttempt();

  // Joining (registration.cpp).
  bool JoinWithToken();
  bool ImportAndConfigure();
  void ImportOwnDeviceKey();
  void OnJoinComplete(std::uint64_t token);
  void OnJoinFailed(const std::string& reason);
  void UseNode(const std::string& node_path);
  std::shared_ptr<org::bluez::mesh::Node1> CurrentNode() const;
  std::shared_ptr<org::bluez::mesh::Management1> CurrentManagement() const;
  void QueueConfiguration(const std::vector<std::uint8_t>& packet, OneShotResult* step);
  // The configuration status replies of the gateway's own node (configuration_replies.cpp).
  void OnConfigurationReply(const std::vector<std::uint8_t>& data);
  void OnConfigurationSendFailed(const std::vector<std::uint8_t>& data);
  // Rejoining after the mesh daemon restarted (daemon_presence.cpp).
  void WatchDaemonPresence();
  bool WaitForEventLoop();
  void OnDaemonOwnerChanged(const std::string& name, const std::string& old_owner, const std::string& new_owner);

  // Periodic work (periodic_work.cpp).
  void StartPeriodicWork();
  void StartRunningWork();
  void CancelPeriodicWork();
  void Reschedule(std::atomic<std::uint64_t>& timer, std::chrono::milliseconds delay,
                  void (BluetoothMesh::*handler)(bool));

  // The queue threads (message_threads.cpp).
  void MessageTxThread();
  void MessageRxThread();
  void MessageCtrlThread();
  void MessageOTAThread();
  void SendingLoop(queue::ThreadSafeQueue<Message>& queue, const std::atomic<bool>& running,
                   std::chrono::milliseconds pause, void (BluetoothMesh::*send)(const Message&));
  void Transmit(const Message& message);
  void SendControl(const Message& message);
  void SendFirmware(const Message& message);
  void SendWithApplicationKey(const Message& message);
  void SendWithDeviceKey(const Message& message);
  // Waits `pause` unless the component is being destroyed; false when it is.
  bool Pace(std::chrono::milliseconds pause);

  const MeshServices services_;
  const MeshOptions options_;

  // Guards the connection, the objects and the proxies: senders use them shared, the
  // teardown replaces them exclusively.
  mutable std::shared_mutex bus_lock_;
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<Root> root_;
  std::unique_ptr<Application> app_object_;
  std::unique_ptr<Provisioner> provisioner_;
  std::unique_ptr<Element> element_;
  std::unique_ptr<Agent> agent_;
  std::unique_ptr<org::bluez::mesh::Network1> network_;
  mutable std::mutex proxy_lock_;  // the node proxies, replaced by each Attach
  std::shared_ptr<org::bluez::mesh::Management1> management_;
  std::shared_ptr<org::bluez::mesh::Node1> node_;
  std::unique_ptr<sdbus::IProxy> bus_daemon_;
  std::string node_path_;

  std::mutex registration_lock_;  // one registration at a time
  std::atomic<bool> leaving_{false};  // set by Deinitialize: no new registration starts
  mutable std::mutex attempt_lock_;
  std::shared_ptr<RegistrationAttempt> attempt_;

  queue::ThreadSafeQueue<Message> transmit_queue_;
  queue::ThreadSafeQueue<Message> receive_queue_;
  queue::ThreadSafeQueue<Message> control_queue_;
  queue::ThreadSafeQueue<Message> firmware_queue_;
  std::atomic<bool> transmit_running_{true};
  std::atomic<bool> receive_running_{true};
  std::atomic<bool> control_running_{true};
  std::atomic<bool> firmware_running_{true};
  std::mutex send_lock_;  // one synchronous "Send" at a time
  std::mutex stop_lock_;
  std::condition_variable stop_signal_;
  bool stopping_ = false;

  // What the dispatch and the nodes reach through; outlives the nodes, which send through it.
  std::unique_ptr<Outlet> outlet_;
  NodeRegistry nodes_;
  WatchdogTiming watchdog_timing_;
  ReceiveDispatch dispatch_;  // used by the receive thread only

  std::unique_ptr<timer::TimerQueue> timer_;
  std::atomic<std::uint64_t> rejoin_timer_{0};  // set on the D-Bus event loop
  std::atomic<std::uint64_t> beacon_timer_{0};
  std::atomic<std::uint64_t> heartbeat_timer_{0};
  std::atomic<std::uint64_t> node_check_timer_{0};
  std::atomic<std::uint64_t> upgrade_signal_timer_{0};

  std::thread transmit_thread_;
  std::thread receive_thread_;
  std::thread control_thread_;
  std::thread firmware_thread_;
};
