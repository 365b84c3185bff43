#include "plc/address_text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <regex>

#include "log/log.h"

namespace {

const std::regex& AddressPattern() {
  static const std::regex pattern(
      "([0-9A-Fa-f]{48})\\.([a-zA-Z0-9_-]+)\\.([a-zA-Z])\\.([a-zA-Z])\\.([0-9]+)[\\.]?([0-9]+)?");
  return pattern;
}

// A decimal number of digits only, up to `limit`.
std::optional<std::uint32_t> Number(const std::string& digits, unsigned long limit) {
  errno = 0;
  const unsigned long value = std::strtoul(digits.c_str(), nullptr, 10);
  if (errno == ERANGE || value > limit) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace

std::optional<AddressEntry> ParseAddressText(const std::string& text) {
  std::smatch groups;
  if (!std::regex_match(text, groups, AddressPattern())) return std::nullopt;
  for (std::size_t index = 1; index < groups.size(); ++index) LOG_VERBOSE << index << " : " << groups[index].str();
  const char letter = groups[3].str().front();
  const auto type = xgt::fenet::DataTypeFromLetter(letter);
  if (!type || *type == xgt::fenet::DataType::kContinuous) {
    LOG_ERROR << "Unknown data type letter '" << letter << "' in PLC address " << text;
    return std::nullopt;
  }
  const auto address = Number(groups[5].str(), INT_MAX);
  if (!address) {
    LOG_ERROR << "Address number too large in PLC address " << text;
    return std::nullopt;
  }
  AddressEntry entry{groups[1].str(), {groups[2].str(), groups[4].str().front(), *type, *address, 0}};
  if (*type == xgt::fenet::DataType::kBit && groups[6].matched) {
    const auto bit = Number(groups[6].str(), 15);
    if (!bit) {
      LOG_ERROR << "Bit number above 15 in PLC address " << text;
      return std::nullopt;
    }
    entry.address.bit = *bit;
  }
  return entry;
}
