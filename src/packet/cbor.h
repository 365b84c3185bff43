#pragma once

#include <vector>

#include <nlohmann/json.hpp>

namespace packet {

// CBOR through the JSON library's codec: strict (the item must fill the input exactly, tags are
// refused) and with exceptions, so a bad body throws the library's parse error.
nlohmann::json DecodeCborStrict(const std::vector<unsigned char>& bytes);
std::vector<unsigned char> EncodeCbor(const nlohmann::json& value);

}  // namespace packet
