#pragma once

#include <cstdint>
#include <vector>

// A queued mesh message: what to send to (or what was received from) one mesh address.
struct MeshMessage {
  enum Type : std::uint32_t {
    kReceived = 0,      // an access message from a node
    kApplicationKey = 1,  // sent with the application key, paced by the transmit queue
    kControl = 2,       // node settings, paced by the control queue
    kFirmware = 3,      // firmware announcements and blocks, paced by the firmware queue
    kDeviceKey = 4,     // configuration of the gateway's own node, with its device key
  };

  std::uint32_t type = kReceived;
  std::uint16_t address = 0;  // destination when sending, source when received
  std::vector<std::uint8_t> data;
  // Received messages: when the mesh daemon delivered it (UNIX seconds; 0 when unknown).
  std::int64_t received_at = 0;
};
