#pragma once

#include <cstdint>
#include <string>

#include "xgt/fenet/data_type.h"

namespace xgt::fenet {

// Name of a PLC variable inside a request: "%" + device + type letter + decimal address, and
// for the bit type the bit number in lowercase hexadecimal ("%DW100", "%MX5a").
std::string VariableName(char device, DataType type, std::uint32_t address, std::uint32_t bit = 0);

// Text naming a read location in results: device + decimal address, and for the bit type
// "." + the bit number in lowercase hexadecimal ("D100", "M10.b").
std::string MemoryAddressText(char device, DataType type, std::uint32_t address, std::uint32_t bit = 0);

}  // namespace xgt::fenet
