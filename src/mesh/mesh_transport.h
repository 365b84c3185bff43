#pragma once

#include <cstdint>
#include <functional>
#include <vector>

// How the paced sender hands a message to the mesh daemon. The daemon's is the link's Node1
// proxy; tests use a recording double.
class MeshTransport {
 public:
  virtual ~MeshTransport() = default;

  // Sends `data` to `address` with the application key and waits for the daemon to take it;
  // a refusal is logged.
  virtual void Send(std::uint16_t address, const std::vector<std::uint8_t>& data) = 0;
  // Sends a configuration message to the gateway's own node with its device key, without
  // waiting; `failed` is called (maybe later, on the D-Bus event loop) when it did not go out.
  virtual void DevKeySend(const std::vector<std::uint8_t>& data, std::function<void()> failed) = 0;
};
