#pragma once

#include <cstddef>
#include <vector>

#include "packet/model_opcode.h"

namespace packet {

// First stage of an incoming vendor message: the three opcode bytes, then the parameters.
// The caller gives the whole message length; a message shorter than its opcode is refused.
class ModelPayload : public ModelOPCode {
 public:
  explicit ModelPayload(std::size_t message_length = 0) : message_length_(message_length) {}

  void Serialize(ByteWriter& writer) const override;
  void Deserialize(ByteReader& reader) override;

  std::vector<unsigned char> Parameters;

 private:
  std::size_t message_length_;
};

}  // namespace packet
