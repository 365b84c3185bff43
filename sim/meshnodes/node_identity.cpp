#include "meshnodes/node_identity.h"

namespace sim::meshnodes {

namespace {

std::string AddressText(std::uint16_t address) {
  return sim::meshd::ToHex({static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF)});
}

}  // namespace

NodeIdentity::NodeIdentity(std::uint16_t unicast)
    : address(unicast),
      root_path("/com/quellaron/sim/node" + AddressText(unicast)),
      application_path(root_path + "/application"),
      element_path(root_path + "/ele0") {
  const auto high = static_cast<std::uint8_t>(unicast >> 8);
  const auto low = static_cast<std::uint8_t>(unicast & 0xFF);
  // 5e050000-0000-4000-8000-00000000AAAA: version 4 in byte 6, variant 10 in byte 8.
  uuid = {0x5E, 0x05, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, high, low};
  device_key = {0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, high, low};
}

std::string NodeIdentity::Name() const { return "node " + AddressText(address); }

std::string NodeIdentity::UuidText() const { return sim::meshd::ToHex(uuid); }

}  // namespace sim::meshnodes
