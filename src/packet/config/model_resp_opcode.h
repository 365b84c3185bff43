#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "packet/byte_reader.h"

namespace packet::config {

// Splits a received access message into its opcode (one, two or three bytes) and parameters.
// The caller sets `MessageLength` to the length of the whole message before decoding; a
// length shorter than the opcode, or bytes missing for it, fail the decoding.
class ModelRespOPCode {
 public:
  static constexpr std::uint32_t kReservedOpcode = 0x7F;

  explicit ModelRespOPCode(std::uint32_t message_length = 0) : MessageLength(message_length) {}
  virtual ~ModelRespOPCode() = default;

  virtual void Deserialize(ByteReader& reader);

  std::array<std::uint8_t, 3> RawOpcode{};
  std::uint32_t OPCode = 0;
  std::vector<unsigned char> Parameters;
  std::uint32_t MessageLength;

 private:
  int ReadOpcode(ByteReader& reader);
};

}  // namespace packet::config
