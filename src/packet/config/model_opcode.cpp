#include "packet/config/model_opcode.h"

#include "packet/wire_errors.h"

namespace packet::config {

ModelOPCode::ModelOPCode(std::uint32_t opcode) {
  if (opcode < 0x7F) {
    length_ = 1;
    bytes_[0] = static_cast<std::uint8_t>(opcode);
  } else if (opcode >= 0x8000 && opcode - 0x8000 < 0x4000) {
    length_ = 2;
    bytes_[0] = static_cast<std::uint8_t>(opcode >> 8);
    bytes_[1] = static_cast<std::uint8_t>(opcode);
  } else if (opcode >= 0xC00000 && opcode - 0xC00000 < 0x400000) {
    length_ = 3;
    bytes_[0] = static_cast<std::uint8_t>(opcode >> 16);
    bytes_[1] = static_cast<std::uint8_t>(opcode >> 8);
    bytes_[2] = static_cast<std::uint8_t>(opcode);
  }
}

void ModelOPCode::Serialize(ByteWriter& writer) const {
  if (length_ == 0) throw MalformedMessage("opcode cannot be encoded");
  writer.Raw(bytes_.data(), static_cast<std::size_t>(length_));
}

}  // namespace packet::config
