#pragma once

#include <string>
#include <vector>

#include "nvram/plc_info.h"

// What the PLC manager reads of the configuration store, and the PLC records it keeps
// there. The daemon's is the configuration store itself.
class PlcSettings {
 public:
  virtual ~PlcSettings() = default;

  // The gateway's id, under which the cloud lists its PLCs.
  virtual std::string DeviceID() const = 0;
  virtual std::vector<PLCInfo> PLCList() const = 0;
  virtual void AddPLC(const PLCInfo& info) = 0;
  virtual void UpdatePLC(const PLCInfo& info) = 0;
  virtual void DeletePLC(const PLCInfo& info) = 0;
};
