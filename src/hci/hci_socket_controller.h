#pragma once

#include "hci/hci_controller.h"

// The controller through a raw HCI socket (libbluetooth): the device-information request
// and vendor commands.
class HciSocketController final : public HciController {
 public:
  Reading ReadCommandCount(int device) override;
  VendorAnswer SendVendorCommand(std::uint16_t ocf, const std::vector<std::uint8_t>& parameters,
                                 std::size_t answer_size, std::chrono::milliseconds wait) override;
};
