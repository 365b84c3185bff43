#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mesh/dispatch_outlet.h"
#include "mesh/mesh_message.h"
#include "mesh/node_registry.h"
#include "mesh/watchdog_timing.h"

namespace packet::sensor_setting::status {
class DeviceInfo;
}  // namespace packet::sensor_setting::status

// What the gateway does with each access message a node sends it: sensor reports go to the
// cloud, announcements add or refresh nodes in the registry, acknowledgements stop their
// watchdogs, firmware requests are answered with a block, and a leave forgets the node.
// Malformed input of any kind is dropped with a log line. Called by one thread at a time
// (the mesh component's receive thread); the registry and the nodes may be shared with
// other threads.
class ReceiveDispatch {
 public:
  // The nodes this dispatch makes send through `outlet` (control queue) and run their
  // watchdogs on `timing`; both must outlive the nodes.
  ReceiveDispatch(NodeRegistry& nodes, DispatchOutlet& outlet, WatchdogTiming timing);

  void Dispatch(const MeshMessage& message);

 private:
  void OnSensorData(std::uint16_t address, const std::vector<unsigned char>& parameters);
  void OnSettingStatus(std::uint16_t address, const std::vector<unsigned char>& parameters);
  void OnAnnouncement(std::uint16_t address, const std::vector<unsigned char>& data);
  void AddAnnouncedNodes(std::uint16_t address, const packet::sensor_setting::status::DeviceInfo& info);
  void RefreshNode(MeshNode& node);
  void OnFoldsAcknowledged(std::uint16_t address, const std::vector<unsigned char>& data);
  void OnFirmwareRequest(std::uint16_t address, const std::vector<unsigned char>& data);
  std::shared_ptr<MeshNode> MakeNode(std::uint16_t address, const packet::sensor_setting::status::DeviceInfo& info,
                                     const std::string& id, std::uint16_t channel) const;

  NodeRegistry& nodes_;
  DispatchOutlet& outlet_;
  const WatchdogTiming timing_;
};
