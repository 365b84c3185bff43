#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mesh/mesh_message.h"
#include "mesh/mesh_transport.h"
#include "log/drop_notice.h"
#include "queue/keyed_paced_queue.h"

// The radio's paces: the pause after each record a sending queue takes.
struct SenderPaces {
  std::chrono::milliseconds transmit{250};  // gateway beacon, own configuration
  std::chrono::milliseconds control{5000};  // node settings
  std::chrono::milliseconds firmware{3000};  // firmware announcements and blocks
};

// The most records each queue holds. The sending queues refuse a record that finds them full
// (those queued keep their turns; a node's watchdogs and requests ask again); the receive
// queue drops its oldest (a backlog there is stale, and the freshest readings count most).
struct SenderBounds {
  std::size_t transmit = 256;   // a few records a minute; 64 s of pace
  std::size_t control = 2048;   // one record per node and setting (or poll): several hundred nodes
  std::size_t firmware = 512;   // one announcement and each node's one block request at a time
  std::size_t receive = 1024;   // handled at once; fills only while a cloud query holds the thread
};

// What became of each queue's records.
struct SenderCounters {
  queue::QueueCounters transmit;
  queue::QueueCounters control;
  queue::QueueCounters firmware;
  queue::QueueCounters receive;
};

// The four queues between the gateway and the mesh: three senders, each handing one record
// per pass to the transport and then pausing its pace, and the receiver, which hands every
// received access message to `receive` as soon as it is queued. Records are queued by type:
// application-key and device-key records on the transmit queue, control records on the control
// queue, firmware records on the firmware queue; a received or unknown type is dropped.
// A control record with a key replaces the one of its key still waiting, in place. At its
// turn a record's `on_turn` decides whether it is still sent; one that is not costs no pace.
// Each queue is bounded (SenderBounds); drops are counted and logged at most once a minute.
//
// Threads: four, one per queue, started by the constructor and ended by Stop or the
// destructor; a record in hand is finished first. Synchronous sends ("Send") take the send
// lock, one at a time; the device-key send waits for nothing and takes none. Ownership: the
// transport and the handlers outlive the sender.
class PacedSender {
 public:
  using Receive = std::function<void(const MeshMessage&)>;
  using ConfigurationFailed = std::function<void(const std::vector<std::uint8_t>& data)>;

  // `configuration_failed` gets every device-key record that did not go out (or found the
  // transmit queue full).
  PacedSender(MeshTransport& transport, Receive receive, ConfigurationFailed configuration_failed,
              SenderPaces paces = {}, SenderBounds bounds = {});
  PacedSender(const PacedSender&) = delete;
  PacedSender& operator=(const PacedSender&) = delete;

  void Enqueue(const MeshMessage& message);
  // Queues a received access message for `receive`.
  void Received(const MeshMessage& message);
  // Ends the four threads; records still queued are not sent.
  void Stop();
  SenderCounters Counters() const;

 private:
  using Queue = queue::KeyedPacedQueue<MeshMessage>;

  // A queue and the notice of its drops.
  struct Lane {
    Lane(const char* name, std::chrono::milliseconds pace, queue::QueueBound bound, Queue::Handle handle);
    queue::Pushed Push(const MeshMessage& message, std::optional<std::string> key = std::nullopt);

    logging::DropNotice notice;
    Queue records;  // last: its thread starts once the notice exists
  };

  bool Transmit(const MeshMessage& message);
  bool SendControl(const MeshMessage& message);
  bool SendFirmware(const MeshMessage& message);
  void SendWithApplicationKey(const MeshMessage& message);

  MeshTransport& transport_;
  const Receive receive_;
  const ConfigurationFailed configuration_failed_;
  std::mutex send_lock_;  // one synchronous "Send" at a time
  // Last: their threads start once the rest exists.
  Lane transmit_;
  Lane control_;
  Lane firmware_;
  Lane receive_queue_;
};
