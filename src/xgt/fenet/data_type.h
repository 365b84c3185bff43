#pragma once

#include <cstdint>
#include <optional>

namespace xgt::fenet {

// Data type codes of the XGT dedicated protocol; the letter names the type inside a variable name.
enum class DataType : std::uint16_t {
  kBit = 0x00,         // "X"
  kByte = 0x01,        // "B"
  kWord = 0x02,        // "W"
  kDoubleWord = 0x03,  // "D"
  kLongWord = 0x04,    // "L"
  kContinuous = 0x14,  // block access, no letter
};

// The letter of a type, or '\0' for the continuous type.
char DataTypeLetter(DataType type);

// The type of a letter, or nothing for a letter outside the table.
std::optional<DataType> DataTypeFromLetter(char letter);

// Whether a 16-bit code read from a frame is one of the table's codes.
bool IsKnownDataType(std::uint16_t code);

}  // namespace xgt::fenet
