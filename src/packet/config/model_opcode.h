#pragma once

#include <array>
#include <cstdint>

#include "packet/byte_writer.h"

namespace packet::config {

// Access-layer opcode of an outgoing configuration message: one, two or three bytes,
// most significant first. A value outside the three encodable ranges (including the
// reserved 0x7F) keeps length 0 and makes the message refuse to serialise.
class ModelOPCode {
 public:
  explicit ModelOPCode(std::uint32_t opcode);
  virtual ~ModelOPCode() = default;

  int Length() const { return length_; }
  const std::array<std::uint8_t, 3>& OpcodeBytes() const { return bytes_; }

  virtual void Serialize(ByteWriter& writer) const;

 private:
  std::int32_t length_ = 0;
  std::array<std::uint8_t, 3> bytes_{};
};

}  // namespace packet::config
