#include "xgt/fenet/value_text.h"

#include <cstdio>

#include "common/fnv1a.h"

namespace xgt::fenet {

namespace {

bool IsScaledKey(const std::string& key) {
  switch (Fnv1a(key)) {
    case 0x28FFFC45u:  // "PH"
    case 0x36D53148u:  // "AT"
    case 0x15CC02F9u:  // "EC"
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string ValueText(const std::string& key, std::uint64_t value) {
  char text[32];
  if (IsScaledKey(key)) {
    const auto hundredths = static_cast<std::int16_t>(static_cast<std::uint16_t>(value & 0xFFFFu));
    std::snprintf(text, sizeof text, "%f", static_cast<double>(static_cast<float>(hundredths) / 100.0f));
  } else {
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
  }
  return text;
}

}  // namespace xgt::fenet
