#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mesh/device_settings_fetcher.h"
#include "mesh/dispatch_outlet.h"
#include "mesh/mesh_message.h"
#include "mesh/node_registry.h"
#include "mesh/watchdog_timing.h"

namespace packet::sensor_setting::status {
class DeviceInfo;
}  // namespace packet::sensor_setting::status

// What the gateway does with each access message a node sends it: sensor reports go to the
// cloud, announcements add or refresh nodes in the registry (one device per address; the
// cloud's settings of a new node are asked for and applied when they come), acknowledgements
// stop their watchdogs, firmware requests are answered with a block, and a leave forgets the
// node. Malformed input of any kind is dropped with a log line. Nothing here waits on the
// network. Dispatch is called by one thread at a time (the mesh component's receive thread),
// ApplyDeviceSettings by the settings fetcher's; the registry and the nodes are shared.
class ReceiveDispatch {
 public:
  // The nodes this dispatch makes send through `outlet` (control queue) and run their
  // watchdogs on `timing`; both must outlive the nodes.
  ReceiveDispatch(NodeRegistry& nodes, DispatchOutlet& outlet, WatchdogTiming timing);

  void Dispatch(const MeshMessage& message);
  // The cloud's settings of a device arrived (on the fetcher's thread): its node takes its
  // folds, and its beacon setting when asked for and a main node.
  void ApplyDeviceSettings(const std::string& device_id, const DeviceSettings& settings, bool with_beacon);

 private:
  void OnSensorData(const MeshMessage& message, const std::vector<unsigned char>& parameters);
  void OnSettingStatus(std::uint16_t address, const std::vector<unsigned char>& parameters);
  void OnAnnouncement(std::uint16_t address, const std::vector<unsigned char>& data);
  // Forgets the nodes of another device at `address` (it took the address over).
  void ForgetOtherDevice(std::uint16_t address, const std::string& device_id);
  void AddMainNode(std::uint16_t address, const packet::sensor_setting::status::DeviceInfo& info);
  // Adds the sub-devices of a three-channel device that are not known yet.
  void AddMissingSubDevices(std::uint16_t address, const packet::sensor_setting::status::DeviceInfo& info);
  void RefreshNode(MeshNode& node);
  void OnFoldsAcknowledged(std::uint16_t address, const std::vector<unsigned char>& data);
  void OnFirmwareRequest(std::uint16_t address, const std::vector<unsigned char>& data);
  std::shared_ptr<MeshNode> MakeNode(std::uint16_t address, const packet::sensor_setting::status::DeviceInfo& info,
                                     const std::string& id, std::uint16_t channel) const;

  NodeRegistry& nodes_;
  DispatchOutlet& outlet_;
  const WatchdogTiming timing_;
};
