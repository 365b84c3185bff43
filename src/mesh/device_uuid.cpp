#include "mesh/device_uuid.h"

namespace mesh_uuid {

std::vector<std::uint8_t> Rfc4122(std::vector<std::uint8_t> uuid) {
  if (uuid.size() != 16) return uuid;
  uuid[6] = static_cast<std::uint8_t>((uuid[6] & 0x0F) | 0x40);
  uuid[8] = static_cast<std::uint8_t>((uuid[8] & 0x3F) | 0x80);
  return uuid;
}

}  // namespace mesh_uuid
