#include "packet/json_number.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace packet {

namespace {

std::int32_t SaturatedTruncation(double value) {
  if (std::isnan(value)) return 0;
  if (value <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
    return std::numeric_limits<std::int32_t>::min();
  }
  if (value >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace

std::int32_t ToInt32(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::boolean:
      return value.get<bool>() ? 1 : 0;
    case nlohmann::json::value_t::number_integer:
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(value.get<std::int64_t>()));
    case nlohmann::json::value_t::number_unsigned:
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(value.get<std::uint64_t>()));
    case nlohmann::json::value_t::number_float:
      return SaturatedTruncation(value.get<double>());
    default:
      return value.get<std::int32_t>();  // throws the library's type error for non-numbers
  }
}

std::string FixedText(double value) {
  char text[400];  // "%f" of the largest double needs 316 characters
  const int length = std::snprintf(text, sizeof text, "%f", value);
  return std::string(text, static_cast<std::size_t>(length > 0 ? length : 0));
}

}  // namespace packet
