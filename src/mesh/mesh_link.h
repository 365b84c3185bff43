#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "mesh/mesh_events.h"
#include "mesh/mesh_transport.h"

class MeshSettings;
class MeshRoot;
class MeshApplication;
class MeshProvisioner;
class MeshElement;
class MeshAgent;
namespace sdbus {
class IConnection;
class IProxy;
}  // namespace sdbus
namespace org::bluez::mesh {
class Network1;
class Node1;
class Management1;
}  // namespace org::bluez::mesh

// The gateway's side of the system D-Bus towards the mesh daemon: the connection and its event
// loop, the exported application tree (root, application, provisioner, element, agent), the
// daemon's Network1 proxy, the Node1 and Management1 proxies of the attached node, and a watch
// on the daemon's bus name. It sends for the paced sender (MeshTransport).
//
// Threads: Open and Close run on the caller's thread; the event loop has its own, on which
// the `MeshEvents` handlers run. Users of a proxy hold Share() while they use it: Close
// replaces everything under the exclusive lock. Ownership: owns the connection, the objects
// and the proxies; the settings outlive it.
class MeshLink : public MeshTransport {
 public:
  MeshLink(std::string bus_address, std::chrono::milliseconds answer_timeout, const MeshSettings& settings);
  ~MeshLink() override;
  MeshLink(const MeshLink&) = delete;
  MeshLink& operator=(const MeshLink&) = delete;

  // Connects, exports the tree, watches the daemon's name and starts the event loop, then
  // waits until the loop dispatches. False, with a line, when a step failed (call Close).
  bool Open(MeshEvents events);
  // Leaves the event loop, then withdraws the objects and releases the proxies and the
  // connection. The caller makes sure nothing is waiting on the loop.
  void Close();

  // Keeps the connection and the proxies in place while held.
  std::shared_lock<std::shared_mutex> Share() const;
  // Null when closed; use under Share().
  org::bluez::mesh::Network1* Network() const { return network_.get(); }
  bool IsOpen() const;
  // Points the node proxies at the node Attach returned. Runs on the event loop (an Attach
  // reply) or during a registration; in both cases the connection outlives the call, as Close
  // first ends both.
  void UseNode(const std::string& node_path);
  std::shared_ptr<org::bluez::mesh::Management1> Management() const;

  void Send(std::uint16_t address, const std::vector<std::uint8_t>& data) override;
  void DevKeySend(const std::vector<std::uint8_t>& data, std::function<void()> failed) override;

 private:
  std::shared_ptr<org::bluez::mesh::Node1> Node() const;
  void UseNoNode();
  void ReplaceNode(std::shared_ptr<org::bluez::mesh::Node1> node,
                   std::shared_ptr<org::bluez::mesh::Management1> management);
  void ExportTree(const MeshEvents& events);
  void WatchDaemonPresence(std::function<void(bool)> presence);
  bool WaitForEventLoop();

  const std::string bus_address_;  // empty: the system D-Bus
  const std::chrono::milliseconds answer_timeout_;
  const MeshSettings& settings_;

  mutable std::shared_mutex bus_lock_;  // the connection, the objects and the proxies
  std::unique_ptr<sdbus::IConnection> connection_;
  // The exported tree, in the order the daemon reads it.
  std::unique_ptr<MeshRoot> root_;
  std::unique_ptr<MeshApplication> application_;
  std::unique_ptr<MeshProvisioner> provisioner_;
  std::unique_ptr<MeshElement> element_;
  std::unique_ptr<MeshAgent> agent_;
  // The daemon's side: its network object, and the bus daemon that tells its presence.
  std::unique_ptr<org::bluez::mesh::Network1> network_;
  std::unique_ptr<sdbus::IProxy> bus_daemon_;
  mutable std::mutex node_lock_;  // the node proxies, replaced by each Attach
  std::shared_ptr<org::bluez::mesh::Node1> node_;
  std::shared_ptr<org::bluez::mesh::Management1> management_;
};
