#pragma once

#include <optional>
#include <string>

#include "xgt/fenet/memory_address.h"

// One configured address text, "<48 hex digits id>.<key>.<type letter>.<device letter>.<address>[.<bit>]",
// e.g. "...temp.W.D.100" or "...door.X.M.10.3".
struct AddressEntry {
  std::string id;
  xgt::MemoryAddress address;
};

// The entry of a text; nothing for a text that does not have the form (silently, as such
// texts are skipped), and nothing with one error line for an unknown type letter, an address
// above 2147483647 or a bit number above 15.
std::optional<AddressEntry> ParseAddressText(const std::string& text);
