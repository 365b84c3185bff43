#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "mesh/mesh_status.h"

// What the application calls on its mesh component (BluetoothMesh in the daemon).
class MeshComponent {
 public:
  virtual ~MeshComponent() = default;

  // Exports the gateway's objects and joins the mesh; false when joining failed.
  virtual bool Initialize() = 0;
  // Withdraws the objects and leaves the bus.
  virtual void Deinitialize() = 0;
  // Switches the beacon of the node with `device_id`.
  virtual void UpdateBeacon(const std::string& device_id, const bool& enable) = 0;
  // Hands new folds to the node with `device_id`, if there is one.
  virtual void UpdateFolds(const std::string& device_id, const nlohmann::json& folds) = 0;
  // A copy of the component's state for the operator; safe from any thread.
  virtual mesh::MeshStatus Status() const = 0;
};
