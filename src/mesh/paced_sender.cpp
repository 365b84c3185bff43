#include "mesh/paced_sender.h"

#include <string>

#include "log/log.h"

namespace {

// Whether a record is still to be sent at its turn.
bool Due(const MeshMessage& message) { return !message.on_turn || message.on_turn(); }

}  // namespace

PacedSender::Lane::Lane(const char* name, std::chrono::milliseconds pace, queue::QueueBound bound,
                        Queue::Handle handle)
    : notice(std::string(name) + " full, records dropped since the last notice: "),
      records(pace, bound, std::move(handle)) {}

queue::Pushed PacedSender::Lane::Push(const MeshMessage& message, std::optional<std::string> key) {
  const auto pushed = records.Push(message, std::move(key));
  if (pushed == queue::Pushed::kRefused || pushed == queue::Pushed::kDroppedOldest) {
    notice.Add(1);
  }
  return pushed;
}

PacedSender::PacedSender(MeshTransport& transport, Receive receive, ConfigurationFailed configuration_failed,
                         SenderPaces paces, SenderBounds bounds)
    : transport_(transport),
      receive_(std::move(receive)),
      configuration_failed_(std::move(configuration_failed)),
      transmit_("Mesh transmit queue", paces.transmit, {bounds.transmit, queue::Overflow::kRefuseNewest},
                [this](const MeshMessage& message) { return Transmit(message); }),
      control_("Mesh control queue", paces.control, {bounds.control, queue::Overflow::kRefuseNewest},
               [this](const MeshMessage& message) { return SendControl(message); }),
      firmware_("Mesh firmware queue", paces.firmware, {bounds.firmware, queue::Overflow::kRefuseNewest},
                [this](const MeshMessage& message) { return SendFirmware(message); }),
      receive_queue_("Mesh receive queue", std::chrono::milliseconds(0),
                     {bounds.receive, queue::Overflow::kDropOldest}, [this](const MeshMessage& message) {
                       receive_(message);
                       return true;
                     }) {}

void PacedSender::Enqueue(const MeshMessage& message) {
  switch (message.type) {
    case MeshMessage::kApplicationKey:
      transmit_.Push(message);
      break;
    case MeshMessage::kDeviceKey:
      // A configuration step refused here fails at once rather than waiting for its answer.
      if (transmit_.Push(message) == queue::Pushed::kRefused) configuration_failed_(message.data);
      break;
    case MeshMessage::kControl:
      control_.Push(message, message.key.empty() ? std::nullopt : std::optional<std::string>(message.key));
      break;
    case MeshMessage::kFirmware:
      firmware_.Push(message);
      break;
    default:
      break;
  }
}

void PacedSender::Received(const MeshMessage& message) { receive_queue_.Push(message); }

void PacedSender::Stop() {
  for (auto* lane : {&transmit_, &control_, &firmware_, &receive_queue_}) lane->records.Stop();
}

SenderCounters PacedSender::Counters() const {
  return {transmit_.records.Counters(), control_.records.Counters(), firmware_.records.Counters(),
          receive_queue_.records.Counters()};
}

bool PacedSender::Transmit(const MeshMessage& message) {
  if (!Due(message)) return false;
  if (message.type == MeshMessage::kDeviceKey) {
    transport_.DevKeySend(message.data, [this, data = message.data] { configuration_failed_(data); });
    return true;
  }
  LOG_DEBUG << "Send PILOT : " << message.address;
  SendWithApplicationKey(message);
  return true;
}

// Routine sends, yet at error level on purpose: log filters in use (the story's counters
// among them) match these lines at that level.
bool PacedSender::SendControl(const MeshMessage& message) {
  if (!Due(message)) return false;
  LOG_ERROR << "Send CTRL : " << message.address;
  SendWithApplicationKey(message);
  return true;
}

bool PacedSender::SendFirmware(const MeshMessage& message) {
  if (!Due(message)) return false;
  LOG_ERROR << "Send OTA : " << message.address;
  SendWithApplicationKey(message);
  return true;
}

void PacedSender::SendWithApplicationKey(const MeshMessage& message) {
  const std::lock_guard<std::mutex> sending(send_lock_);
  transport_.Send(message.address, message.data);
}
