#include "status/status_documents.h"

#include <algorithm>

namespace status {

namespace {

const char* StateName(PlcState state) {
  switch (state) {
    case PlcState::kAnswering:
      return "answering";
    case PlcState::kFailing:
      return "failing";
    case PlcState::kIdle:
      break;
  }
  return "idle";
}

nlohmann::json TextOrNull(const std::string& text) { return text.empty() ? nlohmann::json() : nlohmann::json(text); }

}  // namespace

std::int64_t UnixSeconds(std::chrono::steady_clock::time_point time, const Now& now) {
  const auto wall = now.wall - std::chrono::duration_cast<std::chrono::system_clock::duration>(now.steady - time);
  return std::chrono::duration_cast<std::chrono::seconds>(wall.time_since_epoch()).count();
}

nlohmann::json CloudSummary(const CloudFacts& cloud) {
  nlohmann::json last_delivery;  // null until the first delivery
  if (cloud.last_delivery) {
    last_delivery = std::chrono::duration_cast<std::chrono::seconds>(cloud.last_delivery->time_since_epoch()).count();
  }
  return {{"authorised", cloud.authorised},
          {"websocket", cloud.websocket_open ? "open" : "closed"},
          {"last_delivery", last_delivery},
          {"reports",
           {{"pending", cloud.pending},
            {"delivered", cloud.reports.delivered},
            {"overwritten", cloud.reports.overwritten},
            {"refused", cloud.reports.refused}}}};
}

nlohmann::json PlcSummary(const std::vector<PlcStatus>& plcs) {
  const auto answering = std::count_if(plcs.begin(), plcs.end(),
                                       [](const PlcStatus& plc) { return plc.reads.state == PlcState::kAnswering; });
  return {{"configured", plcs.size()}, {"answering", answering}};
}

nlohmann::json PlcsDocument(const std::vector<PlcStatus>& plcs, const Now& now) {
  auto list = nlohmann::json::array();
  for (const auto& plc : plcs) {
    list.push_back({{"id", plc.id},
                    {"name", plc.name},
                    {"host", plc.host},
                    {"state", StateName(plc.reads.state)},
                    {"since", UnixSeconds(plc.reads.since, now)},
                    {"reads_ok", plc.reads.reads_ok},
                    {"reads_failed", plc.reads.reads_failed},
                    {"last_error", TextOrNull(plc.reads.last_error)}});
  }
  return {{"plcs", list}};
}

nlohmann::json StatusDocument(const GatewayFacts& gateway, const CloudFacts& cloud, const nlohmann::json& mesh,
                              const nlohmann::json& plcs, const nlohmann::json& firmware) {
  return {{"version", gateway.version},
          {"uptime", gateway.uptime.count()},
          {"mode", gateway.mesh_mode ? "mesh" : "provisioning"},
          {"wan", {{"up", gateway.wan_up}}},
          {"cloud", CloudSummary(cloud)},
          {"mesh", mesh},
          {"plcs", plcs},
          {"firmware", firmware}};
}

}  // namespace status
