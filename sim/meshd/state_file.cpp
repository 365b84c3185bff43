#include "meshd/state_file.h"

#include <filesystem>
#include <fstream>
#include <random>

namespace sim::meshd {

std::optional<std::string> StateFile::Load(NodeMap& nodes) const {
  if (path_.empty()) return std::nullopt;
  nodes.clear();
  std::ifstream input(path_);
  if (!input) return std::nullopt;
  try {
    const nlohmann::json state = nlohmann::json::parse(input);
    for (const auto& node_json : state.value("nodes", nlohmann::json::array())) {
      NodeState node = NodeFromJson(node_json);
      nodes[node.token] = std::move(node);
    }
  } catch (const std::exception& error) {
    return std::string(error.what());
  }
  return std::nullopt;
}

void StateFile::Save(const NodeMap& nodes) const {
  if (path_.empty()) return;
  nlohmann::json stored = nlohmann::json::array();
  for (const auto& entry : nodes) stored.push_back(ToJson(entry.second));
  const std::string temporary = path_ + ".new";
  {
    std::ofstream output(temporary, std::ios::trunc);
    output << nlohmann::json{{"nodes", stored}}.dump(2) << '\n';
  }
  std::error_code ignored;
  std::filesystem::rename(temporary, path_, ignored);
}

std::uint64_t NewToken(const NodeMap& nodes) {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  std::uint64_t token = 0;
  while (token == 0 || nodes.count(token) != 0) token = generator();
  return token;
}

}  // namespace sim::meshd
