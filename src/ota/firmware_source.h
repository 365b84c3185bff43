#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ota/firmware_image.h"

// One entry of the firmware list the mesh announces: a device firmware type, its version
// text and its size in 16-byte blocks.
struct FirmwareListEntry {
  int type = 0;
  std::string version;
  int blocks = 0;
};

// What the mesh component asks of the firmware manager: the firmware it announces, and one
// 16-byte block of a type's image for the device at `address` (false when there is no such
// image or block, or no room for another downloading device). The daemon's is OTAManager.
class FirmwareSource {
 public:
  virtual ~FirmwareSource() = default;

  virtual std::vector<FirmwareListEntry> FirmwareList() const = 0;
  virtual bool FirmwareBlock(std::uint16_t address, int type, int index, ota::Block& output) = 0;
};
