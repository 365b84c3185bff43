#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <sdbus-c++/sdbus-c++.h>

#include "meshd/daemon_calls.h"
#include "meshd/network_object.h"
#include "meshd/node_object.h"

namespace sim::meshd {

// The daemon's presence on the bus: one connection owning "org.bluez.mesh", the network
// object, the objects of attached nodes, and a watch on applications leaving the bus.
// Created when the daemon starts (or comes back after a restart), destroyed when it stops.
class BusSide {
 public:
  using OwnerGone = std::function<void(const std::string& unique_name)>;

  // An empty address means the system bus. Throws sdbus::Error when the name is taken.
  BusSide(const std::string& address, DaemonCalls& daemon, OwnerGone owner_gone);
  ~BusSide();
  BusSide(const BusSide&) = delete;
  BusSide& operator=(const BusSide&) = delete;

  sdbus::IConnection& Connection() { return *connection_; }
  // Ends the event loop: no handler runs afterwards.
  void StopLoop();
  // False once the loop has ended: calls waiting for a reply would never get it.
  bool Looping() const { return looping_; }
  void ShowNode(std::uint64_t token, const std::string& path);
  void HideNode(const std::string& path);

 private:
  DaemonCalls& daemon_;
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<NetworkObject> network_;
  std::unique_ptr<sdbus::IProxy> bus_watch_;
  std::map<std::string, std::unique_ptr<NodeObject>> nodes_;
  bool looping_ = false;
};

}  // namespace sim::meshd
