#pragma once

#include <cstdint>
#include <vector>

// What the mesh component reads of the configuration store, and the one value it writes:
// the token of the gateway's node. The daemon's is the configuration store itself.
class MeshSettings {
 public:
  virtual ~MeshSettings() = default;

  virtual std::uint16_t NetAddr() const = 0;
  virtual std::uint16_t GroupAddr() const = 0;
  virtual std::uint16_t TTL() const = 0;
  virtual std::uint64_t Token() const = 0;
  virtual void Token(const std::uint64_t& token) = 0;
  virtual std::vector<std::uint8_t> DeviceUUID() const = 0;
  virtual std::vector<std::uint8_t> MeshNetKey() const = 0;
  virtual std::vector<std::uint8_t> MeshAppKey() const = 0;
  virtual std::vector<std::uint8_t> MeshDevKey() const = 0;
};
