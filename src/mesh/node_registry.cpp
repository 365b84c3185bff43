#include "mesh/node_registry.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/fnv1a.h"
#include "log/log.h"

namespace {

// ctime's text without its trailing newline.
std::string TimeText(std::time_t when) {
  char text[32] = {};
  if (ctime_r(&when, text) == nullptr) return {};
  std::string line(text);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

}  // namespace

NodeRegistry::NodeRegistry(Forgotten forgotten) : forgotten_(std::move(forgotten)) {}

void NodeRegistry::Add(NodePtr node) {
  const std::uint16_t address = node->Address();
  LOG_INFO << "NEW NODE : " << address;
  NodePtr replaced;  // destroyed after the lock is released
  const std::lock_guard<std::mutex> guard(lock_);
  const auto range = nodes_.equal_range(address);
  for (auto entry = range.first; entry != range.second; ++entry) {
    if (entry->second->IdHash() == node->IdHash()) {
      replaced = std::exchange(entry->second, std::move(node));
      return;
    }
  }
  nodes_.emplace(address, std::move(node));
}

void NodeRegistry::RemoveStale(std::time_t now, std::time_t min_age_seconds) {
  std::vector<NodePtr> removed;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    for (auto entry = nodes_.begin(); entry != nodes_.end();) {
      const NodePtr& node = entry->second;
      if (node->LastSeen() + std::max(min_age_seconds, node->StaleAfterSeconds()) < now) {
        LOG_DEBUG << "[" << static_cast<std::int16_t>(node->Address()) << "] 오래된 노드 삭제 (@ "
                  << TimeText(node->LastSeen()) << ")";
        removed.push_back(node);
        entry = nodes_.erase(entry);
      } else {
        ++entry;
      }
    }
  }
  Forget(removed);
}

bool NodeRegistry::RemoveAll(std::uint16_t address) {
  std::vector<NodePtr> removed;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    const auto range = nodes_.equal_range(address);
    for (auto entry = range.first; entry != range.second; ++entry) removed.push_back(entry->second);
    nodes_.erase(range.first, range.second);
  }
  Forget(removed);
  return !removed.empty();
}

void NodeRegistry::Clear() {
  std::unordered_multimap<std::uint16_t, NodePtr> removed;  // destroyed after the lock is released
  const std::lock_guard<std::mutex> guard(lock_);
  removed.swap(nodes_);
}

void NodeRegistry::Forget(const std::vector<NodePtr>& removed) const {
  if (!forgotten_) return;
  for (const auto& node : removed) forgotten_(node->Id());
}

NodeRegistry::NodePtr NodeRegistry::Find(std::uint16_t address, const std::string& id) const {
  const std::uint32_t hash = Fnv1a(id);
  const std::lock_guard<std::mutex> guard(lock_);
  const auto range = nodes_.equal_range(address);
  for (auto entry = range.first; entry != range.second; ++entry) {
    if (entry->second->IdHash() == hash) return entry->second;
  }
  return nullptr;
}

NodeRegistry::NodePtr NodeRegistry::FindChannel(std::uint16_t address, std::uint16_t channel) const {
  const std::lock_guard<std::mutex> guard(lock_);
  const auto range = nodes_.equal_range(address);
  for (auto entry = range.first; entry != range.second; ++entry) {
    if (entry->second->Channel() == channel) return entry->second;
  }
  return nullptr;
}

NodeRegistry::NodePtr NodeRegistry::MainNode(std::uint16_t address) const {
  const std::lock_guard<std::mutex> guard(lock_);
  const auto range = nodes_.equal_range(address);
  for (auto entry = range.first; entry != range.second; ++entry) {
    if (!entry->second->IsSubDevice()) return entry->second;
  }
  return nullptr;
}

NodeRegistry::NodePtr NodeRegistry::FindById(const std::string& id) const {
  const std::uint32_t hash = Fnv1a(id);
  const std::lock_guard<std::mutex> guard(lock_);
  for (const auto& entry : nodes_) {
    if (entry.second->IdHash() == hash) return entry.second;
  }
  return nullptr;
}

std::size_t NodeRegistry::CountAt(std::uint16_t address) const {
  const std::lock_guard<std::mutex> guard(lock_);
  return nodes_.count(address);
}

std::vector<std::string> NodeRegistry::IdsAt(std::uint16_t address) const {
  const std::lock_guard<std::mutex> guard(lock_);
  std::vector<std::string> ids;
  const auto range = nodes_.equal_range(address);
  for (auto entry = range.first; entry != range.second; ++entry) ids.push_back(entry->second->Id());
  return ids;
}

std::size_t NodeRegistry::Size() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return nodes_.size();
}

std::vector<std::string> NodeRegistry::Ids() const {
  const std::lock_guard<std::mutex> guard(lock_);
  std::vector<std::string> ids;
  ids.reserve(nodes_.size());
  for (const auto& entry : nodes_) ids.push_back(entry.second->Id());
  return ids;
}

std::vector<NodeRegistry::NodePtr> NodeRegistry::All() const {
  const std::lock_guard<std::mutex> guard(lock_);
  std::vector<NodePtr> nodes;
  nodes.reserve(nodes_.size());
  for (const auto& entry : nodes_) nodes.push_back(entry.second);
  return nodes;
}

void NodeRegistry::SeenAll(std::uint16_t address) {
  const std::lock_guard<std::mutex> guard(lock_);
  const auto range = nodes_.equal_range(address);
  for (auto entry = range.first; entry != range.second; ++entry) entry->second->Seen();
}
