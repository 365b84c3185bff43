#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What BLE provisioning reads of the configuration store and writes into it: the gateway's
// identity (stored on the first boot) and the mesh credentials a phone hands over. The
// daemon's is the configuration store itself.
class ProvisioningSettings {
 public:
  virtual ~ProvisioningSettings() = default;

  virtual bool FirstBoot() const = 0;
  virtual void ClearFirstBoot() = 0;
  virtual std::string DeviceID() const = 0;
  virtual void DeviceID(const std::string& device_id) = 0;
  virtual std::string SerialNumber() const = 0;
  virtual void SerialNumber(const std::string& serial_number) = 0;
  virtual void Hostname(const std::string& hostname) = 0;

  // Keys of 16 bytes (the network and application keys as Base64 texts); a key of another
  // size throws std::invalid_argument "Key size is invalid".
  virtual void MeshDevKey(const std::vector<std::uint8_t>& key) = 0;
  virtual void MeshNetKey(const std::string& base64_key) = 0;
  virtual void MeshAppKey(const std::string& base64_key) = 0;
  // Throw std::runtime_error "Address error." / "Group Address Error." for an address out of range.
  virtual void NetAddr(const std::uint16_t& address) = 0;
  virtual void GroupAddr(const std::uint16_t& address) = 0;
  // True when the mesh can start from what is stored: the network, application and device
  // keys each Base64 of 16 bytes, and a unicast address.
  virtual bool MeshCredentialsStored() const = 0;

  // How many minutes after start (or a press of the button) the gateway advertises and
  // takes requests; 0: always.
  virtual std::uint32_t ProvisioningWindow() const = 0;
};
