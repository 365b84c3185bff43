#pragma once

#include <cstdint>
#include <vector>

namespace mesh_uuid {

// The stored device UUID made a valid RFC 4122 UUID, as the mesh daemon demands: version 4
// in the high nibble of byte 6, variant 10 in the top bits of byte 8, every other byte as
// stored. A value that is not 16 bytes is returned unchanged (the daemon refuses it).
std::vector<std::uint8_t> Rfc4122(std::vector<std::uint8_t> uuid);

}  // namespace mesh_uuid
