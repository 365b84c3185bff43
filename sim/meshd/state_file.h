#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "meshd/node_state.h"

namespace sim::meshd {

// The daemon's stored nodes by token.
using NodeMap = std::map<std::uint64_t, NodeState>;

// The file that keeps the stored nodes across restarts: JSON, written whole through a
// temporary file and a rename after every change, read at start and after a restart.
class StateFile {
 public:
  explicit StateFile(std::string path) : path_(std::move(path)) {}  // empty: memory only

  // Replaces `nodes` with the stored ones (none when the file is missing); without a path,
  // leaves them. Returns why the file could not be read, or nothing.
  std::optional<std::string> Load(NodeMap& nodes) const;
  void Save(const NodeMap& nodes) const;

 private:
  std::string path_;
};

// A fresh random token, never 0 and none a stored node has.
std::uint64_t NewToken(const NodeMap& nodes);

}  // namespace sim::meshd
