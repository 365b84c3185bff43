#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "xgt/fenet/header.h"

namespace xgt::fenet {

// Continuous write request (command 0x0058): one byte-addressed block and its data bytes.
class WriteRequestPacket {
 public:
  static constexpr std::uint16_t kCommand = 0x0058;
  static constexpr std::size_t kMaxDataCount = 1400;

  WriteRequestPacket(std::uint8_t base, std::uint8_t slot, char device, std::uint32_t address,
                     std::vector<unsigned char> bytes);

  // The frame, or an empty vector (with an error line) when the data exceed 1400 bytes,
  // which the module would refuse and the 16-bit length could not describe.
  std::vector<unsigned char> Encode() const;

  const Header& GetHeader() const { return header_; }
  const std::string& Variable() const { return variable_; }
  const std::vector<unsigned char>& Data() const { return data_; }

 private:
  Header header_;
  std::string variable_;
  std::vector<unsigned char> data_;
};

}  // namespace xgt::fenet
