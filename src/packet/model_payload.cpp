#include "packet/model_payload.h"

#include "packet/wire_errors.h"

namespace packet {

void ModelPayload::Serialize(ByteWriter& writer) const {
  ModelOPCode::Serialize(writer);
  writer.Raw(Parameters);
}

void ModelPayload::Deserialize(ByteReader& reader) {
  constexpr std::size_t kOpcodeSize = 3;
  if (message_length_ < kOpcodeSize) throw MalformedMessage("vendor message shorter than its opcode");
  ModelOPCode::Deserialize(reader);
  Parameters = reader.Raw(message_length_ - kOpcodeSize);
}

}  // namespace packet
