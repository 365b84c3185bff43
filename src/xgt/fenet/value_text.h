#pragma once

#include <cstdint>
#include <string>

namespace xgt::fenet {

// The reported text of a value read for `key`: for the keys of values the PLC keeps in
// hundredths ("PH", "AT", "EC") the low 16 bits as a signed number divided by 100 with six
// decimals ("-12.340000"); for every other key the unsigned value in decimal.
std::string ValueText(const std::string& key, std::uint64_t value);

}  // namespace xgt::fenet
