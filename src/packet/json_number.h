#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace packet {

// A JSON number as a signed 32-bit integer: a boolean counts as 0 or 1, integers keep their low
// 32 bits, a floating value is truncated toward zero and saturated (NaN gives 0). Any other type
// throws the library's type error ("type must be number, but is ...").
std::int32_t ToInt32(const nlohmann::json& value);

// printf "%f" text of a value (six decimals).
std::string FixedText(double value);

}  // namespace packet
