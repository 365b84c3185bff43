#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
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

  MeshMessage() = default;
  MeshMessage(std::uint32_t message_type, std::uint16_t peer, std::vector<std::uint8_t> bytes,
              std::int64_t delivered_at = 0)
      : type(message_type), address(peer), data(std::move(bytes)), received_at(delivered_at) {}

  std::uint32_t type = kReceived;
  std::uint16_t address = 0;  // destination when sending, source when received
  std::vector<std::uint8_t> data;
  // Records of one setting of one node (or one poll) share a key: a record queued while
  // another of its key waits replaces that one in place. Empty: the record stands alone.
  std::string key;
  // Run on the sending thread when the record's turn comes, just before it is sent: false
  // drops it unsent (its setting was acknowledged meanwhile, or its node is gone), and it
  // costs no pace. None: always sent.
  std::function<bool()> on_turn;
  // Received messages: when the mesh daemon delivered it (UNIX seconds; 0 when unknown).
  std::int64_t received_at = 0;
};
