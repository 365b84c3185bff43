#pragma once

// Doubles for the BLE provisioning tests: a poster that records what the component posts,
// a controller that answers the identity command from a script, and a configuration store
// that keeps its values in memory (no bus behind it).

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hci/hci_controller.h"
#include "mailbox/depesche_poster.h"
#include "nvram/nvram.h"

namespace ble_test {

class RecordingPoster : public mailbox::DepeschePoster, public mailbox::DepescheDestination {
 public:
  void Post(const mailbox::Depesche& message) override {
    const std::lock_guard<std::mutex> guard(lock_);
    messages_.push_back(message);
  }
  mailbox::DepescheDestination* Destination() override { return this; }
  void OnMessage(const mailbox::Depesche& /*message*/) override {}

  std::vector<std::uint32_t> Ids() const {
    const std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::uint32_t> ids;
    for (const auto& message : messages_) ids.push_back(message.id);
    return ids;
  }
  std::vector<mailbox::Depesche> Messages() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return messages_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<mailbox::Depesche> messages_;
};

// The controller's answer to the identity command: a 30-byte event whose bytes 8..13 are
// the device id reversed and 14..29 the serial number.
inline std::vector<std::uint8_t> IdentityPacket() {
  std::vector<std::uint8_t> packet(30, 0);
  packet[0] = 0x04;  // event packet
  const std::uint8_t device_id[6] = {0x5f, 0x4e, 0x3d, 0x2c, 0x1b, 0x0a};
  for (int index = 0; index < 6; ++index) packet[8 + index] = device_id[index];
  for (int index = 0; index < 16; ++index) packet[14 + index] = static_cast<std::uint8_t>(0xA0 + index);
  return packet;
}
inline constexpr const char* kPacketDeviceId = "0a1b2c3d4e5f";
inline constexpr const char* kPacketSerial = "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf";

// Answers the vendor command from a script of answers (the last one repeats).
class ScriptedHci : public HciController {
 public:
  explicit ScriptedHci(std::deque<VendorAnswer> answers) : answers_(std::move(answers)) {}
  Reading ReadCommandCount(int /*device*/) override { return {Status::socket_failed, 0}; }
  VendorAnswer SendVendorCommand(std::uint16_t ocf, const std::vector<std::uint8_t>& parameters,
                                 std::size_t answer_size, std::chrono::milliseconds /*wait*/) override {
    const std::lock_guard<std::mutex> guard(lock_);
    ++commands_;
    last_ocf_ = ocf;
    last_parameters_ = parameters;
    last_answer_size_ = answer_size;
    if (answers_.size() > 1) {
      auto next = answers_.front();
      answers_.pop_front();
      return next;
    }
    return answers_.front();
  }
  int Commands() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return commands_;
  }
  std::uint16_t LastOcf() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return last_ocf_;
  }
  std::vector<std::uint8_t> LastParameters() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return last_parameters_;
  }
  std::size_t LastAnswerSize() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return last_answer_size_;
  }

 private:
  mutable std::mutex lock_;
  std::deque<VendorAnswer> answers_;
  int commands_ = 0;
  std::uint16_t last_ocf_ = 0;
  std::vector<std::uint8_t> last_parameters_;
  std::size_t last_answer_size_ = 0;
};

// A configuration store with no bus behind it: values live in memory only (its checks of
// keys and addresses still apply). Handed to the component as its provisioning settings.
class MemoryStore {
 public:
  explicit MemoryStore(const std::string& device_id = "0a1b2c3d4e5f",
                       const std::string& serial = "0a1b2c3d4e5f0001") {
    store_.DeviceID(device_id);
    store_.SerialNumber(serial);
  }
  MemoryStore(const MemoryStore&) = delete;
  MemoryStore& operator=(const MemoryStore&) = delete;
  NVRAM& Store() { return store_; }

 private:
  NVRAM store_{"/nonexistent/ubus.sock"};
};

// Mesh credentials as an accepted "M" leaves them.
inline void StoreMeshKeys(NVRAM& store) {
  store.MeshDevKey(std::vector<std::uint8_t>(16, 0x5A));
  store.MeshNetKey("AAECAwQFBgcICQoLDA0ODw==");
  store.MeshAppKey("EBESExQVFhcYGRobHB0eHw==");
  store.NetAddr(7);
  store.GroupAddr(0xCA01);
}

}  // namespace ble_test
