#include "packet/sensor_data/get.h"

#include <nlohmann/json.hpp>

#include "packet/cbor.h"

namespace packet::sensor_data::get {

void Data::Serialize(ByteWriter& writer) const {
  const nlohmann::json body =
      Channel == 0 ? nlohmann::json::array({Kind}) : nlohmann::json::object({{Kind, Channel}});
  ModelOPCode::Serialize(writer);
  writer.Raw(EncodeCbor(body));
}

}  // namespace packet::sensor_data::get
