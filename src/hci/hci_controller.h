#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

// The Bluetooth controller behind a seam, so the logic that uses it runs without a
// controller (production: a raw HCI socket; tests: a fake).
class HciController {
 public:
  enum class Status { ok, socket_failed, info_failed };
  struct Reading {
    Status status = Status::socket_failed;
    std::uint32_t commands_sent = 0;  // HCI command packets the controller has sent
  };

  // The outcome of one vendor command, by the step that failed.
  enum class VendorStatus { ok, open_failed, filter_failed, send_failed, read_failed, timed_out };
  struct VendorAnswer {
    VendorStatus status = VendorStatus::open_failed;
    std::vector<std::uint8_t> packet;  // the event packet, packet-type byte first (ok only)
  };

  virtual ~HciController() = default;
  // Reads the device information of controller `device` (0: the first one).
  virtual Reading ReadCommandCount(int device) = 0;
  // Sends vendor-specific command `ocf` (OGF 0x3F) with `parameters` to the default
  // controller and waits at most `wait` for an event packet of exactly `answer_size`
  // bytes; packets of other lengths are passed over. A controller that takes no vendor
  // commands cannot be opened for them.
  virtual VendorAnswer SendVendorCommand(std::uint16_t /*ocf*/, const std::vector<std::uint8_t>& /*parameters*/,
                                         std::size_t /*answer_size*/, std::chrono::milliseconds /*wait*/) {
    return {VendorStatus::open_failed, {}};
  }
};
