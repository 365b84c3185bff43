#include "xgt/fenet/variable_name.h"

#include <cstdio>

namespace xgt::fenet {

namespace {

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

}  // namespace

std::string VariableName(char device, DataType type, std::uint32_t address, std::uint32_t bit) {
  std::string name = "%";
  name += device;
  const char letter = DataTypeLetter(type);
  if (letter != '\0') name += letter;
  name += std::to_string(address);
  if (type == DataType::kBit) name += Hex(bit);
  return name;
}

std::string MemoryAddressText(char device, DataType type, std::uint32_t address, std::uint32_t bit) {
  std::string text(1, device);
  text += std::to_string(address);
  if (type == DataType::kBit) text += "." + Hex(bit);
  return text;
}

}  // namespace xgt::fenet
