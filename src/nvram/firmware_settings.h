#pragma once

#include <cstdint>
#include <string>

// What the firmware manager reads of the configuration store. The daemon's is the
// configuration store itself.
class FirmwareSettings {
 public:
  virtual ~FirmwareSettings() = default;

  // How many devices may download firmware at once.
  virtual std::uint32_t OTASession() const = 0;
  // Minutes between two firmware checks.
  virtual std::uint32_t FWCheck() const = 0;
  // The Ed25519 public key (Base64) every gateway and device image must be signed with;
  // empty: images are not signed.
  virtual std::string FirmwareKey() const = 0;
};
