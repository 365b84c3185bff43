#pragma once

#include <cstdint>
#include <string>

#include "mesh/mesh_message.h"
#include "ota/firmware_image.h"

// Everything the receive dispatch reaches beyond the node registry: the cloud, the firmware
// manager, the send queues and the application. The mesh component forwards each call to its
// collaborators; a fuzz target or a test puts a stand-in in their place.
class DispatchOutlet {
 public:
  virtual ~DispatchOutlet() = default;

  // Hands a "nodes" report (JSON text) to the cloud.
  virtual void Report(const std::string& report) = 0;
  // Asks for the cloud's settings of a device, without waiting: they are applied to the
  // device's node (ReceiveDispatch::ApplyDeviceSettings) when they arrive, with its beacon
  // setting too when `with_beacon`.
  virtual void RequestDeviceSettings(const std::string& device_id, bool with_beacon) = 0;
  // One block of a firmware image for the node at `address`; false when there is none.
  virtual bool FirmwareBlock(std::uint16_t address, int type, int index, ota::Block& block) = 0;
  // Queues a message for sending, paced by the queue of its type.
  virtual void Enqueue(const MeshMessage& message) = 0;
  // Asks the application to subscribe to the cloud's settings of a device.
  virtual void Subscribe(const std::string& device_id) = 0;
};
