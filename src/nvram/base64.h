#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Standard Base64 (RFC 4648 alphabet, '=' padding), as the mesh keys are stored.
namespace base64 {

std::string Encode(const std::vector<std::uint8_t>& bytes);
// Decodes up to the first '=' or character outside the alphabet; what was decoded before
// it is returned.
std::vector<std::uint8_t> Decode(const std::string& text);
// The bytes of a text that is exactly their canonical encoding (the form Encode gives,
// padding included); nothing for any other text.
std::optional<std::vector<std::uint8_t>> DecodeCanonical(const std::string& text);

}  // namespace base64
