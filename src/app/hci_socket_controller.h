#pragma once

#include "app/hci_controller.h"

// Reads controller statistics through a raw HCI socket and the device-information request.
class HciSocketController final : public HciController {
 public:
  Reading ReadCommandCount(int device) override;
};
