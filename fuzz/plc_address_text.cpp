// One configured PLC address text: the one-pass matcher against the expression the texts were
// matched with, and the parsed entry's ranges.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

#include "packet_fuzz_support.h"
#include "plc_address_regex.h"
#include "plc/address_text.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::StartSilentLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  fuzz_support::RequireMatcherAgreesWithPattern(text);
  if (const auto entry = ParseAddressText(text)) {
    fuzz_support::Require(entry->id.size() == 48, "the id has 48 digits");
    fuzz_support::Require(entry->address.address <= INT_MAX, "the address fits an int");
    fuzz_support::Require(entry->address.bit <= 15, "the bit fits a word");
    fuzz_support::Require(!entry->address.key.empty(), "the key is not empty");
  }
  return 0;
}
