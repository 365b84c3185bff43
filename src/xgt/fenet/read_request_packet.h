#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "xgt/fenet/data_type.h"
#include "xgt/fenet/header.h"

namespace xgt::fenet {

// Read request (command 0x0054). Three forms:
//  - one variable of one data type, the form the gateway sends;
//  - continuous: one byte-addressed block of at most 1400 bytes;
//  - empty, to which up to 16 variables of one data type are added.
class ReadRequestPacket {
 public:
  static constexpr std::uint16_t kCommand = 0x0054;
  static constexpr std::size_t kMaxVariables = 16;
  static constexpr std::uint16_t kMaxDataCount = 1400;

  ReadRequestPacket(std::uint8_t base, std::uint8_t slot, char device, DataType type, std::uint32_t address,
                    std::uint32_t bit = 0);
  ReadRequestPacket(std::uint8_t base, std::uint8_t slot, char device, std::uint32_t address, std::uint16_t count);
  ReadRequestPacket(std::uint8_t base, std::uint8_t slot);

  // Adds a variable. Refused for a continuous request, a 17th variable, the continuous type, and a
  // type other than the one of the variables already present (the first sets the request's type).
  bool AddVariable(char device, DataType type, std::uint32_t address, std::uint32_t bit = 0);

  std::vector<unsigned char> Encode() const;

  const Header& GetHeader() const { return header_; }
  DataType Type() const { return type_; }
  const std::vector<std::string>& Variables() const { return variables_; }
  std::uint16_t DataCount() const { return data_count_; }

 private:
  void AppendVariable(const std::string& name);

  Header header_;
  DataType type_ = DataType::kBit;
  std::vector<std::string> variables_;
  std::uint16_t data_count_ = 0;
};

}  // namespace xgt::fenet
