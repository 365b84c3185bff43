#include "packet/config/model_resp_opcode.h"

#include "packet/wire_errors.h"

namespace packet::config {

// Reads the opcode bytes and returns the opcode width, or 0 for the reserved one-byte value.
int ModelRespOPCode::ReadOpcode(ByteReader& reader) {
  RawOpcode[0] = reader.U8();
  const std::uint8_t first = RawOpcode[0];
  if (first < kReservedOpcode) {
    OPCode = first;
    return 1;
  }
  if (first == kReservedOpcode) {
    OPCode = first;
    return 0;
  }
  if (first <= 0xBF) {
    RawOpcode[1] = reader.U8();
    OPCode = (static_cast<std::uint32_t>(first) << 8) | RawOpcode[1];
    return 2;
  }
  RawOpcode[1] = reader.U8();
  RawOpcode[2] = reader.U8();
  OPCode = (static_cast<std::uint32_t>(first) << 16) | (static_cast<std::uint32_t>(RawOpcode[1]) << 8) | RawOpcode[2];
  return 3;
}

void ModelRespOPCode::Deserialize(ByteReader& reader) {
  if (MessageLength == 0) throw MalformedMessage("empty access message");
  const int width = ReadOpcode(reader);
  Parameters.clear();
  if (width == 0) return;
  if (MessageLength < static_cast<std::uint32_t>(width)) throw MalformedMessage("access message shorter than its opcode");
  Parameters = reader.Raw(MessageLength - static_cast<std::uint32_t>(width));
}

}  // namespace packet::config
