// The four queue threads: three paced senders and the receiver.

#include <sdbus-c++/sdbus-c++.h>

#include <fmt/format.h>

#include "log/log.h"
#include "mesh/bluetooth_mesh.h"
#include "mesh/mesh_names.h"
#include "mesh/node1.h"
#include "nvram/mesh_settings.h"

namespace {

// The radio's pace: the pause after each record a sending thread takes.
constexpr std::chrono::milliseconds kTransmitPause{250};
constexpr std::chrono::milliseconds kControlPause{5000};
constexpr std::chrono::milliseconds kFirmwarePause{3000};

}  // namespace

void BluetoothMesh::MessageTxThread() {
  SendingLoop(transmit_queue_, transmit_running_, kTransmitPause, &BluetoothMesh::Transmit);
}

void BluetoothMesh::MessageCtrlThread() {
  SendingLoop(control_queue_, control_running_, kControlPause, &BluetoothMesh::SendControl);
}

void BluetoothMesh::MessageOTAThread() {
  SendingLoop(firmware_queue_, firmware_running_, kFirmwarePause, &BluetoothMesh::SendFirmware);
}

void BluetoothMesh::MessageRxThread() {
  while (receive_running_) {
    if (!receive_queue_.Wait()) continue;
    dispatch_.Dispatch(receive_queue_.Pop());
  }
}

// Sleeps until a record is queued, sends it, then keeps the queue's pause before the next.
void BluetoothMesh::SendingLoop(queue::ThreadSafeQueue<Message>& queue, const std::atomic<bool>& running,
                                std::chrono::milliseconds pause, void (BluetoothMesh::*send)(const Message&)) {
  while (running) {
    if (!queue.Wait()) continue;
    (this->*send)(queue.Pop());
    if (!Pace(pause)) return;
  }
}

bool BluetoothMesh::Pace(std::chrono::milliseconds pause) {
  std::unique_lock<std::mutex> guard(stop_lock_);
  return !stop_signal_.wait_for(guard, pause, [this] { return stopping_; });
}

void BluetoothMesh::Transmit(const Message& message) {
  if (message.type == Message::kDeviceKey) {
    SendWithDeviceKey(message);
    return;
  }
  LOG_DEBUG << "Send PILOT : " << message.address;
  SendWithApplicationKey(message);
}

void BluetoothMesh::SendControl(const Message& message) {
  LOG_ERROR << "Send CTRL : " << message.address;
  SendWithApplicationKey(message);
}

void BluetoothMesh::SendFirmware(const Message& message) {
  LOG_ERROR << "Send OTA : " << message.address;
  SendWithApplicationKey(message);
}

// Node1 "Send", one at a time; a refusal is logged and the thread goes on.
void BluetoothMesh::SendWithApplicationKey(const Message& message) {
  const std::shared_lock<std::shared_mutex> shared(bus_lock_);
  const auto node = CurrentNode();
  if (!node) {
    LOG_ERROR << fmt::format("No mesh node attached; message to {:04x} dropped", message.address);
    return;
  }
  const std::lock_guard<std::mutex> sending(send_lock_);
  try {
    node->Send(sdbus::ObjectPath(mesh_names::kElementPath), message.address, 0, {}, message.data);
  } catch (const sdbus::Error& error) {
    LOG_ERROR << fmt::format("Send to {:04x} failed: {}: {}", message.address, error.getName(), error.getMessage());
  }
}

// Node1 "DevKeySend" to the gateway's own node; the reply arrives on the D-Bus event loop.
void BluetoothMesh::SendWithDeviceKey(const Message& message) {
  const std::shared_lock<std::shared_mutex> shared(bus_lock_);
  const auto node = CurrentNode();
  if (!node) {
    LOG_ERROR << "No mesh node attached; configuration message dropped";
    OnConfigurationSendFailed(message.data);
    return;
  }
  try {
    node->DevKeySendAsync(sdbus::ObjectPath(mesh_names::kElementPath), Store().NetAddr(), true, 0, {}, message.data,
                          [this, data = message.data](const sdbus::Error* error) {
                            if (error == nullptr) return;
                            LOG_ERROR << error->getMessage();
                            OnConfigurationSendFailed(data);
                          });
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "DevKeySend not sent: " << error.getMessage();
    OnConfigurationSendFailed(message.data);
  }
}
