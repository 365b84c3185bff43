// The operator's bus object "quellaron": what each method answers, from the components'
// snapshots. The bus glue is status::StatusObject; the documents' shapes are in status/.

#include "app/app.h"
#include "common/singleton.h"
#include "mesh/mesh_component.h"
#include "nvram/nvram.h"
#include "plc/plc_component.h"
#include "status/daemon_version.h"
#include "status/firmware_documents.h"
#include "status/mesh_documents.h"
#include "status/status_documents.h"
#include "status/status_object.h"
#include "websocket/channel_component.h"

void App::ProvideStatusObject() {
  listener_->Provide({
      {"status", [this] { return StatusDocument(); }},
      {"nodes", [this] { return NodesDocument(); }},
      {"plcs", [this] { return PlcsDocument(); }},
      {"firmware", [this] { return FirmwareDocument(); }},
  });
}

nlohmann::json App::StatusDocument() const {
  status::GatewayFacts gateway;
  gateway.version = status::DaemonVersion();
  gateway.uptime = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_);
  // The store is destroyed at the very end of main; a call then must not make it anew.
  gateway.mesh_mode = Singleton<NVRAM>::Exists() && Singleton<NVRAM>::Instance().MeshEnable();
  gateway.wan_up = wan_up_;
  status::CloudFacts cloud = components_.cloud_facts ? components_.cloud_facts() : status::CloudFacts{};
  cloud.websocket_open = websocket_->Connected();
  return status::StatusDocument(gateway, cloud, status::MeshSummary(mesh_->Status()),
                                status::PlcSummary(plc_manager_->Status()), status::FirmwareSummary(FirmwareSnapshot()));
}

nlohmann::json App::NodesDocument() const { return status::NodesDocument(mesh_->Status()); }

nlohmann::json App::PlcsDocument() const { return status::PlcsDocument(plc_manager_->Status(), status::Now{}); }

nlohmann::json App::FirmwareDocument() const { return status::FirmwareDocument(FirmwareSnapshot()); }

ota::FirmwareStatus App::FirmwareSnapshot() const {
  return components_.firmware_status ? components_.firmware_status() : ota::FirmwareStatus{};
}
