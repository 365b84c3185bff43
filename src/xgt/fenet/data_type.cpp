#include "xgt/fenet/data_type.h"

namespace xgt::fenet {

char DataTypeLetter(DataType type) {
  switch (type) {
    case DataType::kBit: return 'X';
    case DataType::kByte: return 'B';
    case DataType::kWord: return 'W';
    case DataType::kDoubleWord: return 'D';
    case DataType::kLongWord: return 'L';
    case DataType::kContinuous: break;
  }
  return '\0';
}

std::optional<DataType> DataTypeFromLetter(char letter) {
  switch (letter) {
    case 'X': return DataType::kBit;
    case 'B': return DataType::kByte;
    case 'W': return DataType::kWord;
    case 'D': return DataType::kDoubleWord;
    case 'L': return DataType::kLongWord;
    default: return std::nullopt;
  }
}

bool IsKnownDataType(std::uint16_t code) {
  return code <= static_cast<std::uint16_t>(DataType::kLongWord) || code == static_cast<std::uint16_t>(DataType::kContinuous);
}

}  // namespace xgt::fenet
