#include "packet/cbor.h"

namespace packet {

nlohmann::json DecodeCborStrict(const std::vector<unsigned char>& bytes) {
  return nlohmann::json::from_cbor(bytes, /*strict=*/true, /*allow_exceptions=*/true,
                                   nlohmann::json::cbor_tag_handler_t::error);
}

std::vector<unsigned char> EncodeCbor(const nlohmann::json& value) { return nlohmann::json::to_cbor(value); }

}  // namespace packet
