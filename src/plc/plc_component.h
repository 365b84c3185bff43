#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "plc/plc_status.h"

// What the application calls on its PLC component (PLCManager in the daemon).
class PlcComponent {
 public:
  virtual ~PlcComponent() = default;

  // Hands new folds for the poller named `device_id` to every PLC.
  virtual void UpdateFolds(const std::string& device_id, const nlohmann::json& folds) = 0;
  // Every PLC as the operator sees it, by id.
  virtual std::vector<PlcStatus> Status() const = 0;
};
