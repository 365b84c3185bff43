#pragma once

#include <cstdint>
#include <string>

#include "xgt/fenet/data_type.h"

namespace xgt {

// One polled PLC location: the value's key at the server, the device letter of the memory
// area, the data type, the word address and (bit type only) the bit number.
struct MemoryAddress {
  std::string key;
  char device = 'D';
  fenet::DataType type = fenet::DataType::kWord;
  std::uint32_t address = 0;
  std::uint32_t bit = 0;

  bool operator==(const MemoryAddress& other) const {
    return key == other.key && device == other.device && type == other.type && address == other.address &&
           bit == other.bit;
  }
  bool operator!=(const MemoryAddress& other) const { return !(*this == other); }
};

}  // namespace xgt
