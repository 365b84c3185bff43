#include "server/report_batch.h"

#include <optional>

#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

constexpr const char* kOpening = R"({"nodes":[)";
constexpr const char* kClosing = "]}";

// The compact texts of the nodes of a readings document, or nothing when `text` is not one.
std::optional<std::vector<std::string>> NodesOf(const std::string& text) {
  const json document = json::parse(text, nullptr, false);
  if (!document.is_object() || document.size() != 1 || !document.contains("nodes")) return std::nullopt;
  const json& nodes = document.at("nodes");
  if (!nodes.is_array() || nodes.empty()) return std::nullopt;
  std::vector<std::string> texts;
  for (const json& node : nodes) {
    if (!node.is_object()) return std::nullopt;
    texts.push_back(node.dump());
  }
  return texts;
}

// The size the merged body takes with `nodes` appended to `body` (a body still open).
std::size_t SizeWith(const std::string& body, const std::vector<std::string>& nodes, bool first) {
  std::size_t size = body.size() + std::char_traits<char>::length(kClosing);
  for (const auto& node : nodes) size += node.size() + 1;
  return first ? size - 1 : size;
}

void Append(std::string& body, const std::vector<std::string>& nodes, bool first) {
  for (const auto& node : nodes) {
    if (!first) body += ',';
    body += node;
    first = false;
  }
}

}  // namespace

ReportBatch MergeReports(const std::vector<std::string>& pending, std::size_t max_bytes) {
  const ReportBatch alone{pending.front(), 1};
  if (pending.size() == 1) return alone;
  std::string body = kOpening;
  std::size_t merged = 0;
  for (const auto& document : pending) {
    const auto nodes = NodesOf(document);
    if (!nodes || SizeWith(body, *nodes, merged == 0) > max_bytes) break;
    Append(body, *nodes, merged == 0);
    ++merged;
  }
  if (merged < 2) return alone;
  return {body + kClosing, merged};
}
