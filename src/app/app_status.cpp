// The operator's bus object "quellaron": what each method answers, from the components'
// snapshots. The bus glue is status::StatusObject; the documents' shapes are in
// status/status_documents.

#include "app/app.h"
#include "common/singleton.h"
#include "nvram/nvram.h"
#include "plc/plc_component.h"
#include "status/daemon_version.h"
#include "status/status_documents.h"
#include "status/status_object.h"
#include "websocket/channel_component.h"

namespace {

// Until the mesh and the firmware manager describe themselves.
nlohmann::json MeshSummary() { return {{"joined", false}, {"address", nullptr}, {"nodes", 0}}; }
nlohmann::json FirmwareSummary() { return {{"downloading", false}, {"sessions", 0}}; }

}  // namespace

void App::ProvideStatusObject() {
  listener_->Provide({
      {"status", [this] { return StatusDocument(); }},
      {"plcs", [this] { return PlcsDocument(); }},
  });
}

nlohmann::json App::StatusDocument() const {
  status::GatewayFacts gateway;
  gateway.version = status::DaemonVersion();
  gateway.uptime = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_);
  gateway.mesh_mode = Singleton<NVRAM>::Instance().MeshEnable();
  gateway.wan_up = wan_up_;
  status::CloudFacts cloud = components_.cloud_facts ? components_.cloud_facts() : status::CloudFacts{};
  cloud.websocket_open = websocket_->Connected();
  return status::StatusDocument(gateway, cloud, MeshSummary(), status::PlcSummary(plc_manager_->Status()),
                                FirmwareSummary());
}

nlohmann::json App::PlcsDocument() const { return status::PlcsDocument(plc_manager_->Status(), status::Now{}); }
