#pragma once

#include <cstdint>

// The Bluetooth controller's statistics, behind a seam so the supervision logic runs
// without a controller (production: a raw HCI socket; tests: a fake).
class HciController {
 public:
  enum class Status { ok, socket_failed, info_failed };
  struct Reading {
    Status status = Status::socket_failed;
    std::uint32_t commands_sent = 0;  // HCI command packets the controller has sent
  };

  virtual ~HciController() = default;
  // Reads the device information of controller `device` (0: the first one).
  virtual Reading ReadCommandCount(int device) = 0;
};
