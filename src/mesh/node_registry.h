#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "mesh/mesh_node.h"

// The sensor nodes the gateway knows, by unicast address (a multi-channel device has a main
// node and sub-device nodes at one address). Nodes are shared: one found here stays valid
// for its user even if ageing or a leave removes it meanwhile. Every operation takes the
// registry's lock; nodes are used, and `forgotten` called, after it is released.
class NodeRegistry {
 public:
  using NodePtr = std::shared_ptr<MeshNode>;
  // Told the id of every node removed.
  using Forgotten = std::function<void(const std::string& device_id)>;

  explicit NodeRegistry(Forgotten forgotten = {});

  // Adds `node`, replacing a node of the same id at its address.
  void Add(NodePtr node);
  // Removes the nodes that are stale at `now`: unheard for twice their longest fold plus a
  // minute, and never sooner than `min_age_seconds`; logs each.
  void RemoveStale(std::time_t now, std::time_t min_age_seconds);
  // Removes every node of `address`; true when there was one.
  bool RemoveAll(std::uint16_t address);
  // Removes every node without telling `forgotten`: the owner is going away, and the nodes'
  // watchdogs must end while what they send through still exists.
  void Clear();

  NodePtr Find(std::uint16_t address, const std::string& id) const;
  NodePtr FindChannel(std::uint16_t address, std::uint16_t channel) const;
  NodePtr MainNode(std::uint16_t address) const;
  NodePtr FindById(const std::string& id) const;
  std::size_t CountAt(std::uint16_t address) const;
  std::vector<std::string> IdsAt(std::uint16_t address) const;
  std::size_t Size() const;
  std::vector<std::string> Ids() const;
  // Every node, to be read after the lock is released.
  std::vector<NodePtr> All() const;
  void SeenAll(std::uint16_t address);

 private:
  void Forget(const std::vector<NodePtr>& removed) const;

  const Forgotten forgotten_;
  mutable std::mutex lock_;
  std::unordered_multimap<std::uint16_t, NodePtr> nodes_;
};
