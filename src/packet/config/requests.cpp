#include "packet/config/requests.h"

#include <string>

#include "packet/wire_errors.h"

namespace packet::config {

void DefaultTTLSet::Serialize(ByteWriter& writer) const {
  ModelOPCode::Serialize(writer);
  writer.U8(TTL);
}

void AppKeyGet::Serialize(ByteWriter& writer) const {
  ModelOPCode::Serialize(writer);
  writer.U16(NetKeyIndex);
}

void AppKeyAdd::Serialize(ByteWriter& writer) const {
  if (AppKey.size() != kKeySize) {
    throw MalformedMessage("application key has " + std::to_string(AppKey.size()) + " bytes, not 16");
  }
  ModelOPCode::Serialize(writer);
  writer.Raw(NetKeyIndexAndAppKeyIndex.data(), NetKeyIndexAndAppKeyIndex.size());
  writer.Raw(AppKey);
}

void VendorModelGet::Serialize(ByteWriter& writer) const {
  ModelOPCode::Serialize(writer);
  writer.U16(ElementAddress);
  writer.U16(CompanyID);
  writer.U16(ModelID);
}

void ModelBindingRequest::Serialize(ByteWriter& writer) const {
  ModelOPCode::Serialize(writer);
  writer.U16(element_);
  writer.U16(second_);
  if (vendor_) writer.U16(company_);
  writer.U16(model_);
}

}  // namespace packet::config
