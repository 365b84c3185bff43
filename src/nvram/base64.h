#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Standard Base64 (RFC 4648 alphabet, '=' padding), as the mesh keys are stored.
namespace base64 {

std::string Encode(const std::vector<std::uint8_t>& bytes);
// Decodes up to the first '=' or character outside the alphabet; what was decoded before
// it is returned.
std::vector<std::uint8_t> Decode(const std::string& text);

}  // namespace base64
