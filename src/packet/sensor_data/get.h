#pragma once

#include <cstdint>
#include <string>

#include "packet/model_opcode.h"

namespace packet::sensor_data::get {

// Asks a node for one kind of measurement (opcode C0 F1 05, CBOR body): channel 0 sends
// ["kind"], any other channel {"kind": channel}.
class Data : public ModelOPCode {
 public:
  explicit Data(std::string kind = {}, std::int32_t channel = 0)
      : ModelOPCode(kSensorDataGet), Kind(std::move(kind)), Channel(channel) {}
  void Serialize(ByteWriter& writer) const override;

  std::string Kind;
  std::int32_t Channel;
};

}  // namespace packet::sensor_data::get
