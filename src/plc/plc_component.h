#pragma once

#include <string>

#include <nlohmann/json.hpp>

// What the application calls on its PLC component (PLCManager in the daemon).
class PlcComponent {
 public:
  virtual ~PlcComponent() = default;

  // Hands new folds for the poller named `device_id` to every PLC.
  virtual void UpdateFolds(const std::string& device_id, const nlohmann::json& folds) = 0;
};
