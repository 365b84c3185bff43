#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "mesh/mesh_message.h"
#include "mesh/mesh_transport.h"
#include "queue/paced_queue.h"

// The radio's paces: the pause after each record a sending queue takes.
struct SenderPaces {
  std::chrono::milliseconds transmit{250};  // gateway beacon, own configuration
  std::chrono::milliseconds control{5000};  // node settings
  std::chrono::milliseconds firmware{3000};  // firmware announcements and blocks
};

// The four queues between the gateway and the mesh: three senders, each handing one record
// per pass to the transport and then pausing its pace, and the receiver, which hands every
// received access message to `receive` as soon as it is queued. Records are queued by type:
// application-key and device-key records on the transmit queue, control records on the control
// queue, firmware records on the firmware queue; a received or unknown type is dropped.
//
// Threads: four, one per queue, started by the constructor and ended by Stop or the
// destructor; a record in hand is finished first. Synchronous sends ("Send") take the send
// lock, one at a time; the device-key send waits for nothing and takes none. Ownership: the
// transport and the handlers outlive the sender.
class PacedSender {
 public:
  using Receive = std::function<void(const MeshMessage&)>;
  using ConfigurationFailed = std::function<void(const std::vector<std::uint8_t>& data)>;

  // `configuration_failed` gets every device-key record that did not go out.
  PacedSender(MeshTransport& transport, Receive receive, ConfigurationFailed configuration_failed,
              SenderPaces paces = {});
  PacedSender(const PacedSender&) = delete;
  PacedSender& operator=(const PacedSender&) = delete;

  void Enqueue(const MeshMessage& message);
  // Queues a received access message for `receive`.
  void Received(const MeshMessage& message);
  // Ends the four threads; records still queued are not sent.
  void Stop();

 private:
  void Transmit(const MeshMessage& message);
  void SendControl(const MeshMessage& message);
  void SendFirmware(const MeshMessage& message);
  void SendWithApplicationKey(const MeshMessage& message);

  MeshTransport& transport_;
  const Receive receive_;
  const ConfigurationFailed configuration_failed_;
  std::mutex send_lock_;  // one synchronous "Send" at a time
  // Last: their threads start once the rest exists.
  queue::PacedQueue<MeshMessage> transmit_;
  queue::PacedQueue<MeshMessage> control_;
  queue::PacedQueue<MeshMessage> firmware_;
  queue::PacedQueue<MeshMessage> receive_queue_;
};
