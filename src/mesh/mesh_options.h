#pragma once

#include <chrono>
#include <string>

class NVRAM;

// What the mesh component reaches outside itself; the defaults are the daemon's.
struct MeshOptions {
  std::string bus_address;  // empty: the system D-Bus
  NVRAM* store = nullptr;   // null: the process's configuration store
  // The longest wait for each answer of the mesh daemon while joining.
  std::chrono::milliseconds answer_timeout{std::chrono::seconds(30)};
  // The pause between the mesh daemon reappearing on the bus and joining it again.
  std::chrono::milliseconds rejoin_delay{std::chrono::seconds(1)};
};
