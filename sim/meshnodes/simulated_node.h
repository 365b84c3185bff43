#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include "meshnodes/awaited.h"
#include "meshnodes/config_steps.h"
#include "meshnodes/node_app.h"
#include "meshnodes/node_identity.h"

namespace sim::meshnodes {

class NodeProxy;

// The keys a provisioner hands every node of the network.
struct NetworkKeys {
  Bytes net_key;
  Bytes app_key;
};

// One simulated sensor node living in the mesh daemon: its D-Bus application, its join
// (Import with its own UUID, device key and address; Attach with the token; its own device
// key in the key ring; then application key, binding and subscription through its own
// Configuration Server) and its sends. Join and Reattach block and run on the caller's
// (worker) thread; Send may run on any thread; what the node hears goes to `hear` on the
// D-Bus event loop.
class SimulatedNode {
 public:
  using Hear = std::function<void(std::uint16_t source, const Bytes& data)>;

  SimulatedNode(sdbus::IConnection& connection, std::uint16_t address, Hear hear,
                std::chrono::milliseconds answer_timeout = std::chrono::seconds(10));
  ~SimulatedNode();
  SimulatedNode(const SimulatedNode&) = delete;
  SimulatedNode& operator=(const SimulatedNode&) = delete;

  void Join(const NetworkKeys& keys);
  // Attaches again with the token (the daemon restarted); nothing for a node never joined.
  void Reattach();
  // The daemon left the bus: nothing is sent until the node is attached again.
  void Detach();
  // False when the node is not ready or the daemon refused the message.
  bool Send(std::uint16_t destination, const Bytes& data);

  std::uint16_t Address() const { return identity_.address; }
  bool HasToken() const;
  nlohmann::json Describe() const;

 private:
  bool Attach();
  bool Configure(const NetworkKeys& keys);
  bool RunStep(const ConfigStep& step, NodeProxy& node);
  void SetState(const std::string& state, const std::string& error = "");
  std::chrono::steady_clock::time_point Deadline() const;

  const NodeIdentity identity_;
  sdbus::IConnection& connection_;
  const std::chrono::milliseconds answer_timeout_;
  struct JoinAnswer {
    std::uint64_t token = 0;  // 0: JoinFailed
    std::string reason;
  };
  Awaited<JoinAnswer> join_answer_;
  Awaited<Bytes> config_reply_;

  mutable std::mutex mutex_;
  std::string state_ = "new";
  std::string error_;
  std::uint64_t token_ = 0;
  bool configured_ = false;
  std::string node_path_;
  std::shared_ptr<NodeProxy> node_;
  int sent_ = 0;
  int send_failures_ = 0;

  NodeApp app_;  // last: its handlers use the members above
};

}  // namespace sim::meshnodes
