#include "mesh/paced_sender.h"

#include "log/log.h"

PacedSender::PacedSender(MeshTransport& transport, Receive receive, ConfigurationFailed configuration_failed,
                         SenderPaces paces)
    : transport_(transport),
      receive_(std::move(receive)),
      configuration_failed_(std::move(configuration_failed)),
      transmit_(paces.transmit, [this](const MeshMessage& message) { Transmit(message); }),
      control_(paces.control, [this](const MeshMessage& message) { SendControl(message); }),
      firmware_(paces.firmware, [this](const MeshMessage& message) { SendFirmware(message); }),
      receive_queue_(std::chrono::milliseconds(0), [this](const MeshMessage& message) { receive_(message); }) {}

void PacedSender::Enqueue(const MeshMessage& message) {
  switch (message.type) {
    case MeshMessage::kApplicationKey:
    case MeshMessage::kDeviceKey:
      transmit_.Push(message);
      break;
    case MeshMessage::kControl:
      control_.Push(message);
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
  for (auto* queue : {&transmit_, &control_, &firmware_, &receive_queue_}) queue->Stop();
}

void PacedSender::Transmit(const MeshMessage& message) {
  if (message.type == MeshMessage::kDeviceKey) {
    transport_.DevKeySend(message.data, [this, data = message.data] { configuration_failed_(data); });
    return;
  }
  LOG_DEBUG << "Send PILOT : " << message.address;
  SendWithApplicationKey(message);
}

// Routine sends, yet at error level on purpose: log filters in use (the story's counters
// among them) match these lines at that level.
void PacedSender::SendControl(const MeshMessage& message) {
  LOG_ERROR << "Send CTRL : " << message.address;
  SendWithApplicationKey(message);
}

void PacedSender::SendFirmware(const MeshMessage& message) {
  LOG_ERROR << "Send OTA : " << message.address;
  SendWithApplicationKey(message);
}

void PacedSender::SendWithApplicationKey(const MeshMessage& message) {
  const std::lock_guard<std::mutex> sending(send_lock_);
  transport_.Send(message.address, message.data);
}
