#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "xgt/fenet/memory_address.h"

// One configured address text, "<48 hex digits id>.<key>.<type letter>.<device letter>.<address>[.<bit>]",
// e.g. "...temp.W.D.100" or "...door.X.M.10.3".
struct AddressEntry {
  std::string id;
  xgt::MemoryAddress address;
};

// The parts of a text of that form, before their meaning is checked: the id (48 hexadecimal
// digits), the key (letters, digits, '_' and '-'), the two letters, the address digits, and the
// bit digits when the text has them ("...10.3"; "...10" and "...10." have none).
struct AddressTextParts {
  std::string id;
  std::string key;
  char type_letter = '\0';
  char device_letter = '\0';
  std::string address_digits;
  std::optional<std::string> bit_digits;
};

// The parts of `text` when the whole text has the form above. One pass over the text, without
// recursion, so a text of any length costs no stack.
std::optional<AddressTextParts> MatchAddressText(const std::string& text);

// The entry of a text; nothing for a text that does not have the form (silently, as such
// texts are skipped), and nothing with one error line for an unknown type letter, an address
// above 2147483647 or a bit number above 15.
std::optional<AddressEntry> ParseAddressText(const std::string& text);
