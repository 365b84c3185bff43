#include "xgt/fenet/reading_document.h"

#include "xgt/fenet/value_text.h"

namespace xgt::fenet {

nlohmann::json ReadingDocument(const std::string& id, const std::string& key, std::int64_t ts, std::uint64_t value) {
  const nlohmann::json reading{{"k", key}, {"ts", ts}, {"v", ValueText(key, value)}};
  return nlohmann::json{{"nodes", nlohmann::json::array({{{"id", id}, {"vs", nlohmann::json::array({reading})}}})}};
}

}  // namespace xgt::fenet
