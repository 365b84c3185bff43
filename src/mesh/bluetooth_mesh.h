#pragma once

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

#include "mailbox/depesche_poster.h"

// The Bluetooth mesh gateway: joins the mesh through the mesh daemon and talks to the
// sensor nodes. The operations are virtual so the application can be tested with a double.
class BluetoothMesh : public mailbox::DepescheSender {
 public:
  explicit BluetoothMesh(std::shared_ptr<mailbox::DepeschePoster> application);
  virtual ~BluetoothMesh();
  BluetoothMesh(const BluetoothMesh&) = delete;
  BluetoothMesh& operator=(const BluetoothMesh&) = delete;

  // Joins the mesh; false when the mesh daemon could not be reached or refused.
  virtual bool Initialize();
  // Leaves the mesh daemon.
  virtual void Deinitialize();
  // Switches the beacon of the node with `device_id`.
  virtual void UpdateBeacon(const std::string& device_id, const bool& enable);
  // Hands new folds to the node with `device_id`, if there is one.
  virtual void UpdateFolds(const std::string& device_id, const nlohmann::json& folds);

 protected:
  std::shared_ptr<mailbox::DepeschePoster> application_;
};
