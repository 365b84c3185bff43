#include "packet/model_opcode.h"

namespace packet {

void ModelOPCode::Serialize(ByteWriter& writer) const { writer.Raw(opcode_.data(), opcode_.size()); }

void ModelOPCode::Deserialize(ByteReader& reader) { reader.Raw(opcode_.data(), opcode_.size()); }

}  // namespace packet
