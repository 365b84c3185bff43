#include "packet/config/status.h"

namespace packet::config {

void DefaultTTLStatus::Deserialize(ByteReader& reader) { TTL = reader.U8(); }

void ModelStatus::Deserialize(ByteReader& reader) {
  Status = reader.U8();
  ElementAddress = reader.U16();
  second_ = reader.U16();
  CompanyID = reader.U16();
  ModelID = reader.U16();
}

}  // namespace packet::config
